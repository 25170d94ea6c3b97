// Pictures decoded through the test plug-ins.
#include "picture/picture.h"
#include "picture/stream.h"
#include "plugin_files.h"
#include "spi/local_memory.h"
#include "spi/spi.h"
#include "spi/spi_bitmap.h"
#include "support/temp_folder.h"

#include <QFileInfo>
#include <QPainter>
#include <gtest/gtest.h>

namespace sorowa::test {
namespace {

enum Mode {
    kNormal = 0,
    kShortPixels = 1,
    kShortInfo = 2,
    kFreedHandle = 3,
    kUnknownHandle = 4,
    kHugeHeader = 5,
    kFail = 6,
    kInfoText = 7,
    kZeroColours = 8,
};

// A file of the test plug-ins' format, padded with zeros to size bytes.
QByteArray Tpic(int width, int height, int bits, int mode = kNormal, int size = 0) {
    QByteArray bytes("TPIC");
    for (int v : {width, height}) {
        bytes.append(char(v & 0xFF));
        bytes.append(char(v >> 8));
    }
    bytes.append(char(bits));
    bytes.append(char(mode));
    if (size > bytes.size()) bytes.append(QByteArray(size - bytes.size(), '\0'));
    return bytes;
}

class SPIBitmapTest : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSPIBitmap();
        blocksBefore = spi::LiveLocalBlocks();
        set.Add(TSPIs::CreateSPI(CopyPlugin(QStringLiteral("tppicture"), folder.Path())));
        ASSERT_EQ(set.Count(), 1);
        ClearPluginEvents();
    }
    void TearDown() override {
        UnregisterSPIBitmap();
        EXPECT_EQ(spi::LiveLocalBlocks(), blocksBefore); // every handle released
    }
    // Loads name (written with bytes) through a picture holder; the error text or "".
    QString Load(const QString& name, const QByteArray& bytes) {
        picture.SetOnProgress([this](TGraphic&, const TProgressReport& r) {
            progress.push_back(r.percent);
            if (abortAt >= 0 && r.stage == TProgressStage::Running && r.percent >= abortAt)
                throw EAbort();
        });
        try {
            picture.LoadFile(folder.Write(name, bytes));
            return {};
        } catch (const Exception& e) {
            return e.Message();
        }
    }
    TSPIBitmap* Bitmap() const { return dynamic_cast<TSPIBitmap*>(picture.Graphic()); }

    TempFolder folder;
    TSPIs set;
    TPicture picture;
    std::vector<int> progress;
    int abortAt = -1;
    std::size_t blocksBefore = 0;
};

TEST_F(SPIBitmapTest, DecodesAndReportsProgressFromZeroToHundred) {
    ASSERT_EQ(Load(QStringLiteral("a.tpi"), Tpic(100, 50, 24, kNormal, 4000)), QString());
    ASSERT_NE(Bitmap(), nullptr);
    EXPECT_EQ(picture.Width(), 100);
    EXPECT_EQ(picture.Height(), 50);
    const QImage& image = Bitmap()->Image();
    for (QPoint p : {QPoint(0, 0), QPoint(99, 0), QPoint(7, 49), QPoint(60, 20)})
        EXPECT_EQ(image.pixel(p), qRgb(77, p.y() * 4, p.x() * 2)) << p.x() << "," << p.y();
    ASSERT_EQ(progress.size(), 52u);
    EXPECT_EQ(progress.front(), 0);
    EXPECT_EQ(progress.back(), 100);
    EXPECT_EQ(progress[1], 3); // row 1 of 50: 1 * 98 / 50 + 1, rounded
    EXPECT_EQ(progress[50], 99);
    EXPECT_TRUE(std::is_sorted(progress.begin(), progress.end()));
    // The plug-in's full data: the file itself, 4000 bytes.
    EXPECT_EQ(CountEvents("tppicture", "GetPicture", 4000), 1);
}

