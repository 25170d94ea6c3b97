// The HEIF/AVIF, WebP and JPEG XL plug-ins the build makes, loaded by the real host and
// compared pixel for pixel with each library's own command-line decoder (heif-convert, dwebp,
// djxl), whose PNG output ImageMagick reads.
#include "picture/picture.h"
#include "spi/local_memory.h"
#include "spi/spi.h"
#include "spi/spi_bitmap.h"
#include "support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QProcess>
#include <gtest/gtest.h>
#include <vector>

namespace sorowa::test {
namespace {

bool Execute(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(program, arguments);
    process.closeWriteChannel();
    if (!process.waitForFinished(120000)) return false;
    process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

// A PNG as ImageMagick reads it: 16-bit RGBA samples, big-endian.
struct Raster {
    int width = 0, height = 0;
    QByteArray rgba;
};

Raster ReadPng(const QString& path) {
    Raster raster;
    QProcess identify;
    identify.start(QStringLiteral("identify"),
                   {QStringLiteral("-format"), QStringLiteral("%w %h"), path});
    if (!identify.waitForFinished(60000) || identify.exitCode() != 0) return {};
    const QList<QByteArray> size = identify.readAllStandardOutput().split(' ');
    if (size.size() != 2) return {};
    raster.width = size[0].toInt();
    raster.height = size[1].toInt();
    QProcess convert;
    convert.start(QStringLiteral("convert"),
                  {path, QStringLiteral("-depth"), QStringLiteral("16"), QStringLiteral("-endian"),
                   QStringLiteral("MSB"), QStringLiteral("rgba:-")});
    if (!convert.waitForFinished(60000) || convert.exitCode() != 0) return {};
    raster.rgba = convert.readAllStandardOutput();
    if (raster.rgba.size() != qsizetype(raster.width) * raster.height * 8) return {};
    return raster;
}

// What the plug-ins promise for one pixel: round(v / 257) for 16-bit samples, then the
// colour composited over white.
QRgb Expected(const unsigned char* p) {
    int v[4];
    for (int i = 0; i < 4; ++i)
        v[i] = ((p[2 * i] << 8 | p[2 * i + 1]) * 2 + 257) / 514;
    const auto over = [&](int c) { return (c * v[3] + 255 * (255 - v[3]) + 127) / 255; };
    return qRgb(over(v[0]), over(v[1]), over(v[2]));
}

// Largest difference of any channel of any pixel; -1 when the sizes differ.
int Difference(const QImage& image, const Raster& want) {
    if (image.width() != want.width || image.height() != want.height) {
        ADD_FAILURE() << "size " << image.width() << "x" << image.height() << ", want "
                      << want.width << "x" << want.height;
        return -1;
    }
    const auto* ref = reinterpret_cast<const unsigned char*>(want.rgba.constData());
    int worst = 0;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x) {
            const QRgb w = Expected(ref + 8 * (qsizetype(y) * image.width() + x));
            const QRgb got = image.pixel(x, y);
            worst = std::max({worst, std::abs(qRed(got) - qRed(w)),
                              std::abs(qGreen(got) - qGreen(w)), std::abs(qBlue(got) - qBlue(w))});
        }
    return worst;
}

// The output of a program; empty when it fails.
QByteArray Output(const QString& program, const QStringList& arguments) {
    QProcess process;
    process.start(program, arguments);
    if (!process.waitForFinished(120000) || process.exitStatus() != QProcess::NormalExit ||
        process.exitCode() != 0)
        return {};
    return process.readAllStandardOutput();
}

// Which of heif-info's listed top-level pictures is the primary one (1 = the first); 0 when
// there is one picture only. heif-convert writes each as name-1.png, name-2.png ... then.
int PrimaryNumber(const QString& path) {
    int images = 0, primary = 0;
    for (const QByteArray& line : Output(QStringLiteral("heif-info"), {path}).split('\n')) {
        if (!line.startsWith("image:")) continue;
        ++images;
        if (line.contains("primary")) primary = images;
    }
    return images > 1 ? primary : 0;
}

// The library's own decoder for a file, by its extension, writing PNG.
bool ReferenceDecode(const QString& path, const QString& png) {
    const QString suffix = QFileInfo(path).suffix().toLower();
    if (suffix == QLatin1String("webp")) {
        if (Execute(QStringLiteral("dwebp"),
                    {QStringLiteral("-quiet"), path, QStringLiteral("-o"), png}))
            return true;
        // dwebp takes no animation: the first frame alone, where it covers the canvas.
        const QString frame = png + QStringLiteral(".webp");
        return Execute(QStringLiteral("webpmux"),
                       {QStringLiteral("-get"), QStringLiteral("frame"), QStringLiteral("1"), path,
                        QStringLiteral("-o"), frame}) &&
               Execute(QStringLiteral("dwebp"),
                       {QStringLiteral("-quiet"), frame, QStringLiteral("-o"), png});
    }
    // Asked for sRGB, as the plug-in asks libjxl; only lossy (XYB) pictures can change.
    if (suffix == QLatin1String("jxl"))
        return Execute(QStringLiteral("djxl"),
                       {path, png, QStringLiteral("--color_space=RGB_D65_SRG_Rel_SRG")});
    if (!Execute(QStringLiteral("heif-convert"), {QStringLiteral("--quiet"), path, png}))
        return false;
    const int primary = PrimaryNumber(path);
    return primary == 0 ||
           QFile::rename(png.chopped(4) + QStringLiteral("-%1.png").arg(primary), png);
}

class ModernPlugins : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSPIBitmap();
        set.Search(QStringLiteral(SOROWA_BUILT_PLUGINS "/if*.spi"));
    }
    void TearDown() override { UnregisterSPIBitmap(); }

