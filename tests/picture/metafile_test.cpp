// The metafile picture: header checks and sizes of both layouts, the crafted corpus drawn and
// compared with the pictures it describes, text in the font's character set, palettes.
#include "picture/metafile.h"
#include "picture/metafile_dc.h"
#include "picture/metafile_records.h"
#include "picture/metafile_text.h"
#include "picture/picture.h"
#include "platform/display.h"
#include "support/cases_file.h"

#include <QImage>
#include <QPainter>
#include <QSet>
#include <gtest/gtest.h>

namespace sorowa {
namespace {

const QString kCrafted = QStringLiteral(SOROWA_TEST_DATA "/metafile");
const QRgb kUntouched = qRgb(255, 0, 255);

// A metafile loaded for a screen of dpi pixels per inch.
void OnDisplay(TMetafile& metafile, int dpi) {
    metafile.SetContext({.display = {.pixelsPerInchX = dpi, .pixelsPerInchY = dpi}});
}

std::vector<QStringList> Cases() {
    return test::ReadCases(kCrafted + QStringLiteral("/cases.tsv"));
}

// The metafile drawn into rect of a canvas of size, untouched pixels magenta.
QImage Render(TMetafile& metafile, QSize size, QRect rect) {
    QImage image(size, QImage::Format_RGB32);
    image.fill(kUntouched);
    QPainter painter(&image);
    TCanvas canvas(painter);
    metafile.Draw(canvas, rect);
    return image;
}

QImage Render(const QString& file) {
    TMetafile metafile;
    metafile.LoadFile(kCrafted + u'/' + file);
    return Render(metafile, QSize(101, 51), QRect(0, 0, 101, 51));
}

// Pixels whose colour differs from the reference by more than 64 in a channel.
int DifferentPixels(const QImage& got, const QImage& expected) {
    int count = 0;
    for (int y = 0; y < expected.height(); ++y)
        for (int x = 0; x < expected.width(); ++x) {
            const QRgb a = got.pixel(x, y);
            const QRgb b = expected.pixel(x, y);
            if (std::abs(qRed(a) - qRed(b)) > 64 || std::abs(qGreen(a) - qGreen(b)) > 64 ||
                std::abs(qBlue(a) - qBlue(b)) > 64)
                ++count;
        }
    return count;
}

QSize ParseSize(const QString& text) {
    const QStringList parts = text.split(u'x');
    return parts.size() == 2 ? QSize(parts[0].toInt(), parts[1].toInt()) : QSize();
}

} // namespace

// Tolerance: at most 1% of the 100 x 50 pixels (50) may differ by more than 64 in a channel
// from the reference; that covers the edge pixels of ellipses and arcs, where the reference
// takes pixel centres and the rasteriser its own rule. Every picture must leave the last
// column and row of the rectangle alone.
TEST(MetafileCorpus, EveryFileGivesItsOutcomeSizeAndPicture) {
    int compared = 0;
    for (const QStringList& c : Cases()) {
        ASSERT_GE(c.size(), 5);
        const QString& file = c[0];
        const QString& outcome = c[1];
        SCOPED_TRACE(file.toStdString());
        TMetafile metafile;
        OnDisplay(metafile, 96);
        if (outcome == QStringLiteral("invalid")) {
            try {
                metafile.LoadFile(kCrafted + u'/' + file);
                ADD_FAILURE() << "loaded";
            } catch (const EInvalidGraphic& e) {
                EXPECT_EQ(e.Message(), QStringLiteral("メタファイルが不正です"));
            }
            EXPECT_TRUE(metafile.Empty());
            continue;
        }
        if (outcome == QStringLiteral("read-error")) {
            EXPECT_THROW(metafile.LoadFile(kCrafted + u'/' + file), EReadError);
            continue;
        }
        ASSERT_NO_THROW(metafile.LoadFile(kCrafted + u'/' + file));
        EXPECT_EQ(metafile.Enhanced(), file.endsWith(QStringLiteral(".emf")));
        EXPECT_EQ(QSize(metafile.MMWidth(), metafile.MMHeight()), ParseSize(c[2]));
        EXPECT_EQ(QSize(metafile.Width(), metafile.Height()), ParseSize(c[3]));
        const QImage drawn = Render(metafile, QSize(101, 51), QRect(0, 0, 101, 51));
        for (int y = 0; y < 51; ++y)
            ASSERT_EQ(drawn.pixel(100, y), kUntouched) << "right edge, row " << y;
        for (int x = 0; x < 101; ++x)
            ASSERT_EQ(drawn.pixel(x, 50), kUntouched) << "bottom edge, column " << x;
        if (c[4] == QStringLiteral("-")) continue;
        const QImage expected(kCrafted + QStringLiteral("/expected/") + c[4] + ".ppm", "PPM");
        ASSERT_FALSE(expected.isNull());
        EXPECT_LE(DifferentPixels(drawn, expected), 50);
        ++compared;
    }
    EXPECT_EQ(compared, 25);
}

TEST(MetafileSize, PixelsFollowTheScreenDensityForWindowsMetafiles) {
    struct Case {
        int dpi;
        QString file;
        QSize pixels;
    };
    const Case cases[] = {
        {120, "wmf-shapes.wmf", {125, 63}}, // 2646 x 1323 hundredths of a mm
        {120, "wmf-inch-0.wmf", {100, 50}}, // the box itself, whatever the screen
        {120, "emf-shapes.emf", {100, 50}}, // the reference device, whatever the screen
    };
    for (const Case& c : cases) {
        TMetafile metafile;
        OnDisplay(metafile, c.dpi);
        metafile.LoadFile(kCrafted + u'/' + c.file);
        EXPECT_EQ(QSize(metafile.Width(), metafile.Height()), c.pixels) << c.file.toStdString();
    }
}

TEST(MetafilePalette, SetWhenTheMetafileCarriesEntries) {
    TMetafile with;
    with.LoadFile(kCrafted + QStringLiteral("/emf-palette.emf"));
    EXPECT_TRUE(with.PaletteModified());
    EXPECT_EQ(with.Palette(), (QList<QRgb>{qRgb(1, 2, 3), qRgb(4, 5, 6)}));
    TMetafile without;
    without.LoadFile(kCrafted + QStringLiteral("/emf-shapes.emf"));
    EXPECT_FALSE(without.PaletteModified());
    EXPECT_TRUE(without.Palette().isEmpty());
}

TEST(MetafileDraw, NothingWhenEmptyAndScaledIntoAnyRectangle) {
    TMetafile empty;
    EXPECT_TRUE(empty.Empty());
    const QImage blank = Render(empty, QSize(20, 20), QRect(0, 0, 20, 20));
    EXPECT_EQ(blank.pixel(10, 10), kUntouched);

    TMetafile metafile;
    metafile.LoadFile(kCrafted + QStringLiteral("/wmf-stretchdib.wmf"));
    const QImage small = Render(metafile, QSize(30, 30), QRect(10, 10, 11, 11));
    EXPECT_EQ(small.pixel(12, 12), qRgb(255, 0, 0)); // top left quadrant
    EXPECT_EQ(small.pixel(18, 18), qRgb(255, 255, 0));
    EXPECT_EQ(small.pixel(9, 12), kUntouched);  // outside the rectangle
    EXPECT_EQ(small.pixel(20, 15), kUntouched); // the last column is moved in
}

TEST(MetafileText, ShiftJisTextComesOutAsTheSameCharacters) {
    const QImage sjis = Render(QStringLiteral("wmf-text-sjis.wmf"));
    const QImage utf16 = Render(QStringLiteral("emf-text-utf16.emf"));
    const QImage ansi = Render(QStringLiteral("wmf-text-ansi.wmf"));
    int inked = 0;
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 100; ++x)
            if (qGray(sjis.pixel(x, y)) < 128) ++inked;
    EXPECT_GT(inked, 100);
    EXPECT_EQ(DifferentPixels(sjis, utf16), 0);
    EXPECT_GT(DifferentPixels(sjis, ansi), 50); // read as Latin text it is other characters
}

