// The PNG and TIFF plug-ins the build makes, loaded by the real host and compared pixel for
// pixel with ImageMagick's decode of the same files.
#include "picture/picture.h"
#include "picture/stream.h"
#include "platform/memory_budget.h"
#include "spi/local_memory.h"
#include "spi/spi.h"
#include "spi/spi_bitmap.h"
#include "support/temp_folder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <array>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <vector>

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
    // -1 when the sizes differ or a side fails. The oracle's raw decode keeps the rows in
    // the file's order: a picture stored from the bottom up is compared turned over.
    int Compare(const QString& path, bool bottomUp = false) {
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
                const int refY = bottomUp ? image.height() - 1 - y : y;
                const QRgb want = Expected(ref + 8 * (refY * image.width() + x));
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
    ASSERT_EQ(set.Count(), 5);
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
    const std::map<QString, int> tolerance{
        {QStringLiteral("rgb-jpeg.tif"), 2}, {QStringLiteral("tall-jpeg.tif"), 2},
        {QStringLiteral("cmyk.tif"), 1},     {QStringLiteral("rgba.tif"), 1},
        {QStringLiteral("grey-16.tif"), 1},  {QStringLiteral("palette.tif"), 1}};
    int files = 0;
    for (const char* folder : {"png", "tiff"}) {
        const QDir dir(QStringLiteral(SOROWA_TEST_DATA "/") + QLatin1String(folder));
        for (const QString& name : dir.entryList({"*.png", "*.tif"}, QDir::Files, QDir::Name)) {
            if (name.startsWith(QLatin1String("bad-"))) continue;
            SCOPED_TRACE(name.toStdString());
            const auto allowed = tolerance.find(name);
            const int worst =
                Compare(dir.filePath(name), name.startsWith(QLatin1String("bottom-")));
            EXPECT_LE(worst, allowed == tolerance.end() ? 0 : allowed->second);
            EXPECT_GE(worst, 0);
            ++files;
        }
    }
    EXPECT_GE(files, 34);
}

// Shortens entry `index` of the byte counts under `tag` (strips 279, tiles 325) of a
// little-endian TIFF to a third: its data ends partway.
void CutData(QByteArray& file, unsigned tag, int index) {
    auto* p = reinterpret_cast<unsigned char*>(file.data());
    const auto u16 = [&](qsizetype at) { return unsigned(p[at] | p[at + 1] << 8); };
    const auto u32 = [&](qsizetype at) { return u16(at) | u16(at + 2) << 16; };
    ASSERT_EQ(file.left(4), QByteArray("II*\0", 4));
    const qsizetype ifd = u32(4);
    for (unsigned i = 0; i < u16(ifd); ++i) {
        const qsizetype entry = ifd + 2 + 12 * qsizetype(i);
        if (u16(entry) != tag) continue;
        const bool longs = u16(entry + 2) == 4;
        const unsigned count = u32(entry + 4);
        ASSERT_LT(unsigned(index), count);
        const qsizetype values = (longs ? 4 : 2) * count <= 4 ? entry + 8 : u32(entry + 8);
        const qsizetype at = values + (longs ? 4 : 2) * index;
        const unsigned shorter = (longs ? u32(at) : u16(at)) / 3;
        for (int b = 0; b < (longs ? 4 : 2); ++b)
            p[at + b] = static_cast<unsigned char>(shorter >> (8 * b));
        return;
    }
    FAIL() << "no tag " << tag;
}

// A little-endian 8-bit grey (min-is-white) LZW TIFF whose strips or tiles (one, or `tiles`
// of tile x tile) hold nothing but a clear code and the end code: not one row of data.
QByteArray EmptyTiff(unsigned width, unsigned height, unsigned tile = 0, unsigned tiles = 1) {
    const QByteArray lzw("\x80\x20\x20", 3); // 256, 257 in 9-bit codes
    QByteArray file("II*\0\0\0\0\0", 8);
    file += lzw;
    const auto put32 = [&](QByteArray& out, unsigned v) {
        for (int b = 0; b < 4; ++b)
            out += char(v >> (8 * b));
    };
    const qsizetype offsets = file.size();
    for (unsigned i = 0; i < tiles; ++i)
        put32(file, 8);
    const qsizetype counts = file.size();
    for (unsigned i = 0; i < tiles; ++i)
        put32(file, unsigned(lzw.size()));
    std::vector<std::array<unsigned, 4>> entries{
        {256, 4, 1, width}, {257, 4, 1, height}, {258, 3, 1, 8}, {259, 3, 1, 5}, {262, 3, 1, 0}};
    const bool one = tiles == 1;
    if (tile == 0)
        entries.insert(entries.end(), {{273, 4, 1, 8},
                                       {277, 3, 1, 1},
                                       {278, 4, 1, height},
                                       {279, 4, 1, unsigned(lzw.size())}});
    else
        entries.insert(entries.end(),
                       {{277, 3, 1, 1},
                        {322, 4, 1, tile},
                        {323, 4, 1, tile},
                        {324, 4, tiles, one ? 8u : unsigned(offsets)},
                        {325, 4, tiles, one ? unsigned(lzw.size()) : unsigned(counts)}});
    const unsigned ifd = unsigned(file.size());
    file += char(entries.size());
    file += '\0';
    for (const auto& e : entries) {
        file += char(e[0]);
        file += char(e[0] >> 8);
        file += char(e[1]);
        file += '\0';
        put32(file, e[2]);
        if (e[1] == 3) {
            file += char(e[3]);
            file += char(e[3] >> 8);
            file += QByteArray(2, '\0');
        } else {
            put32(file, e[3]);
        }
    }
    put32(file, 0);
    for (int b = 0; b < 4; ++b)
        file[4 + b] = char(ifd >> (8 * b));
    return file;
}

