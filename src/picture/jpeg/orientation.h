#pragma once
// Turning a decoded picture upright by the Exif orientation the camera recorded: the eight
// ways a stored grid of pixels can lie (four rotations, each mirrored or not), numbered as
// TIFF numbers them.

#include <QImage>

namespace sorowa::jpeg {

// 1 (as stored) to 8; anything else is taken as 1.
using Orientation = int;

// True for the orientations (5 to 8) that exchange width and height.
bool SwapsSides(Orientation orientation);

// The picture as it is meant to be seen. Keeps the format and the colour table; works for
// 8-, 24- and 32-bit pixels. A null image, or orientation 1, comes back unchanged.
QImage Upright(const QImage& stored, Orientation orientation);

} // namespace sorowa::jpeg
