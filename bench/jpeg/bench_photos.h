#pragma once
// Photo-like JPEG files for the benchmarks, made once per process with libjpeg's compressor.

#include <cstdint>
#include <vector>

namespace sorowa::bench {

using Bytes = std::vector<std::uint8_t>;

// A width x height photo-like JPEG (quality 90, 4:2:0), baseline or progressive. Cached.
const Bytes& PhotoJpeg(int width, int height, bool progressive, unsigned seed = 1);
// The same photo as a camera writes it: with a 160 x 120 thumbnail (bars above and below for
// 3:2) and the pixel size in an Exif segment. Cached.
const Bytes& CameraPhotoJpeg(int width, int height, bool progressive, unsigned seed = 1);

} // namespace sorowa::bench
