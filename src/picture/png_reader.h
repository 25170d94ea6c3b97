#pragma once
// PNG images inside other files (icon entries), decoded with libpng from a byte span.

#include <QImage>
#include <cstdint>
#include <span>

namespace sorowa::png {

// True when data starts with the PNG signature.
bool IsPng(std::span<const std::uint8_t> data);

// The picture as premultiplied ARGB32; a null image when data is not a PNG this reader
// takes, is damaged, or is wider or taller than maxSide pixels.
QImage DecodePng(std::span<const std::uint8_t> data, int maxSide);

} // namespace sorowa::png
