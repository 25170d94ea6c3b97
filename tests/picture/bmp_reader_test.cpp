// The bitmap reader against crafted files (tests/data/bmp, written by make_corpus.py) and the
// shared bmpsuite corpus. Decoded pixels are compared with two witnesses that do not share
// our code: the picture the generator meant to encode (expected/*.ppm, computed from the
// logical pixels), and Qt's own BMP reader, which here only checks the generator.
#include "picture/bmp_reader.h"
#include "support/cases_file.h"
#include "support/shared_data.h"

#include <QDir>
#include <QFile>
#include <QImage>
#include <QStringList>
#include <cstdlib>
#include <gtest/gtest.h>
#include <map>
#include <vector>

namespace sorowa::bmp {
namespace {

const QString kCrafted = QStringLiteral(SOROWA_TEST_DATA "/bmp");
const QString kSuite = QStringLiteral(SOROWA_SHARED_DATA "/bmpsuite");

std::vector<std::uint8_t> ReadBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    const QByteArray bytes = file.readAll();
    return {bytes.begin(), bytes.end()};
}

// Decodes from a buffer of exactly the file's size, so that AddressSanitizer sees any read
// past the end.
BmpImage DecodeFile(const QString& path) {
    const std::vector<std::uint8_t> bytes = ReadBytes(path);
    return DecodeBmp(bytes);
}

// First differing pixel as text, or empty when both pictures are equal in size and colour.
// tolerance: how far each channel may be off; only pixels that are black in mask (when
// given) are compared.
QString Difference(const QImage& actual, const QImage& expected, int tolerance = 0,
                   const QImage& mask = {}) {
    if (actual.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(actual.width())
            .arg(actual.height())
            .arg(expected.width())
            .arg(expected.height());
    const QImage a = actual.convertToFormat(QImage::Format_RGB32);
    const QImage e = expected.convertToFormat(QImage::Format_RGB32);
    auto near = [tolerance](QRgb p, QRgb q) {
        return std::abs(qRed(p) - qRed(q)) <= tolerance &&
               std::abs(qGreen(p) - qGreen(q)) <= tolerance &&
               std::abs(qBlue(p) - qBlue(q)) <= tolerance;
    };
    for (int y = 0; y < a.height(); ++y)
        for (int x = 0; x < a.width(); ++x) {
            if (!mask.isNull() && qGray(mask.pixel(x, y)) != 0) continue;
            if (!near(a.pixel(x, y), e.pixel(x, y)))
                return QStringLiteral("pixel (%1,%2) is #%3, expected #%4")
                    .arg(x)
                    .arg(y)
                    .arg(a.pixel(x, y) & 0xFFFFFF, 6, 16, QChar(u'0'))
                    .arg(e.pixel(x, y) & 0xFFFFFF, 6, 16, QChar(u'0'));
        }
    return {};
}

bool Opaque(const QImage& image) {
    const QImage argb = image.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < argb.height(); ++y)
        for (int x = 0; x < argb.width(); ++x)
            if (qAlpha(argb.pixel(x, y)) != 255) return false;
    return true;
}

struct Case {
    QString name;
    QString outcome;
};

std::vector<Case> CraftedCases() {
    std::vector<Case> cases;
    for (const QStringList& fields : test::ReadCases(kCrafted + QStringLiteral("/cases.tsv")))
        cases.push_back({fields.value(0), fields.value(1)});
    return cases;
}

BmpStatus StatusFor(const QString& outcome) {
    static const std::map<QString, BmpStatus> kStatus = {
        {QStringLiteral("ok"), BmpStatus::Ok},
        {QStringLiteral("empty"), BmpStatus::Empty},
        {QStringLiteral("invalid"), BmpStatus::Invalid},
        {QStringLiteral("truncated"), BmpStatus::Truncated},
        {QStringLiteral("too-large"), BmpStatus::TooLarge},
    };
    const auto it = kStatus.find(outcome);
    return it == kStatus.end() ? BmpStatus::OutOfMemory : it->second;
}

QString CraftedPath(const QString& name) {
    return kCrafted + u'/' + name + QStringLiteral(".bmp");
}
QImage Expected(const QString& name) {
    return QImage(kCrafted + QStringLiteral("/expected/") + name + QStringLiteral(".ppm"), "PPM");
}

TEST(BmpCraftedCorpus, EveryFileIsListedWithItsOutcome) {
    const std::vector<Case> cases = CraftedCases();
    ASSERT_GT(cases.size(), 60u);
    QStringList listed;
    for (const Case& c : cases)
        listed << c.name + QStringLiteral(".bmp");
    QStringList present = QDir(kCrafted).entryList({QStringLiteral("*.bmp")}, QDir::Files);
    listed.sort();
    present.sort();
    EXPECT_EQ(listed, present);
}

TEST(BmpCraftedCorpus, EachFileDecodesToItsOutcome) {
    for (const Case& c : CraftedCases()) {
        SCOPED_TRACE(c.name.toStdString());
        const BmpImage bmp = DecodeFile(CraftedPath(c.name));
        ASSERT_EQ(bmp.status, StatusFor(c.outcome));
        if (bmp.status != BmpStatus::Ok) {
            // A failure is only the status: no picture comes with it.
            EXPECT_TRUE(bmp.image.isNull());
            continue;
        }
        const QImage expected = Expected(c.name);
        ASSERT_FALSE(expected.isNull());
        EXPECT_EQ(Difference(bmp.image, expected).toStdString(), "");
    }
}

TEST(BmpCraftedCorpus, QtReaderAgreesWithTheGeneratorsExpectations) {
    // Qt's reader is a second, independent decoder; it vouches for the .ppm files above.
    // Where it reads a file differently by its own policy the difference is named here.
    const std::map<QString, const char*> kQtDiffers = {
        {QStringLiteral("truncated-pixels-rgb24"), "Qt refuses a file whose pixels are cut"},
        {QStringLiteral("truncated-pixels-pal4"), "Qt refuses a file whose pixels are cut"},
        {QStringLiteral("offset-past-end"), "Qt seeks to the offset and finds no pixels"},
        {QStringLiteral("offset-at-end"), "Qt seeks to the offset and finds no pixels"},
        {QStringLiteral("offset-into-table"), "Qt takes the pixels from inside the table"},
        {QStringLiteral("offset-zero"), "Qt takes the pixels from the start of the file"},
        {QStringLiteral("hdr52-rgb16-565"), "Qt does not read 52-byte headers"},
        {QStringLiteral("hdr52-pal8"), "Qt does not read 52-byte headers"},
        {QStringLiteral("hdr56-rgb16-565"), "Qt does not read 56-byte headers"},
        {QStringLiteral("hdr56-pal8"), "Qt does not read 56-byte headers"},
        {QStringLiteral("colour-count-300"), "Qt refuses more than 256 colours"},
        {QStringLiteral("rle8-run-past-edge"), "Qt lets a run spill into the next row"},
    };
    int compared = 0;
    for (const Case& c : CraftedCases()) {
        if (c.outcome != QStringLiteral("ok") || kQtDiffers.count(c.name) != 0) continue;
        SCOPED_TRACE(c.name.toStdString());
        const QImage qt(CraftedPath(c.name), "BMP");
        // Qt widens 16-bit channels by shifting (v << 3), the generator (like bmpsuite's
        // references) by rounding v * 255 / max: up to 7 levels apart.
        const int tolerance = DecodeFile(CraftedPath(c.name)).bitCount == 16 ? 7 : 0;
        // Qt leaves pixels that RLE codes skip undefined: compare only the written ones.
        const QImage written(kCrafted + QStringLiteral("/expected/") + c.name +
                             QStringLiteral(".written.pbm"));
        EXPECT_EQ(Difference(qt, Expected(c.name), tolerance, written).toStdString(), "");
        ++compared;
    }
    EXPECT_GE(compared, 30);
}

TEST(BmpReader, Os2BitmapHasTheColoursOfItsWindowsTwin) {
    const BmpImage os2 = DecodeFile(CraftedPath(QStringLiteral("os2-pal4")));
    const BmpImage win = DecodeFile(CraftedPath(QStringLiteral("win-pal4")));
    ASSERT_EQ(os2.status, BmpStatus::Ok);
    ASSERT_EQ(win.status, BmpStatus::Ok);
    EXPECT_EQ(os2.colorTable, win.colorTable);
    EXPECT_EQ(os2.image.colorTable(), win.image.colorTable());
    EXPECT_EQ(os2.image, win.image);
    EXPECT_EQ(os2.colorTable.size(), 16);
}

TEST(BmpReader, PixelOffsetIsHonouredOnlyInsideTheFileAfterTheTable) {
    const BmpImage exact = DecodeFile(CraftedPath(QStringLiteral("offset-exact")));
    ASSERT_EQ(exact.status, BmpStatus::Ok);
    // A gap before the pixels is skipped because the offset says so...
    for (const char* name : {"offset-gap"}) {
        SCOPED_TRACE(name);
        const BmpImage bmp = DecodeFile(CraftedPath(QString::fromLatin1(name)));
        ASSERT_EQ(bmp.status, BmpStatus::Ok);
        EXPECT_EQ(bmp.image, exact.image);
    }
    // ...and an offset that cannot be right leaves the pixels right after the table.
    for (const char* name :
         {"offset-past-end", "offset-at-end", "offset-into-table", "offset-zero"}) {
        SCOPED_TRACE(name);
        const BmpImage bmp = DecodeFile(CraftedPath(QString::fromLatin1(name)));
        ASSERT_EQ(bmp.status, BmpStatus::Ok);
        EXPECT_EQ(bmp.image, exact.image);
    }
}

TEST(BmpReader, PalettesAndDepthsAreReported) {
    const BmpImage pal8 = DecodeFile(CraftedPath(QStringLiteral("pal8-colorsused20")));
    ASSERT_EQ(pal8.status, BmpStatus::Ok);
    EXPECT_EQ(pal8.bitCount, 8);
    EXPECT_EQ(pal8.colorTable.size(), 20);
    EXPECT_EQ(pal8.image.format(), QImage::Format_Indexed8);

    const BmpImage deep = DecodeFile(CraftedPath(QStringLiteral("rgb24-with-table")));
    ASSERT_EQ(deep.status, BmpStatus::Ok);
    EXPECT_EQ(deep.bitCount, 24);
    EXPECT_EQ(deep.colorTable.size(), 2);

    const BmpImage many = DecodeFile(CraftedPath(QStringLiteral("colour-count-300")));
    ASSERT_EQ(many.status, BmpStatus::Ok);
    EXPECT_EQ(many.colorTable.size(), 256);
}

TEST(BmpReader, EveryPrefixOfAValidFileIsAPictureOrAReadError) {
    // Cut every crafted picture at every length: the reader must stop at the end of the
    // bytes it was given (AddressSanitizer watches the exact-size buffer) and say either
    // "truncated" (inside headers or table) or give the partial picture.
    for (const Case& c : CraftedCases()) {
        if (c.outcome != QStringLiteral("ok")) continue;
        SCOPED_TRACE(c.name.toStdString());
        const std::vector<std::uint8_t> whole = ReadBytes(CraftedPath(c.name));
        for (std::size_t length = 1; length < whole.size(); ++length) {
            const std::vector<std::uint8_t> prefix(whole.begin(),
                                                   whole.begin() + static_cast<long>(length));
            const BmpImage bmp = DecodeBmp(prefix);
            ASSERT_TRUE(bmp.status == BmpStatus::Ok || bmp.status == BmpStatus::Truncated)
                << "length " << length;
            if (bmp.status == BmpStatus::Ok) {
                ASSERT_FALSE(bmp.image.isNull());
            }
        }
    }
}

TEST(BmpReader, BytesBeforeTheFileDoNotShiftTheOffset) {
    // The offset counts from the "BM", wherever the bitmap starts in the buffer it is read
    // from; DecodeBmp is handed the bytes from there on.
    std::vector<std::uint8_t> bytes = ReadBytes(CraftedPath(QStringLiteral("offset-gap")));
    const BmpImage alone = DecodeBmp(bytes);
    bytes.insert(bytes.begin(), 37, 0xCC);
    const BmpImage embedded = DecodeBmp(std::span(bytes).subspan(37));
    ASSERT_EQ(embedded.status, BmpStatus::Ok);
    EXPECT_EQ(embedded.image, alone.image);
}

// The shared bmpsuite corpus ------------------------------------------------------------

std::vector<std::pair<QString, QStringList>> SuiteIndex() {
    std::vector<std::pair<QString, QStringList>> index;
    for (const QStringList& fields : test::ReadCases(kSuite + QStringLiteral("/reference-index.tsv")))
        index.emplace_back(fields.value(0), fields.value(1).split(u' ', Qt::SkipEmptyParts));
    return index;
}

TEST(BmpSuite, EveryIndexedFileMatchesOneOfItsReferences) {
    SOROWA_SKIP_WITHOUT(kSuite);
    // The index lists every good file and the one bad file (rgb16-880: 8-8-0 masks on 16
    // bits) that still has an intended picture. None of their references has transparency,
    // so the opaque pictures this reader makes are compared as they are.
    const auto index = SuiteIndex();
    ASSERT_GE(index.size(), 27u);
    for (const auto& [file, references] : index) {
        SCOPED_TRACE(file.toStdString());
        const BmpImage bmp = DecodeFile(kSuite + u'/' + file);
        ASSERT_EQ(bmp.status, BmpStatus::Ok);
        QStringList differences;
        for (const QString& reference : references) {
            const QImage png(kSuite + QStringLiteral("/reference/") + reference, "PNG");
            ASSERT_FALSE(png.isNull()) << reference.toStdString();
            ASSERT_TRUE(Opaque(png)) << reference.toStdString();
            differences << Difference(bmp.image, png);
        }
        EXPECT_TRUE(differences.contains(QString())) << differences.join(u';').toStdString();
    }
}

TEST(BmpSuite, EveryGoodFileIsIndexed) {
    SOROWA_SKIP_WITHOUT(kSuite);
    QStringList indexed;
    for (const auto& entry : SuiteIndex())
        indexed << entry.first;
    for (const QString& name : QDir(kSuite + QStringLiteral("/good")).entryList(QDir::Files))
        EXPECT_TRUE(indexed.contains(QStringLiteral("good/") + name)) << name.toStdString();
}

TEST(BmpSuite, BadFilesGiveAnErrorOrAPicture) {
    SOROWA_SKIP_WITHOUT(kSuite);
    const QStringList bad = QDir(kSuite + QStringLiteral("/bad")).entryList(QDir::Files);
    ASSERT_GE(bad.size(), 20);
    std::map<QString, BmpStatus> seen;
    for (const QString& name : bad) {
        SCOPED_TRACE(name.toStdString());
        const BmpImage bmp = DecodeFile(kSuite + QStringLiteral("/bad/") + name);
        EXPECT_NE(bmp.status, BmpStatus::Empty);
        EXPECT_NE(bmp.status, BmpStatus::OutOfMemory);
        EXPECT_EQ(bmp.status == BmpStatus::Ok, !bmp.image.isNull());
        seen[name] = bmp.status;
    }
    // The clear-cut ones are refused with the failure the file shows.
    EXPECT_EQ(seen[QStringLiteral("badbitcount.bmp")], BmpStatus::Invalid);
    EXPECT_EQ(seen[QStringLiteral("badplanes.bmp")], BmpStatus::Invalid);
    EXPECT_EQ(seen[QStringLiteral("badwidth.bmp")], BmpStatus::Invalid);
    EXPECT_EQ(seen[QStringLiteral("rletopdown.bmp")], BmpStatus::Invalid);
    EXPECT_EQ(seen[QStringLiteral("badpalettesize.bmp")], BmpStatus::Truncated);
    EXPECT_EQ(seen[QStringLiteral("reallybig.bmp")], BmpStatus::TooLarge);
    // Pixels cut short still give the part that is there.
    EXPECT_EQ(seen[QStringLiteral("shortfile.bmp")], BmpStatus::Ok);
}

} // namespace
} // namespace sorowa::bmp
