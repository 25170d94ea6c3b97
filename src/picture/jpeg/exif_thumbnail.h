#pragma once
// The small JPEG that cameras store in a photo's Exif segment (APP1, a TIFF structure whose
// second image directory points at the thumbnail's bytes), and the photo's pixel size as the
// Exif directory records it. Found by reading bytes only; nothing here decodes.

#include <cstddef>
#include <cstdint>
#include <optional>

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

} // namespace sorowa::jpeg
