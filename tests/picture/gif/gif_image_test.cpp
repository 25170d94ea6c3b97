// The picture class around the reader: registration, registries, colour tables, palettes,
// dithering, masks, frame placement, progress and the pixel budget.
#include "gif_test_util.h"
#include "picture/gif/gif_frame_bitmap.h"
#include "picture/gif/gif_image.h"
#include "picture/gif/gif_reader.h"
#include "picture/picture.h"
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
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

class GifImage : public ::testing::Test {
protected:
};

TEST_F(GifImage, RegistersForGifFilesInAnyCase) {
    RegisterGifPicture();
    EXPECT_EQ(FindPictureClass("gif"), &TGIFImage::Class);
    EXPECT_EQ(FindPictureClass("GIF"), &TGIFImage::Class);
    const auto formats = PictureFormats();
    const auto entry = std::find_if(formats.begin(), formats.end(), [](const TFileFormat& f) {
        return f.graphicClass == &TGIFImage::Class;
    });
    ASSERT_NE(entry, formats.end());
    EXPECT_EQ(entry->extension, "gif");
    EXPECT_EQ(entry->description, "GIF Image");
    UnregisterGifPicture();
    EXPECT_EQ(FindPictureClass("gif"), nullptr);
    EXPECT_NE(FindPictureClass("bmp"), nullptr); // the bitmap entry is not a GIF's
}

TEST_F(GifImage, ErrorsAreInvalidGraphics) {
    TGIFImage image;
    TMemoryStream stream(Bytes{});
    try {
        image.LoadFromStream(stream);
        ADD_FAILURE();
    } catch (const EInvalidGraphic& e) {
        EXPECT_EQ(e.Message(), QString::fromLatin1(gifmsg::kPrematureEnd));
        EXPECT_NE(dynamic_cast<const GIFException*>(&e), nullptr);
    }
}

TEST_F(GifImage, ColorMapCapacityRule) {
    EXPECT_EQ(TGIFColorMap::CapacityFor(1), 16);
    EXPECT_EQ(TGIFColorMap::CapacityFor(16), 16);
    EXPECT_EQ(TGIFColorMap::CapacityFor(17), 32);
    EXPECT_EQ(TGIFColorMap::CapacityFor(33), 64);
    EXPECT_EQ(TGIFColorMap::CapacityFor(200), 224);
    EXPECT_EQ(TGIFColorMap::CapacityFor(256), 256);
    TGIFColorMap map;
    for (int i = 0; i < 17; ++i)
        map.Add({static_cast<std::uint8_t>(i), 0, 0});
    EXPECT_EQ(map.Count(), 17);
    EXPECT_EQ(map.Capacity(), 32);
    EXPECT_EQ(map[16].red, 16);
    for (int i = 17; i < 256; ++i)
        map.Add({});
    EXPECT_THROW(map.Add({}), GIFException);
}

TEST_F(GifImage, TablesHoldWhatTheirSizeBitsAnnounce) {
    TMemoryStream stream(ReadData("valid-photo.gif"));
    TGIFImage image;
    image.LoadFromStream(stream);
    EXPECT_EQ(image.Header().colorMap.Count(), 256);
    TMemoryStream small(ReadData("valid-interlaced.gif"));
    image.LoadFromStream(small);
    EXPECT_EQ(image.Header().colorMap.Count(), 4);
    EXPECT_EQ(image.Header().colorMap.Capacity(), 16);
    EXPECT_EQ(image.Images()[0].colorMap.Count(), 16);
}

TEST_F(GifImage, RegistriesAreSearchedFromTheLastEntry) {
    EXPECT_EQ(FindExtension(0xF9), &TGIFGraphicControlExtension::Class);
    EXPECT_EQ(FindExtension(0x01), &TGIFTextExtension::Class);
    EXPECT_EQ(FindExtension(0x02), nullptr);
    const std::uint8_t anim[11] = {'A', 'N', 'I', 'M', 'E', 'X', 'T', 'S', '1', '.', '0'};
    EXPECT_EQ(FindAppExtension(std::span<const std::uint8_t, 11>(anim)), &TGIFAppExtNSLoop::Class);

    RegisterExtension(0xF9, TGIFCommentExtension::Class);
    EXPECT_EQ(FindExtension(0xF9), &TGIFCommentExtension::Class);
    UnregisterExtension(0xF9, TGIFCommentExtension::Class);
    EXPECT_EQ(FindExtension(0xF9), &TGIFGraphicControlExtension::Class);
}