TEST(MetafileText, BytesDecodeInTheFontsCharacterSet) {
    struct Case {
        int charset;
        QByteArray bytes;
        QString text;
    };
    const Case cases[] = {
        {metafile::kShiftJisCharset, QByteArray("\x93\xfa\x96\x7b\x8c\xea"), "日本語"},
        {metafile::kDefaultCharset, QByteArray("A\x83\x65"), "Aテ"},
        {metafile::kShiftJisCharset, QByteArray("\x5c\x81"),
         "\\\uFFFD"}, // lone lead byte at the end
        {metafile::kAnsiCharset, QByteArray("caf\xe9"), "café"},
        {204, QByteArray("\xc0\xe1"), "Аб"},
        {metafile::kSymbolCharset, QByteArray("\x61\xb7"), "a\u00b7"},
    };
    for (const Case& c : cases) {
        const auto* data = reinterpret_cast<const std::uint8_t*>(c.bytes.constData());
        EXPECT_EQ(metafile::DecodeText({data, static_cast<std::size_t>(c.bytes.size())}, c.charset),
                  c.text)
            << c.charset;
    }
}

// A chart with a y-up window writes its vertical axis title with an escapement of 2700: the
// escapement turns as the logical axes run, so that title reads upwards on the target too.
TEST(MetafileText, EscapementTurnsAsTheLogicalAxesRun) {
    struct Case {
        bool yUp;
        int escapement;
        bool upwards;
    };
    const Case cases[] = {
        {false, 900, true}, {false, 2700, false}, {true, 2700, true}, {true, 900, false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "y up " << c.yUp << ", escapement " << c.escapement);
        QImage image(60, 60, QImage::Format_RGB32);
        image.fill(Qt::white);
        QPainter painter(&image);
        {
            metafile::MetaDC dc(painter, QRectF(0, 0, 60, 60), QTransform(), 4, 4, 4);
            if (c.yUp) { // logical y 0 at the bottom, 60 at the top
                dc.SetMapMode(metafile::kMmAnisotropic);
                dc.SetWindowOrg(QPointF(0, 60));
                dc.SetWindowExt(QPointF(60, -60));
                dc.SetViewportExt(QPointF(60, 60));
            }
            metafile::GdiObject font;
            font.kind = metafile::GdiObject::Kind::Font;
            font.font.height = -16;
            font.font.escapement = c.escapement;
            dc.PutObject(1, font);
            dc.SelectObject(1);
            dc.SetBkMode(metafile::kTransparent);
            dc.SetTextAlign(metafile::kTaBaseline);
            dc.TextOut(QPointF(30, 30), QStringLiteral("HHH"), 0, nullptr, {});
        }
        painter.end();
        int above = 0; // inked pixels above the reference point's row, and below it
        int below = 0;
        for (int y = 0; y < 60; ++y)
            for (int x = 0; x < 60; ++x)
                if (qGray(image.pixel(x, y)) < 128) {
                    if (y < 28) ++above;
                    if (y > 32) ++below;
                }
        EXPECT_GT(c.upwards ? above : below, 40);
        EXPECT_EQ(c.upwards ? below : above, 0);
    }
}

