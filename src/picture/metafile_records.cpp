#include "picture/metafile_records.h"

#include "picture/bmp_reader.h"
#include "picture/gdi.h"

#include <QColor>
#include <algorithm>
#include <vector>

namespace sorowa::metafile {

namespace {
// Most pixels a run-length bitmap inside a metafile may unpack to per byte of its data.
constexpr std::uint64_t kRlePixelsPerByte = 256;
} // namespace

QImage DecodeDib(std::span<const std::uint8_t> info, std::span<const std::uint8_t> bits,
                 bool withAlpha) {
    const Record header(info);
    if (info.size() < kBitmapCoreHeaderSize) return {};
    const std::uint32_t size = header.U32(0);
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::uint32_t bitCount = 0;
    std::uint32_t compression = 0;
    if (size == kBitmapCoreHeaderSize) {
        width = header.U16(4);
        height = header.U16(6);
        bitCount = header.U16(10);
    } else {
        if (size < kBitmapInfoHeaderSize || info.size() < kBitmapInfoHeaderSize) return {};
        width = header.I32(4);
        height = header.I32(8);
        bitCount = header.U16(14);
        compression = header.U32(16);
    }
    const std::uint64_t w = width > 0 ? static_cast<std::uint64_t>(width) : 0;
    const std::uint64_t h = static_cast<std::uint64_t>(height < 0 ? -height : height);
    if (w == 0 || h == 0 || bitCount == 0 || bitCount > 32) return {};
    // Pixels are allocated only when the data to fill them is there.
    if (compression == kBiRgb || compression == kBiBitfields) {
        const std::uint64_t stride = (w * bitCount + 31) / 32 * 4;
        if (h > bits.size() / stride) return {};
    } else if (compression == kBiRle8 || compression == kBiRle4) {
        if (w * h > bits.size() * kRlePixelsPerByte || w * h > bmp::kMaxPixels) return {};
    } else {
        return {};
    }

    std::vector<std::uint8_t> file(14 + info.size() + bits.size());
    const std::uint32_t offset = static_cast<std::uint32_t>(14 + info.size());
    const std::uint32_t total = static_cast<std::uint32_t>(file.size());
    const std::uint8_t fileHeader[14] = {'B',
                                         'M',
                                         static_cast<std::uint8_t>(total),
                                         static_cast<std::uint8_t>(total >> 8),
                                         static_cast<std::uint8_t>(total >> 16),
                                         static_cast<std::uint8_t>(total >> 24),
                                         0,
                                         0,
                                         0,
                                         0,
                                         static_cast<std::uint8_t>(offset),
                                         static_cast<std::uint8_t>(offset >> 8),
                                         static_cast<std::uint8_t>(offset >> 16),
                                         static_cast<std::uint8_t>(offset >> 24)};
    std::memcpy(file.data(), fileHeader, 14);
    std::memcpy(file.data() + 14, info.data(), info.size());
    if (!bits.empty()) std::memcpy(file.data() + offset, bits.data(), bits.size());
    bmp::BmpImage bmp = bmp::DecodeBmp(file);
    if (bmp.status != bmp::BmpStatus::Ok) return {};
    QImage image = std::move(bmp.image);
    if (withAlpha && bitCount == 32 && compression == kBiRgb) {
        image = image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
        const std::uint64_t stride = w * 4;
        for (std::uint64_t row = 0; row < h; ++row) {
            const int y = static_cast<int>(height > 0 ? h - 1 - row : row);
            auto* line = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (std::uint64_t x = 0; x < w; ++x) {
                const std::uint8_t a = bits[row * stride + x * 4 + 3];
                // Premultiplied: no channel may exceed the alpha.
                line[x] = qRgba(std::min(qRed(line[x]), int{a}), std::min(qGreen(line[x]), int{a}),
                                std::min(qBlue(line[x]), int{a}), a);
            }
        }
    }
    return image;
}

QImage DecodeMonoDib(std::span<const std::uint8_t> info, std::span<const std::uint8_t> bits) {
    const Record header(info);
    const std::uint32_t size = header.U32(0);
    std::int64_t width = 0;
    std::int64_t height = 0;
    if (size == kBitmapCoreHeaderSize && info.size() >= kBitmapCoreHeaderSize) {
        width = header.U16(4);
        height = header.U16(6);
        if (header.U16(10) != 1) return {};
    } else if (size >= kBitmapInfoHeaderSize && info.size() >= kBitmapInfoHeaderSize) {
        width = header.I32(4);
        height = header.I32(8);
        if (header.U16(14) != 1 || header.U32(16) != kBiRgb) return {};
    } else {
        return {};
    }
    const std::uint64_t w = width > 0 ? static_cast<std::uint64_t>(width) : 0;
    const std::uint64_t h = static_cast<std::uint64_t>(height < 0 ? -height : height);
    if (w == 0 || h == 0 || w > bmp::kMaxPixels / h) return {};
    const std::uint64_t stride = (w + 31) / 32 * 4;
    if (h > bits.size() / stride) return {};

    QImage image(static_cast<int>(w), static_cast<int>(h), QImage::Format_Mono);
    if (image.isNull()) return {};
    image.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    const std::size_t rowBytes =
        std::min(static_cast<std::size_t>(stride), static_cast<std::size_t>(image.bytesPerLine()));
    for (std::uint64_t row = 0; row < h; ++row) {
        const int y = static_cast<int>(height > 0 ? h - 1 - row : row);
        std::memcpy(image.scanLine(y), bits.data() + row * stride, rowBytes);
    }
    return image;
}

} // namespace sorowa::metafile
