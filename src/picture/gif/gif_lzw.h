#pragma once
// The GIF flavour of LZW decoding, over the data sub-blocks of one image as they lie in the
// file. Knows nothing of frames or streams: it fills a pixel buffer and reports what it met.

#include <cstddef>
#include <cstdint>
#include <span>

namespace sorowa::gif {

struct LzwOutcome {
    // Bytes taken from the data: every sub-block up to and including the zero-length
    // terminator, or up to the end of the data when the terminator is missing.
    std::size_t consumed = 0;
    // A sub-block announced more bytes than the data holds (the rest is used).
    bool prematureEnd = false;
    // The codes ran out before the end code or the last pixel.
    bool bitBufferUnderrun = false;
    // A table entry led back to itself; the image is unusable.
    bool circularEntry = false;
    // Pixels written (in decoding order).
    std::size_t pixelsDecoded = 0;
};

// Largest minimum code size we accept; one byte per pixel cannot hold wider literals.
inline constexpr int kMaxMinimumCodeSize = 8;

// The most pixels that the sub-blocks starting at data[0] can possibly decode to: every code
// at its narrowest (minimumCodeSize + 1 bits), the i-th code after a clear at most i + 1
// pixels long, no string longer than the table. A frame that claims far more than this
// cannot be filled by its data.
std::uint64_t LzwPixelBound(std::span<const std::uint8_t> data, int minimumCodeSize);

// Decodes the sub-blocks that start at data[0] (the first length byte, after the minimum
// code size byte) into pixels, width * height bytes whose contents do not matter: every one
// is written, with its decoded value or, where the data never reaches, with fill.
// Interlaced images receive their rows in the four GIF passes. A minimumCodeSize outside
// 0..kMaxMinimumCodeSize decodes nothing.
LzwOutcome DecodeLzw(std::span<const std::uint8_t> data, int minimumCodeSize,
                     std::span<std::uint8_t> pixels, std::size_t width, std::size_t height,
                     bool interlaced, std::uint8_t fill);

} // namespace sorowa::gif
