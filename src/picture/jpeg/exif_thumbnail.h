#pragma once
// What a photo's Exif segment (APP1, a TIFF structure) says about it: the small JPEG that
// cameras store there (the second image directory points at its bytes), the photo's pixel
// size as the Exif directory records it, and which way up the camera was held. Found by
// reading bytes only; nothing here decodes.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace sorowa::jpeg {

struct EmbeddedThumbnail {
    std::size_t offset = 0; // of the thumbnail's first byte (its SOI) in the data searched
    std::size_t length = 0;
    // The photo's size as its Exif directory gives it; 0 when it does not.
    std::uint32_t pixelWidth = 0;
    std::uint32_t pixelHeight = 0;
};

// Looks for the thumbnail in the JPEG segments at the start of data, up to the frame header.
// nullopt when there is none, or when anything on the way to it is out of bounds.
std::optional<EmbeddedThumbnail> FindEmbeddedThumbnail(const std::uint8_t* data, std::size_t size);

// The orientation tag (0x0112) of the first image directory, 1 to 8 as TIFF numbers them
// (1: rows top to bottom, columns left to right, as stored). 1 when there is no Exif segment,
// no tag, a value outside 1..8, or anything on the way out of bounds. The embedded thumbnail
// is stored the same way round as the photo, so the one value serves both.
int FindExifOrientation(std::span<const std::uint8_t> data);

} // namespace sorowa::jpeg
