#include "support/giflib_encoder.h"

#include <gif_lib.h>
#include <stdexcept>
#include <string>
#include <utility>

namespace sorowa::test {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The order giflib wants the rows in: interlaced pictures in their four passes.
std::vector<int> RowOrder(int height, bool interlaced) {
    std::vector<int> rows;
    if (!interlaced) {
        for (int y = 0; y < height; ++y)
            rows.push_back(y);
        return rows;
    }
    for (const auto& [first, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
        for (int y = first; y < height; y += step)
            rows.push_back(y);
    return rows;
}

void Check(int result, GifFileType* gif, const char* call) {
    if (result == GIF_OK) return;
    throw std::runtime_error(std::string("giflib: ") + call + ": " +
                             GifErrorString(gif->Error));
}

} // namespace

Bytes EncodeWithGiflib(const GiflibPicture& picture, const std::vector<Bytes>& frames) {
    Bytes out;
    int error = 0;
    GifFileType* gif = EGifOpen(
        &out,
        [](GifFileType* g, const GifByteType* data, int n) {
            auto* o = static_cast<Bytes*>(g->UserData);
            o->insert(o->end(), data, data + n);
            return n;
        },
        &error);
    if (gif == nullptr) throw std::runtime_error("giflib: EGifOpen");
    const bool animated = frames.size() > 1;
    if (animated) EGifSetGifVersion(gif, true);
    const int colors = 1 << picture.colorBits;
    std::vector<GifColorType> table(static_cast<std::size_t>(colors));
    for (int i = 0; i < colors; ++i)
        table[static_cast<std::size_t>(i)] = {static_cast<GifByteType>(i * 37),
                                              static_cast<GifByteType>(i),
                                              static_cast<GifByteType>(255 - i)};
    ColorMapObject* map = GifMakeMapObject(colors, table.data());
    try {
        Check(EGifPutScreenDesc(gif, picture.width, picture.height, picture.colorBits, 0, map),
              gif, "EGifPutScreenDesc");
        const std::vector<int> rows = RowOrder(picture.height, picture.interlaced);
        for (const Bytes& pixels : frames) {
            if (pixels.size() != static_cast<std::size_t>(picture.width) * picture.height)
                throw std::runtime_error("giflib: a frame of the wrong size");
            if (animated) {
                GraphicsControlBlock gcb{};
                gcb.DelayTime = picture.delay;
                gcb.TransparentColor = NO_TRANSPARENT_COLOR;
                GifByteType ext[4];
                const std::size_t n = EGifGCBToExtension(&gcb, ext);
                Check(EGifPutExtension(gif, GRAPHICS_EXT_FUNC_CODE, static_cast<int>(n), ext),
                      gif, "EGifPutExtension");
            }
            Check(EGifPutImageDesc(gif, 0, 0, picture.width, picture.height,
                                   picture.interlaced, nullptr),
                  gif, "EGifPutImageDesc");
            for (const int y : rows)
                Check(EGifPutLine(gif,
                                  const_cast<GifByteType*>(pixels.data()) +
                                      static_cast<std::size_t>(y) * picture.width,
                                  picture.width),
                      gif, "EGifPutLine");
        }
    } catch (...) {
        EGifCloseFile(gif, &error);
        GifFreeMapObject(map);
        throw;
    }
    const int closed = EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    if (closed != GIF_OK)
        throw std::runtime_error(std::string("giflib: EGifCloseFile: ") + GifErrorString(error));
    return out;
}

} // namespace sorowa::test