TEST_F(GifImage, ClassRegisteredUnderAnotherLabelIsAnInternalError) {
    RegisterExtension(0x02, TGIFCommentExtension::Class);
    TMemoryStream stream(ReadData("unknown-extension-label.gif"));
    TGIFImage image;
    try {
        image.LoadFromStream(stream);
        ADD_FAILURE();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message(), QString::fromLatin1(gifmsg::kExtensionMismatch));
    }
    UnregisterExtension(0x02, TGIFCommentExtension::Class);
}

TEST_F(GifImage, PixelBudgetCountsEveryFrame) {
    // valid-animation.gif: frames of 80, 80 and 20 pixels.
    const Bytes bytes = ReadData("valid-animation.gif");
    TGIFImage image;
    TGIFReader reader(bytes, &image, {}, 170);
    reader.ReadHeader(image.Header());
    try {
        reader.ReadBlocks(image.Images(), image.Header());
        ADD_FAILURE();
    } catch (const GIFException& e) {
        EXPECT_EQ(e.Message(), QString::fromLatin1(gifmsg::kOutOfMemory));
    }
    EXPECT_EQ(image.Images().Count(), 2);

    TGIFImage whole;
    TGIFReader enough(bytes, &whole, {}, 180);
    enough.ReadHeader(whole.Header());
    enough.ReadBlocks(whole.Images(), whole.Header());
    EXPECT_EQ(whole.Images().Count(), 3);
}

TEST_F(GifImage, ProgressWhileLoading) {
    TGIFImage image;
    std::vector<TProgressReport> reports;
    image.SetOnProgress([&](TGraphic&, const TProgressReport& r) { reports.push_back(r); });
    TMemoryStream stream(ReadData("valid-animation.gif"));
    image.LoadFromStream(stream);
    ASSERT_EQ(reports.size(), 5u); // start, one per frame, end
    EXPECT_EQ(reports.front().stage, TProgressStage::Starting);
    EXPECT_EQ(reports.front().message, "Loading...");
    EXPECT_EQ(reports[1].stage, TProgressStage::Running);
    EXPECT_LT(reports[1].percent, reports[3].percent);
    EXPECT_EQ(reports.back().stage, TProgressStage::Ending);
    EXPECT_EQ(reports.back().percent, 100);

    reports.clear();
    TMemoryStream bad(ReadData("bad-netscape-block.gif"));
    EXPECT_THROW(image.LoadFromStream(bad), GIFException);
    EXPECT_EQ(reports.back().stage, TProgressStage::Ending);
    EXPECT_EQ(reports.back().percent, 0);
}

TEST_F(GifImage, EveryLoadStartsFromAnEmptyPicture) {
    TGIFImage image;
    TMemoryStream first(ReadData("valid-animation.gif"));
    image.LoadFromStream(first);
    EXPECT_EQ(image.Width(), 10);
    TMemoryStream second(ReadData("invalid-signature.gif"));
    EXPECT_THROW(image.LoadFromStream(second), GIFException);
    EXPECT_TRUE(image.Empty());
    EXPECT_EQ(image.Width(), 0);
    EXPECT_TRUE(image.Header().colorMap.Empty());
}

TEST_F(GifImage, ColourCubeHasBlueVaryingFastest) {
    const QList<QRgb> cube = gif::ColorCubePalette();
    ASSERT_EQ(cube.size(), 216);
    EXPECT_EQ(cube[0], qRgb(0, 0, 0));
    EXPECT_EQ(cube[1], qRgb(0, 0, 51));
    EXPECT_EQ(cube[6], qRgb(0, 51, 0));
    EXPECT_EQ(cube[36], qRgb(51, 0, 0));
    EXPECT_EQ(cube[215], qRgb(255, 255, 255));
    EXPECT_EQ(gif::CubeIndex(25, 26, 255), 0 * 36 + 1 * 6 + 5);
}

