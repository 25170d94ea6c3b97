#include "picture/jpeg/jpeg_source.h"

#include "picture/jpeg/orientation.h"
#include "picture/stream.h"

#include <algorithm>
#include <cstring>

namespace sorowa::jpeg {

std::optional<HeaderResult> ReadHeaderFrom(TStream& stream, std::vector<std::uint8_t>& bytes) {
    std::size_t want = 64 * 1024;
    for (;;) {
        const std::size_t had = bytes.size();
        bytes.resize(want);
        const auto got = static_cast<std::size_t>(
            stream.Read(bytes.data() + had, static_cast<std::int64_t>(want - had)));
        bytes.resize(had + got);
        if (bytes.empty()) return std::nullopt;
        const HeaderResult header = ReadJpegHeader(bytes.data(), bytes.size(), PictureLimits());
        const bool atEnd = bytes.size() < want;
        if (header.status == DecodeStatus::Ok || !header.ranOut || atEnd) return header;
        want *= 4;
    }
}

std::optional<EJPEG> ReadInput(const TJPEGData* data, DecodeInput& input, std::int64_t maxLength) {
    if (data == nullptr) return std::nullopt;
    if (!data->file) {
        input.data = data->bytes.data();
        input.size = data->bytes.size();
        return std::nullopt;
    }
    const TJPEGFile& file = *data->file;
    platform::RereadResult reread =
        platform::ReadFileAgain(file.path, file.identity, file.fingerprint, file.offset, maxLength);
    if (reread.status != platform::RereadStatus::Ok) return RereadError(reread, file.path);
    input.read = std::move(reread.bytes);
    input.data = input.read.get();
    input.size = reread.size;
    return std::nullopt;
}

// libjpeg calls this from its C frames, so nothing may leave it: a bitmap that cannot be made
// (Qt's allocation failing, by a null image or by an exception) is a null target, which the
// decoder reports as NoMemory, with its message.
RowTarget ImageSink::Make(void* context, int width, int height, int bitsPerPixel,
                          const std::uint32_t* palette, int paletteSize) noexcept {
    auto& sink = *static_cast<ImageSink*>(context);
    try {
        QImage image(width, height,
                     bitsPerPixel == 8 ? QImage::Format_Indexed8 : QImage::Format_BGR888);
        if (image.isNull()) return {};
        if (bitsPerPixel == 8) image.setColorTable(QList<QRgb>(palette, palette + paletteSize));
        sink.image = std::move(image);
        return {sink.image.bits(), sink.image.bytesPerLine()};
    } catch (...) {
        return {};
    }
}

void DecodePhoto(const TJPEGData* data, int scaleEighths, bool eightBitDisplay,
                 ProgressSink progress, PhotoDecode& out) {
    DecodeInput input;
    out.inputError = ReadInput(data, input);
    if (out.inputError) return;
    ImageSink target;
    DecodeRequest request;
    request.data = input.data;
    request.size = input.size;
    request.scaleEighths = scaleEighths;
    request.eightBitDisplay = eightBitDisplay;
    request.limits = PictureLimits();
    request.bitmap = target.Sink();
    request.progress = progress;
    out.result = DecodeJpeg(request);
    if (!out.result.madeBitmap) return;
    // Rows the decoder did not reach read as zero, as in a freshly made bitmap.
    for (int y = std::max(out.result.rowsDone, 0); y < target.image.height(); ++y)
        std::memset(target.image.scanLine(y), 0,
                    static_cast<std::size_t>(target.image.bytesPerLine()));
    out.image = Upright(target.image, data->orientation);
    if (out.image.isNull() && !target.image.isNull()) {
        out.result.status = DecodeStatus::NoMemory; // no room to turn it
        out.result.madeBitmap = false;
    }
}

} // namespace sorowa::jpeg
