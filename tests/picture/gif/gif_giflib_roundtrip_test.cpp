// Pictures encoded by giflib's own encoder, decoded by us and by giflib: the same indices.
#include "gif_oracle.h"
#include "picture/gif/gif_image.h"
#include "picture/stream.h"

#include <gtest/gtest.h>

namespace sorowa {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes EncodeWithGiflib(int width, int height, int colorBits, bool interlaced,
                       const std::vector<GifByteType>& pixels) {
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
    const int colors = 1 << colorBits;
    std::vector<GifColorType> table(static_cast<std::size_t>(colors));
    for (int i = 0; i < colors; ++i)
        table[static_cast<std::size_t>(i)] = {static_cast<GifByteType>(i * 37),
                                              static_cast<GifByteType>(i),
                                              static_cast<GifByteType>(255 - i)};
    ColorMapObject* map = GifMakeMapObject(colors, table.data());
    EGifPutScreenDesc(gif, width, height, colorBits, 0, map);
    EGifPutImageDesc(gif, 0, 0, width, height, interlaced, nullptr);
    std::vector<int> rows;
    if (interlaced) {
        for (const auto& [first, step] : {std::pair{0, 8}, {4, 8}, {2, 4}, {1, 2}})
            for (int y = first; y < height; y += step)
                rows.push_back(y);
    } else {
        for (int y = 0; y < height; ++y)
            rows.push_back(y);
    }
    for (const int y : rows)
        EGifPutLine(gif,
                    const_cast<GifByteType*>(pixels.data()) + static_cast<std::size_t>(y) * width,
                    width);
    EGifCloseFile(gif, &error);
    GifFreeMapObject(map);
    return out;
}

TEST(GifGiflibRoundTrip, SameIndicesAsGiflibForManyShapes) {
    std::uint32_t state = 12345;
    const auto random = [&state] {
        state = state * 1664525u + 1013904223u;
        return state >> 16;
    };
    struct Shape {
        int width, height, colorBits;
        bool noisy;
    };
    for (const Shape shape : {Shape{1, 1, 1, true}, Shape{7, 3, 1, true}, Shape{64, 64, 2, true},
                              Shape{64, 64, 4, false}, Shape{200, 150, 8, true},
                              Shape{300, 211, 8, false}, Shape{333, 9, 5, true}}) {
        for (const bool interlaced : {false, true}) {
            SCOPED_TRACE(::testing::Message() << shape.width << "x" << shape.height << " bits "
                                              << shape.colorBits << " interlaced " << interlaced);
            const int colors = 1 << shape.colorBits;
            std::vector<GifByteType> pixels(static_cast<std::size_t>(shape.width) * shape.height);
            for (std::size_t i = 0; i < pixels.size(); ++i) {
                const auto x = static_cast<int>(i % static_cast<std::size_t>(shape.width));
                const auto y = static_cast<int>(i / static_cast<std::size_t>(shape.width));
                const unsigned v = shape.noisy ? random() : static_cast<unsigned>(x / 5 + y / 3);
                pixels[i] = static_cast<GifByteType>(v % static_cast<unsigned>(colors));
            }
            const Bytes bytes =
                EncodeWithGiflib(shape.width, shape.height, shape.colorBits, interlaced, pixels);
            const giftest::Oracle oracle = giftest::DecodeWithGiflib(bytes);
            ASSERT_TRUE(oracle.ok);
            ASSERT_EQ(oracle.frames.size(), 1u);
            ASSERT_EQ(oracle.frames[0].pixels, Bytes(pixels.begin(), pixels.end()));
            TGIFImage image;
            QStringList warnings;
            image.SetOnWarning(
                [&](TGIFItem*, TGIFSeverity, const QString& text) { warnings.append(text); });
            TMemoryStream stream(bytes);
            image.LoadFromStream(stream);
            ASSERT_EQ(image.Images().Count(), 1);
            EXPECT_EQ(image.Images()[0].pixels, oracle.frames[0].pixels);
            EXPECT_TRUE(warnings.isEmpty()) << warnings.join(", ").toStdString();
        }
    }
}

} // namespace
} // namespace sorowa
