#pragma once
// giflib's DGifSlurp over a block of bytes: the reference that our reader is compared with.

#include <cstdint>
#include <cstring>
#include <gif_lib.h>
#include <memory>
#include <vector>

namespace sorowa::giftest {

struct OracleFrame {
    int left = 0, top = 0, width = 0, height = 0;
    bool interlaced = false;
    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> localColors; // rgb triples; empty without a local table
};

struct Oracle {
    bool ok = false;
    int screenWidth = 0, screenHeight = 0;
    std::vector<std::uint8_t> globalColors;
    std::vector<OracleFrame> frames;
};

inline Oracle DecodeWithGiflib(const std::vector<std::uint8_t>& bytes) {
    struct Source {
        const std::vector<std::uint8_t>* bytes;
        std::size_t pos;
    } source{&bytes, 0};
    const auto read = [](GifFileType* gif, GifByteType* out, int count) -> int {
        auto* s = static_cast<Source*>(gif->UserData);
        const std::size_t n =
            std::min<std::size_t>(static_cast<std::size_t>(count), s->bytes->size() - s->pos);
        std::memcpy(out, s->bytes->data() + s->pos, n);
        s->pos += n;
        return static_cast<int>(n);
    };
    Oracle oracle;
    int error = 0;
    GifFileType* gif = DGifOpen(&source, read, &error);
    if (gif == nullptr) return oracle;
    const auto colors = [](const ColorMapObject* map) {
        std::vector<std::uint8_t> rgb;
        if (map == nullptr) return rgb;
        for (int i = 0; i < map->ColorCount; ++i) {
            rgb.push_back(map->Colors[i].Red);
            rgb.push_back(map->Colors[i].Green);
            rgb.push_back(map->Colors[i].Blue);
        }
        return rgb;
    };
    if (DGifSlurp(gif) == GIF_OK) {
        oracle.ok = true;
        oracle.screenWidth = gif->SWidth;
        oracle.screenHeight = gif->SHeight;
        oracle.globalColors = colors(gif->SColorMap);
        for (int i = 0; i < gif->ImageCount; ++i) {
            const SavedImage& image = gif->SavedImages[i];
            OracleFrame frame;
            frame.left = image.ImageDesc.Left;
            frame.top = image.ImageDesc.Top;
            frame.width = image.ImageDesc.Width;
            frame.height = image.ImageDesc.Height;
            frame.interlaced = image.ImageDesc.Interlace;
            frame.pixels.assign(image.RasterBits,
                                image.RasterBits + static_cast<std::size_t>(frame.width) *
                                                       static_cast<std::size_t>(frame.height));
            frame.localColors = colors(image.ImageDesc.ColorMap);
            oracle.frames.push_back(std::move(frame));
        }
    }
    DGifCloseFile(gif, &error);
    return oracle;
}

} // namespace sorowa::giftest
