#pragma once
// Reads a GIF file's bytes into the object model: header, frames with their extensions and
// colour indices, trailer. Errors throw GIFException; warnings go to the warning routine and
// reading goes on.

#include "picture/gif/gif_model.h"

#include <QString>
#include <cstdint>
#include <functional>
#include <span>

namespace sorowa {

// Colour indices a picture may hold in all its frames together: 512 Mi pixels (512 MiB), enough for
// a thousand 640 x 480 frames. A frame that would take the total above it fails with "Failed to
// allocate memory for GIF DIB" before anything is allocated, so that a descriptor claiming 65535 x
// 65535, or a thousand large frames, cannot exhaust memory (tests/data/gif/huge-frame.gif,
// tests/data/gif/many-large-frames.gif).
inline constexpr std::uint64_t kMaxPicturePixels = 512ull << 20;

// Pixels a picture's frames may claim beyond what their data could ever decode to (such pixels
// only ever show the fill value): 4 Mi pixels, so that a file cut short still shows what it
// has, while a few bytes claiming a 20,000 x 20,000 frame, or thousands of frames with empty
// data, are refused with "Failed to allocate memory for GIF DIB" before anything is allocated
// (tests/picture/hostile_files_test.cpp).
inline constexpr std::uint64_t kMaxUnbackedPixels = 4ull << 20;

class TGIFReader {
public:
    using WarningRoutine = std::function<void(TGIFItem* sender, TGIFSeverity, const QString&)>;
    // Called after each frame with the position reached in the data.
    using FrameRoutine = std::function<void(std::size_t position, std::size_t size)>;

    TGIFReader(std::span<const std::uint8_t> data, TGIFImage* image, WarningRoutine warning,
               std::uint64_t pixelBudget = kMaxPicturePixels);

    void ReadHeader(TGIFHeader& header);
    // Appends frames as they are read; a frame that fails is not appended.
    void ReadBlocks(TGIFImageList& frames, const TGIFHeader& header,
                    const FrameRoutine& frameRead = {});
    void ReadTrailer();

    // Byte access for the items' own readers; nothing ever reads past the data.
    bool AtEnd() const { return pos_ >= data_.size(); }
    std::size_t Position() const { return pos_; }
    std::size_t Size() const { return data_.size(); }
    // The next byte, or -1 at the end.
    int ReadByte();
    // Steps back over bytes just read.
    void Back(std::size_t count);
    // Exactly out.size() bytes, or "Premature end of data".
    void ReadFixed(std::span<std::uint8_t> out);
    // As many bytes as there are, up to out.size().
    std::size_t ReadUpTo(std::span<std::uint8_t> out);
    void Skip(std::size_t count);
    // Data sub-blocks up to the zero-length terminator; the data's end also ends them.
    std::vector<std::vector<std::uint8_t>> ReadSubBlocks();

    void Warning(TGIFItem* sender, const char* text);
    [[noreturn]] static void Error(const char* text);

private:
    void ReadFrame(TGIFSubImage& frame, const TGIFHeader& header);
    void ReadExtensions(TGIFSubImage& frame);
    const TGIFExtensionClass& ExtensionClassAt();
    void ReadImageData(TGIFSubImage& frame);

    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
    TGIFImage* image_;
    platform::TDecodedBytesBudget& budget_; // the image's, where the frames' pixels come from
    WarningRoutine warning_;
    std::uint64_t pixelBudget_;
    std::uint64_t unbackedBudget_ = kMaxUnbackedPixels;
};

} // namespace sorowa
