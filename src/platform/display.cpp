#include "platform/display.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace sorowa::platform {
namespace {

const QScreen* PrimaryScreen() {
    if (QGuiApplication::instance() == nullptr) return nullptr;
    return QGuiApplication::primaryScreen();
}

int RealDpi(bool horizontal) {
    const QScreen* screen = PrimaryScreen();
    if (screen == nullptr) return 96;
    const double dpi = horizontal ? screen->logicalDotsPerInchX() : screen->logicalDotsPerInchY();
    return dpi >= 1 ? static_cast<int>(std::lround(dpi)) : 96;
}
} // namespace

int TDisplay::BitsPerPixel() const {
    if (bitsPerPixel > 0) return bitsPerPixel;
    if (const QScreen* screen = PrimaryScreen()) return screen->depth();
    return 24;
}

int TDisplay::PixelsPerInchX() const {
    return pixelsPerInchX > 0 ? pixelsPerInchX : RealDpi(true);
}

int TDisplay::PixelsPerInchY() const {
    return pixelsPerInchY > 0 ? pixelsPerInchY : RealDpi(false);
}

int TDisplay::ColorCount() const {
    const int bits = BitsPerPixel();
    if (bits == 24 || bits >= 16) return 0;
    return (1 << bits) & 0xFFFF;
}

QSize SystemIconSize() {
    return {32, 32};
}

} // namespace sorowa::platform
