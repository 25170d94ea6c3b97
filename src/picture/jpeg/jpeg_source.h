#pragma once
// Where a JPEG picture's bytes come from, and what one decode of them gives. A picture loaded
// from a file keeps a note of the file instead of its bytes and reads it again for each decode:
// found again after a rename in its folder; a file that no longer holds the bytes first read,
// or is at another size, is an error, never decoded as if it were the one loaded. Everything
// here touches only the data it is given (never changed after the load) and its own result,
// so it runs on any thread.

#include "picture/jpeg/jpeg_decoder.h"
#include "picture/jpeg/jpeg_status.h"
#include "platform/file_identity.h"

#include <QImage>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>
#include <vector>

namespace sorowa {

class TStream;

// The file that holds a picture's bytes, from offset to its end.
struct TJPEGFile {
    QString path;
    platform::FileIdentity identity;
    platform::FileFingerprint fingerprint; // of the bytes the load read
    std::int64_t offset = 0;
};

// The small copy of the photo that a camera stores in the file's Exif segment, where the
// loaded bytes hold one that fits the photo.
struct TJPEGThumbnail {
    std::size_t offset = 0; // from the first byte of the picture's data
    std::size_t length = 0;
    int width = 0, height = 0;
};

// The loaded data and what its header says. Shared between pictures.
struct TJPEGData {
    std::vector<std::uint8_t> bytes; // every byte, when they did not come from a file
    std::optional<TJPEGFile> file;   // otherwise, where they are read again
    int width = 0;                   // as stored, before turning upright
    int height = 0;
    int orientation = 1; // the Exif orientation, 1 to 8
    bool grayscale = false;
    std::optional<TJPEGThumbnail> thumbnail;

    std::int64_t Size() const {
        return file ? file->identity.size - file->offset : static_cast<std::int64_t>(bytes.size());
    }
};

namespace jpeg {

// Reads the header from the stream into bytes, taking no more of its bytes than the header
// needs: 64 KB, then four times as much whenever the header goes on past what has been read.
// nullopt when the stream has no bytes.
std::optional<HeaderResult> ReadHeaderFrom(TStream& stream, std::vector<std::uint8_t>& bytes);

// The picture's bytes for a decode: read again from its file, or the ones kept.
struct DecodeInput {
    std::unique_ptr<std::uint8_t[]> read;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// All the bytes, or at least the first maxLength of them when maxLength is not negative; the
// error when the file no longer gives the bytes loaded. No data: no bytes.
std::optional<EJPEG> ReadInput(const TJPEGData* data, DecodeInput& input,
                               std::int64_t maxLength = -1);

// The bitmap a decode makes (8-bit indexed or 24-bit), in the frame of whoever runs the decode.
struct ImageSink {
    QImage image;

    BitmapSink Sink() { return {this, &Make}; }

private:
    static RowTarget Make(void* context, int width, int height, int bitsPerPixel,
                          const std::uint32_t* palette, int paletteSize) noexcept;
};

// What one decode of the photo gave.
struct PhotoDecode {
    QImage image; // upright
    DecodeResult result;
    std::exception_ptr handlerError; // what the progress handler raised, to raise again
    std::optional<EJPEG> inputError; // the loaded bytes could not be had again
    bool cutDown = false;            // image was cut down to the draw's size

    bool Ok() const { return !inputError && result.status == DecodeStatus::Ok; }
    // The file's error; nullopt for success and for a stop the handler asked for.
    std::optional<EJPEG> Error() const { return inputError ? inputError : DecodeError(result); }
};

// Reads the loaded bytes again and decodes them at M/8, turned upright; rows the decoder did
// not reach read as zero.
void DecodePhoto(const TJPEGData* data, int scaleEighths, bool eightBitDisplay,
                 ProgressSink progress, PhotoDecode& out);

} // namespace jpeg
} // namespace sorowa
