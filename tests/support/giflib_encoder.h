#pragma once
// GIF files written by giflib's own encoder, for tests and benchmarks that need pictures made
// by a writer independent of ours.

#include <cstdint>
#include <vector>

namespace sorowa::test {

struct GiflibPicture {
    int width = 0;
    int height = 0;
    int colorBits = 8; // a global table of 2^colorBits colours
    bool interlaced = false;
    // Centiseconds each frame shows; written (in a graphic control extension before every
    // frame, which makes the file GIF89a) only for more than one frame.
    int delay = 4;
};

// Encodes frames, each width x height colour indices row after row, as one GIF file. Throws
// std::runtime_error when giflib refuses.
std::vector<std::uint8_t> EncodeWithGiflib(const GiflibPicture& picture,
                                           const std::vector<std::vector<std::uint8_t>>& frames);

} // namespace sorowa::test