TEST(MetafileDrawingState, HatchedBrushesShowTheBackgroundColourOnlyWhenOpaque) {
    for (const int bkMode : {metafile::kTransparent, metafile::kOpaque}) {
        QImage image(32, 32, QImage::Format_RGB32);
        image.fill(kUntouched);
        QPainter painter(&image);
        {
            metafile::MetaDC dc(painter, QRectF(0, 0, 32, 32), QTransform(), 4, 4, 4);
            metafile::GdiObject brush;
            brush.kind = metafile::GdiObject::Kind::Brush;
            brush.brush.style = metafile::kBsHatched;
            brush.brush.hatch = metafile::kHsCross;
            brush.brush.color = Qt::red;
            dc.PutObject(1, brush);
            dc.SelectObject(1);
            dc.SelectStockObject(metafile::kNullPen);
            dc.SetBkColor(Qt::green);
            dc.SetBkMode(bkMode);
            dc.Rectangle(QRectF(0, 0, 32, 32));
        }
        QSet<QRgb> colours;
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x)
                colours.insert(image.pixel(x, y));
        const QSet<QRgb> expected{qRgb(255, 0, 0),
                                  bkMode == metafile::kOpaque ? qRgb(0, 255, 0) : kUntouched};
        EXPECT_EQ(colours, expected) << bkMode;
    }
}

