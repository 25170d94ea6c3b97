#include "platform/display.h"

#include <QGuiApplication>
#include <QScreen>
#include <cmath>

namespace sorowa::platform {
namespace {
int simulatedBits = 0;
int simulatedDpi = 0;

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

int ScreenBitsPerPixel() {
    if (simulatedBits > 0) return simulatedBits;
    if (const QScreen* screen = PrimaryScreen()) return screen->depth();
    return 24;
}

void SetScreenBitsPerPixel(int bits) {
    simulatedBits = bits;
}

int ScreenColorCount() {
    const int bits = ScreenBitsPerPixel();
    if (bits == 24 || bits >= 16) return 0;
    return (1 << bits) & 0xFFFF;
}

QSize SystemIconSize() {
    return {32, 32};
}

int ScreenPixelsPerInchX() {
    return simulatedDpi > 0 ? simulatedDpi : RealDpi(true);
}

int ScreenPixelsPerInchY() {
    return simulatedDpi > 0 ? simulatedDpi : RealDpi(false);
}

void SetScreenPixelsPerInch(int dpi) {
    simulatedDpi = dpi;
}

} // namespace sorowa::platform
