#pragma once
// Reader for Windows and OS/2 bitmap files. Works over a byte span, never reads past it
// and checks every size before allocating.

#include <QImage>
#include <array>
#include <cstdint>
#include <functional>
#include <span>

namespace sorowa::bmp {

enum class BmpStatus {
    Ok,
    Empty,       // no bytes at all: an empty bitmap, not an error
    Invalid,     // not a bitmap this reader (or the system) accepts
    Truncated,   // the data ends inside the headers or the colour table
    TooLarge,    // the pixel count is beyond what the program will allocate
    OutOfMemory, // the pixel buffer could not be allocated
    NeedMore,    // the headers go on past the bytes given (ReadBmpHeader only)
};

// What the headers say about the picture and where its pixels lie, read without them.
struct BmpHeader {
    BmpStatus status = BmpStatus::Invalid;
    std::uint64_t needed = 0; // NeedMore: the bytes from the start that the headers need
    int width = 0;
    int height = 0;       // rows, whatever the direction
    bool bottomUp = true; // the first row in the file is the bottom one
    int bitCount = 0;
    bool runLength = false;
    bool rle4 = false;
    std::array<std::uint32_t, 3> masks{}; // red, green, blue of 16 and 32 bits per pixel
    QList<QRgb> colorTable;               // as read from the file, at most 256 entries
    std::uint64_t stride = 0;             // bytes per plain row
    std::uint64_t pixelStart = 0;         // offset of the pixels from the first byte
    std::uint64_t pixelBytes = 0;         // bytes of pixel data there are to use
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

// The headers of a file of totalSize bytes of which data holds the first ones. NeedMore says
// how many bytes they need when data holds fewer.
BmpHeader ReadBmpHeader(std::span<const std::uint8_t> data, std::uint64_t totalSize);
// The whole picture from its pixel data (the bytes from pixelStart, pixelBytes of them):
// Indexed8 with IndexColors for up to 8 bits per pixel, else RGB32. Null when it cannot be
// allocated.
QImage DecodeBmpPixels(const BmpHeader& header, std::span<const std::uint8_t> pixels);
// The colour table as indexed pixels show it: padded with black to the full depth.
QList<QRgb> IndexColors(const BmpHeader& header);

// Reads up to out.size() bytes at offset from the first byte of the file; returns how many
// were read (fewer at the end of the data, or when it can no longer be read).
using ByteSource = std::function<std::size_t(std::uint64_t offset, std::span<std::uint8_t> out)>;

// Only the pixels at (columns[i], rows[j]) of the picture, rows counted from the top, as
// 32-bit colours in an image of columns.size() x rows.size(): exactly the pixels the whole
// picture has there, while reading and keeping no more than those rows (run-length data is
// read through once, in pieces). Both lists must be non-decreasing; places outside the
// picture are black.
QImage DecodeBmpSampled(const BmpHeader& header, const ByteSource& source,
                        std::span<const int> columns, std::span<const int> rows);

} // namespace sorowa::bmp
