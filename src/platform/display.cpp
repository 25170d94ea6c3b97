#include "platform/display.h"

#include <QGuiApplication>
#include <QScreen>

namespace sorowa::platform {
namespace {
int simulatedBits = 0;
}

int ScreenBitsPerPixel() {
    if (simulatedBits > 0) return simulatedBits;
    if (QGuiApplication::instance() != nullptr) {
        if (const QScreen* screen = QGuiApplication::primaryScreen()) return screen->depth();
    }
    return 24;
}

void SetScreenBitsPerPixel(int bits) {
    simulatedBits = bits;
}

} // namespace sorowa::platform