    // The plug-in's picture of a file, drawn at its own size (a large bitmap keeps no whole
    // image); a null image when it does not load.
    static QImage Decode(const QString& path) {
        TPicture picture;
        try {
            picture.LoadFile(path);
        } catch (const Exception& e) {
            ADD_FAILURE() << e.what();
            return {};
        }
        if (dynamic_cast<TSPIBitmap*>(picture.Graphic()) == nullptr) return {};
        QImage drawn(picture.Width(), picture.Height(), QImage::Format_RGB32);
        drawn.fill(Qt::black);
        QPainter painter(&drawn);
        TCanvas canvas(painter, 24);
        picture.Graphic()->Draw(canvas, drawn.rect());
        return drawn;
    }

    TSPIs set;
    TempFolder folder;
};

TEST_F(ModernPlugins, RegisterTheirPatterns) {
    for (const char* extension : {"heic", "HEIF", "avif", "webp", "jxl"})
        EXPECT_EQ(FindPictureClass(QLatin1String(extension)), &TSPIBitmap::Class) << extension;
}

TEST_F(ModernPlugins, DecodeLikeTheLibrariesOwnDecoders) {
    // Sources made here: an 8-bit picture of odd size, the same with an alpha ramp, and a
    // 16-bit one for the deep encodings.
    const QString photo = folder.File(QStringLiteral("photo.png"));
    const QString alpha = folder.File(QStringLiteral("alpha.png"));
    const QString deep = folder.File(QStringLiteral("deep.png"));
    ASSERT_TRUE(Execute(QStringLiteral("convert"),
                        {QStringLiteral("-seed"), QStringLiteral("7"), QStringLiteral("-size"),
                         QStringLiteral("97x61"), QStringLiteral("plasma:"),
                         QStringLiteral("-depth"), QStringLiteral("16"), deep}));
    ASSERT_TRUE(Execute(QStringLiteral("convert"),
                        {deep, QStringLiteral("-depth"), QStringLiteral("8"), photo}));
    ASSERT_TRUE(Execute(
        QStringLiteral("convert"),
        {photo, QStringLiteral("("), QStringLiteral("-size"), QStringLiteral("61x97"),
         QStringLiteral("gradient:white-black"), QStringLiteral("-rotate"), QStringLiteral("90"),
         QStringLiteral(")"), QStringLiteral("-alpha"), QStringLiteral("off"),
         QStringLiteral("-compose"), QStringLiteral("copy_opacity"), QStringLiteral("-composite"),
         QStringLiteral("-depth"), QStringLiteral("8"), alpha}));

    struct Case {
        const char* file;
        const char* encoder;
        QStringList arguments; // before the source and the output
        QString source;
        int tolerance; // the reference's own rounding of deep samples to 8 bits
    };
    const std::vector<Case> cases{
        {"lossy.heic", "heif-enc", {"-q", "80"}, photo, 0},
        {"alpha.heic", "heif-enc", {"-q", "80"}, alpha, 0},
        {"deep-10.heic", "heif-enc", {"-b", "10"}, deep, 1},
        {"lossy.avif", "heif-enc", {"-A"}, photo, 0},
        {"alpha.avif", "heif-enc", {"-A"}, alpha, 0},
        {"deep-12.avif", "heif-enc", {"-A", "-b", "12"}, deep, 1},
        {"lossy.webp", "cwebp", {"-quiet", "-q", "80"}, photo, 0},
        {"alpha.webp", "cwebp", {"-quiet", "-q", "80"}, alpha, 0},
        {"lossless-alpha.webp", "cwebp", {"-quiet", "-lossless"}, alpha, 0},
        {"lossy.jxl", "cjxl", {"--quiet", "-d", "1"}, photo, 0},
        {"lossless-alpha.jxl", "cjxl", {"--quiet", "-d", "0"}, alpha, 0},
        {"deep.jxl", "cjxl", {"--quiet", "-d", "1"}, deep, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString file = folder.File(QLatin1String(c.file));
        const QString reference = file + QStringLiteral(".png");
        const QString encoder = QLatin1String(c.encoder);
        QStringList arguments = c.arguments;
        if (encoder == QLatin1String("cjxl"))
            arguments = QStringList{c.source, file} + arguments;
        else
            arguments += {c.source, QStringLiteral("-o"), file};
        ASSERT_TRUE(Execute(encoder, arguments));
        ASSERT_TRUE(ReferenceDecode(file, reference));
        const Raster want = ReadPng(reference);
        ASSERT_GT(want.width, 0);
        const int worst = Difference(Decode(file), want);
        EXPECT_GE(worst, 0);
        EXPECT_LE(worst, c.tolerance);
        // Cut in half, the file is refused, and nothing is left allocated.
        const std::size_t blocks = spi::LiveLocalBlocks();
        const QByteArray whole = ReadFileBytes(file);
        TPicture cut;
        EXPECT_THROW(cut.LoadFile(folder.Write(QStringLiteral("cut-") + QLatin1String(c.file),
                                               whole.left(whole.size() / 2))),
                     EInvalidGraphic);
        EXPECT_EQ(spi::LiveLocalBlocks(), blocks);
    }
}

TEST_F(ModernPlugins, ReportProgressByBandsAndStopWhenAsked) {
    // 40 x 300: five bands of 64 rows, reported as the rows are put.
    const QString source = folder.File(QStringLiteral("tall.png"));
    ASSERT_TRUE(Execute(QStringLiteral("convert"),
                        {QStringLiteral("-size"), QStringLiteral("40x300"),
                         QStringLiteral("gradient:red-blue"), QStringLiteral("-depth"),
                         QStringLiteral("8"), source}));
    const QString heic = folder.File(QStringLiteral("tall.heic"));
    const QString webp = folder.File(QStringLiteral("tall.webp"));
    const QString jxl = folder.File(QStringLiteral("tall.jxl"));
    ASSERT_TRUE(Execute(QStringLiteral("heif-enc"), {source, QStringLiteral("-o"), heic}));
    ASSERT_TRUE(Execute(QStringLiteral("cwebp"),
                        {QStringLiteral("-quiet"), source, QStringLiteral("-o"), webp}));
    ASSERT_TRUE(Execute(QStringLiteral("cjxl"), {source, jxl, QStringLiteral("--quiet")}));
    for (const QString& path : {heic, webp, jxl}) {
        SCOPED_TRACE(path.toStdString());
        for (bool abort : {false, true}) {
            const std::size_t blocks = spi::LiveLocalBlocks();
            std::vector<int> percents;
            {
                TPicture picture;
                picture.SetOnProgress([&](TGraphic&, const TProgressReport& r) {
                    percents.push_back(r.percent);
                    if (abort && r.stage == TProgressStage::Running) throw EAbort();
                });
                if (abort)
                    EXPECT_THROW(picture.LoadFile(path), EInvalidGraphic);
                else
                    picture.LoadFile(path);
            }
            // Plug-ins tried before (or, once stopped, after) the one that decodes refuse the
            // data: 0 and 100 each. Stopped, the load goes on through all five.
            std::vector<int> decoding;
            int attempts = 0;
            for (std::size_t i = 0; i < percents.size(); ++i) {
                attempts += percents[i] == 0 ? 1 : 0;
                if (percents[i] == 0 && i + 1 < percents.size() && percents[i + 1] == 100)
                    ++i;
                else
                    decoding.push_back(percents[i]);
            }
            if (abort) {
                EXPECT_EQ(decoding, (std::vector<int>{0, 22, 100}));
                EXPECT_EQ(attempts, 5);
            } else {
                EXPECT_EQ(decoding, (std::vector<int>{0, 22, 43, 64, 85, 99, 100}));
            }
            EXPECT_EQ(spi::LiveLocalBlocks(), blocks);
        }
    }
}

TEST_F(ModernPlugins, AnimatedWebPShowsItsFirstFrame) {
    // dwebp does not take animations: the lossless first frame is its own source picture.
    const QString first = folder.File(QStringLiteral("first.png"));
    const QString second = folder.File(QStringLiteral("second.png"));
    const QString animation = folder.File(QStringLiteral("animation.webp"));
    ASSERT_TRUE(Execute(QStringLiteral("convert"),
                        {QStringLiteral("-seed"), QStringLiteral("3"), QStringLiteral("-size"),
                         QStringLiteral("45x33"), QStringLiteral("plasma:"),
                         QStringLiteral("-depth"), QStringLiteral("8"), first}));
    ASSERT_TRUE(Execute(QStringLiteral("convert"), {first, QStringLiteral("-negate"), second}));
    ASSERT_TRUE(Execute(QStringLiteral("img2webp"), {QStringLiteral("-lossless"), first, second,
                                                     QStringLiteral("-o"), animation}));
    EXPECT_EQ(Difference(Decode(animation), ReadPng(first)), 0);
}

// Real files from phones and public test collections, when the machine has them.
TEST_F(ModernPlugins, RealFilesDecodeLikeTheLibrariesOwnDecoders) {
    const QDir dir(QStringLiteral(SOROWA_SHARED_DATA "/../modern"));
    if (!dir.exists()) GTEST_SKIP() << "no folder " << dir.path().toStdString();
    const QStringList files =
        dir.entryList({"*.heic", "*.heif", "*.avif", "*.webp", "*.jxl"}, QDir::Files, QDir::Name);
    int compared = 0;
    for (const QString& name : files) {
        // dwebp leaves the Exif orientation alone; those files are the orientation test's.
        if (name.contains(QLatin1String("orientation"))) continue;
        SCOPED_TRACE(name.toStdString());
        const QString reference = folder.File(name + QStringLiteral(".png"));
        if (!ReferenceDecode(dir.filePath(name), reference)) {
            // What the library's own decoder refuses, the plug-in refuses too.
            TPicture picture;
            EXPECT_THROW(picture.LoadFile(dir.filePath(name)), EInvalidGraphic);
            continue;
        }
        const Raster want = ReadPng(reference);
        ASSERT_GT(want.width, 0);
        const int worst = Difference(Decode(dir.filePath(name)), want);
        EXPECT_GE(worst, 0);
        EXPECT_LE(worst, 1);
        ++compared;
    }
    EXPECT_GE(compared, 1);
}

// A minimal Exif block: a TIFF header and one IFD holding only the orientation, in either
// byte order, with or without the "Exif\0\0" prefix of JPEG's APP1.
QByteArray ExifOrientation(int orientation, bool bigEndian, bool prefix) {
    QByteArray exif = prefix ? QByteArray("Exif\0\0", 6) : QByteArray();
    const auto put16 = [&](unsigned v) {
        exif += char(bigEndian ? v >> 8 : v & 0xFF);
        exif += char(bigEndian ? v & 0xFF : v >> 8);
    };
    const auto put32 = [&](unsigned v) {
        put16(bigEndian ? v >> 16 : v & 0xFFFF);
        put16(bigEndian ? v & 0xFFFF : v >> 16);
    };
    exif += bigEndian ? "MM" : "II";
    put16(42);
    put32(8);
    put16(1);      // one entry
    put16(0x0112); // orientation
    put16(3);      // SHORT
    put32(1);      // one value
    put16(unsigned(orientation));
    put16(0);
    put32(0); // no next IFD
    return exif;
}

TEST_F(ModernPlugins, TiffAndWebPAreTurnedUprightAsTheirOrientationSays) {
    // The upright picture, of odd size; each stored picture is it turned by ImageMagick the
    // other way round, so that turning it as the tag says gives the upright one back.
    const QString upright = folder.File(QStringLiteral("upright.png"));
    ASSERT_TRUE(Execute(QStringLiteral("convert"),
                        {QStringLiteral("-seed"), QStringLiteral("5"), QStringLiteral("-size"),
                         QStringLiteral("37x23"), QStringLiteral("plasma:"),
                         QStringLiteral("-depth"), QStringLiteral("8"), upright}));
    const Raster want = ReadPng(upright);
    ASSERT_EQ(want.width, 37);
    struct Case {
        int orientation;
        QStringList turn; // ImageMagick's operation from the upright picture to the stored one
        const char* tiffName;
    };
    const std::vector<Case> cases{
        {1, {}, "TopLeft"},
        {2, {"-flop"}, "TopRight"},
        {3, {"-rotate", "180"}, "BottomRight"},
        {4, {"-flip"}, "BottomLeft"},
        {5, {"-transpose"}, "LeftTop"},
        {6, {"-rotate", "270"}, "RightTop"},
        {7, {"-transverse"}, "RightBottom"},
        {8, {"-rotate", "90"}, "LeftBottom"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.orientation);
        const QString name = QStringLiteral("o%1").arg(c.orientation);
        const QString stored = folder.File(name + QStringLiteral(".png"));
        const QString tiff = folder.File(name + QStringLiteral(".tif"));
        const QString plainWebp = folder.File(name + QStringLiteral("-plain.webp"));
        const QString webp = folder.File(name + QStringLiteral(".webp"));
        const QString exif = folder.Write(
            name + QStringLiteral(".exif"),
            ExifOrientation(c.orientation, c.orientation % 2 == 0, c.orientation == 3));
        ASSERT_TRUE(Execute(QStringLiteral("convert"),
                            QStringList{upright} + c.turn + QStringList{stored}));
        ASSERT_TRUE(Execute(QStringLiteral("convert"),
                            {stored, QStringLiteral("-orient"), QLatin1String(c.tiffName),
                             QStringLiteral("-compress"), QStringLiteral("none"), tiff}));
        ASSERT_TRUE(Execute(QStringLiteral("cwebp"),
                            {QStringLiteral("-quiet"), QStringLiteral("-lossless"),
                             QStringLiteral("-exact"), stored, QStringLiteral("-o"), plainWebp}));
        ASSERT_TRUE(
            Execute(QStringLiteral("webpmux"), {QStringLiteral("-set"), QStringLiteral("exif"),
                                                exif, plainWebp, QStringLiteral("-o"), webp}));
        for (const QString& file : {tiff, webp}) {
            SCOPED_TRACE(file.toStdString());
            EXPECT_EQ(Difference(Decode(file), want), 0);
            // The size the program is told before it decodes is the upright one too.
            TPicture picture;
            picture.LoadFile(file);
            EXPECT_EQ(QSize(picture.Width(), picture.Height()), QSize(37, 23));
        }
    }
}

TEST_F(ModernPlugins, RealTiffOrientationsLikeImageMagick) {
    // The same fax page stored in the eight orientations (G4, one bit a pixel); each
    // compared with ImageMagick's decode turned upright by -auto-orient.
    const QDir dir(QStringLiteral(SOROWA_SHARED_DATA "/../modern"));
    if (!QFile::exists(dir.filePath(QStringLiteral("pil-g4_orientation_1.tif"))))
        GTEST_SKIP() << "no orientation files in " << dir.path().toStdString();
    for (int orientation = 1; orientation <= 8; ++orientation) {
        SCOPED_TRACE(orientation);
        const QString file =
            dir.filePath(QStringLiteral("pil-g4_orientation_%1.tif").arg(orientation));
        const QString upright = folder.File(QStringLiteral("g4-%1.png").arg(orientation));
        ASSERT_TRUE(
            Execute(QStringLiteral("convert"), {file, QStringLiteral("-auto-orient"), upright}));
        const Raster want = ReadPng(upright);
        ASSERT_GT(want.width, 0);
        EXPECT_EQ(QSize(want.width, want.height), QSize(590, 88)); // stored 88 x 590 for 5 to 8
        EXPECT_EQ(Difference(Decode(file), want), 0);
    }
}

TEST_F(ModernPlugins, HeifTakesItsTurnFromTheContainerNotFromExif) {
    // An iPhone photo held in landscape by the camera: the container turns it a quarter
    // round (irot) and its Exif says orientation 6 as well. Turned once, it is portrait;
    // heif-convert, which reads no Exif, shows the same pixels (compared with all real
    // files above).
    const QString photo = QStringLiteral(SOROWA_SHARED_DATA "/../modern/ath-iphone-991825f7.HEIC");
    if (!QFile::exists(photo)) GTEST_SKIP() << "no " << photo.toStdString();
    TPicture picture;
    picture.LoadFile(photo);
    EXPECT_EQ(QSize(picture.Width(), picture.Height()), QSize(3024, 4032));
}

} // namespace
} // namespace sorowa::test
