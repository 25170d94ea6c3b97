#pragma once
// Frame bitmaps, masks, palettes and the drawing of one frame. Kept apart from reading, so
// that animation can compose frames without knowing how they were read.

#include "picture/gif/gif_model.h"

#include <QList>
#include <QRect>
#include <QRgb>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>

namespace sorowa {

class TGIFImage;

namespace gif {

// 216 colours: red, green and blue each take 0, 51, 102, 153, 204, 255, blue varying fastest.
QList<QRgb> ColorCubePalette();
// The cube entry nearest to a colour: each channel's level is round(value / 51).
std::uint8_t CubeIndex(int red, int green, int blue);

// Floyd-Steinberg error diffusion of indices (through colors) into the colour cube, in fixed
// point with 10 fraction bits; rows go alternately left to right and right to left. Pixels
// with transparentIndex take the cube entry of their own colour without diffusion and set
// their bit in mask (rows of ((width + 15) / 16) * 2 bytes, most significant bit first).
// Indices outside colors count as black.
void DitherToCube(std::span<const std::uint8_t> indices, int width, int height,
                  const TGIFColorMap& colors, std::optional<std::uint8_t> transparentIndex,
                  std::span<std::uint8_t> out, int outStride, std::span<std::uint8_t> mask,
                  const std::function<void(int row)>& everyFewRows = {});

// The frame's palette: its bitmap's or cached one; the colour cube when dithering; its local
// table's; else the picture palette.
QList<QRgb> FramePalette(const TGIFImage& image, TGIFSubImage& frame);

// Makes the frame's bitmap and, for a transparent frame, its mask.
void MakeFrameBitmap(TGIFImage& image, TGIFSubImage& frame);
// Whether the frame has a mask, making bitmap and mask first while they are still needed.
bool FrameHasMask(TGIFImage& image, TGIFSubImage& frame);

// The frame's place on the logical screen, scaled into target with rounding.
QRect FrameRect(const TGIFHeader& header, const TGIFSubImage& frame, const QRect& target);

// Draws the frame scaled into its part of target; transparently, pixels under the mask leave
// the target as it is.
void DrawFrame(TGIFImage& image, TGIFSubImage& frame, TCanvas& canvas, const QRect& target,
               bool transparent);

} // namespace gif
} // namespace sorowa
