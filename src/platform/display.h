#pragma once
// Facts about the display that the picture classes choose their drawing by.

namespace sorowa::platform {

// Bits per pixel of the screen (bits x planes). Tests simulate other displays with
// SetScreenBitsPerPixel; 0 returns to the real screen.
int ScreenBitsPerPixel();
void SetScreenBitsPerPixel(int bits);

} // namespace sorowa::platform
