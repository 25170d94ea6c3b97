#include "picture/bmp_reader.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>

namespace sorowa::bmp {
namespace {

constexpr std::size_t kFileHeaderSize = 14;
constexpr std::size_t kInfoHeaderSize = 40;
constexpr std::uint32_t kRgb = 0, kRle8 = 1, kRle4 = 2, kBitFields = 3;

std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
std::uint32_t U32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
std::int32_t I32(const std::uint8_t* p) {
    return static_cast<std::int32_t>(U32(p));
}

// A cursor over the file that hands out whole pieces or nothing.
class Cursor {
public:
    explicit Cursor(std::span<const std::uint8_t> data) : data_(data) {}
    std::size_t Position() const { return pos_; }
    std::size_t Remaining() const { return data_.size() - pos_; }
    const std::uint8_t* Take(std::size_t n) {
        if (n > Remaining()) return nullptr;
        const std::uint8_t* p = data_.data() + pos_;
        pos_ += n;
        return p;
    }

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

struct InfoHeader {
    std::uint32_t size = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t compression = 0;
    std::uint32_t sizeImage = 0;
    std::uint32_t colorsUsed = 0;
    std::array<std::uint32_t, 3> masks{};
};

// One colour channel of a bit-fields pixel, scaled to 0..255.
struct Channel {
    std::uint32_t mask = 0;
    int shift = 0;
    std::uint32_t max = 0;

