// Thumbnail windows whose pictures a real plug-in decodes: the decodes run on the frame's pool
// and give what a load without the pool gives, a file's own preview stands in meanwhile, a
// decode that fails is shown once, and closing the folder while they run cancels what waits,
// waits for what runs and leaves no plug-in memory behind.
#include "close_while_decoding.h"
#include "workspace/image.h"
#include "platform/memory_budget.h"
#include "spi/local_memory.h"
#include "spi/spi.h"
#include "spi/spi_bitmap.h"
#include "support/message_recorder.h"
#include "support/temp_folder.h"
#include "support/widgets.h"
#include "workspace/mdi_frame.h"
#include "workspace/thumbnail_size.h"
#include "workspace/thumbnail_window.h"

#include <QBuffer>
#include <QFile>
#include <QPainter>
#include <gtest/gtest.h>

using namespace sorowa;

namespace {

class PluginDecode : public ::testing::Test {
protected:
    void SetUp() override {
        RegisterSPIBitmap();
        set.Search(QStringLiteral(SOROWA_BUILT_PLUGINS "/ifpng.spi"));
        set.Search(QStringLiteral(SOROWA_BUILT_PLUGINS "/iftiff.spi"));
        set.Search(QStringLiteral(SOROWA_BUILT_PLUGINS "/ifheif.spi"));
        ASSERT_EQ(set.Count(), 3) << "the built PNG, TIFF and HEIF plug-ins";
        SetThumbnailSize({100, 100});
    }
    void TearDown() override {
        frame.reset();
        test::ExpectNoWindowsLeft();
        UnregisterSPIBitmap();
    }

    void MakeFrame() {
        frame = std::make_unique<TMdiFrame>();
        frame->resize(600, 300);
        frame->show();
    }

    // A PNG file of a noisy picture, written by Qt's PNG writer (no other process: the
    // ThreadSanitizer build loses track of locks across a fork).
    static QByteArray Png(int width, int height) {
        QImage image(width, height, QImage::Format_RGB32);
        std::uint32_t state = 1;
        for (int y = 0; y < height; ++y) {
            auto* row = reinterpret_cast<QRgb*>(image.scanLine(y));
            for (int x = 0; x < width; ++x) {
                state = state * 1664525u + 1013904223u;
                row[x] = qRgb(x * 255 / width, y * 255 / height, static_cast<int>(state >> 24));
            }
        }
        QByteArray bytes;
        QBuffer buffer(&bytes);
        buffer.open(QIODevice::WriteOnly);
        image.save(&buffer, "PNG");
        return bytes;
    }

    // count windows in rows of five, each loading its own copy of bytes as a .png file.
    QList<TForm_Grp*> OpenFolder(int count, const QByteArray& bytes) {
        QList<TForm_Grp*> windows;
        for (int i = 0; i < count; ++i) {
            auto* window = new TForm_Grp(frame.get());
            window->move(8 + (i % 5) * 108, 8 + (i / 5) * 131);
            window->LoadPicture(
                QString::number(i + 1),
                folder.Write(QStringLiteral("p%1.png").arg(i, 3, 10, QChar('0')), bytes));
            windows.append(window);
        }
        return windows;
    }

    // What a picture shows drawn at 100 x 100.
    static QImage Drawn(TGraphic& picture) {
        QImage target(100, 100, QImage::Format_RGB32);
        target.fill(Qt::magenta);
        QPainter painter(&target);
        TCanvas canvas(painter, 24);
        picture.Draw(canvas, target.rect());
        return target;
    }

    static TSPIBitmap* PictureOf(TForm_Grp* window) {
        return dynamic_cast<TSPIBitmap*>(window->Image1()->Picture().Graphic());
    }

