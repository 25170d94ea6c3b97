#pragma once
// Reading JPEG headers and decoding JPEG data through libjpeg, over bytes in memory. Nothing
// here throws: outcomes are status values that the picture class turns into its errors.

#include "picture/jpeg/jpeg_managers.h"

#include <cstddef>
#include <cstdint>

namespace sorowa::jpeg {

enum class DecodeStatus {
    Ok,
    LibraryError,    // libjpeg gave up; DecodeResult::code holds its message code
    TooManyScans,    // more scans than DecodeLimits::maxScans
    HandlerStop,     // the progress handler asked to stop
    OverPixelBudget, // the output would have more than DecodeLimits::maxOutputPixels
    NoMemory,        // the bitmap could not be made
};

struct JpegHeader {
    int width = 0;
    int height = 0;
    bool grayscale = false;   // the file's colour space is grayscale
    bool progressive = false; // the file has more than one scan
};

struct HeaderResult {
    DecodeStatus status = DecodeStatus::Ok;
    int code = 0;
    JpegHeader header;
    bool ranOut = false; // the data ended before the header did: more bytes may complete it
};

// The rows of the bitmap that the caller makes once the output size is known.
struct RowTarget {
    std::uint8_t* firstRow = nullptr; // nullptr: the bitmap could not be made
    std::ptrdiff_t pitch = 0;
};

// Makes the output bitmap: width x height at 8 bits (with the palette as 0xffRRGGBB
// entries) or 24 bits (blue, green, red bytes). It must not throw.
struct BitmapSink {
    void* context;
    RowTarget (*make)(void* context, int width, int height, int bitsPerPixel,
                      const std::uint32_t* palette, int paletteSize);
};

struct DecodeLimits {
    int maxScans;
    long maxMemory;                // the library's working memory, bytes
    std::uint64_t maxOutputPixels; // output width x height
};

struct DecodeRequest {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    int scaleEighths = 8; // output scale M/8, M = 1..8
    // Stop after this many rows of output (0: all). A progressive file's rows then come from
    // its first scan alone.
    int maxRows = 0;
    bool eightBitDisplay = false;
    // Decode the flat rows that follow the end of cut data too, instead of copying them
    // (to compare against).
    bool decodeMadeUpTail = false;
    DecodeLimits limits{};
    BitmapSink bitmap{};
    ProgressSink progress{};             // report == nullptr: no reports
    std::int64_t (*clockMs)() = nullptr; // the progress throttle's clock; nullptr: steady clock
};

struct DecodeResult {
    DecodeStatus status = DecodeStatus::Ok;
    int code = 0; // the library's message code for LibraryError
    int width = 0, height = 0;
    int bitsPerPixel = 0;
    int rowsDone = 0; // rows of the bitmap that hold decoded pixels
    bool madeBitmap = false;
    bool ranOut = false; // the data ended early: the end of the image was made up
};

HeaderResult ReadJpegHeader(const std::uint8_t* data, std::size_t size, const DecodeLimits& limits);
DecodeResult DecodeJpeg(const DecodeRequest& request);

// The smallest M in 1..8 for which the image at scale M/8 is at least want in both
// directions; 8 when even full size is smaller.
int ChooseScale(int imageWidth, int imageHeight, int wantWidth, int wantHeight);
// The size of one side at scale M/8, rounded up as libjpeg does.
std::int64_t ScaledSide(int side, int scaleEighths);

} // namespace sorowa::jpeg