// A blit whose source reaches past its bitmap draws only the part on the bitmap, mirrored or
// not, and never makes a copy the size of the source (a crafted record named one of 3 GB).
TEST(MetafileBitmaps, MirroredBlitsMirrorThePlainOneAlsoWhenTheSourcePassesTheBitmap) {
    QImage bitmap(2, 2, QImage::Format_RGB32);
    bitmap.setPixel(0, 0, qRgb(255, 0, 0));
    bitmap.setPixel(1, 0, qRgb(0, 255, 0));
    bitmap.setPixel(0, 1, qRgb(0, 0, 255));
    bitmap.setPixel(1, 1, qRgb(255, 255, 0));
    const auto blit = [&](bool mirrorX, bool mirrorY, const QRectF& source) {
        QImage image(32, 32, QImage::Format_RGB32);
        image.fill(kUntouched);
        QPainter painter(&image);
        {
            metafile::MetaDC dc(painter, QRectF(0, 0, 32, 32), QTransform(), 4, 4, 4);
            const QRectF dest(mirrorX ? 32 : 0, mirrorY ? 32 : 0, mirrorX ? -32 : 32,
                              mirrorY ? -32 : 32);
            dc.Blit(dest, bitmap, source, metafile::kSrcCopy);
        }
        return image;
    };
    for (const QRectF source :
         {QRectF(0, 0, 2, 2), QRectF(0, 0, 4, 4), QRectF(-2, 0, 4, 8), QRectF(0, 0, 30000, 30000)})
        for (const bool mirrorX : {false, true})
            for (const bool mirrorY : {false, true}) {
                SCOPED_TRACE(testing::Message()
                             << source.x() << "," << source.y() << " " << source.width() << "x"
                             << source.height() << " mirrored " << mirrorX << mirrorY);
                EXPECT_EQ(blit(mirrorX, mirrorY, source),
                          blit(false, false, source).mirrored(mirrorX, mirrorY));
            }
}

// Handlers read a short record's fixed fields as zeros and never past its end, however far
// a skip over a field goes.
TEST(MetafileRecords, FieldsPastTheEndReadAsZero) {
    const std::uint8_t bytes[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06};
    const metafile::Record record(bytes);
    metafile::FieldReader f(record, 0);
    EXPECT_EQ(f.U32(), 0x04030201u);
    EXPECT_EQ(f.U32(), 0u); // only two of its bytes are there
    metafile::FieldReader skipped(record, 2);
    skipped.Skip(SIZE_MAX);
    EXPECT_EQ(skipped.Offset(), SIZE_MAX);
    EXPECT_EQ(skipped.U16(), 0);
    EXPECT_EQ(skipped.Offset(), SIZE_MAX);
}

TEST(MetafileLoad, ThroughTheHolderByExtension) {
    TPicture picture;
    picture.LoadFile(kCrafted + QStringLiteral("/emf-shapes.emf"));
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(&picture.Graphic()->ClassType(), &TMetafile::Class);
    EXPECT_TRUE(picture.Graphic()->Transparent());
}

} // namespace sorowa
