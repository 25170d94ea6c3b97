#pragma once
// Facts about the display that the picture classes choose their drawing by.

#include <QSize>

namespace sorowa::platform {

// Bits per pixel of the screen (bits x planes). Tests simulate other displays with
// SetScreenBitsPerPixel; 0 returns to the real screen.
int ScreenBitsPerPixel();
void SetScreenBitsPerPixel(int bits);

// The number of colours the screen shows, as icon directories count them: 0 for 24 bits
// per pixel, otherwise 2 to the power of the depth, kept in 16 bits (so 0 from 16 bits up).
int ScreenColorCount();

// The standard size of a large icon. Icons are made at this size whatever their file
// holds; it is the size the desktop's file managers use for large icons, 32 x 32.
QSize SystemIconSize();

// Pixels per logical inch of the screen (horizontal, vertical). Tests simulate other
// densities with SetScreenPixelsPerInch; 0 returns to the real screen (96 without one).
int ScreenPixelsPerInchX();
int ScreenPixelsPerInchY();
void SetScreenPixelsPerInch(int dpi);

} // namespace sorowa::platform