    explicit Channel(std::uint32_t m) : mask(m) {
        if (m == 0) return;
        shift = std::countr_zero(m);
        max = m >> shift;
    }
    std::uint32_t operator()(std::uint32_t pixel) const {
        if (max == 0) return 0;
        const std::uint64_t v = (pixel & mask) >> shift;
        return static_cast<std::uint32_t>((v * 255 + max / 2) / max);
    }
};

bool ValidLayout(const InfoHeader& h) {
    if (h.width <= 0 || h.height == 0 || h.height == INT32_MIN) return false;
    switch (h.compression) {
    case kRgb:
        return h.bitCount == 1 || h.bitCount == 4 || h.bitCount == 8 || h.bitCount == 16 ||
               h.bitCount == 24 || h.bitCount == 32;
    case kRle8:
        return h.bitCount == 8 && h.height > 0;
    case kRle4:
        return h.bitCount == 4 && h.height > 0;
    case kBitFields:
        return h.bitCount == 16 || h.bitCount == 32;
    default:
        return false;
    }
}

QList<QRgb> IndexTable(const QList<QRgb>& table, int bitCount) {
    // Indices past the file's table show black, as they would on a zeroed table.
    QList<QRgb> padded = table.mid(0, 1 << bitCount);
    while (padded.size() < (1 << bitCount))
        padded.append(qRgb(0, 0, 0));
    return padded;
}

void UnpackIndexed(const std::uint8_t* src, std::size_t srcBytes, int bitCount, int width,
                   std::uint8_t* dst) {
    if (bitCount == 8) {
        std::memcpy(dst, src, std::min<std::size_t>(srcBytes, static_cast<std::size_t>(width)));
        return;
    }
    const int perByte = 8 / bitCount;
    const std::uint8_t mask = static_cast<std::uint8_t>((1 << bitCount) - 1);
    for (int x = 0; x < width; ++x) {
        const std::size_t byte = static_cast<std::size_t>(x / perByte);
        if (byte >= srcBytes) break;
        const int shift = 8 - bitCount * (x % perByte + 1);
        dst[x] = static_cast<std::uint8_t>((src[byte] >> shift) & mask);
    }
}

void UnpackDirect(const std::uint8_t* src, std::size_t srcBytes, const InfoHeader& h,
                  const Channel (&rgb)[3], QRgb* dst) {
    const int bytesPerPixel = h.bitCount / 8;
    const auto pixels = std::min<std::size_t>(static_cast<std::size_t>(h.width),
                                              srcBytes / static_cast<std::size_t>(bytesPerPixel));
    for (std::size_t x = 0; x < pixels; ++x) {
        const std::uint8_t* p = src + x * static_cast<std::size_t>(bytesPerPixel);
        if (bytesPerPixel == 3) {
            dst[x] = qRgb(p[2], p[1], p[0]);
            continue;
        }
        const std::uint32_t v = bytesPerPixel == 2 ? U16(p) : U32(p);
        dst[x] = qRgb(static_cast<int>(rgb[0](v)), static_cast<int>(rgb[1](v)),
                      static_cast<int>(rgb[2](v)));
    }
}

// Run-length-encoded pixels (RLE8 or RLE4) into a zero-filled Indexed8 image whose rows
// are counted from the bottom. Runs past the right edge are clipped; data that ends early
// or moves below the last row ends the picture.
void ExpandRle(std::span<const std::uint8_t> data, bool rle4, QImage& image) {
    const int width = image.width();
    const int height = image.height();
    int x = 0;
    int y = 0; // from the bottom
    std::size_t i = 0;
    auto put = [&](std::uint8_t index) {
        if (x >= width) return; // clipped at the right edge
        if (y < height) image.scanLine(height - 1 - y)[x] = index;
        ++x;
    };
    while (y < height && 2 <= data.size() - i) {
        const std::uint8_t count = data[i];
        const std::uint8_t value = data[i + 1];
        i += 2;
        if (count > 0) {
            for (int n = 0; n < count && x < width; ++n)
                put(rle4 ? static_cast<std::uint8_t>(n % 2 == 0 ? value >> 4 : value & 0x0F)
                         : value);
            continue;
        }
        if (value == 0) { // end of line
            x = 0;
            ++y;
        } else if (value == 1) { // end of bitmap
            return;
        } else if (value == 2) { // delta
            if (2 > data.size() - i) return;
            x = std::min(x + data[i], width);
            y += data[i + 1];
            i += 2;
        } else { // absolute run of `value` pixels, padded to a 16-bit boundary
            const std::size_t bytes = rle4 ? (value + 1u) / 2 : value;
            const std::size_t padded = (bytes + 1) & ~std::size_t{1};
            const std::size_t available = std::min(padded, data.size() - i);
            for (int n = 0; n < value; ++n) {
                const std::size_t byte =
                    rle4 ? static_cast<std::size_t>(n / 2) : static_cast<std::size_t>(n);
                if (byte >= available) break;
                const std::uint8_t b = data[i + byte];
                put(rle4 ? static_cast<std::uint8_t>(n % 2 == 0 ? b >> 4 : b & 0x0F) : b);
            }
            i += available;
        }
    }
}

BmpImage Failure(BmpStatus status) {
    BmpImage failure;
    failure.status = status;
    return failure;
}

} // namespace

BmpImage DecodeBmp(std::span<const std::uint8_t> data) {
    BmpImage result;
    if (data.empty()) {
        result.status = BmpStatus::Empty;
        return result;
    }
    Cursor cursor(data);
    const std::uint8_t* fileHeader = cursor.Take(kFileHeaderSize);
    if (fileHeader == nullptr) return Failure(BmpStatus::Truncated);
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') return Failure(BmpStatus::Invalid);
    const std::uint32_t pixelOffset = U32(fileHeader + 10);

    const std::uint8_t* sizeField = cursor.Take(4);
    if (sizeField == nullptr) return Failure(BmpStatus::Truncated);
    InfoHeader h;
    h.size = U32(sizeField);
    std::size_t entrySize = 4;
    if (h.size == 12) { // OS/2 core header
        const std::uint8_t* core = cursor.Take(8);
        if (core == nullptr) return Failure(BmpStatus::Truncated);
        h.width = U16(core);
        h.height = U16(core + 2);
        h.planes = U16(core + 4);
        h.bitCount = U16(core + 6);
        entrySize = 3;
    } else {
        // A header shorter than its own size field has no fields at all; its planes read
        // as 0 (tests/data/bmp/header-size-2.bmp).
        if (h.size < 4) return Failure(BmpStatus::Invalid);
        const std::uint8_t* rest = cursor.Take(h.size - 4);
        if (rest == nullptr) return Failure(BmpStatus::Truncated);
        std::uint8_t info[kInfoHeaderSize] = {};
        std::memcpy(info, sizeField, 4);
        std::memcpy(info + 4, rest, std::min<std::size_t>(h.size, kInfoHeaderSize) - 4);
        h.width = I32(info + 4);
        h.height = I32(info + 8);
        h.planes = U16(info + 12);
        h.bitCount = U16(info + 14);
        h.compression = U32(info + 16);
        h.sizeImage = U32(info + 20);
        h.colorsUsed = U32(info + 32);
        if (h.size >= 52 && h.compression == kBitFields) // masks inside a V2..V5 header
            for (int c = 0; c < 3; ++c)
                h.masks[c] = U32(rest + 36 + 4 * c);
    }
    if (h.planes != 1) return Failure(BmpStatus::Invalid);

    if (h.size == kInfoHeaderSize && (h.bitCount == 16 || h.bitCount == 32) &&
        h.compression == kBitFields) {
        const std::uint8_t* masks = cursor.Take(12);
        if (masks == nullptr) return Failure(BmpStatus::Truncated);
        for (int c = 0; c < 3; ++c)
            h.masks[c] = U32(masks + 4 * c);
    }

    std::uint64_t colors = h.colorsUsed;
    if (colors == 0)
        colors = h.bitCount == 1 ? 2 : h.bitCount == 4 ? 16 : h.bitCount == 8 ? 256 : 0;
    if (colors > cursor.Remaining() / entrySize) return Failure(BmpStatus::Truncated);
    const std::uint8_t* table = cursor.Take(static_cast<std::size_t>(colors) * entrySize);
    for (std::uint64_t c = 0; c < std::min<std::uint64_t>(colors, 256); ++c) {
        const std::uint8_t* e = table + c * entrySize;
        result.colorTable.append(qRgb(e[2], e[1], e[0]));
    }
    const std::size_t tableEnd = cursor.Position();

    if (!ValidLayout(h)) return Failure(BmpStatus::Invalid);
    const std::uint64_t width = static_cast<std::uint64_t>(h.width);
    const std::uint64_t height =
        h.height < 0 ? std::uint64_t(-std::int64_t{h.height}) : std::uint64_t(h.height);
    if (width * height > kMaxPixels) return Failure(BmpStatus::TooLarge);

    const std::uint64_t stride = (width * h.bitCount + 31) / 32 * 4;
    const bool rle = h.compression == kRle8 || h.compression == kRle4;
    // Run-length codes may be longer than the rows they unpack to, so without an image
    // size they run to the end of the file (tests/data/bmp/rle8-sizeimage0.bmp).
    std::uint64_t dataSize = h.sizeImage != 0 ? h.sizeImage : rle ? data.size() : stride * height;
    // The file header's offset is honoured when it points into the file at or after the
    // colour table (tests/data/bmp/offset-gap.bmp); otherwise the pixels follow the table.
    std::size_t start = tableEnd;
    if (pixelOffset >= tableEnd && pixelOffset < data.size()) start = pixelOffset;
    dataSize = std::min<std::uint64_t>(dataSize, data.size() - start);
    const std::span<const std::uint8_t> pixels = data.subspan(start, dataSize);

    const bool indexed = h.bitCount <= 8;
    result.bitCount = h.bitCount;
    result.runLength = rle;
    result.image = QImage(h.width, static_cast<int>(height),
                          indexed ? QImage::Format_Indexed8 : QImage::Format_RGB32);
    if (result.image.isNull()) return Failure(BmpStatus::OutOfMemory);
    // Rows the data does not reach stay black; when it reaches all of them, every pixel is
    // written below and clearing first would only cost time.
    if (rle || pixels.size() < stride * height) result.image.fill(indexed ? 0u : qRgb(0, 0, 0));
    if (indexed) result.image.setColorTable(IndexTable(result.colorTable, h.bitCount));

    if (rle) {
        ExpandRle(pixels, h.compression == kRle4, result.image);
    } else {
        if (h.compression == kRgb && h.bitCount == 16) h.masks = {0x7C00, 0x03E0, 0x001F};
        if (h.compression == kRgb && h.bitCount == 32) h.masks = {0xFF0000, 0x00FF00, 0x0000FF};
        const Channel rgb[3] = {Channel(h.masks[0]), Channel(h.masks[1]), Channel(h.masks[2])};
        for (std::uint64_t row = 0; row < height; ++row) {
            if (row * stride >= pixels.size()) break;
            const std::uint8_t* src = pixels.data() + row * stride;
            const std::size_t srcBytes = static_cast<std::size_t>(
                std::min<std::uint64_t>(stride, pixels.size() - row * stride));
            const int y = static_cast<int>(h.height > 0 ? height - 1 - row : row);
            if (indexed)
                UnpackIndexed(src, srcBytes, h.bitCount, h.width, result.image.scanLine(y));
            else
                UnpackDirect(src, srcBytes, h, rgb,
                             reinterpret_cast<QRgb*>(result.image.scanLine(y)));
        }
    }
    result.status = BmpStatus::Ok;
    return result;
}

} // namespace sorowa::bmp
