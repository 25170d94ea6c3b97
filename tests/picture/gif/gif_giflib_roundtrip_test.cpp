// Pictures encoded by giflib's own encoder, decoded by us and by giflib: the same indices.
#include "gif_oracle.h"
#include "picture/gif/gif_image.h"
#include "picture/stream.h"
#include "support/giflib_encoder.h"

#include <gtest/gtest.h>

namespace sorowa {
namespace {

using Bytes = std::vector<std::uint8_t>;

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
            Bytes pixels(static_cast<std::size_t>(shape.width) * shape.height);
            for (std::size_t i = 0; i < pixels.size(); ++i) {
                const auto x = static_cast<int>(i % static_cast<std::size_t>(shape.width));
                const auto y = static_cast<int>(i / static_cast<std::size_t>(shape.width));
                const unsigned v = shape.noisy ? random() : static_cast<unsigned>(x / 5 + y / 3);
                pixels[i] = static_cast<std::uint8_t>(v % static_cast<unsigned>(colors));
            }
            const Bytes bytes = test::EncodeWithGiflib(
                {shape.width, shape.height, shape.colorBits, interlaced}, {pixels});
            const giftest::Oracle oracle = giftest::DecodeWithGiflib(bytes);
            ASSERT_TRUE(oracle.ok);
            ASSERT_EQ(oracle.frames.size(), 1u);
            ASSERT_EQ(oracle.frames[0].pixels, pixels);
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