TEST_F(GifImage, PalettesFollowTheDisplay) {
    TGIFImage image;
    TMemoryStream stream(ReadData("valid-interlaced.gif"));
    image.LoadFromStream(stream);
    EXPECT_EQ(image.Palette(), image.Header().colorMap.ToPalette());
    EXPECT_EQ(gif::FramePalette(image, image.Images()[0]), image.Images()[0].colorMap.ToPalette());

    TGIFImage dithered;
    dithered.SetContext({.display = {.bitsPerPixel = 8}});
    TMemoryStream again(ReadData("valid-interlaced.gif"));
    dithered.LoadFromStream(again);
    EXPECT_TRUE(dithered.DitheringInForce());
    EXPECT_EQ(dithered.Palette(), gif::ColorCubePalette());
    EXPECT_EQ(gif::FramePalette(dithered, dithered.Images()[0]), gif::ColorCubePalette());
    dithered.SetDrawOptions(TGIFImage::kDefaultDrawOptions & ~TGIFImage::goDither);
    EXPECT_FALSE(dithered.DitheringInForce());
}

TEST_F(GifImage, FrameWithoutTableUsesTheGlobalPalette) {
    TGIFImage image;
    TMemoryStream stream(ReadData("valid-photo.gif"));
    image.LoadFromStream(stream);
    EXPECT_EQ(gif::FramePalette(image, image.Images()[0]), image.Header().colorMap.ToPalette());
}

// A flat colour on an 8-bit display: worked by hand from the error-diffusion rule.
TEST_F(GifImage, FloydSteinbergInFixedPoint) {
    TGIFColorMap map;
    map.Add({30, 30, 30});
    const Bytes indices(4, 0);
    Bytes out(4, 0xEE);
    gif::DitherToCube(indices, 2, 2, map, std::nullopt, out, 2, {});
    // Row 0 left to right: 30 -> level 1 (43), error -21 carried 7/16 makes the next 0.
    // Row 1 right to left with the errors from above: 43 at x = 1, then 0.
    EXPECT_EQ(out, (Bytes{43, 0, 0, 43}));
}

TEST_F(GifImage, DitheringKeepsColoursOnTheCubeExact) {
    TGIFColorMap map;
    map.Add({51, 102, 153});
    map.Add({255, 0, 204});
    Bytes indices(6 * 5);
    for (std::size_t i = 0; i < indices.size(); ++i)
        indices[i] = static_cast<std::uint8_t>(i % 2);
    Bytes out(indices.size());
    gif::DitherToCube(indices, 6, 5, map, std::nullopt, out, 6, {});
    for (std::size_t i = 0; i < out.size(); ++i)
        EXPECT_EQ(out[i], i % 2 == 0 ? 1 * 36 + 2 * 6 + 3 : 5 * 36 + 0 + 4);
}

TEST_F(GifImage, DitheredTransparentPixelsTakeTheirOwnColourAndSetTheMask) {
    TGIFColorMap map;
    map.Add({30, 30, 30});
    map.Add({200, 0, 0});
    // 18 x 2: the transparent index 1 in columns 16 and 17 only.
    Bytes indices(36, 0);
    for (int y = 0; y < 2; ++y)
        indices[y * 18 + 16] = indices[y * 18 + 17] = 1;
    Bytes out(36), mask(4 * 2, 0);
    gif::DitherToCube(indices, 18, 2, map, std::uint8_t{1}, out, 18, mask);
    EXPECT_EQ(out[16], gif::CubeIndex(200, 0, 0));
    EXPECT_EQ(out[35], gif::CubeIndex(200, 0, 0));
    EXPECT_EQ(mask, (Bytes{0, 0, 0xC0, 0, 0, 0, 0xC0, 0}));
}

