// Every crafted file of tests/data/jpeg through load and a first draw: each gives exactly
// the outcome listed (see the .txt beside each file for how it was made).
#include "picture/jpeg/jpeg_image.h"
#include "picture/stream.h"
#include "platform/display.h"

#include <QDir>
#include <QPainter>
#include <QSet>
#include <gtest/gtest.h>
#include <jerror.h>
#include <jpeglib.h>

namespace sorowa {
namespace {

enum class Stage { None, Load, Draw };

struct Case {
    const char* file;
    Stage fails; // where it fails, if it does
    int code;    // EJPEG::Code(); 0 for the program's own refusals
    int bits;    // depth of the bitmap after a good draw
};

const Case kCases[] = {
    {"baseline-colour.jpg", Stage::None, 0, 24},
    {"progressive-colour.jpg", Stage::None, 0, 24},
    {"medium-colour.jpg", Stage::None, 0, 24},
    {"exif-thumbnail.jpg", Stage::None, 0, 24},
    {"grayscale.jpg", Stage::None, 0, 8},
    {"cmyk.jpg", Stage::None, 0, 24},
    {"truncated-scan.jpg", Stage::None, 0, 24},
    {"empty.jpg", Stage::Draw, 41, 0},
    {"not-a-jpeg.jpg", Stage::Load, JERR_NO_SOI, 0},
    {"zero-width.jpg", Stage::Load, JERR_EMPTY_IMAGE, 0},
    {"segment-past-end.jpg", Stage::Load, JERR_NO_IMAGE, 0},
    {"huge-dimensions.jpg", Stage::Draw, 0, 0},
    {"many-scans.jpg", Stage::Draw, 0, 0},
};

class JpegCorpus : public ::testing::Test {
protected:
};

TEST_F(JpegCorpus, EachFileGivesItsExpectedOutcome) {
    QSet<QString> covered;
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.file);
        const QString path = QStringLiteral(SOROWA_TEST_DATA "/jpeg/") + c.file;
        covered.insert(c.file);
        TJPEGImage picture;
        try {
            picture.LoadFile(path);
            EXPECT_NE(c.fails, Stage::Load) << "loaded";
        } catch (const EJPEG& error) {
            EXPECT_EQ(c.fails, Stage::Load) << error.what();
            EXPECT_EQ(error.Code(), c.code);
            continue;
        }
        QImage target(100, 100, QImage::Format_RGB32);
        QPainter painter(&target);
        TCanvas canvas(painter, 24);
        try {
            picture.Draw(canvas, QRect(0, 0, 100, 100));
            EXPECT_EQ(c.fails, Stage::None) << "drew";
            EXPECT_EQ(picture.BitmapBits(), c.bits);
            EXPECT_FALSE(picture.Bitmap().isNull());
        } catch (const EJPEG& error) {
            EXPECT_EQ(c.fails, Stage::Draw) << error.what();
            EXPECT_EQ(error.Code(), c.code);
        }
        EXPECT_NO_THROW(picture.Draw(canvas, QRect(0, 0, 100, 100))) << "only the first draw fails";
    }
    // Every file of the folder has a case.
    const QStringList files =
        QDir(QStringLiteral(SOROWA_TEST_DATA "/jpeg")).entryList({"*.jpg"}, QDir::Files);
    for (const QString& file : files)
        EXPECT_TRUE(covered.contains(file)) << file.toStdString();
}

} // namespace
} // namespace sorowa
