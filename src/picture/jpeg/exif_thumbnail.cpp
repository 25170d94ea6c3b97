#include "picture/jpeg/exif_thumbnail.h"

#include <cstring>
#include <utility>

namespace sorowa::jpeg {
namespace {

// A TIFF structure in memory, read in its own byte order. Every read checks its bounds.
class Tiff {
public:
    Tiff(const std::uint8_t* data, std::size_t size) : data_(data), size_(size) {}

    bool ReadOrder() {
        if (size_ < 8) return false;
        if (data_[0] == 'I' && data_[1] == 'I') {
            bigEndian_ = false;
        } else if (data_[0] == 'M' && data_[1] == 'M') {
            bigEndian_ = true;
        } else {
            return false;
        }
        std::uint16_t magic = 0;
        return U16(2, magic) && magic == 42;
    }

    bool U16(std::size_t at, std::uint16_t& value) const {
        if (at > size_ || size_ - at < 2) return false;
        const std::uint8_t* p = data_ + at;
        value = bigEndian_ ? static_cast<std::uint16_t>(p[0] << 8 | p[1])
                           : static_cast<std::uint16_t>(p[1] << 8 | p[0]);
        return true;
    }

    bool U32(std::size_t at, std::uint32_t& value) const {
        if (at > size_ || size_ - at < 4) return false;
        const std::uint8_t* p = data_ + at;
        value = bigEndian_ ? (std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 |
                              std::uint32_t{p[2]} << 8 | p[3])
                           : (std::uint32_t{p[3]} << 24 | std::uint32_t{p[2]} << 16 |
                              std::uint32_t{p[1]} << 8 | p[0]);
        return true;
    }