TEST_F(GifImage, DrawOnAPaletteDisplayUsesCubeColours) {
    TGIFImage image;
    image.SetContext({.display = {.bitsPerPixel = 8}});
    TMemoryStream stream(ReadData("transparent-last-4-columns.gif"));
    image.LoadFromStream(stream);
    QImage target(12, 3, QImage::Format_RGB32);
    target.fill(qRgb(1, 2, 3));
    {
        QPainter painter(&target);
        TCanvas canvas(painter, 8);
        image.Draw(canvas, target.rect());
    }
    const TGIFSubImage& frame = image.Images()[0];
    EXPECT_EQ(frame.bitmap.colorTable().mid(0, 216), gif::ColorCubePalette());
    EXPECT_TRUE(frame.hasMask);
    EXPECT_EQ(target.pixel(11, 2), qRgb(1, 2, 3));
    EXPECT_EQ(target.pixel(0, 0), qRgb(0, 255, 0)); // index 1 of the file's table is on the cube
}

TEST_F(GifImage, MaskRowsAreWholeWordsMostSignificantBitFirst) {
    TGIFImage image;
    TMemoryStream stream(ReadData("transparent-last-4-columns.gif"));
    image.LoadFromStream(stream);
    TGIFSubImage& frame = image.Images()[0];
    EXPECT_TRUE(gif::FrameHasMask(image, frame)); // makes bitmap and mask on demand
    EXPECT_EQ(frame.MaskStride(), 2);
    EXPECT_EQ(frame.mask, (Bytes{0x00, 0xF0, 0x00, 0xF0, 0x00, 0xF0}));
    EXPECT_FALSE(frame.maskNeeded);
}

TEST_F(GifImage, OpaqueFramesHaveNoMask) {
    TGIFImage image;
    TMemoryStream stream(ReadData("valid-interlaced.gif"));
    image.LoadFromStream(stream);
    TGIFSubImage& frame = image.Images()[0];
    EXPECT_FALSE(gif::FrameHasMask(image, frame));
    gif::MakeFrameBitmap(image, frame);
    EXPECT_FALSE(frame.hasMask);
    EXPECT_EQ(frame.bitmap.format(), QImage::Format_Indexed8);
    EXPECT_EQ(frame.bitmap.size(), QSize(13, 19));
}

TEST_F(GifImage, FrameRectIsScaledAndRounded) {
    TGIFImage image;
    image.Header().SetWidth(3);
    image.Header().SetHeight(3);
    TGIFSubImage frame(&image);
    frame.descriptor = {0x2C, 1, 0, 1, 0, 1, 0, 1, 0, 0};
    EXPECT_EQ(gif::FrameRect(image.Header(), frame, QRect(0, 0, 10, 10)), QRect(3, 3, 4, 4));
    EXPECT_EQ(gif::FrameRect(image.Header(), frame, QRect(5, 7, 3, 3)), QRect(6, 8, 1, 1));
    frame.descriptor = {0x2C, 0, 0, 0, 0, 3, 0, 3, 0, 0};
    EXPECT_EQ(gif::FrameRect(image.Header(), frame, QRect(2, 2, 7, 5)), QRect(2, 2, 7, 5));
    // A screen of 0 x 0 takes the frame's own extent.
    image.Header().SetWidth(0);
    image.Header().SetHeight(0);
    EXPECT_EQ(gif::FrameRect(image.Header(), frame, QRect(0, 0, 9, 9)), QRect(0, 0, 9, 9));
}

TEST_F(GifImage, RenderingReportsProgress) {
    TGIFImage image;
    TMemoryStream stream(ReadData("valid-photo.gif"));
    image.LoadFromStream(stream);
    std::vector<TProgressReport> reports;
    image.SetOnProgress([&](TGraphic&, const TProgressReport& r) { reports.push_back(r); });
    gif::MakeFrameBitmap(image, image.Images()[0]);
    ASSERT_GE(reports.size(), 3u); // start, every 32 of 90 rows, end
    EXPECT_EQ(reports.front().message, "Rendering...");
    EXPECT_EQ(reports.front().stage, TProgressStage::Starting);
    EXPECT_EQ(reports.back().stage, TProgressStage::Ending);
}

} // namespace
} // namespace sorowa
