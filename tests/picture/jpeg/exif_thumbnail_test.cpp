// The camera's own thumbnail in a photo's Exif segment: finding it in hostile bytes, and the
// picture letting it stand in for the photo, only while it still shows the photo.
#include "jpeg_test_files.h"
#include "picture/jpeg/exif_thumbnail.h"
#include "picture/jpeg/jpeg_image.h"
#include "picture/stream.h"
#include "platform/display.h"
#include "support/temp_folder.h"

#include <QPainter>
#include <gtest/gtest.h>

namespace sorowa {
namespace {

using test::Bytes;

std::optional<jpeg::EmbeddedThumbnail> Find(const Bytes& bytes) {
    return jpeg::FindEmbeddedThumbnail(bytes.data(), bytes.size());
}

TEST(EmbeddedThumbnail, FoundInEitherByteOrderWithThePhotosPixelSize) {
    const Bytes photo = test::EncodeJpeg(test::PhotoLike(64, 48));
    const Bytes thumbnail = test::EncodeJpeg(test::PhotoLike(32, 24));
    for (const bool bigEndian : {false, true}) {
        const Bytes file = test::WithExifThumbnail(photo, thumbnail, {bigEndian, 64, 48});
        const auto found = Find(file);
        ASSERT_TRUE(found) << bigEndian;
        EXPECT_EQ(Bytes(file.begin() + static_cast<long>(found->offset),
                        file.begin() + static_cast<long>(found->offset + found->length)),
                  thumbnail);
        EXPECT_EQ(found->pixelWidth, 64u);
        EXPECT_EQ(found->pixelHeight, 48u);
    }
    const auto without = Find(test::WithExifThumbnail(photo, thumbnail));
    ASSERT_TRUE(without);
    EXPECT_EQ(without->pixelWidth, 0u);
    EXPECT_FALSE(Find(photo)); // the encoder's JFIF segment only
}

TEST(EmbeddedThumbnail, NothingIsFoundFromDamagedOrCutExifData) {
    const Bytes photo = test::EncodeJpeg(test::PhotoLike(64, 48));
    const Bytes thumbnail = test::EncodeJpeg(test::PhotoLike(32, 24));
    const Bytes file = test::WithExifThumbnail(photo, thumbnail, {false, 64, 48});
    const std::size_t tiff = 2 + 4 + 6; // SOI, marker and length, "Exif\0\0"

    // Every cut before the thumbnail's end loses it; none reads out of bounds (ASan).
    const std::size_t end = Find(file)->offset + thumbnail.size();
    for (std::size_t size = 0; size < end; ++size) {
        const Bytes cut(file.begin(), file.begin() + static_cast<long>(size));
        EXPECT_FALSE(Find(cut)) << size;
    }

    // The thumbnail pointer past the segment, and a length reaching past it.
    Bytes pastEnd = file;
    const std::size_t secondDirectory = tiff + 8 + (2 + 12 + 4) + (2 + 24 + 4);
    const std::size_t offsetValue = secondDirectory + 2 + 12 + 8;
    pastEnd[offsetValue + 2] = 0x7F;
    EXPECT_FALSE(Find(pastEnd));
    Bytes longer = file;
    longer[offsetValue + 12 + 1] = 0xFF;
    EXPECT_FALSE(Find(longer));

    // An uncompressed thumbnail (compression 1) is not a JPEG.
    Bytes uncompressed = file;
    uncompressed[secondDirectory + 2 + 8] = 1;
    EXPECT_FALSE(Find(uncompressed));

    // The second directory pointing back at the first: no loop, nothing found.
    Bytes loop = file;
    const std::size_t nextPointer = tiff + 8 + 2 + 12;
    loop[nextPointer] = 8;
    loop[nextPointer + 1] = loop[nextPointer + 2] = loop[nextPointer + 3] = 0;
    EXPECT_FALSE(Find(loop));

    // An entry count that runs past the segment.
    Bytes count = file;
    count[tiff + 8] = 0xFF;
    count[tiff + 9] = 0xFF;
    EXPECT_FALSE(Find(count));

    // A bad TIFF byte order mark.
    Bytes order = file;
    order[tiff] = 'X';
    EXPECT_FALSE(Find(order));
}

class ThumbnailPictureTest : public ::testing::Test {
protected:
};

QImage DrawInto(TJPEGImage& picture, int w, int h) {
    QImage target(w, h, QImage::Format_RGB32);
    target.fill(Qt::magenta);
    QPainter painter(&target);
    TCanvas canvas(painter, 24);
    picture.Draw(canvas, QRect(0, 0, w, h));
    return target;
}

void Load(TJPEGImage& picture, const Bytes& bytes) {
    TMemoryStream stream(bytes);
    picture.LoadFromStream(stream);
}

// The photo itself decoded and drawn at w x h, without any thumbnail.
QImage DrawnWithoutThumbnail(const Bytes& photo, int w, int h) {
    TJPEGImage picture;
    Load(picture, photo);
    return DrawInto(picture, w, h);
}

// Mean absolute difference of one row's colours.
double RowDifference(const QImage& a, const QImage& b, int y) {
    const QImage x = a.convertToFormat(QImage::Format_RGB32),
                 z = b.convertToFormat(QImage::Format_RGB32);
    const auto* p = reinterpret_cast<const QRgb*>(x.constScanLine(y));
    const auto* q = reinterpret_cast<const QRgb*>(z.constScanLine(y));
    double total = 0;
    for (int i = 0; i < x.width(); ++i)
        total += std::abs(qRed(p[i]) - qRed(q[i])) + std::abs(qGreen(p[i]) - qGreen(q[i])) +
                 std::abs(qBlue(p[i]) - qBlue(q[i]));
    return total / (3.0 * x.width());
}

QImage Brighter(const QImage& image, int by) {
    QImage out = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < out.height(); ++y) {
        auto* row = reinterpret_cast<QRgb*>(out.scanLine(y));
        for (int x = 0; x < out.width(); ++x)
            row[x] = qRgb(std::min(255, qRed(row[x]) + by), std::min(255, qGreen(row[x]) + by),
                          std::min(255, qBlue(row[x]) + by));
    }
    return out;
}

// The camera's copy as it stands in for the photo in a w x h draw; null when it would not.
QImage StandInDrawn(const TJPEGImage& picture, int w, int h) {
    const std::optional<QImage> standIn = TJPEGImage::StandInFor(*picture.Data());
    if (!standIn) return QImage();
    return standIn->scaled(w, h, Qt::IgnoreAspectRatio, Qt::FastTransformation)
        .convertToFormat(QImage::Format_RGB32);
}

TEST_F(ThumbnailPictureTest, AThumbnailThatShowsThePhotoStandsInWithoutBars) {
    // 3:2 photos get bars above and below in a 160 x 120 thumbnail; 4:3 ones fill it.
    for (const QSize size : {QSize(1200, 800), QSize(1280, 960)}) {
        for (const bool progressive : {false, true}) {
            const QImage source = test::PhotoLike(size.width(), size.height(), 3);
            const Bytes photo = test::EncodeJpeg(source, {.progressive = progressive});
            const Bytes file = test::WithExifThumbnail(photo, test::CameraThumbnail(source),
                                                       {false, size.width(), size.height()});
            TJPEGImage picture;
            Load(picture, file);
            ASSERT_TRUE(picture.Data()->thumbnail);
            const QImage drawn = StandInDrawn(picture, 100, 100);
            ASSERT_FALSE(drawn.isNull()) << size.width() << " " << progressive;
            // Against the photo's own decode: the same picture (its fine texture scaled down
            // another way), and no bar left in at the top or bottom, where one would be black
            // against a sky of 80 to 200.
            const QImage own = DrawnWithoutThumbnail(photo, 100, 100);
            const test::Difference d = test::Compare(drawn, own);
            EXPECT_LT(d.mean, 10) << size.width() << " " << progressive;
            EXPECT_LT(RowDifference(drawn, own, 0), 25) << size.width() << " " << progressive;
            EXPECT_LT(RowDifference(drawn, own, 99), 25) << size.width() << " " << progressive;
        }
    }

    // A thumbnail stretched to 160 x 120 instead shows the photo as a stretched draw does.
    const QImage wide = test::PhotoLike(1200, 800, 3);
    const Bytes stretched = test::EncodeJpeg(
        wide.scaled(160, 120, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), {.quality = 80});
    const Bytes photo = test::EncodeJpeg(wide);
    TJPEGImage picture;
    Load(picture, test::WithExifThumbnail(photo, stretched));
    const QImage drawn = StandInDrawn(picture, 100, 100);
    ASSERT_FALSE(drawn.isNull());
    const QImage own = DrawnWithoutThumbnail(photo, 100, 100);
    EXPECT_LT(test::Compare(drawn, own).mean, 10);
    EXPECT_LT(RowDifference(drawn, own, 0), 25);
}

// A copy that plainly shows another picture never stands in, not even for a moment; and a draw
// (without a decode pool) is always the photo's own decode, whatever copy the file holds.
TEST_F(ThumbnailPictureTest, AStaleThumbnailNeverStandsInAndTheDrawIsThePhotosOwnDecode) {
    const QImage source = test::PhotoLike(1200, 800, 3);
    const Bytes photo = test::EncodeJpeg(source);
    const QImage expected = DrawnWithoutThumbnail(photo, 100, 100);
    struct Case {
        const char* what;
        Bytes thumbnail;
        bool standsIn;
    };
    const Case cases[] = {
        {"its own", test::CameraThumbnail(source), true},
        {"another photo", test::CameraThumbnail(test::PhotoLike(1200, 800, 4)), false},
        {"turned half round", test::CameraThumbnail(source.mirrored(true, true)), false},
        {"brightened since", test::CameraThumbnail(Brighter(source, 40)), false},
        {"cropped since", test::CameraThumbnail(source.copy(0, 200, 1200, 600)), false},
        {"not a JPEG", Bytes{0xFF, 0xD8, 'n', 'o', 't', ' ', 'J', 'P', 'E', 'G'}, false},
    };
    for (const Case& c : cases) {
        TJPEGImage picture;
        Load(picture, test::WithExifThumbnail(photo, c.thumbnail, {false, 1200, 800}));
        EXPECT_EQ(TJPEGImage::StandInFor(*picture.Data()).has_value(), c.standsIn) << c.what;
        EXPECT_EQ(DrawInto(picture, 100, 100), expected) << c.what;
        EXPECT_FALSE(picture.FromEmbeddedThumbnail()) << c.what;
        EXPECT_EQ(picture.DecodedScale(), 1) << c.what;
    }
}

TEST_F(ThumbnailPictureTest, AThumbnailIsKeptOnlyWhereItFitsThePhoto) {
    const QImage source = test::PhotoLike(1280, 960, 5);
    const Bytes photo = test::EncodeJpeg(source);
    const Bytes thumbnail = test::CameraThumbnail(source);

    // Exif recording another pixel size: the photo was resized or cropped after the camera.
    TJPEGImage resized;
    Load(resized, test::WithExifThumbnail(photo, thumbnail, {true, 2560, 1920}));
    EXPECT_FALSE(resized.Data()->thumbnail);
    TJPEGImage fits;
    Load(fits, test::WithExifThumbnail(photo, thumbnail, {true, 1280, 960}));
    EXPECT_TRUE(fits.Data()->thumbnail);
}

TEST_F(ThumbnailPictureTest, FromAFileOnlyTheThumbnailAndTheFirstPartAreRead) {
    const QImage source = test::PhotoLike(1200, 800, 6);
    Bytes file = test::WithExifThumbnail(test::EncodeJpeg(source), test::CameraThumbnail(source),
                                         {false, 1200, 800});
    // The second half of the file damaged: a stand-in never reads it.
    const std::size_t half = file.size() / 2;
    for (std::size_t i = half; i + 2 < file.size(); i += 7)
        file[i] = 0x5A;
    test::TempFolder folder;
    const QString path =
        folder.Write("photo.jpg", QByteArray(reinterpret_cast<const char*>(file.data()),
                                             static_cast<qsizetype>(file.size())));
    TFileStream stream(path);
    TJPEGImage picture;
    picture.LoadFromStream(stream);
    const QImage drawn = StandInDrawn(picture, 100, 100);
    ASSERT_FALSE(drawn.isNull());
    const test::Difference d = test::Compare(
        drawn, source.scaled(100, 100, Qt::IgnoreAspectRatio, Qt::SmoothTransformation));
    EXPECT_LT(d.mean, 10);
}

TEST_F(ThumbnailPictureTest, TheCraftedCameraFileStandsInWithItsCopyAndDrawsItself) {
    TJPEGImage picture;
    picture.LoadFile(QStringLiteral(SOROWA_TEST_DATA "/jpeg/exif-thumbnail.jpg"));
    ASSERT_TRUE(picture.Data()->thumbnail);
    EXPECT_EQ(picture.Data()->thumbnail->width, 32);
    EXPECT_TRUE(TJPEGImage::StandInFor(*picture.Data()));
    DrawInto(picture, 100, 100);
    EXPECT_FALSE(picture.FromEmbeddedThumbnail());
    EXPECT_EQ(picture.DecodedScale(), 5); // 160 x 120, the first to cover 100 high
}

} // namespace
} // namespace sorowa
