#include "picture/ico_reader.h"

#include "picture/png_reader.h"

#include <algorithm>

namespace sorowa::ico {
namespace {

constexpr std::size_t kHeaderSize = 6;
constexpr std::size_t kEntrySize = 16;

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}

struct DibHeader {
    std::uint32_t size = 0;
    std::int64_t width = 0;
    std::int64_t height = 0; // colour image and mask together
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t colorsUsed = 0;
};

std::optional<DibHeader> ReadDibHeader(std::span<const std::uint8_t> dib) {
    if (dib.size() < 40) return std::nullopt;
    DibHeader h;
    h.size = U32(dib.data());
    if (h.size < 40 || h.size > dib.size()) return std::nullopt;
    h.width = static_cast<std::int32_t>(U32(dib.data() + 4));
    h.height = static_cast<std::int32_t>(U32(dib.data() + 8));
    h.planes = U16(dib.data() + 12);
    h.bitCount = U16(dib.data() + 14);
    h.compression = U32(dib.data() + 16);
    h.colorsUsed = U32(dib.data() + 32);
    return h;
}

bool ValidDib(const DibHeader& h) {
    const bool depth = h.bitCount == 1 || h.bitCount == 4 || h.bitCount == 8 || h.bitCount == 16 ||
                       h.bitCount == 24 || h.bitCount == 32;
    // The stored height covers the colour image and the mask: it is even and positive.
    return depth && h.planes == 1 && h.compression == 0 && h.width > 0 && h.width <= kMaxIconSide &&
           h.height >= 2 && h.height % 2 == 0 && h.height / 2 <= kMaxIconSide;
}

QRgb PixelAt(const std::uint8_t* row, int x, int bitCount, const std::vector<QRgb>& table) {
    switch (bitCount) {
    case 1:
    case 4:
    case 8: {
        const int bit = x * bitCount;
        const int index = (row[bit / 8] >> (8 - bitCount - bit % 8)) & ((1 << bitCount) - 1);
        return static_cast<std::size_t>(index) < table.size() ? table[index] : qRgb(0, 0, 0);
    }
    case 16: {
        const std::uint16_t v = U16(row + 2 * x);
        return qRgb((v >> 10 & 31) * 255 / 31, (v >> 5 & 31) * 255 / 31, (v & 31) * 255 / 31);
    }
    case 24:
        return qRgb(row[3 * x + 2], row[3 * x + 1], row[3 * x]);
    default: // 32
        return qRgba(row[4 * x + 2], row[4 * x + 1], row[4 * x], row[4 * x + 3]);
    }
}

QImage DecodeDib(std::span<const std::uint8_t> dib) {
    const std::optional<DibHeader> h = ReadDibHeader(dib);
    if (!h || !ValidDib(*h)) return {};
    const int width = static_cast<int>(h->width);
    const int height = static_cast<int>(h->height / 2);

    std::uint64_t colors = h->colorsUsed;
    if (h->bitCount <= 8 && (colors == 0 || colors > (1u << h->bitCount)))
        colors = 1u << h->bitCount;
    if (h->bitCount > 8) colors = 0;
    std::span<const std::uint8_t> rest = dib.subspan(h->size);
    if (colors > rest.size() / 4) return {};
    std::vector<QRgb> table;
    for (std::uint64_t c = 0; c < colors; ++c)
        table.push_back(qRgb(rest[4 * c + 2], rest[4 * c + 1], rest[4 * c]));
    rest = rest.subspan(static_cast<std::size_t>(colors) * 4);

    const std::size_t stride = (static_cast<std::size_t>(width) * h->bitCount + 31) / 32 * 4;
    const std::size_t maskStride = (static_cast<std::size_t>(width) + 31) / 32 * 4;
    const std::size_t colorBytes = stride * static_cast<std::size_t>(height);
    // The colour image must be there whole; a mask cut short hides nothing where it ends.
    if (colorBytes > rest.size()) return {};
    const std::span<const std::uint8_t> mask = rest.subspan(colorBytes);

    QImage image(width, height, QImage::Format_ARGB32);
    if (image.isNull()) return {};
    bool anyAlpha = false;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* row = rest.data() + static_cast<std::size_t>(height - 1 - y) * stride;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            out[x] = PixelAt(row, x, h->bitCount, table);
            if (h->bitCount == 32 && qAlpha(out[x]) != 0) anyAlpha = true;
        }
    }
    // A 32-bit image whose alpha is all 0 was made without alpha: the mask decides.
    const bool useMask = h->bitCount != 32 || !anyAlpha;
    for (int y = 0; y < height && useMask; ++y) {
        const std::size_t start = static_cast<std::size_t>(height - 1 - y) * maskStride;
        auto* out = reinterpret_cast<QRgb*>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const std::size_t byte = start + static_cast<std::size_t>(x / 8);
            const bool transparent = byte < mask.size() && (mask[byte] >> (7 - x % 8) & 1) != 0;
            out[x] = transparent ? qRgba(0, 0, 0, 0) : (out[x] | 0xFF000000u);
        }
    }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace

std::optional<IconHeader> ReadIconHeader(std::span<const std::uint8_t> data) {
    if (data.size() < kHeaderSize) return std::nullopt;
    return IconHeader{U16(data.data()), U16(data.data() + 2), U16(data.data() + 4)};
}

std::optional<std::vector<IconEntry>> ReadIconDirectory(std::span<const std::uint8_t> data) {
    const std::optional<IconHeader> header = ReadIconHeader(data);
    if (!header) return std::nullopt;
    if (header->count > (data.size() - kHeaderSize) / kEntrySize) return std::nullopt;
    std::vector<IconEntry> entries;
    entries.reserve(header->count);
    for (std::size_t i = 0; i < header->count; ++i) {
        const std::uint8_t* e = data.data() + kHeaderSize + i * kEntrySize;
        entries.push_back(
            {e[0], e[1], U16(e + 2), U16(e + 4), U16(e + 6), U32(e + 8), U32(e + 12)});
    }
    return entries;
}

std::size_t ChooseIconEntry(const std::vector<IconEntry>& entries, int displayColors) {
    std::optional<std::size_t> candidate;
    int firstCandidateColors = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
        const int colors = entries[i].colorCount;
        if (colors == displayColors) return i;
        if (!candidate) {
            if (colors <= displayColors) {
                candidate = i;
                firstCandidateColors = colors;
            }
        } else if (colors > firstCandidateColors) {
            candidate = i;
        }
    }
    return candidate.value_or(0);
}

QImage DecodeIconImage(std::span<const std::uint8_t> file, const IconEntry& entry) {
    if (entry.offset >= file.size()) return {};
    const std::size_t size = std::min<std::size_t>(entry.size, file.size() - entry.offset);
    const std::span<const std::uint8_t> image = file.subspan(entry.offset, size);
    if (png::IsPng(image)) return png::DecodePng(image, kMaxIconSide);
    return DecodeDib(image);
}

QImage IconAtSize(const QImage& image, QSize size) {
    if (image.size() == size) return image;
    // Enlarged pixel by pixel, as icons always were; shrunk smoothly, so that a 256 x 256
    // entry does not lose its thin lines.
    const bool shrink = image.width() > size.width() || image.height() > size.height();
    return image
        .scaled(size, Qt::IgnoreAspectRatio,
                shrink ? Qt::SmoothTransformation : Qt::FastTransformation)
        .convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

} // namespace sorowa::ico
