#pragma once
// Facts about the display that the picture classes choose their drawing by.

#include <QSize>

namespace sorowa::platform {

// The display pictures are drawn for. A field left 0 takes the primary screen's value when
// it is asked (so a display made before the application object still sees the real
// screen); tests simulate other displays by setting them.
struct TDisplay {
    int bitsPerPixel = 0;
    int pixelsPerInchX = 0;
    int pixelsPerInchY = 0;

    // Bits per pixel (bits x planes); 24 without a screen.
    int BitsPerPixel() const;
    // Pixels per logical inch; 96 without a screen.
    int PixelsPerInchX() const;
    int PixelsPerInchY() const;
    // The number of colours shown, as icon directories count them: 0 for 24 bits per
    // pixel, otherwise 2 to the power of the depth, kept in 16 bits (so 0 from 16 bits up).
    int ColorCount() const;
};

// The standard size of a large icon. Icons are made at this size whatever their file
// holds; it is the size the desktop's file managers use for large icons, 32 x 32.
QSize SystemIconSize();

} // namespace sorowa::platform
