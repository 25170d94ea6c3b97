// The crafted files of tests/data/gif: each loads or fails exactly as its note says, valid
// files decode to the same indices as giflib, and drawing shows the colours giflib gives.
#include "gif_oracle.h"
#include "picture/gif/gif_image.h"
#include "workspace/image.h"
#include "picture/stream.h"
#include "platform/display.h"

#include <QPainter>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>

namespace sorowa {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes ReadData(const std::string& name) {
    std::ifstream in(std::string(SOROWA_TEST_DATA) + "/gif/" + name, std::ios::binary);
    EXPECT_TRUE(in.good()) << name;
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

struct Loaded {
    std::unique_ptr<TGIFImage> image = std::make_unique<TGIFImage>();
    QString error; // empty on success
    QStringList warnings;
};

Loaded Load(const Bytes& bytes, int displayBits = 0) {
    Loaded result;
    result.image->SetContext({.display = {.bitsPerPixel = displayBits}});
    result.image->SetOnWarning(
        [&warnings = result.warnings](TGIFItem*, TGIFSeverity, const QString& text) {
            warnings.append(text);
        });
    TMemoryStream stream(bytes);
    try {
        result.image->LoadFromStream(stream);
    } catch (const GIFException& e) {
        result.error = e.Message();
    }
    return result;
}

Loaded Load(const std::string& name) {
    return Load(ReadData(name));
}

// Draws into a target of the given size filled with a colour that no test picture uses.
constexpr QRgb kBackground = qRgb(255, 0, 255);
QImage DrawInto(TGIFImage& image, QSize size) {
    QImage target(size, QImage::Format_RGB32);
    target.fill(kBackground);
    QPainter painter(&target);
    TCanvas canvas(painter, 24);
    image.Draw(canvas, QRect(QPoint(0, 0), size));
    painter.end();
    return target;
}

// Every test here runs as on a true-colour display unless it says otherwise.
class GifCorpus : public ::testing::Test {
protected:
};

struct Expectation {
    const char* file;
    const char* error; // nullptr: loads
    int frames;
    QStringList warnings;
};

TEST_F(GifCorpus, EachFileLoadsOrFailsAsItsNoteSays) {
    const Expectation cases[] = {
        {"junk-before-header.gif", nullptr, 1, {}},
        {"lowercase-signature.gif", nullptr, 1, {}},
        {"no-trailer.gif", nullptr, 1, {}},
        {"zero-width-frame.gif", nullptr, 1, {gifmsg::kExceedsScreen}},
        {"cut-image-data.gif", nullptr, 1, {gifmsg::kPrematureEnd, gifmsg::kBitBufferUnderrun}},
        {"unknown-extension-label.gif", gifmsg::kUnknownExtension, 0, {}},
        {"bad-netscape-block.gif", gifmsg::kInvalidData, 0, {}},
        {"no-color-table.gif", nullptr, 1, {}},
        {"transparent-last-4-columns.gif", nullptr, 1, {}},
        {"comment-after-image.gif", nullptr, 2, {}},
        {"huge-frame.gif", gifmsg::kOutOfMemory, 0, {}},
        {"many-large-frames.gif", gifmsg::kOutOfMemory, 0, {}},
        {"code-size-9.gif", gifmsg::kInvalidData, 0, {}},
        {"extra-codes-after-last-pixel.gif", nullptr, 2, {}},
        {"app-extension-size-12.gif", nullptr, 1, {}},
        {"unknown-block-type.gif", nullptr, 1, {gifmsg::kUnknownBlock, gifmsg::kInvalidTrailer}},
        {"truncated-header.gif", gifmsg::kPrematureEnd, 0, {}},
        {"invalid-signature.gif", gifmsg::kInvalidSignature, 0, {}},
        {"short-graphic-control.gif", nullptr, 2, {gifmsg::kPrematureEnd}},
        {"valid-interlaced.gif", nullptr, 1, {}},
        {"valid-photo.gif", nullptr, 1, {}},
        {"valid-deferred-clear.gif", nullptr, 1, {}},
        {"valid-animation.gif", nullptr, 3, {}},
        {"valid-code-size-1.gif", nullptr, 1, {}},
        {"frame-far-outside-screen.gif", nullptr, 2, {}},
    };
    for (const Expectation& c : cases) {
        SCOPED_TRACE(c.file);
        const Loaded loaded = Load(c.file);
        EXPECT_EQ(loaded.error, c.error ? QString::fromLatin1(c.error) : QString());
        EXPECT_EQ(loaded.image->Images().Count(), c.frames);
        EXPECT_EQ(loaded.warnings, c.warnings);
    }
}

void ExpectSameAsGiflib(const TGIFImage& image, const giftest::Oracle& oracle) {
    ASSERT_TRUE(oracle.ok);
    EXPECT_EQ(image.Width(), oracle.screenWidth);
    EXPECT_EQ(image.Height(), oracle.screenHeight);
    EXPECT_EQ(image.Header().colorMap.Count() * 3, static_cast<int>(oracle.globalColors.size()));
    ASSERT_EQ(image.Images().Count(), static_cast<int>(oracle.frames.size()));
    for (int i = 0; i < image.Images().Count(); ++i) {
        SCOPED_TRACE(i);
        const TGIFSubImage& frame = image.Images()[i];
        const giftest::OracleFrame& expected = oracle.frames[static_cast<std::size_t>(i)];
        EXPECT_EQ(frame.Left(), expected.left);
        EXPECT_EQ(frame.Top(), expected.top);
        EXPECT_EQ(frame.Width(), expected.width);
        EXPECT_EQ(frame.Height(), expected.height);
        EXPECT_EQ(frame.Interlaced(), expected.interlaced);
        EXPECT_EQ(frame.pixels, expected.pixels);
        EXPECT_EQ(frame.colorMap.Count() * 3, static_cast<int>(expected.localColors.size()));
        for (int c = 0; c < frame.colorMap.Count(); ++c) {
            const auto at = static_cast<std::size_t>(c) * 3;
            EXPECT_EQ(frame.colorMap[c],
                      (TGIFColorMap::Entry{expected.localColors[at], expected.localColors[at + 1],
                                           expected.localColors[at + 2]}));
        }
    }
}

TEST_F(GifCorpus, ValidFilesDecodeToTheIndicesGiflibGives) {
    for (const char* name : {"valid-interlaced.gif", "valid-photo.gif", "valid-deferred-clear.gif",
                             "valid-animation.gif", "valid-code-size-1.gif",
                             "comment-after-image.gif", "extra-codes-after-last-pixel.gif",
                             "app-extension-size-12.gif", "transparent-last-4-columns.gif"}) {
        SCOPED_TRACE(name);
        const Bytes bytes = ReadData(name);
        const Loaded loaded = Load(bytes);
        ASSERT_TRUE(loaded.error.isEmpty()) << loaded.error.toStdString();
        giftest::Oracle oracle = giftest::DecodeWithGiflib(bytes);
        // giflib makes no entry for extensions after the last image.
        if (std::string(name) == "comment-after-image.gif") {
            EXPECT_TRUE(loaded.image->Images()[1].Empty());
            ASSERT_EQ(loaded.image->Images()[1].extensions.Count(), 1);
            oracle.frames.push_back({});
        }
        ExpectSameAsGiflib(*loaded.image, oracle);
    }
}

TEST_F(GifCorpus, OddHeadersLoadLikeTheStraightFile) {
    const Bytes junk = ReadData("junk-before-header.gif");
    const giftest::Oracle oracle = giftest::DecodeWithGiflib(Bytes(junk.begin() + 4, junk.end()));
    ExpectSameAsGiflib(*Load("junk-before-header.gif").image, oracle);
    ExpectSameAsGiflib(*Load("lowercase-signature.gif").image, oracle);
    // giflib insists on the trailer; ours is the same file without it.
    ExpectSameAsGiflib(*Load("no-trailer.gif").image, oracle);
}

TEST_F(GifCorpus, ZeroWidthFrameGetsTheScreenSize) {
    const Loaded loaded = Load("zero-width-frame.gif");
    const TGIFSubImage& frame = loaded.image->Images()[0];
    EXPECT_EQ(frame.Width(), 5);
    EXPECT_EQ(frame.Height(), 4);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 5; ++x)
            EXPECT_EQ(frame.pixels[static_cast<std::size_t>(y * 5 + x)],
                      (x * 3 + y * 5 + x * y / 7) % 4);
}

TEST_F(GifCorpus, CutImageDataKeepsWhatWasDecodedAndTheTransparentIndexAfterIt) {
    const Loaded loaded = Load("cut-image-data.gif");
    const TGIFSubImage& frame = loaded.image->Images()[0];
    ASSERT_EQ(frame.pixels.size(), 256u);
    EXPECT_EQ(frame.pixels[0], 0);
    EXPECT_EQ(frame.pixels[1], 1);
    EXPECT_EQ(frame.pixels[2], 2);
    EXPECT_EQ(frame.pixels[255], 3); // never reached: the transparent index
    const auto decoded =
        std::find(frame.pixels.begin(), frame.pixels.end(), 3) - frame.pixels.begin();
    EXPECT_GT(decoded, 10);
    for (std::size_t i = 0; i < static_cast<std::size_t>(decoded); ++i)
        EXPECT_EQ(frame.pixels[i], (i % 16 + i / 16) % 3) << i;
    for (std::size_t i = static_cast<std::size_t>(decoded); i < 256; ++i)
        EXPECT_EQ(frame.pixels[i], 3);
}

TEST_F(GifCorpus, NoColorTableFailsAtTheFirstDraw) {
    for (const int bits : {24, 8}) {
        SCOPED_TRACE(bits);
        const Loaded loaded = Load(ReadData("no-color-table.gif"), bits);
        ASSERT_TRUE(loaded.error.isEmpty());
        try {
            DrawInto(*loaded.image, {8, 8});
            ADD_FAILURE() << "drawing succeeded";
        } catch (const GIFException& e) {
            EXPECT_EQ(e.Message(), QString::fromLatin1(gifmsg::kNoColorTable));
        }
        // Reported once: later repaints draw nothing instead of raising the error again.
        EXPECT_NO_THROW(DrawInto(*loaded.image, {8, 8}));
    }
}

TEST_F(GifCorpus, ApplicationExtensionOfTwelveBytesKeepsItsSubBlocks) {
    const Loaded loaded = Load("app-extension-size-12.gif");
    const TGIFSubImage& frame = loaded.image->Images()[0];
    ASSERT_EQ(frame.extensions.Count(), 1);
    const auto* app = dynamic_cast<const TGIFApplicationExtension*>(&frame.extensions[0]);
    ASSERT_NE(app, nullptr);
    EXPECT_EQ(&app->ClassType(), &TGIFApplicationExtension::Class);
    EXPECT_EQ(std::string(app->identifier.begin(), app->identifier.end()), "MYAPPLIC1.0");
    ASSERT_EQ(app->blocks.size(), 2u);
    EXPECT_EQ(app->blocks[0].data, (Bytes{'a', 'b', 'c', 'd', 'e'}));
    EXPECT_EQ(app->blocks[1].data, (Bytes{'f', 'g', 'h'}));
}

TEST_F(GifCorpus, AnimationExtensionsAreRead) {
    const Loaded loaded = Load("valid-animation.gif");
    const TGIFImageList& frames = loaded.image->Images();
    ASSERT_EQ(frames.Count(), 3);
    const auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(&frames[0].extensions[0]);
    ASSERT_NE(loop, nullptr);
    EXPECT_EQ(loop->loops, 0);
    ASSERT_NE(frames[0].graphicControl, nullptr);
    EXPECT_EQ(frames[0].graphicControl->Delay(), 10);
    EXPECT_FALSE(frames[0].transparent);
    EXPECT_TRUE(frames[1].transparent);
    EXPECT_EQ(frames[1].graphicControl->TransparentColorIndex(), 2);
    EXPECT_EQ(frames[1].graphicControl->Disposal(), 1);
    EXPECT_EQ(frames[2].graphicControl->Disposal(), 2);
}

// The colour giflib's data gives a screen pixel of a single-frame picture.
QRgb OracleColor(const giftest::Oracle& oracle, int x, int y) {
    const giftest::OracleFrame& f = oracle.frames[0];
    const std::uint8_t index =
        f.pixels[static_cast<std::size_t>((y - f.top) * f.width + (x - f.left))];
    const std::vector<std::uint8_t>& map =
        f.localColors.empty() ? oracle.globalColors : f.localColors;
    const auto at = static_cast<std::size_t>(index) * 3;
    return qRgb(map[at], map[at + 1], map[at + 2]);
}

TEST_F(GifCorpus, DrawnPixelsAreGiflibsColours) {
    for (const char* name :
         {"valid-photo.gif", "valid-deferred-clear.gif", "valid-code-size-1.gif"}) {
        SCOPED_TRACE(name);
        const Bytes bytes = ReadData(name);
        const giftest::Oracle oracle = giftest::DecodeWithGiflib(bytes);
        const Loaded loaded = Load(bytes);
        const QSize screen(loaded.image->Width(), loaded.image->Height());
        const QImage same = DrawInto(*loaded.image, screen);
        const QImage doubled = DrawInto(*loaded.image, screen * 2);
        for (int y = 0; y < screen.height(); ++y)
            for (int x = 0; x < screen.width(); ++x) {
                const QRgb expected = OracleColor(oracle, x, y);
                ASSERT_EQ(same.pixel(x, y), expected) << x << "," << y;
                ASSERT_EQ(doubled.pixel(2 * x + 1, 2 * y + 1), expected) << x << "," << y;
            }
    }
}

TEST_F(GifCorpus, FrameAtAnOffsetLeavesTheRestOfTheRectangleAlone) {
    const Bytes bytes = ReadData("valid-interlaced.gif");
    const giftest::Oracle oracle = giftest::DecodeWithGiflib(bytes);
    const Loaded loaded = Load(bytes);
    const QImage drawn = DrawInto(*loaded.image, {20, 24});
    for (int y = 0; y < 24; ++y)
        for (int x = 0; x < 20; ++x) {
            const bool inside = x >= 3 && x < 16 && y >= 2 && y < 21;
            ASSERT_EQ(drawn.pixel(x, y), inside ? OracleColor(oracle, x, y) : kBackground)
                << x << "," << y;
        }
}

TEST_F(GifCorpus, TransparentPixelsInTheLastFourColumnsShowTheBackground) {
    const Bytes bytes = ReadData("transparent-last-4-columns.gif");
    const giftest::Oracle oracle = giftest::DecodeWithGiflib(bytes);
    for (const QSize size : {QSize(12, 3), QSize(36, 9), QSize(100, 100)}) {
        SCOPED_TRACE(size.width());
        const Loaded loaded = Load(bytes);
        const QImage drawn = DrawInto(*loaded.image, size);
        TGIFSubImage& frame = loaded.image->Images()[0];
        EXPECT_TRUE(frame.hasMask);
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x) {
                // Nearest pixel; the scaler may sample at the pixel's corner or its centre.
                bool matches = false;
                for (const int half : {0, 1})
                    for (const int halfY : {0, 1}) {
                        const int sx = (2 * x + half) * 12 / (2 * size.width());
                        const int sy = (2 * y + halfY) * 3 / (2 * size.height());
                        const QRgb expected = sx >= 8 ? kBackground : OracleColor(oracle, sx, sy);
                        matches = matches || drawn.pixel(x, y) == expected;
                    }
                ASSERT_TRUE(matches) << x << "," << y;
            }
    }
}

