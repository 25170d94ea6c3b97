#pragma once
// Reader for icon files: the directory, the choice of entry and the entry's image (a
// device-independent bitmap with its AND mask, or a PNG). Works over a byte span, never
// reads past it and allocates only for pixels that are present in the data.

#include <QImage>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sorowa::ico {

struct IconHeader {
    std::uint16_t reserved = 0;
    std::uint16_t type = 0; // 1 icon, 2 cursor
    std::uint16_t count = 0;
};

struct IconEntry {
    int width = 0;  // 0 stands for 256
    int height = 0; // 0 stands for 256
    // The colour-count byte and the reserved byte after it, read as one 16-bit value.
    std::uint16_t colorCount = 0;
    std::uint16_t planes = 0;
    std::uint16_t bitCount = 0;
    std::uint32_t size = 0;
    std::uint32_t offset = 0; // from the start of the file
};

// The 6-byte header; nullopt when data is shorter.
std::optional<IconHeader> ReadIconHeader(std::span<const std::uint8_t> data);

// The directory entries; nullopt when the header or any entry lies past the data.
std::optional<std::vector<IconEntry>> ReadIconDirectory(std::span<const std::uint8_t> data);

// Index of the entry to show on a display of displayColors colours (0 for true colour):
// an entry with exactly that count is taken at once; otherwise the first entry that does
// not exceed it, replaced by any later entry with more colours than that first one; the
// first entry when none fits. entries must not be empty.
std::size_t ChooseIconEntry(const std::vector<IconEntry>& entries, int displayColors);

// Largest side of an icon image that is decoded.
inline constexpr int kMaxIconSide = 1024;

// The entry's picture at its own size as premultiplied ARGB32, transparent where the AND
// mask or the alpha channel says so; a null image when the entry is damaged.
QImage DecodeIconImage(std::span<const std::uint8_t> file, const IconEntry& entry);

// image scaled to size: enlarged pixel by pixel, shrunk smoothly.
QImage IconAtSize(const QImage& image, QSize size);

} // namespace sorowa::ico
