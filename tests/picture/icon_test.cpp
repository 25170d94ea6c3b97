// The icon picture: entry choice by the display's colour count, the crafted corpus drawn
// against the pictures it describes, transparency, and errors at load and at first draw.
#include "picture/ico_reader.h"
#include "picture/icon.h"
#include "picture/picture.h"
#include "picture/stream.h"
#include "platform/display.h"
#include "support/cases_file.h"

#include <QFile>
#include <QPainter>
#include <gtest/gtest.h>

namespace sorowa {
namespace {

const QString kCrafted = QStringLiteral(SOROWA_TEST_DATA "/ico");

QString Crafted(const QString& name) {
    return kCrafted + u'/' + name + QStringLiteral(".ico");
}

// A 32 x 32 RGBA PAM as written by make_corpus.py, as premultiplied pixels.
QImage ReadPam(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    const qsizetype end = bytes.indexOf("ENDHDR\n");
    if (end < 0) return {};
    const QByteArray pixels = bytes.mid(end + 7);
    if (pixels.size() != 32 * 32 * 4) return {};
    QImage image(32, 32, QImage::Format_ARGB32);
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 32; ++x) {
            const auto* p = reinterpret_cast<const uchar*>(pixels.constData()) + 4 * (y * 32 + x);
            image.setPixel(x, y, qRgba(p[0], p[1], p[2], p[3]));
        }
    return image.convertToFormat(QImage::Format_ARGB32_Premultiplied);
}

// An icon loaded for a display of the given depth.
void OnDisplay(TIcon& icon, int bits) {
    icon.SetContext({.display = {.bitsPerPixel = bits}});
}

std::vector<QStringList> Cases() {
    return test::ReadCases(kCrafted + QStringLiteral("/cases.tsv"));
}

ico::IconEntry Entry(int colors) {
    ico::IconEntry e;
    e.colorCount = static_cast<std::uint16_t>(colors);
    return e;
}

} // namespace

TEST(IconEntryChoice, FollowsTheDisplaysColourCount) {
    struct Case {
        int displayBits;
        std::vector<int> entryColors;
        std::size_t chosen;
    };
    const Case cases[] = {
        {24, {2, 16, 0}, 2}, // 24 bits: count 0, taken when met
        {24, {16, 2}, 0},    // nothing fits 0: the first entry
        {4, {2, 16, 0}, 1},  // exact 16
        {4, {0, 2, 0}, 1},   // 2 fits 16 and nothing later exceeds 2
        {8, {2, 16, 0}, 1},  // 256 colours: 2 fits, 16 exceeds 2 and replaces it
        {8, {16, 2, 0}, 0},  // 16 fits first; 2 and 0 do not exceed 16
        {8, {0, 16, 2}, 2},  // 0 fits first; 16 and then 2 both exceed 0
        {1, {16, 2}, 1},     // monochrome: exact 2
        {16, {16, 0, 2}, 1}, // 16 bits: 2^16 kept in 16 bits is 0, met exactly
        {32, {2, 0}, 1},     // so is 32 bits
    };
    for (const Case& c : cases) {
        std::vector<ico::IconEntry> entries;
        for (int colors : c.entryColors)
            entries.push_back(Entry(colors));
        EXPECT_EQ(ico::ChooseIconEntry(
                      entries, platform::TDisplay{.bitsPerPixel = c.displayBits}.ColorCount()),
                  c.chosen)
            << c.displayBits << " bits";
    }
}

TEST(IconCorpus, EveryFileGivesItsOutcome) {
    int drawn = 0;
    for (const QStringList& c : Cases()) {
        const QString name = c[0];
        const QString outcome = c[1];
        SCOPED_TRACE(name.toStdString());
        TIcon icon;
        OnDisplay(icon, 24);
        if (outcome == QStringLiteral("cursor")) {
            try {
                icon.LoadFile(Crafted(name));
                ADD_FAILURE() << "loaded";
            } catch (const EInvalidGraphic& e) {
                EXPECT_EQ(e.Message(), QStringLiteral("アイコンイメージが不正です"));
            }
            continue;
        }
        if (outcome == QStringLiteral("short")) {
            EXPECT_THROW(icon.LoadFile(Crafted(name)), EReadError);
            continue;
        }
        ASSERT_NO_THROW(icon.LoadFile(Crafted(name)));
        EXPECT_EQ(icon.Width(), 32);
        EXPECT_EQ(icon.Height(), 32);
        if (outcome == QStringLiteral("damaged")) {
            try {
                icon.IconImage();
                ADD_FAILURE() << "decoded";
            } catch (const EOutOfResources& e) {
                EXPECT_EQ(e.Message(), QStringLiteral("システム リソースが足りません"));
            }
            continue;
        }
        const QImage expected = ReadPam(kCrafted + QStringLiteral("/expected/") + name + ".pam");
        ASSERT_FALSE(expected.isNull());
        EXPECT_EQ(icon.IconImage(), expected);
        ++drawn;
    }
    EXPECT_EQ(drawn, 9);
}