TEST_F(GifCorpus, FrameReachingFarBeyondTheScreenIsDrawnClipped) {
    const Loaded loaded = Load("frame-far-outside-screen.gif");
    const QImage drawn = DrawInto(*loaded.image, {37, 23});
    for (int y = 0; y < 23; ++y)
        for (int x = 0; x < 37; ++x)
            ASSERT_EQ(drawn.pixel(x, y), qRgb(0, 255, 0)) << x << "," << y;
    // Two frames: played into a bitmap of the logical screen's size, the frame clipped to it.
    EXPECT_EQ(loaded.image->ComposedBitmap().size(), QSize(2, 1));
    EXPECT_TRUE(loaded.image->Images()[0].stretched.isNull());
}

TEST_F(GifCorpus, TransparentDrawingCanBeSwitchedOff) {
    Loaded loaded = Load("transparent-last-4-columns.gif");
    loaded.image->SetDrawOptions(TGIFImage::kDefaultDrawOptions & ~TGIFImage::goTransparent);
    const QImage drawn = DrawInto(*loaded.image, {12, 3});
    EXPECT_EQ(drawn.pixel(10, 1), qRgb(255, 0, 0)); // index 0 of the table, drawn opaque
}

TEST_F(GifCorpus, PictureWithTwoEntriesDrawsItsFirstFrame) {
    const Bytes bytes = ReadData("comment-after-image.gif");
    const giftest::Oracle oracle = giftest::DecodeWithGiflib(bytes);
    const Loaded loaded = Load(bytes);
    const QImage drawn = DrawInto(*loaded.image, {4, 4});
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ(drawn.pixel(x, y), OracleColor(oracle, x, y));
}

