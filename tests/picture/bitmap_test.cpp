// The bitmap picture: loading (errors as the user sees them), its palette facts, and drawing
// stretched with the mode the display depth calls for.
#include "picture/bitmap.h"
#include "workspace/image.h"
#include "picture/stream.h"
#include "platform/display.h"
#include "support/cases_file.h"
#include "support/shared_data.h"
#include "support/temp_folder.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <QSet>
#include <functional>
#include <gtest/gtest.h>
#include <typeinfo>

namespace sorowa {
namespace {

const QString kCrafted = QStringLiteral(SOROWA_TEST_DATA "/bmp");

QString Crafted(const QString& name) {
    return kCrafted + u'/' + name + QStringLiteral(".bmp");
}

// What a load did: "ok", or the error's kind and message.
struct Outcome {
    QString kind;
    QString message;
};

Outcome Load(const std::function<void()>& load) {
    try {
        load();
        return {QStringLiteral("ok"), {}};
    } catch (const EInvalidGraphic& e) {
        return {QStringLiteral("EInvalidGraphic"), e.Message()};
    } catch (const EReadError& e) {
        return {QStringLiteral("EReadError"), e.Message()};
    } catch (const EOutOfResources& e) {
        return {QStringLiteral("EOutOfResources"), e.Message()};
    } catch (const Exception& e) {
        return {QString::fromLatin1(typeid(e).name()), e.Message()};
    }
}

// Little-endian bitmap files for the drawing tests.
void Put(QByteArray& b, quint32 v, int bytes) {
    for (int i = 0; i < bytes; ++i)
        b.append(char((v >> (8 * i)) & 0xFF));
}

QByteArray Bmp(int width, int height, int bits, const QList<QRgb>& table,
               const std::function<quint32(int, int)>& pixel) {
    const int stride = (width * bits + 31) / 32 * 4;
    QByteArray rows;
    for (int y = height - 1; y >= 0; --y) {
        QByteArray row(stride, '\0');
        for (int x = 0; x < width; ++x) {
            const quint32 v = pixel(x, y);
            if (bits >= 8) {
                for (int i = 0; i < bits / 8; ++i)
                    row[x * bits / 8 + i] = char((v >> (8 * i)) & 0xFF);
            } else {
                const int bit = x * bits;
                row[bit / 8] = char(row[bit / 8] | v << (8 - bits - bit % 8));
            }
        }
        rows += row;
    }
    QByteArray b("BM");
    const int offset = 14 + 40 + 4 * int(table.size());
    Put(b, quint32(offset + rows.size()), 4);
    Put(b, 0, 4);
    Put(b, quint32(offset), 4);
    for (quint32 v : {40u, quint32(width), quint32(height)})
        Put(b, v, 4);
    Put(b, 1, 2);
    Put(b, quint32(bits), 2);
    for (quint32 v : {0u, 0u, 0u, 0u, quint32(table.size()), 0u})
        Put(b, v, 4);
    for (QRgb c : table)
        Put(b, c & 0xFFFFFF, 4);
    return b + rows;
}

void LoadBytes(TBitmap& bitmap, const QByteArray& bytes) {
    TMemoryStream stream(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    bitmap.LoadFromStream(stream);
}

QSet<QRgb> Colours(const QImage& image) {
    QSet<QRgb> colours;
    const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
    for (int y = 0; y < rgb.height(); ++y)
        for (int x = 0; x < rgb.width(); ++x)
            colours.insert(rgb.pixel(x, y) | 0xFF000000);
    return colours;
}

// Draws bitmap stretched onto a w x h white surface through a canvas of the given depth
// (0: the display's), with or without smooth scaling asked of the painter.
QImage DrawInto(TBitmap& bitmap, int w, int h, int canvasBits = 0, bool smoothHint = false) {
    QImage target(w, h, QImage::Format_RGB32);
    target.fill(Qt::white);
    QPainter painter(&target);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, smoothHint);
    TCanvas canvas(painter, canvasBits);
    bitmap.Draw(canvas, QRect(0, 0, w, h));
    return target;
}

// Loading -------------------------------------------------------------------------------

TEST(TBitmapLoad, EachCraftedFileGivesItsPictureOrItsErrorAndNothingElse) {
    const QString invalid = QStringLiteral("ビットマップイメージが不正です");
    const QString readError = QStringLiteral("ストリームからの読み込みエラー");
    int files = 0;
    for (const QStringList& fields : test::ReadCases(kCrafted + QStringLiteral("/cases.tsv"))) {
        const QString name = fields.value(0), outcome = fields.value(1);
        SCOPED_TRACE(name.toStdString());
        ++files;
        TBitmap bitmap;
        int changes = 0;
        bitmap.SetOnChange([&](TGraphic&) { ++changes; });
        const Outcome got = Load([&] { bitmap.LoadFile(Crafted(name)); });
        if (outcome == QStringLiteral("ok")) {
            ASSERT_EQ(got.kind.toStdString(), "ok");
            const QImage expected(
                kCrafted + QStringLiteral("/expected/") + name + QStringLiteral(".ppm"), "PPM");
            EXPECT_EQ(bitmap.Width(), expected.width());
            EXPECT_EQ(bitmap.Height(), expected.height());
            EXPECT_EQ(bitmap.Image().convertToFormat(QImage::Format_RGB32),
                      expected.convertToFormat(QImage::Format_RGB32));
            EXPECT_EQ(changes, 1);
            continue;
        }
        if (outcome == QStringLiteral("empty")) {
            EXPECT_EQ(got.kind.toStdString(), "ok");
            EXPECT_TRUE(bitmap.Empty());
            continue;
        }
        // A failed load raises exactly its error, changes nothing and notifies no one.
        if (outcome == QStringLiteral("invalid")) {
            EXPECT_EQ(got.kind.toStdString(), "EInvalidGraphic");
            EXPECT_EQ(got.message, invalid);
        } else if (outcome == QStringLiteral("truncated")) {
            EXPECT_EQ(got.kind.toStdString(), "EReadError");
            EXPECT_EQ(got.message, readError);
        } else {
            ASSERT_EQ(outcome.toStdString(), "too-large");
            EXPECT_EQ(got.kind.toStdString(), "EOutOfResources");
            EXPECT_FALSE(got.message.isEmpty());
        }
        EXPECT_EQ(changes, 0);
        EXPECT_TRUE(bitmap.Empty());
    }
    EXPECT_GT(files, 60);
}

TEST(TBitmapLoad, AFailedLoadKeepsThePreviousPicture) {
    TBitmap bitmap;
    bitmap.LoadFile(Crafted(QStringLiteral("rgb24")));
    const QImage before = bitmap.Image();
    for (const char* bad : {"not-bm", "truncated-colour-table", "huge-dimensions"}) {
        SCOPED_TRACE(bad);
        EXPECT_THROW(bitmap.LoadFile(Crafted(QString::fromLatin1(bad))), Exception);
        EXPECT_EQ(bitmap.Image(), before);
        EXPECT_EQ(bitmap.BitCount(), 24);
    }
}

TEST(TBitmapLoad, ZeroByteFileIsAnEmptyPictureWithoutError) {
    test::TempFolder folder;
    const QString path = folder.Write(QStringLiteral("blank.bmp"), QByteArray());
    TBitmap bitmap;
    LoadBytes(bitmap, test::MakeBmp(3, 3)); // something to replace
    ASSERT_FALSE(bitmap.Empty());
    EXPECT_NO_THROW(bitmap.LoadFile(path));
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_EQ(bitmap.Width(), 0);
    EXPECT_EQ(bitmap.Height(), 0);
    // Drawing nothing paints nothing.
    const QImage drawn = DrawInto(bitmap, 8, 8, 24);
    EXPECT_EQ(Colours(drawn), QSet<QRgb>{qRgb(255, 255, 255)});
}

TEST(TBitmapLoad, ReadsFromTheStreamsPositionWithOffsetsCountedFromThere) {
    const QByteArray file = test::ReadFileBytes(Crafted(QStringLiteral("offset-gap")));
    ASSERT_FALSE(file.isEmpty());
    QByteArray bytes = QByteArray(29, '\x5A') + file;
    TMemoryStream stream(std::vector<std::uint8_t>(bytes.begin(), bytes.end()));
    stream.SetPosition(29);
    TBitmap embedded;
    embedded.LoadFromStream(stream);
    TBitmap alone;
    alone.LoadFile(Crafted(QStringLiteral("offset-exact")));
    EXPECT_EQ(embedded.Image(), alone.Image());
}

TEST(TBitmapLoad, PaletteIsKeptAndFlaggedWhenTheFileHasOne) {
    struct Expect {
        const char* name;
        int paletteSize;
    };
    for (const Expect& e :
         {Expect{"pal8-colorsused20", 20}, Expect{"pal1", 2}, Expect{"rgb24-with-table", 2},
          Expect{"rgb24", 0}, Expect{"rgb16-565", 0}}) {
        SCOPED_TRACE(e.name);
        TBitmap bitmap;
        bitmap.LoadFile(Crafted(QString::fromLatin1(e.name)));
        EXPECT_EQ(bitmap.Palette().size(), e.paletteSize);
        EXPECT_EQ(bitmap.PaletteModified(), e.paletteSize > 0);
        EXPECT_TRUE(bitmap.Modified());
    }
}

TEST(TBitmapLoad, Os2BitmapHasTheSameColoursAsItsWindowsTwin) {
    TBitmap os2, win;
    os2.LoadFile(Crafted(QStringLiteral("os2-pal4")));
    win.LoadFile(Crafted(QStringLiteral("win-pal4")));
    EXPECT_EQ(os2.Palette(), win.Palette());
    EXPECT_EQ(os2.Image(), win.Image());
    EXPECT_EQ(Colours(os2.Image()), Colours(win.Image()));
}

TEST(TBitmapLoad, SharedBadFilesGiveAPictureOrOneOfTheBitmapErrors) {
    const QString bad = QStringLiteral(SOROWA_SHARED_DATA "/bmpsuite/bad/");
    SOROWA_SKIP_WITHOUT(bad);
    const QStringList files = QDir(bad).entryList(QDir::Files);
    ASSERT_GE(files.size(), 20);
    for (const QString& name : files) {
        SCOPED_TRACE(name.toStdString());
        TBitmap bitmap;
        const Outcome got = Load([&] { bitmap.LoadFile(bad + name); });
        if (got.kind == QStringLiteral("ok")) {
            EXPECT_FALSE(bitmap.Empty());
            // Whatever it shows can be drawn.
            DrawInto(bitmap, 16, 16, 8);
            continue;
        }
        EXPECT_TRUE(got.kind == QStringLiteral("EInvalidGraphic") ||
                    got.kind == QStringLiteral("EReadError") ||
                    got.kind == QStringLiteral("EOutOfResources"))
            << got.kind.toStdString();
        EXPECT_FALSE(got.message.isEmpty());
    }
}

// Drawing -------------------------------------------------------------------------------

constexpr QRgb kQuadrant[4] = {0xFFC02010, 0xFF10C020, 0xFF2010C0, 0xFFE0E040};

QByteArray Quadrants100x50() {
    return Bmp(100, 50, 24, {}, [](int x, int y) {
        return kQuadrant[(x >= 50 ? 1 : 0) + (y >= 25 ? 2 : 0)] & 0xFFFFFF;
    });
}

TEST(TBitmapDraw, HundredByFiftyFillsAStretchedImageControlOf120By120) {
    test::TempFolder folder;
    const QString path = folder.Write(QStringLiteral("wide.bmp"), Quadrants100x50());
    TImage image(TPictureContext{.display = {.bitsPerPixel = 24}}, nullptr);
    image.SetStretch(true);
    image.resize(120, 120);
    // The control's background would show through any pixel the picture leaves.
    QPalette palette = image.palette();
    palette.setColor(QPalette::Window, Qt::magenta);
    image.setPalette(palette);
    image.setAutoFillBackground(true);
    image.Picture().LoadFile(path);
    const QImage shot = image.grab().toImage().convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(shot.size(), QSize(120, 120));
    for (int y = 0; y < 120; ++y)
        for (int x = 0; x < 120; ++x) {
            const QRgb p = shot.pixel(x, y) | 0xFF000000;
            // Each quarter of the control shows its quarter of the bitmap; on the seams
            // either neighbour is right.
            QSet<QRgb> allowed;
            for (int dx : {-1, 0, 1})
                for (int dy : {-1, 0, 1}) {
                    const int qx = x + dx, qy = y + dy;
                    if (qx < 0 || qy < 0 || qx >= 120 || qy >= 120) continue;
                    allowed.insert(kQuadrant[(qx >= 60 ? 1 : 0) + (qy >= 60 ? 2 : 0)]);
                }
            ASSERT_TRUE(allowed.contains(p))
                << "pixel (" << x << "," << y << ") is #" << std::hex << (p & 0xFFFFFF);
        }
}

// Black and white stripes one pixel wide: stretched with smoothing they give greys,
// stretched pixel by pixel only black and white.
bool Blended(const QImage& drawn) {
    for (QRgb c : Colours(drawn))
        if (c != qRgb(0, 0, 0) && c != qRgb(255, 255, 255)) return true;
    return false;
}

QByteArray Stripes(int bits) {
    const QList<QRgb> table =
        bits <= 8 ? QList<QRgb>{qRgb(0, 0, 0), qRgb(255, 255, 255)} : QList<QRgb>{};
    return Bmp(4, 2, bits, table, [bits](int x, int) -> quint32 {
        if (bits <= 8) return quint32(x % 2);
        return x % 2 ? 0xFFFFFF : 0;
    });
}

TEST(TBitmapDraw, HalftoneOnlyOnPaletteDisplaysShallowerThanTheBitmap) {
    struct Expect {
        int bitmapBits;
        int screenBits;
        bool halftone;
    };
    for (const Expect& e : {Expect{24, 8, true}, Expect{32, 8, true}, Expect{16, 4, true},
                            Expect{8, 4, true}, Expect{24, 16, false}, Expect{24, 24, false},
                            Expect{24, 32, false}, Expect{8, 8, false}, Expect{4, 8, false}}) {
        SCOPED_TRACE(testing::Message() << e.bitmapBits << " bits on " << e.screenBits);
        TBitmap bitmap;
        LoadBytes(bitmap, Stripes(e.bitmapBits));
        EXPECT_EQ(Blended(DrawInto(bitmap, 37, 5, e.screenBits)), e.halftone);
    }
}

// The stripes as RLE8 codes: per row an absolute run of four pixels, then end of line.
QByteArray RleStripes() {
    QByteArray codes;
    for (int row = 0; row < 2; ++row)
        codes += QByteArray("\0\4\0\1\0\1\0\0", 8);
    codes += QByteArray("\0\1", 2);
    QByteArray b("BM");
    const int offset = 14 + 40 + 8;
    Put(b, quint32(offset + codes.size()), 4);
    Put(b, 0, 4);
    Put(b, quint32(offset), 4);
    for (quint32 v : {40u, 4u, 2u})
        Put(b, v, 4);
    Put(b, 1, 2);
    Put(b, 8, 2);
    for (quint32 v : {1u, quint32(codes.size()), 0u, 0u, 2u, 0u})
        Put(b, v, 4);
    Put(b, 0x000000, 4);
    Put(b, 0xFFFFFF, 4);
    return b + codes;
}

TEST(TBitmapDraw, RunLengthBitmapsDrawAsDeepAsTheScreen) {
    // Run-length pixels become a bitmap of the display's depth, which is never deeper than
    // the display: no halftone even on a 4-bit display, where plain 8-bit pixels get it.
    TBitmap rle, plain;
    rle.SetContext({.display = {.bitsPerPixel = 4}});
    LoadBytes(rle, RleStripes());
    LoadBytes(plain, Stripes(8));
    ASSERT_EQ(rle.Image().convertToFormat(QImage::Format_RGB32),
              plain.Image().convertToFormat(QImage::Format_RGB32));
    EXPECT_EQ(rle.BitCount(), 4);
    EXPECT_FALSE(Blended(DrawInto(rle, 37, 5, 4)));
    EXPECT_TRUE(Blended(DrawInto(plain, 37, 5, 4)));
}

TEST(TBitmapDraw, MonochromeBitmapKeepsThePaintersMode) {
    TBitmap bitmap;
    LoadBytes(bitmap, Stripes(1));
    ASSERT_EQ(bitmap.BitCount(), 1);
    for (int screen : {4, 8, 24}) {
        SCOPED_TRACE(screen);
        EXPECT_FALSE(Blended(DrawInto(bitmap, 37, 5, screen, false)));
        EXPECT_TRUE(Blended(DrawInto(bitmap, 37, 5, screen, true)));
    }
}

TEST(TBitmapDraw, ImageControlFollowsTheDisplayDepth) {
    test::TempFolder folder;
    const QString path = folder.Write(QStringLiteral("stripes.bmp"), Stripes(24));
    for (const auto& [bits, halftone] : {std::pair{8, true}, std::pair{32, false}}) {
        TImage image(TPictureContext{.display = {.bitsPerPixel = bits}}, nullptr);
        image.SetStretch(true);
        image.resize(37, 9);
        image.Picture().LoadFile(path);
        EXPECT_EQ(Blended(image.grab().toImage()), halftone) << bits;
    }
}

TEST(TBitmapDraw, RedrawsAfterTheSizeOrThePictureChanges) {
    TBitmap bitmap;
    LoadBytes(bitmap, Bmp(2, 1, 24, {}, [](int x, int) { return x ? 0x0000FFu : 0xFF0000u; }));
    QImage target(40, 10, QImage::Format_RGB32);
    target.fill(Qt::white);
    {
        QPainter painter(&target);
        TCanvas canvas(painter, 24);
        bitmap.Draw(canvas, QRect(0, 0, 40, 10));
        bitmap.Draw(canvas, QRect(0, 0, 10, 10)); // smaller, over the red half
        LoadBytes(bitmap, Bmp(1, 1, 24, {}, [](int, int) { return 0x00FF00u; }));
        bitmap.Draw(canvas, QRect(30, 0, 10, 10));
    }
    EXPECT_EQ(target.pixel(2, 2), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(7, 2), qRgb(0, 0, 255));
    EXPECT_EQ(target.pixel(15, 2), qRgb(255, 0, 0));
    EXPECT_EQ(target.pixel(25, 2), qRgb(0, 0, 255));
    EXPECT_EQ(target.pixel(35, 2), qRgb(0, 255, 0));
}

} // namespace
} // namespace sorowa