TEST_F(RealPlugins, DamagedDataLeavesBlackRowsAndTheRestWhole) {
    // Cut strips stay black from the cut to their end; a band the reader cannot take whole
    // (a cut tile) stays black as a band. Every other row is the file's own. Rows are counted
    // in the file's order.
    struct Case {
        const char* name;
        unsigned tag;
        int index;
        int from, to; // the black rows: [from, to), or from somewhere after `from` when cut
        bool cutInside, bottomUp;
    };
    for (const Case& c : {Case{"tall-strip.tif", 279, 0, 0, 203, true, false},
                          Case{"bottom-left.tif", 279, 4, 64, 80, true, true},
                          Case{"tall-jpeg.tif", 279, 0, 0, 203, true, false},
                          Case{"bottom-left-tiles.tif", 325, 4, 0, 64, false, true}}) {
        SCOPED_TRACE(c.name);
        const QString path = QStringLiteral(SOROWA_TEST_DATA "/tiff/") + QLatin1String(c.name);
        QByteArray bytes = ReadFileBytes(path);
        CutData(bytes, c.tag, c.index);
        TempFolder folder;
        const QString cut = folder.Write(QStringLiteral("cut.tif"), bytes);
        TPicture whole, damaged;
        whole.LoadFile(path);
        damaged.LoadFile(cut);
        const QImage& want = dynamic_cast<TSPIBitmap&>(*whole.Graphic()).Image();
        const QImage& got = dynamic_cast<TSPIBitmap&>(*damaged.Graphic()).Image();
        ASSERT_EQ(got.size(), want.size());
        const auto shown = [&](int fileRow) {
            return c.bottomUp ? want.height() - 1 - fileRow : fileRow;
        };
        const auto same = [&](int fileRow) {
            for (int x = 0; x < want.width(); ++x)
                if (got.pixel(x, shown(fileRow)) != want.pixel(x, shown(fileRow))) return false;
            return true;
        };
        const auto black = [&](int fileRow) {
            for (int x = 0; x < want.width(); ++x)
                if (got.pixel(x, shown(fileRow)) != qRgb(0, 0, 0)) return false;
            return true;
        };
        int blackFrom = c.from;
        while (blackFrom < c.to && same(blackFrom))
            ++blackFrom;
        if (c.cutInside) {
            EXPECT_GT(blackFrom, c.from); // a third of the data gives some rows
            EXPECT_LT(blackFrom, c.to);
        } else {
            EXPECT_EQ(blackFrom, c.from);
        }
        for (int row = 0; row < want.height(); ++row)
            EXPECT_TRUE(row >= blackFrom && row < c.to ? black(row) : same(row)) << "row " << row;
    }
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
    // Not one row in the file, whatever the size claimed: a strip, one tile, many tiles.
    TempFolder folder;
    for (const QByteArray& bytes : {EmptyTiff(40, 30), EmptyTiff(16384, 16384),
                                    EmptyTiff(64, 64, 64), EmptyTiff(16384, 16384, 4096, 16)}) {
        TPicture picture;
        EXPECT_THROW(picture.LoadFile(folder.Write(QStringLiteral("empty.tif"), bytes)),
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
                // Then every other plug-in, each of which refuses the data.
                EXPECT_EQ(percents, (std::vector<int>{0, 22, 100, 0, 100, 0, 100, 0, 100, 0, 100}));
            } else {
                picture.LoadFile(path);
                EXPECT_EQ(percents, (std::vector<int>{0, 22, 43, 64, 85, 99, 100}));
            }
        }
    }
}

// What a plug-in is handed and what it works in both come out of the decoded-bytes budget: a
// sparse file of 3 GB is refused from its size before any byte is read, and an interlaced
// picture's whole-picture buffer counts beside its bitmap.
TEST_F(RealPlugins, InputAndWorkingMemoryCountAgainstTheBudget) {
    TempFolder folder;
    const QString huge = folder.File(QStringLiteral("huge.png"));
    {
        QFile file(huge);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("\x89PNG\r\n\x1a\n");
        ASSERT_TRUE(file.resize(qint64{3} << 30));
    }
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);
    TPicture picture;
    EXPECT_THROW(picture.LoadFile(huge), EInvalidGraphic);
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    EXPECT_LT(after.ru_maxrss - before.ru_maxrss, 256 * 1024) << "kB more at the peak";

    // 2000 x 2000, half transparent: a bitmap of 12 MB and an RGBA buffer of 16 MB.
    const QString interlaced = folder.File(QStringLiteral("interlaced.png"));
    ASSERT_EQ(QProcess::execute(QStringLiteral("convert"),
                                {QStringLiteral("-size"), QStringLiteral("2000x2000"),
                                 QStringLiteral("xc:rgba(0,0,255,0.5)"),
                                 QStringLiteral("-interlace"), QStringLiteral("PNG"), interlaced}),
              0);
    for (const auto& [bytes, loads] : {std::pair{20u << 20, false}, std::pair{40u << 20, true}}) {
        platform::TDecodedBytesBudget budget(bytes);
        TPicture decoded({.budget = &budget});
        if (loads) {
            EXPECT_NO_THROW(decoded.LoadFile(interlaced)) << bytes;
        } else {
            EXPECT_THROW(decoded.LoadFile(interlaced), EInvalidGraphic) << bytes;
        }
    }
}

} // namespace
} // namespace sorowa::test