TEST_F(SPIBitmapTest, ShortDataComesInAZeroFilledBufferWithItsTrueLength) {
    QByteArray bytes = Tpic(4, 3, 24, kNormal);
    bytes.append(QByteArray(500 - bytes.size(), '\x55'));
    ASSERT_EQ(Load(QStringLiteral("short.tpi"), bytes), QString());
    const PluginEvent* supported = nullptr;
    for (const PluginEvent& e : PluginEvents())
        if (e.event == QLatin1String("IsSupported")) supported = &e;
    ASSERT_NE(supported, nullptr);
    EXPECT_EQ(supported->data.left(500), bytes);
    EXPECT_EQ(supported->data.mid(500), QByteArray(1548, '\0'));
    EXPECT_EQ(CountEvents("tppicture", "GetPictureInfo", 500), 1);
    EXPECT_EQ(CountEvents("tppicture", "GetPicture", 500), 1);
    for (const PluginEvent& e : PluginEvents())
        if (e.event.startsWith(QLatin1String("GetPicture"))) {
            EXPECT_EQ(e.pointer, supported->pointer);
        }
    EXPECT_EQ(CountEvents("tppicture", "IsSupportedName"), 1);
    EXPECT_TRUE(PluginEvents()[1].data.endsWith("/short.tpi"));
}

TEST_F(SPIBitmapTest, SecondAttemptFromByte128) {
    const QByteArray late = QByteArray(128, 'x') + Tpic(5, 5, 24, kNormal, 300);
    ASSERT_EQ(Load(QStringLiteral("late.tpi"), late), QString());
    EXPECT_EQ(CountEvents("tppicture", "IsSupported"), 2);
    EXPECT_EQ(CountEvents("tppicture", "GetPicture", 300), 1);
    EXPECT_EQ(picture.Width(), 5);
    // No second attempt without HeaderSkipRetry, nor for 128 bytes or fewer.
    ClearPluginEvents();
    TSPIBitmap bitmap;
    bitmap.HeaderSkipRetry = false;
    EXPECT_THROW(bitmap.LoadFile(folder.Write(QStringLiteral("late2.tpi"), late)), EInvalidGraphic);
    EXPECT_EQ(CountEvents("tppicture", "IsSupported"), 1);
    ClearPluginEvents();
    EXPECT_EQ(Load(QStringLiteral("tiny.tpi"), QByteArray(128, 'x')),
              QStringLiteral("認識できない画像形式です"));
    EXPECT_EQ(CountEvents("tppicture", "IsSupported"), 1);
}

TEST_F(SPIBitmapTest, HostileResultsFailTheAttemptAndAreReleased) {
    for (int mode : {kShortPixels, kShortInfo, kFreedHandle, kUnknownHandle, kHugeHeader, kFail}) {
        SCOPED_TRACE(mode);
        progress.clear();
        EXPECT_EQ(Load(QStringLiteral("bad.tpi"), Tpic(40, 30, 24, mode)),
                  QStringLiteral("認識できない画像形式です"));
        EXPECT_EQ(picture.Graphic(), nullptr);
        EXPECT_EQ(progress.back(), 100); // the end is reported also on failure
        EXPECT_EQ(spi::LiveLocalBlocks(), blocksBefore);
    }
}

// A file that no plug-in reads either keeps the native reader's own account of it when it
// has the native extension; under a plug-in's extension it gets the general one.
TEST_F(SPIBitmapTest, TheNativeReadersMessageStaysForItsOwnFiles) {
    const QByteArray broken = "BM" + QByteArray(60, 'x');
    for (const auto& [name, message] : {std::pair{"broken.bmp", "ストリームからの読み込みエラー"},
                                        std::pair{"broken.tpi", "認識できない画像形式です"}}) {
        EXPECT_EQ(Load(QString::fromLatin1(name), broken), QString::fromUtf8(message)) << name;
    }
}

TEST_F(SPIBitmapTest, AnAbortRequestStopsThePlugin) {
    abortAt = 50;
    EXPECT_EQ(Load(QStringLiteral("a.tpi"), Tpic(10, 100, 24)),
              QStringLiteral("認識できない画像形式です"));
    EXPECT_EQ(CountEvents("tppicture", "aborted"), 1);
}