TEST_F(GifCorpus, FramesReadBeforeAnErrorStayInThePicture) {
    // The comment after the image, relabelled 0x02, fails after one frame was read.
    Bytes bytes = ReadData("comment-after-image.gif");
    const Bytes commentStart = {0x21, 0xFE};
    const auto at =
        std::search(bytes.begin(), bytes.end(), commentStart.begin(), commentStart.end());
    ASSERT_NE(at, bytes.end());
    *(at + 1) = 0x02;
    const Loaded loaded = Load(bytes);
    EXPECT_EQ(loaded.error, QString::fromLatin1(gifmsg::kUnknownExtension));
    EXPECT_EQ(loaded.image->Images().Count(), 1);
}

} // namespace
} // namespace sorowa

namespace sorowa {
namespace {

// The thumbnail's way: an image control that stretches, loading the file by its extension.
TEST_F(GifCorpus, ThumbnailShowsItsBackgroundThroughTransparentPixels) {
    RegisterGifPicture();
    QWidget window;
    window.setAutoFillBackground(true);
    QPalette palette = window.palette();
    palette.setColor(QPalette::Window, QColor(kBackground));
    window.setPalette(palette);
    window.resize(24, 6);
    TImage image(&window);
    image.SetStretch(true);
    image.setGeometry(0, 0, 24, 6);
    image.Picture().LoadFile(QString::fromLatin1(SOROWA_TEST_DATA) +
                             "/gif/transparent-last-4-columns.gif");
    const QImage shown = window.grab().toImage().convertToFormat(QImage::Format_RGB32);
    UnregisterGifPicture();
    ASSERT_EQ(shown.size(), QSize(24, 6));
    for (int y = 0; y < 6; ++y) {
        for (int x = 16; x < 24; ++x)
            EXPECT_EQ(shown.pixel(x, y), kBackground) << x << "," << y;
        for (int x = 0; x < 16; ++x)
            EXPECT_NE(shown.pixel(x, y), kBackground) << x << "," << y;
    }
}

} // namespace
} // namespace sorowa
