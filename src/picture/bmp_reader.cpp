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

// A cursor over the first bytes of a file of a known total size. It hands out whole pieces
// or nothing: a piece past the end of the file is missing, a piece past the bytes given but
// within the file is asked for (needed).
class Cursor {
public:
    Cursor(std::span<const std::uint8_t> data, std::uint64_t total) : data_(data), total_(total) {}
    std::size_t Position() const { return pos_; }
    std::uint64_t Remaining() const { return total_ - pos_; }
    const std::uint8_t* Take(std::size_t n) {
        if (n > Remaining()) return nullptr;
        if (n > data_.size() - pos_) {
            needed_ = pos_ + n;
            return nullptr;
        }
        const std::uint8_t* p = data_.data() + pos_;
        pos_ += n;
        return p;
    }
    // Bytes from the start that the last failed Take needed; 0 when it failed for lack of file.
    std::uint64_t Needed() const { return needed_; }

private:
    std::span<const std::uint8_t> data_;
    std::uint64_t total_;
    std::size_t pos_ = 0;
    std::uint64_t needed_ = 0;
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

// Bytes of a span, as the run-length decoder reads them.
class SpanFeed {
public:
    explicit SpanFeed(std::span<const std::uint8_t> data) : data_(data) {}
    // Makes min(n, what is left) bytes from the position readable; returns how many.
    std::size_t Ensure(std::size_t n) { return std::min(n, data_.size() - pos_); }
    std::uint8_t At(std::size_t k) const { return data_[pos_ + k]; }
    void Advance(std::size_t n) { pos_ += n; }

private:
    std::span<const std::uint8_t> data_;
    std::size_t pos_ = 0;
};

// Bytes read from a source piece by piece, so that long run-length data never lies in memory
// whole.
class SourceFeed {
public:
    SourceFeed(const ByteSource& source, std::uint64_t offset, std::uint64_t length)
        : source_(source), next_(offset), left_(length) {}
    std::size_t Ensure(std::size_t n) {
        if (end_ - pos_ >= n || left_ == 0) return std::min(n, end_ - pos_);
        std::memmove(buffer_.data(), buffer_.data() + pos_, end_ - pos_);
        end_ -= pos_;
        pos_ = 0;
        const auto want =
            static_cast<std::size_t>(std::min<std::uint64_t>(left_, buffer_.size() - end_));
        const std::size_t got = source_(next_, std::span(buffer_.data() + end_, want));
        next_ += got;
        end_ += got;
        left_ = got < want ? 0 : left_ - got;
        return std::min(n, end_ - pos_);
    }
    std::uint8_t At(std::size_t k) const { return buffer_[pos_ + k]; }
    void Advance(std::size_t n) { pos_ += n; }

private:
    const ByteSource& source_;
    std::uint64_t next_;
    std::uint64_t left_;
    std::vector<std::uint8_t> buffer_ = std::vector<std::uint8_t>(256 * 1024);
    std::size_t pos_ = 0, end_ = 0;
};

// Run-length-encoded pixels (RLE8 or RLE4), handed to put(x, y, index) with rows counted
// from the bottom; x only grows within a row and y only grows. Runs past the right edge are
// clipped; data that ends early or moves below the last row ends the picture.
template <typename Feed, typename Put>
void ExpandRle(Feed& data, bool rle4, int width, int height, Put&& store) {
    int x = 0;
    int y = 0; // from the bottom
    auto put = [&](std::uint8_t index) {
        if (x >= width) return; // clipped at the right edge
        if (y < height) store(x, y, index);
        ++x;
    };
    while (y < height && data.Ensure(4) >= 2) {
        const std::uint8_t count = data.At(0);
        const std::uint8_t value = data.At(1);
        if (count > 0) {
            data.Advance(2);
            for (int n = 0; n < count && x < width; ++n)
                put(rle4 ? static_cast<std::uint8_t>(n % 2 == 0 ? value >> 4 : value & 0x0F)
                         : value);
            continue;
        }
        if (value == 0) { // end of line
            data.Advance(2);
            x = 0;
            ++y;
        } else if (value == 1) { // end of bitmap
            return;
        } else if (value == 2) { // delta
            if (data.Ensure(4) < 4) return;
            x = std::min(x + data.At(2), width);
            y += data.At(3);
            data.Advance(4);
        } else { // absolute run of `value` pixels, padded to a 16-bit boundary
            const std::size_t bytes = rle4 ? (value + 1u) / 2 : value;
            const std::size_t padded = (bytes + 1) & ~std::size_t{1};
            const std::size_t available = data.Ensure(2 + padded) - 2;
            data.Advance(2);
            for (int n = 0; n < value; ++n) {
                const std::size_t byte =
                    rle4 ? static_cast<std::size_t>(n / 2) : static_cast<std::size_t>(n);
                if (byte >= available) break;
                const std::uint8_t b = data.At(byte);
                put(rle4 ? static_cast<std::uint8_t>(n % 2 == 0 ? b >> 4 : b & 0x0F) : b);
            }
            data.Advance(available);
        }
    }
}

void ExpandRle(std::span<const std::uint8_t> data, bool rle4, QImage& image) {
    SpanFeed feed(data);
    const int height = image.height();
    ExpandRle(feed, rle4, image.width(), height,
              [&](int x, int y, std::uint8_t index) { image.scanLine(height - 1 - y)[x] = index; });
}

BmpHeader HeaderFailure(BmpStatus status, std::uint64_t needed = 0) {
    BmpHeader failure;
    failure.status = needed != 0 ? BmpStatus::NeedMore : status;
    failure.needed = needed;
    return failure;
}

} // namespace