    TSPIs set;
    test::TempFolder folder;
    std::unique_ptr<TMdiFrame> frame;
    test::MessageRecorder messages;
};

TEST_F(PluginDecode, VisiblePicturesDecodeOnThePoolAsTheyWouldWithout) {
    const QByteArray png = Png(1600, 1200);
    ASSERT_FALSE(png.isEmpty());
    // Without a pool the load decodes at once: the picture to compare with.
    TPicture reference;
    reference.LoadFile(folder.Write(QStringLiteral("reference.png"), png));
    auto* expected = dynamic_cast<TSPIBitmap*>(reference.Graphic());
    ASSERT_NE(expected, nullptr);
    ASSERT_FALSE(expected->DecodePending());
    const QImage shown = Drawn(*expected);

    MakeFrame();
    TDecodePool& pool = frame->Decodes();
    pool.SetHeld(true);
    const QList<TForm_Grp*> windows = OpenFolder(30, png);
    for (TForm_Grp* window : windows) {
        EXPECT_TRUE(PictureOf(window)->DecodePending()) << "loading did not decode";
        EXPECT_EQ(QSize(PictureOf(window)->Width(), PictureOf(window)->Height()),
                  QSize(1600, 1200));
    }
    // The windows that show in the frame's viewport (rows of five, 131 pixels apart).
    std::size_t visible = 0;
    for (TForm_Grp* window : windows)
        visible += window->geometry().intersects(frame->viewport()->rect()) ? 1 : 0;
    ASSERT_GT(visible, 0u);
    ASSERT_LT(visible, 30u);
    ASSERT_TRUE(test::WaitFor([&] { return pool.Pending() == visible; }))
        << "the visible pictures ask, and only they: " << pool.Pending() << " of " << visible;
    const std::size_t asked = pool.Pending();
    pool.SetHeld(false);
    ASSERT_TRUE(test::WaitFor([&] { return pool.Pending() == 0 && pool.Running() == 0; }, 60000));
    int decoded = 0;
    for (TForm_Grp* window : windows) {
        TSPIBitmap* picture = PictureOf(window);
        if (picture->DecodePending()) continue;
        ++decoded;
        EXPECT_EQ(picture->Sampled(), expected->Sampled());
        EXPECT_EQ(Drawn(*picture), shown);
        EXPECT_EQ(QSize(picture->Width(), picture->Height()), QSize(1600, 1200));
    }
    EXPECT_EQ(static_cast<std::size_t>(decoded), asked) << "the ones never seen wait";

    // A copy of a picture still waiting waits too, and decodes when it is drawn.
    TSPIBitmap* waiting = PictureOf(windows.back());
    ASSERT_TRUE(waiting->DecodePending());
    TSPIBitmap copy;
    copy.SetContext(frame->PictureContext());
    copy.Assign(*waiting);
    ASSERT_TRUE(copy.DecodePending());
    Drawn(copy);
    ASSERT_TRUE(test::WaitFor([&] { return !copy.DecodePending(); }, 60000));
    EXPECT_EQ(Drawn(copy), shown);
    EXPECT_TRUE(waiting->DecodePending()) << "the original was not drawn";
    EXPECT_TRUE(messages.Texts().isEmpty());
}

TEST_F(PluginDecode, AHeifFilesOwnThumbnailStandsInUntilItsDecodeLands) {
    const QString photo =
        QStringLiteral(SOROWA_SHARED_DATA "/../modern/ath-iphone-991825f7.HEIC");
    if (!QFile::exists(photo)) GTEST_SKIP() << "no " << photo.toStdString();
    TPicture reference;
    reference.LoadFile(photo);
    const QImage shown = Drawn(*reference.Graphic());

    MakeFrame();
    TPicture picture(frame->PictureContext());
    struct Change {
        bool pending;
        QImage drawn;
    };
    std::vector<Change> changes;
    picture.LoadFile(photo);
    auto* graphic = dynamic_cast<TSPIBitmap*>(picture.Graphic());
    ASSERT_NE(graphic, nullptr);
    // Its size is not in the file's first bytes; the plug-in took the file all the same.
    ASSERT_TRUE(graphic->DecodePending());
    picture.SetOnChange([&] { changes.push_back({graphic->DecodePending(), Drawn(*graphic)}); });
    QImage untouched(100, 100, QImage::Format_RGB32);
    untouched.fill(Qt::magenta);
    EXPECT_EQ(Drawn(*graphic), untouched) << "nothing is drawn before a stand-in lands";
    ASSERT_TRUE(test::WaitFor([&] { return !graphic->DecodePending(); }, 120000));
    ASSERT_GE(changes.size(), 2u);
    const Change& standIn = changes.front();
    EXPECT_TRUE(standIn.pending) << "the preview came first";
    // The thumbnail is the same picture, turned the same way: close to the decode.
    qint64 difference = 0;
    for (int y = 0; y < 100; ++y)
        for (int x = 0; x < 100; ++x) {
            const QRgb a = standIn.drawn.pixel(x, y), b = shown.pixel(x, y);
            difference += std::abs(qRed(a) - qRed(b)) + std::abs(qGreen(a) - qGreen(b)) +
                          std::abs(qBlue(a) - qBlue(b));
        }
    EXPECT_LT(difference / (100 * 100 * 3), 16) << "mean difference per channel";
    EXPECT_FALSE(changes.back().pending);
    EXPECT_EQ(changes.back().drawn, shown) << "what stays is the picture's own decode";
    EXPECT_EQ(Drawn(*graphic), shown);
    EXPECT_TRUE(messages.Texts().isEmpty());
}

TEST_F(PluginDecode, ADecodeThatFailsIsShownOnceThroughTheErrorDisplay) {
    struct Case {
        const char* what;
        QByteArray loaded;
        QByteArray after; // what the file holds by the time it decodes; empty: unchanged
        QString message;  // how the one message starts; empty: any
    };
    const Case cases[] = {
        // The plug-in takes the header and says the size; the pixels are not there.
        {"pixels missing",
         test::ReadFileBytes(QStringLiteral(SOROWA_TEST_DATA "/png/bad-truncated.png")),
         {},
         {}},
        // Never decoded as if it were the file loaded.
        {"file rewritten", Png(64, 48), Png(48, 64),
         QStringLiteral("画像ファイルが読み込んだ後で変更されています")},
    };
    MakeFrame();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        messages.Clear();
        frame->Decodes().SetHeld(true);
        auto* window = new TForm_Grp(frame.get());
        window->move(8, 8);
        window->LoadPicture(QStringLiteral("1"), folder.Write(QStringLiteral("p.png"), c.loaded));
        TSPIBitmap* picture = PictureOf(window);
        ASSERT_NE(picture, nullptr);
        ASSERT_TRUE(picture->DecodePending()) << "the plug-in took the file at its load";
        if (!c.after.isEmpty()) folder.Write(QStringLiteral("p.png"), c.after);
        frame->Decodes().SetHeld(false);
        ASSERT_TRUE(test::WaitFor([&] { return !picture->DecodePending(); }));
        ASSERT_TRUE(test::WaitFor([&] { return !messages.Texts().isEmpty(); }));
        for (int i = 0; i < 3; ++i) {
            window->Image1()->repaint();
            QCoreApplication::processEvents();
        }
        ASSERT_EQ(messages.Texts().size(), 1) << messages.Texts().join(u'|').toStdString();
        EXPECT_TRUE(messages.Texts()[0].startsWith(c.message)) << messages.Texts()[0].toStdString();
        window->close();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

TEST_F(PluginDecode, ClosingTheFolderWhilePluginsDecodeCancelsWaitsAndLeavesNoMemory) {
    const QByteArray png = Png(1600, 1200);
    ASSERT_FALSE(png.isEmpty());
    const std::uint64_t before = platform::TDecodedBytesBudget::Process().InUse();
    MakeFrame();
    frame->Decodes().SetHeld(true);
    const QList<TForm_Grp*> windows = OpenFolder(60, png);
    test::CloseWhileDecoding(*frame, windows);
    EXPECT_EQ(spi::LiveLocalBlocks(), 0u);
    EXPECT_EQ(platform::TDecodedBytesBudget::Process().InUse(), before);
    EXPECT_TRUE(messages.Texts().isEmpty());
}

} // namespace
