#pragma once
// Reader for Windows and OS/2 bitmap files. Works over a byte span, never reads past it
// and checks every size before allocating.

#include <QImage>
#include <cstdint>
#include <span>

namespace sorowa::bmp {

enum class BmpStatus {
    Ok,
    Empty,       // no bytes at all: an empty bitmap, not an error
    Invalid,     // not a bitmap this reader (or the system) accepts
    Truncated,   // the data ends inside the headers or the colour table
    TooLarge,    // the pixel count is beyond what the program will allocate
    OutOfMemory, // the pixel buffer could not be allocated
};

struct BmpImage {
    BmpStatus status = BmpStatus::Invalid;
    // Indexed8 with a colour table for 1, 4 and 8 bits per pixel (RLE included),
    // RGB32 for 16, 24 and 32 bits per pixel.
    QImage image;
    int bitCount = 0;
    // The pixels were run-length encoded (RLE8 or RLE4).
    bool runLength = false;
    // Colour table as read from the file (also for deeper bitmaps, which may carry one).
    QList<QRgb> colorTable;
};

// Most pixels a bitmap may have: 2^28 (a 16384 x 16384 picture), 1 GiB at 32 bits.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

BmpImage DecodeBmp(std::span<const std::uint8_t> data);

} // namespace sorowa::bmp