BmpHeader ReadBmpHeader(std::span<const std::uint8_t> data, std::uint64_t totalSize) {
    BmpHeader result;
    if (totalSize == 0) {
        result.status = BmpStatus::Empty;
        return result;
    }
    Cursor cursor(data, totalSize);
    const auto missing = [&] { return HeaderFailure(BmpStatus::Truncated, cursor.Needed()); };
    const std::uint8_t* fileHeader = cursor.Take(kFileHeaderSize);
    if (fileHeader == nullptr) return missing();
    if (fileHeader[0] != 'B' || fileHeader[1] != 'M') return HeaderFailure(BmpStatus::Invalid);
    const std::uint32_t pixelOffset = U32(fileHeader + 10);

    const std::uint8_t* sizeField = cursor.Take(4);
    if (sizeField == nullptr) return missing();
    InfoHeader h;
    h.size = U32(sizeField);
    std::size_t entrySize = 4;
    if (h.size == 12) { // OS/2 core header
        const std::uint8_t* core = cursor.Take(8);
        if (core == nullptr) return missing();
        h.width = U16(core);
        h.height = U16(core + 2);
        h.planes = U16(core + 4);
        h.bitCount = U16(core + 6);
        entrySize = 3;
    } else {
        // A header shorter than its own size field has no fields at all; its planes read
        // as 0 (tests/data/bmp/header-size-2.bmp).
        if (h.size < 4) return HeaderFailure(BmpStatus::Invalid);
        const std::uint8_t* rest = cursor.Take(h.size - 4);
        if (rest == nullptr) return missing();
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
    if (h.planes != 1) return HeaderFailure(BmpStatus::Invalid);

    if (h.size == kInfoHeaderSize && (h.bitCount == 16 || h.bitCount == 32) &&
        h.compression == kBitFields) {
        const std::uint8_t* masks = cursor.Take(12);
        if (masks == nullptr) return missing();
        for (int c = 0; c < 3; ++c)
            h.masks[c] = U32(masks + 4 * c);
    }

    std::uint64_t colors = h.colorsUsed;
    if (colors == 0)
        colors = h.bitCount == 1 ? 2 : h.bitCount == 4 ? 16 : h.bitCount == 8 ? 256 : 0;
    if (colors > cursor.Remaining() / entrySize) return HeaderFailure(BmpStatus::Truncated);
    const std::uint8_t* table = cursor.Take(static_cast<std::size_t>(colors) * entrySize);
    if (table == nullptr && colors != 0) return missing();
    for (std::uint64_t c = 0; c < std::min<std::uint64_t>(colors, 256); ++c) {
        const std::uint8_t* e = table + c * entrySize;
        result.colorTable.append(qRgb(e[2], e[1], e[0]));
    }
    const std::size_t tableEnd = cursor.Position();

    if (!ValidLayout(h)) return HeaderFailure(BmpStatus::Invalid);
    const std::uint64_t width = static_cast<std::uint64_t>(h.width);
    const std::uint64_t height =
        h.height < 0 ? std::uint64_t(-std::int64_t{h.height}) : std::uint64_t(h.height);
    if (width * height > kMaxPixels) return HeaderFailure(BmpStatus::TooLarge);

    const std::uint64_t stride = (width * h.bitCount + 31) / 32 * 4;
    const bool rle = h.compression == kRle8 || h.compression == kRle4;
    // Run-length codes may be longer than the rows they unpack to, so without an image
    // size they run to the end of the file (tests/data/bmp/rle8-sizeimage0.bmp).
    std::uint64_t dataSize = h.sizeImage != 0 ? h.sizeImage : rle ? totalSize : stride * height;
    // The file header's offset is honoured when it points into the file at or after the
    // colour table (tests/data/bmp/offset-gap.bmp); otherwise the pixels follow the table.
    std::uint64_t start = tableEnd;
    if (pixelOffset >= tableEnd && pixelOffset < totalSize) start = pixelOffset;
    dataSize = std::min<std::uint64_t>(dataSize, totalSize - start);
    // Plain rows past the last one are never looked at.
    if (!rle) dataSize = std::min(dataSize, stride * height);

    if (h.compression == kRgb && h.bitCount == 16) h.masks = {0x7C00, 0x03E0, 0x001F};
    if (h.compression == kRgb && h.bitCount == 32) h.masks = {0xFF0000, 0x00FF00, 0x0000FF};
    result.status = BmpStatus::Ok;
    result.width = h.width;
    result.height = static_cast<int>(height);
    result.bottomUp = h.height > 0;
    result.bitCount = h.bitCount;
    result.runLength = rle;
    result.rle4 = h.compression == kRle4;
    result.masks = h.masks;
    result.stride = stride;
    result.pixelStart = start;
    result.pixelBytes = dataSize;
    return result;
}

QImage DecodeBmpPixels(const BmpHeader& h, std::span<const std::uint8_t> pixels) {
    const bool indexed = h.bitCount <= 8;
    QImage image(h.width, h.height, indexed ? QImage::Format_Indexed8 : QImage::Format_RGB32);
    if (image.isNull()) return image;
    // Rows the data does not reach stay black; when it reaches all of them, every pixel is
    // written below and clearing first would only cost time.
    if (h.runLength || pixels.size() < h.stride * static_cast<std::uint64_t>(h.height))
        image.fill(indexed ? 0u : qRgb(0, 0, 0));
    if (indexed) image.setColorTable(IndexColors(h));
    if (h.runLength) {
        ExpandRle(pixels, h.rle4, image);
        return image;
    }
    InfoHeader info;
    info.width = h.width;
    info.bitCount = static_cast<std::uint16_t>(h.bitCount);
    const Channel rgb[3] = {Channel(h.masks[0]), Channel(h.masks[1]), Channel(h.masks[2])};
    const auto height = static_cast<std::uint64_t>(h.height);
    for (std::uint64_t row = 0; row < height; ++row) {
        if (row * h.stride >= pixels.size()) break;
        const std::uint8_t* src = pixels.data() + row * h.stride;
        const std::size_t srcBytes = static_cast<std::size_t>(
            std::min<std::uint64_t>(h.stride, pixels.size() - row * h.stride));
        const int y = static_cast<int>(h.bottomUp ? height - 1 - row : row);
        if (indexed)
            UnpackIndexed(src, srcBytes, h.bitCount, h.width, image.scanLine(y));
        else
            UnpackDirect(src, srcBytes, info, rgb, reinterpret_cast<QRgb*>(image.scanLine(y)));
    }
    return image;
}

QList<QRgb> IndexColors(const BmpHeader& h) {
    return IndexTable(h.colorTable, h.bitCount);
}

BmpImage DecodeBmp(std::span<const std::uint8_t> data) {
    BmpImage result;
    const BmpHeader h = ReadBmpHeader(data, data.size());
    result.status = h.status;
    if (h.status != BmpStatus::Ok) return result;
    result.colorTable = h.colorTable;
    result.bitCount = h.bitCount;
    result.runLength = h.runLength;
    result.image = DecodeBmpPixels(h, data.subspan(static_cast<std::size_t>(h.pixelStart),
                                                   static_cast<std::size_t>(h.pixelBytes)));
    if (result.image.isNull()) {
        result = BmpImage();
        result.status = BmpStatus::OutOfMemory;
    }
    return result;
}

namespace {

// Sorted distinct values of a non-decreasing list, and for each entry of the list the place of
// its value among them.
struct Distinct {
    std::vector<int> values;
    std::vector<std::size_t> slotOf;
    explicit Distinct(std::span<const int> list) {
        slotOf.reserve(list.size());
        for (const int v : list) {
            if (values.empty() || values.back() != v) values.push_back(v);
            slotOf.push_back(values.size() - 1);
        }
    }
};

QRgb DirectPixel(const std::uint8_t* p, int bytesPerPixel, const Channel (&rgb)[3]) {
    if (bytesPerPixel == 3) return qRgb(p[2], p[1], p[0]);
    const std::uint32_t v = bytesPerPixel == 2 ? U16(p) : U32(p);
    return qRgb(static_cast<int>(rgb[0](v)), static_cast<int>(rgb[1](v)),
                static_cast<int>(rgb[2](v)));
}

// Fills the sampled columns of one plain row (file row fileRow) into line.
void SampleRow(const BmpHeader& h, const ByteSource& source, std::uint64_t fileRow,
               const std::vector<int>& columns, const QList<QRgb>& colors, const Channel (&rgb)[3],
               QRgb* line, std::vector<std::uint8_t>& window) {
    const std::uint64_t rowStart = fileRow * h.stride;
    if (rowStart >= h.pixelBytes) return;
    const std::uint64_t rowBytes = std::min(h.stride, h.pixelBytes - rowStart);
    const auto bits = static_cast<std::uint64_t>(h.bitCount);
    std::size_t c = 0;
    while (c < columns.size() && columns[c] < h.width) {
        // One read covers every sampled column whose bytes lie within the window.
        const std::uint64_t first = static_cast<std::uint64_t>(columns[c]) * bits / 8;
        if (first >= rowBytes) return;
        const std::uint64_t length = std::min<std::uint64_t>(window.size(), rowBytes - first);
        const std::size_t got =
            source(h.pixelStart + rowStart + first, std::span(window.data(), length));
        if (got == 0) return;
        for (; c < columns.size() && columns[c] < h.width; ++c) {
            const auto x = static_cast<std::uint64_t>(columns[c]);
            const std::uint64_t at = x * bits / 8 - first;
            const std::uint64_t size = bits >= 8 ? bits / 8 : 1;
            if (at + size > window.size()) break; // the next window
            if (at + size > got) return;          // the data ends here
            if (h.bitCount <= 8) {
                const int shift = static_cast<int>(8 - bits - (x * bits) % 8);
                const int index = (window[at] >> shift) & ((1 << h.bitCount) - 1);
                line[c] = colors[index];
            } else {
                line[c] = DirectPixel(window.data() + at, h.bitCount / 8, rgb);
            }
        }
    }
}

} // namespace

QImage DecodeBmpSampled(const BmpHeader& h, const ByteSource& source, std::span<const int> columns,
                        std::span<const int> rows) {
    QImage image(static_cast<int>(columns.size()), static_cast<int>(rows.size()),
                 QImage::Format_RGB32);
    if (image.isNull()) return image;
    const Distinct cols(columns), lines(rows);
    const QList<QRgb> colors = h.bitCount <= 8 ? IndexColors(h) : QList<QRgb>{};
    const QRgb fill = h.bitCount <= 8 ? colors[0] : qRgb(0, 0, 0);
    const QRgb outside = qRgb(0, 0, 0);
    // The distinct sampled rows, each with the distinct sampled columns.
    const std::size_t stride = cols.values.size();
    std::vector<QRgb> sampled(lines.values.size() * stride, fill);
    for (std::size_t r = 0; r < lines.values.size(); ++r)
        for (std::size_t c = 0; c < stride; ++c)
            if (lines.values[r] >= h.height || cols.values[c] >= h.width)
                sampled[r * stride + c] = outside;

    if (h.runLength) {
        // Rows arrive from the bottom, so the sampled rows are met from the last one up.
        std::ptrdiff_t slot = static_cast<std::ptrdiff_t>(lines.values.size()) - 1;
        int rowOfSlot = -1;
        std::size_t column = 0;
        SourceFeed feed(source, h.pixelStart, h.pixelBytes);
        ExpandRle(feed, h.rle4, h.width, h.height, [&](int x, int y, std::uint8_t index) {
            const int row = h.height - 1 - y;
            if (row != rowOfSlot) {
                while (slot >= 0 && lines.values[static_cast<std::size_t>(slot)] > row)
                    --slot;
                rowOfSlot = row;
                column = 0;
            }
            if (slot < 0 || lines.values[static_cast<std::size_t>(slot)] != row) return;
            while (column < stride && cols.values[column] < x)
                ++column;
            if (column < stride && cols.values[column] == x)
                sampled[static_cast<std::size_t>(slot) * stride + column] = colors[index];
        });
    } else {
        const Channel rgb[3] = {Channel(h.masks[0]), Channel(h.masks[1]), Channel(h.masks[2])};
        std::vector<std::uint8_t> window(64 * 1024);
        for (std::size_t r = 0; r < lines.values.size(); ++r) {
            const int row = lines.values[r];
            if (row < 0 || row >= h.height) continue;
            const auto fileRow = static_cast<std::uint64_t>(h.bottomUp ? h.height - 1 - row : row);
            SampleRow(h, source, fileRow, cols.values, colors, rgb, sampled.data() + r * stride,
                      window);
        }
    }
    for (std::size_t j = 0; j < rows.size(); ++j) {
        auto* line = reinterpret_cast<QRgb*>(image.scanLine(static_cast<int>(j)));
        const QRgb* from = sampled.data() + lines.slotOf[j] * stride;
        for (std::size_t i = 0; i < columns.size(); ++i)
            line[i] = from[cols.slotOf[i]];
    }
    return image;
}

} // namespace sorowa::bmp
