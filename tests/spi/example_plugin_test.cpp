// The example plug-in of docs/plugins.md, loaded by the real host and compared with an
// independent decoder (ImageMagick).
#include "picture/picture.h"
#include "plugin_files.h"
#include "spi/spi.h"
#include "spi/spi_bitmap.h"
#include "support/temp_folder.h"

#include <QProcess>
#include <gtest/gtest.h>
#include <random>

namespace sorowa::test {
namespace {

// The picture as ImageMagick decodes it, 8-bit RGB rows; empty when it cannot.
QByteArray Reference(const QString& path) {
    QProcess convert;
    convert.start(QStringLiteral("convert"),
                  {path, QStringLiteral("-depth"), QStringLiteral("8"), QStringLiteral("rgb:-")});
    if (!convert.waitForFinished(60000) || convert.exitCode() != 0) return {};
    return convert.readAllStandardOutput();
}

TEST(ExamplePlugin, DecodesLikeAnIndependentDecoder) {
    RegisterSPIBitmap();
    TempFolder folder;
    TSPIs set;
    set.Search(QStringLiteral(SOROWA_TEST_PLUGINS "/ifppm.spi"));
    ASSERT_EQ(set.Count(), 1);
    EXPECT_EQ(set.Items(0).PluginName(), QStringLiteral("Netpbm PPM/PGM example plug-in"));
    EXPECT_EQ(FindPictureClass(QStringLiteral("pgm")), &TSPIBitmap::Class);

    std::mt19937 random(7);
    struct Case {
        const char* name;
        const char* magic;
        int width, height, maxval;
    };
    for (const Case& c :
         {Case{"colour.ppm", "P6", 61, 37, 255}, Case{"grey16.pgm", "P5", 13, 70, 1000},
          Case{"colour16.ppm", "P6", 5, 300, 65535}}) {
        SCOPED_TRACE(c.name);
        const int channels = c.magic[1] == '6' ? 3 : 1;
        QByteArray bytes = QByteArray(c.magic) + "\n# made by the test\n" +
                           QByteArray::number(c.width) + ' ' + QByteArray::number(c.height) + '\n' +
                           QByteArray::number(c.maxval) + '\n';
        for (int i = 0; i < c.width * c.height * channels; ++i) {
            const int v = static_cast<int>(random() % (c.maxval + 1));
            if (c.maxval > 255) bytes.append(char(v >> 8));
            bytes.append(char(v & 0xFF));
        }
        const QString path = folder.Write(QString::fromLatin1(c.name), bytes);
        const QByteArray reference = Reference(path);
        ASSERT_EQ(reference.size(), c.width * c.height * 3);

        TPicture picture;
        picture.LoadFile(path);
        auto* bitmap = dynamic_cast<TSPIBitmap*>(picture.Graphic());
        ASSERT_NE(bitmap, nullptr);
        ASSERT_EQ(bitmap->Width(), c.width);
        ASSERT_EQ(bitmap->Height(), c.height);
        int worst = 0;
        for (int y = 0; y < c.height; ++y)
            for (int x = 0; x < c.width; ++x) {
                const QRgb pixel = bitmap->Image().pixel(x, y);
                const auto* ref = reinterpret_cast<const unsigned char*>(reference.constData()) +
                                  3 * (y * c.width + x);
                worst =
                    std::max({worst, std::abs(qRed(pixel) - ref[0]),
                              std::abs(qGreen(pixel) - ref[1]), std::abs(qBlue(pixel) - ref[2])});
            }
        EXPECT_LE(worst, c.maxval == 255 ? 0 : 1); // scaling from other ranges may round apart
    }
    // A picture whose samples end early is a failure, not a crash.
    TPicture picture;
    EXPECT_THROW(picture.LoadFile(folder.Write(QStringLiteral("cut.ppm"), "P6 4000 4000 255\nabc")),
                 EInvalidGraphic);
    UnregisterSPIBitmap();
}

} // namespace
} // namespace sorowa::test