TEST_F(SPIBitmapTest, FourBitsWithoutColourCountGetSixteenColours) {
    ASSERT_EQ(Load(QStringLiteral("a.tpi"), Tpic(9, 4, 4, kZeroColours)), QString());
    const QList<QRgb> palette = Bitmap()->Palette();
    ASSERT_EQ(palette.size(), 16);
    EXPECT_EQ(palette[5], qRgb(15, 250, 80));
    EXPECT_EQ(Bitmap()->Image().pixel(3, 3), qRgb(18, 249, 96)); // index (3 + 0) & 15 = 6
    ASSERT_EQ(Load(QStringLiteral("b.tpi"), Tpic(9, 4, 24)), QString());
    EXPECT_TRUE(Bitmap()->Palette().isEmpty());
}

TEST_F(SPIBitmapTest, InfoTextIsReadWithinItsBlockAndReleased) {
    ASSERT_EQ(Load(QStringLiteral("a.tpi"), Tpic(3, 3, 8, kInfoText)), QString());
    EXPECT_EQ(picture.Width(), 3);
}

TEST_F(SPIBitmapTest, BitmapFilesTryTheReaderFirst) {
    set.Add(TSPIs::CreateSPI(CopyPlugin(QStringLiteral("tppicturebmp"), folder.Path())));
    ClearPluginEvents();
    ASSERT_EQ(Load(QStringLiteral("real.bmp"), MakeBmp(6, 2)), QString());
    EXPECT_EQ(PluginEvents().size(), 0u);
    EXPECT_EQ(picture.Width(), 6);
    ASSERT_EQ(Load(QStringLiteral("fake.bmp"), Tpic(7, 2, 24)), QString());
    EXPECT_EQ(picture.Width(), 7);
    EXPECT_EQ(CountEvents("tppicturebmp", "GetPicture"), 1);
    EXPECT_EQ(CountEvents("tppicture", "IsSupported"), 0); // claims no bmp, decoded already
}