TEST(IconCorpus, ChoiceOnPaletteDisplays) {
    struct Case {
        int bits;
        QRgb colour;
    };
    for (const Case& c : {Case{1, qRgb(255, 255, 255)}, Case{4, qRgb(255, 0, 0)},
                          Case{8, qRgb(255, 0, 0)}, Case{24, qRgb(0, 0, 255)}}) {
        TIcon icon;
        OnDisplay(icon, c.bits);
        icon.LoadFile(Crafted(QStringLiteral("choice-2-16-0")));
        EXPECT_EQ(icon.IconImage().pixel(5, 5), c.colour) << c.bits;
    }
}

TEST(IconDraw, UnscaledAtTheTopLeftWithTheBackgroundShowingThrough) {
    TIcon icon;
    OnDisplay(icon, 24);
    icon.LoadFile(Crafted(QStringLiteral("pal4-16-only")));
    EXPECT_TRUE(icon.Transparent());
    QImage target(100, 80, QImage::Format_RGB32);
    const QRgb background = qRgb(10, 200, 30);
    target.fill(background);
    {
        QPainter painter(&target);
        TCanvas canvas(painter);
        icon.Draw(canvas, QRect(5, 7, 90, 70));
    }
    // The middle square (pixels 8..23 of the icon) is opaque; the rest is transparent.
    // Icon pixel (18, 16) is image pixel (9, 8), colour 17 % 16 = 1; (23, 23) is (11, 11),
    // colour 6: each image pixel covers two by two.
    EXPECT_EQ(target.pixel(5 + 18, 7 + 16), qRgb(128, 0, 0));
    EXPECT_EQ(target.pixel(5 + 23, 7 + 23), qRgb(0, 128, 128));
    EXPECT_EQ(target.pixel(5 + 24, 7 + 23), background);
    EXPECT_EQ(target.pixel(5 + 2, 7 + 2), background);   // transparent corner
    EXPECT_EQ(target.pixel(5 + 40, 7 + 10), background); // beside the icon
    EXPECT_EQ(target.pixel(5 + 10, 7 + 40), background); // below it
    EXPECT_EQ(target.pixel(4, 6), background);
}

TEST(IconDraw, DamagedIconFailsAtTheFirstDrawOnly) {
    TIcon icon;
    icon.LoadFile(Crafted(QStringLiteral("offset-past-end")));
    QImage target(40, 40, QImage::Format_RGB32);
    target.fill(Qt::white);
    QPainter painter(&target);
    TCanvas canvas(painter);
    EXPECT_THROW(icon.Draw(canvas, target.rect()), EOutOfResources);
    EXPECT_NO_THROW(icon.Draw(canvas, target.rect()));
}

TEST(IconLoad, TypeZeroDrawsTheStockApplicationIcon) {
    const std::vector<std::uint8_t> bytes{0, 0, 0, 0, 0, 0};
    TMemoryStream stream(bytes);
    TIcon icon;
    icon.LoadFromStream(stream);
    EXPECT_EQ(icon.IconImage().size(), QSize(32, 32));
    EXPECT_NE(icon.IconImage().pixel(16, 16), qRgba(0, 0, 0, 0));
}

TEST(IconLoad, ThroughTheHolderByExtension) {
    TPicture picture;
    picture.LoadFile(Crafted(QStringLiteral("png-32")));
    ASSERT_NE(picture.Graphic(), nullptr);
    EXPECT_EQ(&picture.Graphic()->ClassType(), &TIcon::Class);
    EXPECT_EQ(picture.Width(), 32);
}

} // namespace sorowa