    std::size_t Size() const { return size_; }

private:
    const std::uint8_t* data_;
    std::size_t size_;
    bool bigEndian_ = false;
};

constexpr std::uint16_t kShort = 3, kLong = 4;

// One directory: its entries and the offset of the next one (0: none).
struct Directory {
    std::size_t entries = 0;
    std::uint16_t count = 0;
    std::uint32_t next = 0;
};

bool ReadDirectory(const Tiff& tiff, std::uint32_t offset, Directory& directory) {
    if (offset < 8 || !tiff.U16(offset, directory.count)) return false;
    directory.entries = std::size_t{offset} + 2;
    const std::size_t end = directory.entries + std::size_t{directory.count} * 12;
    if (end > tiff.Size()) return false;
    if (!tiff.U32(end, directory.next)) directory.next = 0;
    return true;
}

// The value of a tag holding one SHORT or LONG; false when absent or of another shape.
bool Number(const Tiff& tiff, const Directory& directory, std::uint16_t tag, std::uint32_t& value) {
    for (std::uint16_t i = 0; i < directory.count; ++i) {
        const std::size_t entry = directory.entries + std::size_t{i} * 12;
        std::uint16_t entryTag = 0, type = 0;
        std::uint32_t count = 0;
        if (!tiff.U16(entry, entryTag) || entryTag != tag) continue;
        if (!tiff.U16(entry + 2, type) || !tiff.U32(entry + 4, count) || count != 1) return false;
        if (type == kShort) {
            std::uint16_t shortValue = 0;
            if (!tiff.U16(entry + 8, shortValue)) return false;
            value = shortValue;
            return true;
        }
        if (type == kLong) return tiff.U32(entry + 8, value);
        return false;
    }
    return false;
}

std::optional<EmbeddedThumbnail> FromExif(const std::uint8_t* tiffData, std::size_t tiffSize,
                                          std::size_t tiffOffset) {
    Tiff tiff(tiffData, tiffSize);
    std::uint32_t first = 0;
    Directory image, thumbnail;
    if (!tiff.ReadOrder() || !tiff.U32(4, first) || !ReadDirectory(tiff, first, image) ||
        image.next == 0 || image.next == first || !ReadDirectory(tiff, image.next, thumbnail))
        return std::nullopt;

    constexpr std::uint16_t kCompression = 0x0103, kJpegOffset = 0x0201, kJpegLength = 0x0202;
    std::uint32_t compression = 0, start = 0, length = 0;
    if (Number(tiff, thumbnail, kCompression, compression) && compression != 6)
        return std::nullopt; // an uncompressed thumbnail: not a JPEG
    if (!Number(tiff, thumbnail, kJpegOffset, start) ||
        !Number(tiff, thumbnail, kJpegLength, length) || length < 4 || start > tiffSize ||
        tiffSize - start < length || tiffData[start] != 0xFF || tiffData[start + 1] != 0xD8)
        return std::nullopt;

    EmbeddedThumbnail found;
    found.offset = tiffOffset + start;
    found.length = length;
    constexpr std::uint16_t kExifDirectory = 0x8769, kPixelWidth = 0xA002, kPixelHeight = 0xA003;
    std::uint32_t exifOffset = 0;
    Directory exif;
    if (Number(tiff, image, kExifDirectory, exifOffset) && ReadDirectory(tiff, exifOffset, exif)) {
        std::uint32_t width = 0, height = 0;
        if (Number(tiff, exif, kPixelWidth, width) && Number(tiff, exif, kPixelHeight, height)) {
            found.pixelWidth = width;
            found.pixelHeight = height;
        }
    }
    return found;
}

bool IsFrameMarker(std::uint8_t marker) {
    return marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC;
}

// The TIFF structure of the first Exif segment among the JPEG segments at the start of data,
// up to the frame header, as an offset into data and a size.
std::optional<std::pair<std::size_t, std::size_t>> FindExifTiff(const std::uint8_t* data,
                                                                std::size_t size) {
    if (size < 4 || data[0] != 0xFF || data[1] != 0xD8) return std::nullopt;
    std::size_t at = 2;
    // Segments before the frame header; a real file has a handful.
    for (int segments = 0; segments < 256; ++segments) {
        while (at < size && data[at] == 0xFF && at + 1 < size && data[at + 1] == 0xFF)
            ++at; // fill bytes
        if (at + 4 > size || data[at] != 0xFF) return std::nullopt;
        const std::uint8_t marker = data[at + 1];
        if (IsFrameMarker(marker) || marker == 0xDA || marker == 0xD9) return std::nullopt;
        const std::size_t length = std::size_t{data[at + 2]} << 8 | data[at + 3];
        if (length < 2) return std::nullopt;
        const std::size_t body = at + 4, bodySize = length - 2;
        if (bodySize > size - body) return std::nullopt;
        static constexpr std::uint8_t kExif[] = {'E', 'x', 'i', 'f', 0, 0};
        if (marker == 0xE1 && bodySize > sizeof kExif &&
            std::memcmp(data + body, kExif, sizeof kExif) == 0)
            return std::pair{body + sizeof kExif, bodySize - sizeof kExif};
        at = body + bodySize;
    }
    return std::nullopt;
}

} // namespace

std::optional<EmbeddedThumbnail> FindEmbeddedThumbnail(const std::uint8_t* data, std::size_t size) {
    const auto tiff = FindExifTiff(data, size);
    if (!tiff) return std::nullopt;
    return FromExif(data + tiff->first, tiff->second, tiff->first);
}

int FindExifOrientation(std::span<const std::uint8_t> data) {
    const auto found = FindExifTiff(data.data(), data.size());
    if (!found) return 1;
    Tiff tiff(data.data() + found->first, found->second);
    std::uint32_t first = 0, orientation = 0;
    Directory image;
    constexpr std::uint16_t kOrientation = 0x0112;
    if (!tiff.ReadOrder() || !tiff.U32(4, first) || !ReadDirectory(tiff, first, image) ||
        !Number(tiff, image, kOrientation, orientation) || orientation < 1 || orientation > 8)
        return 1;
    return static_cast<int>(orientation);
}

} // namespace sorowa::jpeg
