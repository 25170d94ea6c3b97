// Photos taken with the camera turned: the Exif orientation read from hostile bytes, and the
// picture, its camera copy and its size made upright.
#include "jpeg_test_files.h"
#include "picture/jpeg/exif_thumbnail.h"
#include "picture/jpeg/jpeg_image.h"
#include "picture/stream.h"

#include <QDir>
#include <QPainter>
#include <QProcess>
#include <QTransform>
#include <gtest/gtest.h>

namespace sorowa {
namespace {

using test::Bytes;

int Orientation(const Bytes& bytes) {
    return jpeg::FindExifOrientation(bytes);
}

// What each orientation means, in Qt's own words (its rotations turn clockwise on screen):
// the stored picture as the viewer should see it.
QImage Expected(const QImage& stored, int orientation) {
    const auto turned = [&](int degrees) {
        return stored.transformed(QTransform().rotate(degrees));
    };
    switch (orientation) {
    case 2:
        return stored.mirrored(true, false);
    case 3:
        return turned(180);
    case 4:
        return stored.mirrored(false, true);
    case 5:
        return turned(90).mirrored(true, false);
    case 6:
        return turned(90);
    case 7:
        return turned(90).mirrored(false, true);
    case 8:
        return turned(270);
    default:
        return stored;
    }
}

TEST(ExifOrientation, ReadInEitherByteOrderAndOnlyWhenValid) {
    const Bytes photo = test::EncodeJpeg(test::PhotoLike(32, 16));
    const Bytes thumbnail = test::EncodeJpeg(test::PhotoLike(16, 8));
    struct Case {
        int tag; // 0: no tag
        int read;
    };
    const Case cases[] = {{0, 1}, {1, 1}, {2, 2}, {3, 3}, {4, 4},     {5, 5},
                          {6, 6}, {7, 7}, {8, 8}, {9, 1}, {0xFFFF, 1}};
    for (const bool bigEndian : {false, true})
        for (const Case& c : cases)
            for (const bool withThumbnail : {false, true}) {
                test::ExifOptions options;
                options.bigEndian = bigEndian;
                options.orientation = c.tag;
                const Bytes file =
                    test::WithExifThumbnail(photo, withThumbnail ? thumbnail : Bytes{}, options);
                EXPECT_EQ(Orientation(file), c.read) << c.tag << " " << bigEndian;
            }
    EXPECT_EQ(Orientation(photo), 1); // no Exif segment at all
    EXPECT_EQ(Orientation({}), 1);
}

TEST(ExifOrientation, DamagedOrCutDataGivesAsStoredWithoutReadingOutOfBounds) {
    const Bytes photo = test::EncodeJpeg(test::PhotoLike(32, 16));
    for (const bool bigEndian : {false, true}) {
        test::ExifOptions options;
        options.bigEndian = bigEndian;
        options.orientation = 6;
        const Bytes file = test::WithExifThumbnail(photo, {}, options);
        const std::size_t tiff = 2 + 4 + 6; // SOI, marker and length, "Exif\0\0"
        const std::size_t entry = tiff + 8 + 2;
        // Every cut before the tag's value ends loses it, with the segment's length cut to
        // match, so that the directory's own bounds are what is tried (ASan watches the reads).
        for (std::size_t size = 0; size < entry + 10; ++size) {
            Bytes cut(file.begin(), file.begin() + static_cast<long>(size));
            if (size >= 6) {
                cut[4] = static_cast<std::uint8_t>((size - 4) >> 8);
                cut[5] = static_cast<std::uint8_t>(size - 4);
            }
            EXPECT_EQ(Orientation(cut), 1) << size;
        }
        struct Damage {
            const char* what;
            std::size_t at;
            std::uint8_t value;
        };
        const std::size_t high = bigEndian ? 0 : 1, low = 1 - high;
        const Damage damages[] = {
            {"first directory past the end", tiff + 4 + (bigEndian ? 0 : 3), 0xFF},
            {"entry count past the end", tiff + 8 + high, 0xFF},
            {"a LONG where a SHORT belongs", entry + 2 + low, 9},
            {"two values", entry + 4 + (bigEndian ? 3 : 0), 2},
            {"byte order mark", tiff, 'X'},
        };
        for (const Damage& d : damages) {
            Bytes damaged = file;
            damaged[d.at] = d.value;
            EXPECT_EQ(Orientation(damaged), 1) << d.what << " " << bigEndian;
        }
        // The segment's length pointing past the file.
        Bytes longer = file;
        longer[4] = 0xFF;
        EXPECT_EQ(Orientation(longer), 1);
    }
}

void Load(TJPEGImage& picture, const Bytes& bytes) {
    TMemoryStream stream(bytes);
    picture.LoadFromStream(stream);
}

QImage DrawnAtFullSize(TJPEGImage& picture) {
    QImage target(picture.Width(), picture.Height(), QImage::Format_RGB32);
    target.fill(Qt::magenta);
    QPainter painter(&target);
    TCanvas canvas(painter, 24);
    picture.Draw(canvas, target.rect());
    return picture.Bitmap().convertToFormat(QImage::Format_RGB32);
}

TEST(ExifOrientation, ThePhotoAndItsSizeAreUprightForEachOrientation) {
    // 48 x 32, so that a turn shows in the size; grey as well as colour (8-bit bitmaps).
    const QImage source = test::PhotoLike(48, 32, 5);
    for (const test::JpegKind kind : {test::JpegKind::Colour, test::JpegKind::Grayscale}) {
        const Bytes photo = test::EncodeJpeg(source, {.kind = kind, .quality = 95});
        TJPEGImage plain;
        Load(plain, photo);
        const QImage stored = DrawnAtFullSize(plain);
        ASSERT_EQ(stored.size(), QSize(48, 32));
        for (int orientation = 1; orientation <= 8; ++orientation) {
            SCOPED_TRACE(orientation);
            test::ExifOptions options;
            options.orientation = orientation;
            TJPEGImage picture;
            Load(picture, test::WithExifThumbnail(photo, {}, options));
            const QSize upright = orientation >= 5 ? QSize(32, 48) : QSize(48, 32);
            EXPECT_EQ(QSize(picture.Width(), picture.Height()), upright); // before any decode
            const QImage drawn = DrawnAtFullSize(picture);
            EXPECT_EQ(drawn, Expected(stored, orientation).convertToFormat(QImage::Format_RGB32));
            EXPECT_EQ(QSize(picture.Width(), picture.Height()), upright);
        }
    }
}

TEST(ExifOrientation, TheCamerasCopyStandsInUprightToo) {
    const QImage source = test::PhotoLike(1200, 800, 3);
    const Bytes photo = test::EncodeJpeg(source);
    const Bytes thumbnail = test::CameraThumbnail(source);
    const auto standIn = [&](int orientation) {
        test::ExifOptions options{false, 1200, 800, orientation};
        TJPEGImage picture;
        Load(picture, test::WithExifThumbnail(photo, thumbnail, options));
        return TJPEGImage::StandInFor(*picture.Data());
    };
    const std::optional<QImage> stored = standIn(1);
    ASSERT_TRUE(stored);
    for (int orientation = 2; orientation <= 8; ++orientation) {
        const std::optional<QImage> upright = standIn(orientation);
        ASSERT_TRUE(upright) << orientation;
        EXPECT_EQ(upright->convertToFormat(QImage::Format_RGB32),
                  Expected(*stored, orientation).convertToFormat(QImage::Format_RGB32))
            << orientation;
    }
}

// ImageMagick's upright decode, RGB32; null when it cannot be had.
QImage MagickUpright(const QString& path) {
    QProcess convert;
    convert.start(QStringLiteral("convert"),
                  {path, QStringLiteral("-auto-orient"), QStringLiteral("-depth"),
                   QStringLiteral("8"), QStringLiteral("ppm:-")});
    if (!convert.waitForFinished(60000) || convert.exitCode() != 0) return {};
    const QByteArray out = convert.readAllStandardOutput();
    // "P6\nW H\n255\n" then the samples.
    const QList<QByteArray> fields = out.left(64).simplified().split(' ');
    if (fields.size() < 4 || fields[0] != "P6") return {};
    const int w = fields[1].toInt(), h = fields[2].toInt();
    const qsizetype start = out.size() - qsizetype{3} * w * h;
    if (w <= 0 || h <= 0 || start < 0) return {};
    QImage image(w, h, QImage::Format_RGB32);
    const auto* p = reinterpret_cast<const uchar*>(out.constData() + start);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x, p += 3)
            image.setPixel(x, y, qRgb(p[0], p[1], p[2]));
    return image;
}

TEST(ExifOrientation, RealPhotosAreUprightAsAnIndependentDecoderTurnsThem) {
    const QDir dir(QStringLiteral(SOROWA_SHARED_DATA "/../realworld/jpg"));
    const QStringList names =
        dir.entryList({"exif-landscape_*.jpg", "exif-portrait_*.jpg"}, QDir::Files, QDir::Name);
    if (names.isEmpty())
        GTEST_SKIP() << "no Exif orientation examples in " << dir.path().toStdString();
    int compared = 0;
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QImage reference = MagickUpright(dir.filePath(name));
        if (reference.isNull())
            GTEST_SKIP() << "ImageMagick's convert did not decode " << name.toStdString();
        TJPEGImage picture;
        picture.LoadFile(dir.filePath(name));
        ASSERT_EQ(QSize(picture.Width(), picture.Height()), reference.size());
        const test::Difference d = test::Compare(DrawnAtFullSize(picture), reference);
        // Two libjpeg decodes; only the upsampling and rounding of each may differ.
        EXPECT_LT(d.mean, 1.0);
        EXPECT_LE(d.largest, 24);
        ++compared;
    }
    EXPECT_GE(compared, 8);
}

} // namespace
} // namespace sorowa