TEST_F(SPIBitmapTest, NamelessStreamsTryTheReaderThenEveryPlugin) {
    set.Add(TSPIs::CreateSPI(CopyPlugin(QStringLiteral("tppicturetoo"), folder.Path())));
    ClearPluginEvents();
    TSPIBitmap bitmap;
    TMemoryStream stream(std::vector<std::uint8_t>(2, 'B'));
    EXPECT_THROW(bitmap.LoadFromStream(stream), EInvalidGraphic);
    EXPECT_EQ(CountEvents("tppicture", "IsSupportedName"), 1);
    EXPECT_EQ(CountEvents("tppicturetoo", "IsSupportedName"), 1);
    for (const PluginEvent& e : PluginEvents())
        if (e.event == QLatin1String("IsSupportedName")) {
            EXPECT_EQ(e.data, QByteArray());
        }
    // With SPI set, that plug-in alone.
    ClearPluginEvents();
    bitmap.SPI = static_cast<TInSPI*>(&set.Items(1));
    const QByteArray bytes = Tpic(3, 2, 24);
    TMemoryStream good(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    bitmap.LoadFromStream(good);
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(CountEvents("tppicture", "IsSupported"), 0);
    EXPECT_EQ(CountEvents("tppicturetoo", "GetPicture"), 1);
}

// A result too large to decode at load keeps the plug-in's rows and converts only what a draw
// shows: the drawn pixels are still those of the whole picture stretched, sampled or smoothed.
TEST_F(SPIBitmapTest, ALargeResultDrawsAsTheWholePicture) {
    const int w = 1300, h = 900; // more than TBitmap::kWholeDecodePixels
    ASSERT_EQ(Load(QStringLiteral("large.tpi"), Tpic(w, h, 24)), QString());
    ASSERT_TRUE(Bitmap()->Sampled());
    EXPECT_EQ(picture.Width(), w);
    EXPECT_EQ(picture.Height(), h);
    QImage whole(w, h, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            whole.setPixel(x, y, qRgb(77, (y * 4) & 255, (x * 2) & 255));
    TSPIBitmap copy;
    copy.Assign(*Bitmap());
    for (TSPIBitmap* bitmap : {Bitmap(), &copy})
        for (const int bits : {32, 8}) // 8: a smoothed stretch
            for (const QSize size : {QSize(100, 100), QSize(333, 77)}) {
                SCOPED_TRACE(testing::Message()
                             << bits << " bits at " << size.width() << "x" << size.height());
                QImage target(size, QImage::Format_RGB32);
                target.fill(Qt::white);
                {
                    QPainter painter(&target);
                    TCanvas canvas(painter, bits);
                    bitmap->Draw(canvas, QRect(QPoint(0, 0), size));
                }
                QImage probe(1, 1, QImage::Format_RGB32);
                QPainter painter(&probe);
                const TCanvas canvas(painter, bits);
                EXPECT_EQ(target, TStretchCache::Stretched(canvas, size, whole, 24));
            }
}

TEST_F(SPIBitmapTest, OnLoadFromStreamWithNameIsAlwaysTheBitmapsOwnNamedLoad) {
    TSPIBitmap bitmap;
    bool assignedCalled = false;
    bitmap.SetOnLoadFromStreamWithName([&](TStream&, const QString&) { assignedCalled = true; });
    const TSPILoadFromStreamWithNameEvent load = bitmap.OnLoadFromStreamWithName();
    ASSERT_TRUE(load);
    const QByteArray bytes = Tpic(6, 4, 24);
    TMemoryStream stream(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    load(stream, QStringLiteral("named.tpi"));
    EXPECT_FALSE(assignedCalled);
    EXPECT_EQ(bitmap.Width(), 6);
    // A named load: the plug-in is asked with the name, and the name is gone afterwards.
    QStringList names;
    for (const PluginEvent& e : PluginEvents())
        if (e.event == QLatin1String("IsSupportedName")) names.append(QString::fromUtf8(e.data));
    EXPECT_EQ(names, QStringList{QStringLiteral("named.tpi")});
    ClearPluginEvents();
    stream.SetPosition(0);
    bitmap.LoadFromStream(stream);
    ASSERT_EQ(CountEvents("tppicture", "IsSupportedName"), 1);
    for (const PluginEvent& e : PluginEvents())
        if (e.event == QLatin1String("IsSupportedName")) {
            EXPECT_EQ(e.data, QByteArray());
        }
}

} // namespace
} // namespace sorowa::test

namespace sorowa::test {
namespace {

// SetDIB on blocks that have no room in front (not from the program's local memory):
// the bitmap file is put together in a buffer of its own; a block shorter than its header
// says is refused either way.
TEST(SetDIB, BuildsTheFileWithoutHeadroomAndRefusesShortBlocks) {
    std::vector<std::uint8_t> info(40, 0);
    info[0] = 40;
    info[4] = 2;  // width
    info[8] = 2;  // height, bottom-up
    info[12] = 1; // planes
    info[14] = 24;
    const std::vector<std::uint8_t> pixels{1, 2, 3, 4, 5, 6, 0, 0, 7, 8, 9, 10, 11, 12, 0, 0};
    TSPIBitmap bitmap;
    bool success = false;
    bitmap.SetDIB(info, pixels, {}, {}, success);
    ASSERT_TRUE(success);
    EXPECT_EQ(bitmap.Image().pixel(0, 1), qRgb(3, 2, 1));
    EXPECT_EQ(bitmap.Image().pixel(1, 0), qRgb(12, 11, 10));
    success = false;
    bitmap.SetDIB(info, std::span(pixels).first(15), {}, {}, success);
    EXPECT_FALSE(success);
    bitmap.SetDIB(std::span(info).first(39), pixels, {}, {}, success);
    EXPECT_FALSE(success);
}

} // namespace
} // namespace sorowa::test
