// The PNG and TIFF plug-ins the build makes, loaded by the real host and compared pixel for
// pixel with ImageMagick's decode of the same files.
#include "picture/picture.h"
#include "picture/stream.h"
#include "spi/local_memory.h"
#include "spi/spi.h"
#include "spi/spi_bitmap.h"
#include "support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <gtest/gtest.h>

namespace sorowa::test {
namespace {

// ImageMagick's decode as 16-bit RGBA, big-endian samples; empty when it fails.
QByteArray Reference(const QString& path) {
    QProcess convert;
    convert.start(QStringLiteral("convert"),
                  {path + QStringLiteral("[0]"), QStringLiteral("-depth"), QStringLiteral("16"),
                   QStringLiteral("-endian"), QStringLiteral("MSB"), QStringLiteral("rgba:-")});
    if (!convert.waitForFinished(60000) || convert.exitCode() != 0) return {};
    return convert.readAllStandardOutput();
}

// What the plug-ins promise for one pixel: 16-bit samples become round(v / 257), then the
// colour is composited over white.
QRgb Expected(const unsigned char* p) {
    int v[4];
    for (int i = 0; i < 4; ++i)
        v[i] = ((p[2 * i] << 8 | p[2 * i + 1]) * 2 + 257) / 514;
    const auto over = [&](int c) { return (c * v[3] + 255 * (255 - v[3]) + 127) / 255; };
    return qRgb(over(v[0]), over(v[1]), over(v[2]));
}

class RealPlugins : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSPIBitmap();
        set.Search(QStringLiteral(SOROWA_BUILT_PLUGINS "/if*.spi"));
    }
    void TearDown() override { UnregisterSPIBitmap(); }

    // Largest difference of any channel of any pixel between the plug-in and the oracle;
    // -1 when the sizes differ or a side fails.
    int Compare(const QString& path) {
        const QByteArray reference = Reference(path);
        TPicture picture;
        try {
            picture.LoadFile(path);
        } catch (const Exception& e) {
            ADD_FAILURE() << e.what();
            return -1;
        }
        const auto* bitmap = dynamic_cast<TSPIBitmap*>(picture.Graphic());
        if (bitmap == nullptr) return -1;
        const QImage& image = bitmap->Image();
        if (reference.size() != qsizetype(image.width()) * image.height() * 8) return -1;
        int worst = 0;
        const auto* ref = reinterpret_cast<const unsigned char*>(reference.constData());
        for (int y = 0; y < image.height(); ++y)
            for (int x = 0; x < image.width(); ++x) {
                const QRgb want = Expected(ref + 8 * (y * image.width() + x));
                const QRgb got = image.pixel(x, y);
                worst = std::max({worst, std::abs(qRed(got) - qRed(want)),
                                  std::abs(qGreen(got) - qGreen(want)),
                                  std::abs(qBlue(got) - qBlue(want))});
            }
        return worst;
    }

    TSPIs set;
};

TEST_F(RealPlugins, AreFoundWithTheirPatterns) {
    ASSERT_EQ(set.Count(), 2);
    EXPECT_EQ(FindPictureClass(QStringLiteral("png")), &TSPIBitmap::Class);
    EXPECT_EQ(FindPictureClass(QStringLiteral("tif")), &TSPIBitmap::Class);
    EXPECT_EQ(FindPictureClass(QStringLiteral("TIFF")), &TSPIBitmap::Class);
    for (int i = 0; i < set.Count(); ++i)
        EXPECT_EQ(set.Items(i).APIVersion(), QStringLiteral("00IN"));
}

TEST_F(RealPlugins, DecodeLikeAnIndependentDecoder) {
    // Exact, except where two libraries may round apart: JPEG-compressed samples and CMYK
    // converted by each, alpha that libtiff premultiplies before we composite, and libtiff's
    // own 16-to-8-bit steps for grey samples and colour maps.
    const std::map<QString, int> tolerance{{QStringLiteral("rgb-jpeg.tif"), 2},
                                           {QStringLiteral("cmyk.tif"), 1},
                                           {QStringLiteral("rgba.tif"), 1},
                                           {QStringLiteral("grey-16.tif"), 1},
                                           {QStringLiteral("palette.tif"), 1}};
    int files = 0;
    for (const char* folder : {"png", "tiff"}) {
        const QDir dir(QStringLiteral(SOROWA_TEST_DATA "/") + QLatin1String(folder));
        for (const QString& name : dir.entryList({"*.png", "*.tif"}, QDir::Files, QDir::Name)) {
            if (name.startsWith(QLatin1String("bad-"))) continue;
            SCOPED_TRACE(name.toStdString());
            const auto allowed = tolerance.find(name);
            EXPECT_LE(Compare(dir.filePath(name)),
                      allowed == tolerance.end() ? 0 : allowed->second);
            EXPECT_GE(Compare(dir.filePath(name)), 0);
            ++files;
        }
    }
    EXPECT_GE(files, 30);
}

TEST_F(RealPlugins, DamagedFilesFailAndLeaveNothingBehind) {
    const std::size_t blocks = spi::LiveLocalBlocks();
    for (const char* name : {"png/bad-truncated.png", "png/bad-crc.png", "png/bad-huge.png",
                             "tiff/bad-truncated.tif"}) {
        SCOPED_TRACE(name);
        TPicture picture;
        EXPECT_THROW(picture.LoadFile(QStringLiteral(SOROWA_TEST_DATA "/") + QLatin1String(name)),
                     EInvalidGraphic);
    }
    EXPECT_EQ(spi::LiveLocalBlocks(), blocks);
}

TEST_F(RealPlugins, ReportProgressByBandsAndStopWhenAsked) {
    TempFolder folder;
    // 40 x 300: five bands of 64 rows.
    const QString png = folder.File(QStringLiteral("tall.png"));
    const QString tif = folder.File(QStringLiteral("tall.tif"));
    for (const QString& path : {png, tif})
        ASSERT_EQ(QProcess::execute(QStringLiteral("convert"),
                                    {QStringLiteral("-size"), QStringLiteral("40x300"),
                                     QStringLiteral("gradient:red-blue"), path}),
                  0);
    for (const QString& path : {png, tif}) {
        SCOPED_TRACE(path.toStdString());
        for (bool abort : {false, true}) {
            std::vector<int> percents;
            TPicture picture;
            picture.SetOnProgress([&](TGraphic&, const TProgressReport& r) {
                percents.push_back(r.percent);
                if (abort && r.stage == TProgressStage::Running) throw EAbort();
            });
            if (abort) {
                EXPECT_THROW(picture.LoadFile(path), EInvalidGraphic);
                EXPECT_EQ(percents,
                          (std::vector<int>{0, 22, 100, 0, 100})); // then the other plug-in
            } else {
                picture.LoadFile(path);
                EXPECT_EQ(percents, (std::vector<int>{0, 22, 43, 64, 85, 99, 100}));
            }
        }
    }
}

} // namespace
} // namespace sorowa::test
