// The JPEG picture as the thumbnails use it: registration, header-only loading, the deferred
// decode at a reduced scale, display depths, damaged and hostile files.
#include "jpeg_test_files.h"
#include "picture/jpeg/jpeg_image.h"
#include "picture/picture.h"
#include "picture/stream.h"
#include "platform/display.h"
#include "support/temp_folder.h"

#include <QElapsedTimer>
#include <QFile>
#include <QPainter>
#include <QSet>
#include <algorithm>
#include <cstdio>
#include <gtest/gtest.h>
#include <jerror.h>
#include <jpeglib.h>

namespace sorowa {
namespace {

using test::Bytes;

class JpegImageTest : public ::testing::Test {
protected:
    void SetUp() override { RegisterJpegPicture(); }
    void TearDown() override { UnregisterJpegPicture(); }
};

void Load(TJPEGImage& picture, const Bytes& bytes) {
    TMemoryStream stream(bytes);
    picture.LoadFromStream(stream);
}

// Draws the picture into a w x h image, as an image control's paint would.
QImage DrawInto(TGraphic& picture, int w, int h, int bits = 24) {
    QImage target(w, h, QImage::Format_RGB32);
    target.fill(Qt::magenta);
    QPainter painter(&target);
    TCanvas canvas(painter, bits);
    picture.Draw(canvas, QRect(0, 0, w, h));
    return target;
}

QByteArray ToQByteArray(const Bytes& bytes) {
    return QByteArray(reinterpret_cast<const char*>(bytes.data()),
                      static_cast<qsizetype>(bytes.size()));
}

TEST_F(JpegImageTest, RegistersJpegThenJpgAndLoadsEveryCaseThroughTheHolder) {
    std::vector<TFileFormat> formats = PictureFormats();
    ASSERT_GE(formats.size(), 2u);
    const TFileFormat& jpeg = formats[formats.size() - 2];
    const TFileFormat& jpg = formats.back();
    EXPECT_EQ(jpeg.extension, "jpeg");
    EXPECT_EQ(jpg.extension, "jpg");
    EXPECT_EQ(jpeg.description, QStringLiteral("JPEG イメージファイル"));
    EXPECT_EQ(jpg.description, QStringLiteral("JPEG イメージファイル"));

    test::TempFolder folder;
    const QByteArray file = ToQByteArray(test::EncodeJpeg(test::PhotoLike(40, 30)));
    for (const QString name : {"x.jpg", "x.JPG", "x.jpeg"}) {
        TPicture holder;
        holder.LoadFile(folder.Write(name, file));
        ASSERT_NE(holder.Graphic(), nullptr) << name.toStdString();
        EXPECT_EQ(&holder.Graphic()->ClassType(), &TJPEGImage::Class) << name.toStdString();
        EXPECT_EQ(holder.Width(), 40);
        EXPECT_EQ(holder.Height(), 30);
    }

    UnregisterJpegPicture();
    EXPECT_EQ(FindPictureClass("jpg"), nullptr);
    EXPECT_EQ(FindPictureClass("jpeg"), nullptr);
}

TEST_F(JpegImageTest, LoadReadsOnlyTheHeaderAndKeepsEveryByte) {
    const Bytes bytes = test::EncodeJpeg(test::PhotoLike(64, 48), {.progressive = true});
    TJPEGImage picture;
    Load(picture, bytes);
    EXPECT_FALSE(picture.Empty());
    EXPECT_FALSE(picture.Decoded());
    EXPECT_TRUE(picture.Bitmap().isNull());
    EXPECT_TRUE(picture.Progressive());
    EXPECT_EQ(picture.Data()->bytes, bytes);
    EXPECT_EQ(picture.Width(), 64);
    EXPECT_EQ(picture.Height(), 48);

    TJPEGImage baseline;
    Load(baseline, test::EncodeJpeg(test::PhotoLike(8, 8)));
    EXPECT_FALSE(baseline.Progressive());
}

TEST_F(JpegImageTest, DecodesAtTheSmallestCoveringScaleAndAgainOnlyWhenALargerDrawNeedsIt) {
    TJPEGImage picture;
    Load(picture, test::EncodeJpeg(test::PhotoLike(800, 600)));
    int decodes = 0;
    picture.SetOnProgress([&](TGraphic&, const TProgressReport& report) {
        decodes += report.stage == TProgressStage::Starting;
    });

    const QImage shown = DrawInto(picture, 100, 100);
    // 1/8 would be 100 x 75, too short for 100 rows; 2/8 covers both directions. The 200 x 150
    // decode is then cut down to what the draw shows, and that is what is kept.
    EXPECT_EQ(picture.DecodedScale(), 2);
    EXPECT_EQ(picture.Bitmap().size(), QSize(100, 100));
    EXPECT_EQ(picture.Bitmap().convertToFormat(QImage::Format_RGB32), shown);
    EXPECT_EQ(picture.Width(), 800);
    EXPECT_EQ(picture.Height(), 600);

    EXPECT_EQ(DrawInto(picture, 100, 100), shown) << "the kept bitmap draws the same again";
    DrawInto(picture, 80, 60);
    EXPECT_EQ(decodes, 1) << "a draw the kept bitmap covers must not decode again";
    EXPECT_EQ(picture.Bitmap().size(), QSize(80, 60));

    DrawInto(picture, 100, 100);
    EXPECT_EQ(decodes, 2) << "cut down to 80 x 60, it no longer covers 100 x 100";
    EXPECT_EQ(picture.DecodedScale(), 2);

    DrawInto(picture, 300, 260);
    // 3/8 gives 300 x 225, short of 260 rows; 4/8 covers both.
    EXPECT_EQ(picture.DecodedScale(), 4);
    EXPECT_EQ(picture.Bitmap().size(), QSize(300, 260));
    DrawInto(picture, 900, 700);
    EXPECT_EQ(picture.DecodedScale(), 8);
    EXPECT_EQ(picture.Bitmap().size(), QSize(800, 600)) << "never more than full size";
    DrawInto(picture, 900, 700);
    EXPECT_EQ(decodes, 4) << "full size is all there is: drawing larger again decodes nothing";
    EXPECT_EQ(picture.Width(), 800);
    EXPECT_EQ(picture.Height(), 600);
}

TEST_F(JpegImageTest, ColourOn24BitDisplayIsA24BitBitmapCloseToAFullSizeDecodeScaledDown) {
    const Bytes bytes = test::EncodeJpeg(test::PhotoLike(256, 192, 7));
    TJPEGImage picture;
    Load(picture, bytes);
    DrawInto(picture, 32, 24);
    ASSERT_EQ(picture.Bitmap().size(), QSize(32, 24));
    EXPECT_EQ(picture.BitmapBits(), 24);
    EXPECT_TRUE(picture.Palette().isEmpty());

    // libjpeg's 1/8 scale is the DC term of each 8 x 8 block: the block's mean taken in
    // YCbCr, before colour conversion and its rounding, with chroma not upsampled. Against the
    // mean of a full-size decode that leaves rounding-sized differences (0.5 levels on
    // average, 3 at most on this picture); 2 and 8 of 255 leave room for that and still
    // fail on swapped channels, shifted blocks or a wrong scale (tens of levels here).
    const QImage reference = test::BoxDownscale(test::ReferenceDecode(bytes), 8);
    const test::Difference d = test::Compare(picture.Bitmap(), reference);
    EXPECT_LT(d.mean, 2.0);
    EXPECT_LE(d.largest, 8);

    // What reaches the screen is the kept bitmap, stretched like a bitmap.
    const test::Difference drawn = test::Compare(DrawInto(picture, 32, 24), reference);
    EXPECT_LT(drawn.mean, 2.0);
}

TEST_F(JpegImageTest, FullSizeDecodeMatchesAPlainLibjpegDecode) {
    const Bytes bytes = test::EncodeJpeg(test::PhotoLike(120, 90, 3), {.progressive = true});
    TJPEGImage picture;
    Load(picture, bytes);
    DrawInto(picture, 120, 90);
    ASSERT_EQ(picture.Bitmap().size(), QSize(120, 90));
    // Same library, same parameters, only the byte order of the rows differs: identical.
    const test::Difference d = test::Compare(picture.Bitmap(), test::ReferenceDecode(bytes));
    EXPECT_EQ(d.largest, 0);
}

TEST_F(JpegImageTest, GrayscaleIsAn8BitBitmapWithAGreyPaletteOfAtMost236Entries) {
    TJPEGImage picture;
    Load(picture, test::EncodeJpeg(test::PhotoLike(64, 64), {.kind = test::JpegKind::Grayscale}));
    EXPECT_TRUE(picture.Data()->grayscale);
    DrawInto(picture, 64, 64);
    EXPECT_EQ(picture.BitmapBits(), 8);
    EXPECT_EQ(picture.Bitmap().format(), QImage::Format_Indexed8);
    const QList<QRgb> palette = picture.Palette();
    ASSERT_FALSE(palette.isEmpty());
    EXPECT_LE(palette.size(), 236);
    for (QRgb entry : palette) {
        EXPECT_EQ(qRed(entry), qGreen(entry));
        EXPECT_EQ(qGreen(entry), qBlue(entry));
    }
}

TEST_F(JpegImageTest, ColourOn8BitDisplayHasAtMost236ColoursThatStayTrue) {
    // Four flat bands: red, green, blue, white.
    QImage bands(64, 32, QImage::Format_RGB32);
    const QRgb colours[] = {qRgb(220, 20, 20), qRgb(20, 200, 20), qRgb(20, 20, 220),
                            qRgb(250, 250, 250)};
    for (int x = 0; x < 64; ++x)
        for (int y = 0; y < 32; ++y)
            bands.setPixel(x, y, colours[x / 16]);
    TJPEGImage picture;
    picture.SetContext({.display = {.bitsPerPixel = 8}});
    Load(picture, test::EncodeJpeg(bands));
    DrawInto(picture, 64, 32, 8);
    EXPECT_EQ(picture.BitmapBits(), 8);
    ASSERT_EQ(picture.Bitmap().format(), QImage::Format_Indexed8);
    EXPECT_LE(picture.Palette().size(), 236);
    QSet<int> used;
    for (int y = 0; y < 32; ++y)
        for (int x = 0; x < 64; ++x)
            used.insert(picture.Bitmap().pixelIndex(x, y));
    EXPECT_LE(used.size(), 236);
    for (int band = 0; band < 4; ++band) {
        const QRgb got = picture.Bitmap().pixel(band * 16 + 8, 16);
        EXPECT_NEAR(qRed(got), qRed(colours[band]), 24) << band;
        EXPECT_NEAR(qGreen(got), qGreen(colours[band]), 24) << band;
        EXPECT_NEAR(qBlue(got), qBlue(colours[band]), 24) << band;
    }
}

TEST_F(JpegImageTest, CmykFileBecomesA24BitBitmapWithItsColours) {
    QImage flat(32, 16, QImage::Format_RGB32);
    flat.fill(qRgb(200, 60, 30));
    TJPEGImage picture;
    picture.SetContext({.display = {.bitsPerPixel = 8}}); // four components are never quantized
    Load(picture, test::EncodeJpeg(flat, {.kind = test::JpegKind::Cmyk}));
    DrawInto(picture, 32, 16);
    EXPECT_EQ(picture.BitmapBits(), 24);
    ASSERT_EQ(picture.Bitmap().size(), QSize(32, 16));
    const QRgb got = picture.Bitmap().pixel(16, 8);
    EXPECT_NEAR(qRed(got), 200, 12);
    EXPECT_NEAR(qGreen(got), 60, 12);
    EXPECT_NEAR(qBlue(got), 30, 12);
}

TEST_F(JpegImageTest, FileCutInItsImageDataShowsItsUpperPartWithoutError) {
    const Bytes whole = test::EncodeJpeg(test::PhotoLike(128, 128, 5));
    const long scan = test::FindMarker(whole, 0xDA);
    ASSERT_GT(scan, 0);
    // Cut about 40% into the entropy-coded data.
    const auto cut = static_cast<std::size_t>(scan) + (whole.size() - scan) * 2 / 5;
    const Bytes truncated(whole.begin(), whole.begin() + static_cast<long>(cut));
    TJPEGImage picture;
    Load(picture, truncated);
    EXPECT_NO_THROW(DrawInto(picture, 128, 128));
    ASSERT_EQ(picture.Bitmap().size(), QSize(128, 128));
    const QImage reference = test::ReferenceDecode(whole);
    const QRect upper(0, 0, 128, 32);
    EXPECT_LE(test::Compare(picture.Bitmap().copy(upper), reference.copy(upper)).largest, 2);
    // The missing part is filled by the library, not left as it was or as the reference.
    const QRect lower(0, 112, 128, 16);
    EXPECT_GT(test::Compare(picture.Bitmap().copy(lower), reference.copy(lower)).mean, 10.0);
}

TEST_F(JpegImageTest, ZeroByteFileLoadsAndFailsOnceAtFirstDrawWithCode41) {
    TJPEGImage picture;
    Load(picture, {});
    EXPECT_TRUE(picture.Empty());
    EXPECT_EQ(picture.Width(), 0);
    try {
        DrawInto(picture, 100, 100);
        FAIL() << "the first draw of an empty file must fail";
    } catch (const EJPEG& error) {
        EXPECT_EQ(error.Code(), 41);
        EXPECT_EQ(error.Message(), QStringLiteral("JPEG エラー #41"));
    }
    // The failed decode is not repeated: later paints draw the empty bitmap quietly.
    EXPECT_NO_THROW(DrawInto(picture, 100, 100));
    EXPECT_TRUE(picture.Bitmap().isNull());
}

TEST_F(JpegImageTest, TextFileFailsAtLoadWithTheMissingStartOfImageCode) {
    test::TempFolder folder;
    const QString path = folder.Write("notes.jpg", std::string("This is not a picture.\n"));
    TPicture holder;
    try {
        holder.LoadFile(path);
        FAIL() << "a text file must not load";
    } catch (const EJPEG& error) {
        EXPECT_EQ(error.Code(), JERR_NO_SOI);
        EXPECT_EQ(error.Message(), QStringLiteral("JPEG エラー #%1").arg(JERR_NO_SOI));
    }
    EXPECT_EQ(holder.Graphic(), nullptr);
}

TEST_F(JpegImageTest, SizeCannotBeChanged) {
    TJPEGImage picture;
    Load(picture, test::EncodeJpeg(test::PhotoLike(16, 16)));
    for (auto set : {&TJPEGImage::SetWidth, &TJPEGImage::SetHeight}) {
        try {
            (picture.*set)(5);
            FAIL();
        } catch (const EInvalidGraphicOperation& error) {
            EXPECT_EQ(error.Message(), QStringLiteral("JPEG イメージのサイズは変更できません"));
        }
    }
    EXPECT_EQ(picture.Width(), 16);
}

TEST_F(JpegImageTest, PicturesSharingDataAreEqual) {
    TJPEGImage a, b, c;
    const Bytes bytes = test::EncodeJpeg(test::PhotoLike(16, 16));
    Load(a, bytes);
    b.Assign(a);
    Load(c, bytes);
    EXPECT_TRUE(a.Equals(b));
    EXPECT_EQ(a.Data(), b.Data());
    EXPECT_FALSE(a.Equals(c)) << "equal bytes are not shared data";
    DrawInto(b, 16, 16);
    EXPECT_FALSE(b.Bitmap().isNull());
    EXPECT_TRUE(a.Bitmap().isNull()) << "each picture keeps its own bitmap";
}

TEST_F(JpegImageTest, HeaderClaiming65500SquaredIsRefusedAtFirstDrawWithoutAllocating) {
    Bytes bytes = test::EncodeJpeg(test::PhotoLike(16, 16));
    test::SetFrameSize(bytes, 65500, 65500);
    TJPEGImage picture;
    Load(picture, bytes);
    EXPECT_EQ(picture.Width(), 65500);
    QElapsedTimer timer;
    timer.start();
    try {
        DrawInto(picture, 100, 100);
        FAIL() << "a 8188 x 8188 first decode is over the pixel budget";
    } catch (const EJPEG& error) {
        EXPECT_EQ(error.Code(), 0);
        EXPECT_EQ(error.Message(),
                  QStringLiteral("JPEG イメージが大きすぎます（8188 x 8188 ピクセル）"));
    }
    EXPECT_LT(timer.elapsed(), 5000);
    EXPECT_NO_THROW(DrawInto(picture, 100, 100));
}

TEST_F(JpegImageTest, ProgressiveFileWithThousandsOfScansIsStoppedAtTheScanCap) {
    const Bytes normal = test::EncodeJpeg(test::PhotoLike(512, 512), {.progressive = true});
    const Bytes bomb = test::RepeatLastScan(normal, 3000);
    TJPEGImage picture;
    Load(picture, bomb);
    try {
        DrawInto(picture, 100, 100);
        FAIL() << "3000 scans must be refused";
    } catch (const EJPEG& error) {
        EXPECT_EQ(error.Code(), 0);
        EXPECT_EQ(error.Message(),
                  QStringLiteral("JPEG イメージのスキャンが多すぎます（100 を超えています）"));
    }
    // A little repetition is within the cap and decodes.
    TJPEGImage mild;
    Load(mild, test::RepeatLastScan(normal, 20));
    EXPECT_NO_THROW(DrawInto(mild, 100, 100));
    EXPECT_FALSE(mild.Bitmap().isNull());
}

TEST_F(JpegImageTest, SilentAbortFromTheProgressHandlerIsSwallowedOtherErrorsAreNot) {
    TJPEGImage picture;
    Load(picture, test::EncodeJpeg(test::PhotoLike(32, 32)));
    picture.SetOnProgress([](TGraphic&, const TProgressReport& report) {
        if (report.stage == TProgressStage::Starting) throw EAbort();
    });
    EXPECT_NO_THROW(DrawInto(picture, 32, 32));
    EXPECT_TRUE(picture.Bitmap().isNull());
    EXPECT_NO_THROW(DrawInto(picture, 32, 32)) << "not decoded again";

    TJPEGImage other;
    Load(other, test::EncodeJpeg(test::PhotoLike(32, 32)));
    other.SetOnProgress([](TGraphic&, const TProgressReport& report) {
        if (report.stage == TProgressStage::Ending) throw EInvalidGraphic("handler failed");
    });
    EXPECT_THROW(DrawInto(other, 32, 32), EInvalidGraphic);
    EXPECT_FALSE(other.Bitmap().isNull()) << "the decoded bitmap stays";
}

TEST_F(JpegImageTest, ReportsStartAndEndOfTheDecodeAndNotifiesForANewPalette) {
    TJPEGImage picture;
    picture.SetContext({.display = {.bitsPerPixel = 8}});
    Load(picture, test::EncodeJpeg(test::PhotoLike(32, 32)));
    std::vector<TProgressReport> reports;
    int changes = 0;
    picture.SetOnProgress(
        [&](TGraphic&, const TProgressReport& report) { reports.push_back(report); });
    picture.SetOnChange([&](TGraphic&) { ++changes; });
    DrawInto(picture, 32, 32);
    ASSERT_GE(reports.size(), 2u);
    EXPECT_EQ(reports.front().stage, TProgressStage::Starting);
    EXPECT_EQ(reports.back().stage, TProgressStage::Ending);
    EXPECT_EQ(reports.back().percent, 100);
    EXPECT_TRUE(reports.back().redrawNow);
    EXPECT_EQ(changes, 1);
}

// --- loaded from files, as the thumbnails load them -------------------------------------------

// The JPEG with count application segments of 60,000 bytes after its start-of-image marker:
// a header that runs far past the first bytes read.
Bytes WithLongHeader(const Bytes& jpeg, int count) {
    Bytes out(jpeg.begin(), jpeg.begin() + 2);
    for (int i = 0; i < count; ++i) {
        const int length = 60'000 + 2;
        out.insert(out.end(), {0xFF, 0xE2, static_cast<std::uint8_t>(length >> 8),
                               static_cast<std::uint8_t>(length & 0xFF)});
        out.insert(out.end(), 60'000, static_cast<std::uint8_t>('a' + i));
    }
    out.insert(out.end(), jpeg.begin() + 2, jpeg.end());
    return out;
}

void LoadFile(TJPEGImage& picture, const QString& path, std::int64_t* readUpTo = nullptr) {
    TFileStream stream(path);
    picture.LoadFromStream(stream);
    if (readUpTo) *readUpTo = stream.Position();
}

QString DrawError(TGraphic& picture, int w, int h) {
    try {
        DrawInto(picture, w, h);
    } catch (const Exception& error) {
        return error.Message();
    }
    return {};
}

TEST_F(JpegImageTest, FromAFileOnlyTheHeaderIsReadAndNoBytesAreKept) {
    test::TempFolder folder;
    for (const int segments : {0, 5}) {
        SCOPED_TRACE(segments);
        const Bytes bytes =
            WithLongHeader(test::EncodeJpeg(test::PhotoLike(1600, 1200, 5)), segments);
        ASSERT_GT(bytes.size(), 200'000u);
        const QString path = folder.Write(QStringLiteral("photo.jpg"), ToQByteArray(bytes));

        TJPEGImage fromFile;
        std::int64_t readUpTo = 0;
        LoadFile(fromFile, path, &readUpTo);
        EXPECT_EQ(fromFile.Width(), 1600);
        EXPECT_EQ(fromFile.Height(), 1200);
        EXPECT_FALSE(fromFile.Empty());
        EXPECT_TRUE(fromFile.Data()->bytes.empty());
        ASSERT_TRUE(fromFile.Data()->file.has_value());
        EXPECT_EQ(fromFile.Data()->Size(), static_cast<std::int64_t>(bytes.size()));
        // 64 KB for a plain header; the long one needs 64 KB, then 256 KB, then 1 MB (all).
        EXPECT_EQ(readUpTo, segments == 0 ? 64 * 1024 : static_cast<std::int64_t>(bytes.size()));

        TJPEGImage inMemory;
        Load(inMemory, bytes);
        EXPECT_EQ(inMemory.Data()->bytes, bytes) << "a stream that is not a file keeps its bytes";
        EXPECT_EQ(DrawInto(fromFile, 120, 90), DrawInto(inMemory, 120, 90));
    }
}

TEST_F(JpegImageTest, FromAFileTheEmptyAndTheNonJpegCasesStayAsTheyWere) {
    test::TempFolder folder;
    TJPEGImage empty;
    LoadFile(empty, folder.Write(QStringLiteral("empty.jpg"), QByteArray()));
    EXPECT_TRUE(empty.Empty());
    EXPECT_EQ(DrawError(empty, 10, 10), QStringLiteral("JPEG エラー #41"));
    EXPECT_EQ(DrawError(empty, 10, 10), QString()) << "reported once";

    TJPEGImage text;
    try {
        LoadFile(text, folder.Write(QStringLiteral("notes.jpg"), "just some text\n"));
        ADD_FAILURE() << "a text file must fail at load";
    } catch (const EJPEG& error) {
        EXPECT_EQ(error.Code(), JERR_NO_SOI);
    }

    // A header cut off inside a long segment: every byte is read, then the library's error.
    const Bytes cut = WithLongHeader(test::EncodeJpeg(test::PhotoLike(16, 16)), 3);
    TJPEGImage truncated;
    try {
        LoadFile(truncated, folder.Write(QStringLiteral("cut.jpg"),
                                         ToQByteArray(Bytes(cut.begin(), cut.begin() + 150'000))));
        ADD_FAILURE() << "a header cut off must fail at load";
    } catch (const EJPEG& error) {
        EXPECT_NE(error.Code(), 0);
    }
}

TEST_F(JpegImageTest, AFileRenamedInItsFolderIsReadAgainUnderItsNewName) {
    test::TempFolder folder;
    const Bytes original = test::EncodeJpeg(test::PhotoLike(800, 600, 11));
    const QString path = folder.Write(QStringLiteral("b.jpg"), ToQByteArray(original));
    TJPEGImage picture;
    LoadFile(picture, path);
    DrawInto(picture, 100, 100);

    // What a batch rename does: b.jpg becomes c.jpg, and another photo takes the name b.jpg.
    ASSERT_EQ(std::rename(QFile::encodeName(path).constData(),
                          QFile::encodeName(folder.File(QStringLiteral("c.jpg"))).constData()),
              0);
    folder.Write(QStringLiteral("b.jpg"),
                 ToQByteArray(test::EncodeJpeg(test::PhotoLike(800, 600, 12))));

    EXPECT_EQ(DrawError(picture, 400, 300), QString());
    EXPECT_EQ(picture.DecodedScale(), 4);
    TJPEGImage reference;
    Load(reference, original);
    EXPECT_EQ(DrawInto(picture, 400, 300), DrawInto(reference, 400, 300));
}

// Only a first draw reports that the loaded content cannot be had; a larger draw later keeps
// showing the bitmap it has, stretched, without an error.
TEST_F(JpegImageTest, AFileChangedOrGoneSinceLoadingIsAnErrorOnceAndTheKeptBitmapStays) {
    test::TempFolder folder;
    const Bytes original = test::EncodeJpeg(test::PhotoLike(800, 600));
    const QString path = folder.Write(QStringLiteral("a.jpg"), ToQByteArray(original));

    TJPEGImage changed;
    LoadFile(changed, path);
    const QImage small = DrawInto(changed, 100, 75);
    folder.Write(QStringLiteral("a.jpg"),
                 ToQByteArray(test::EncodeJpeg(test::PhotoLike(800, 600, 4))));
    EXPECT_EQ(DrawError(changed, 200, 150), QString());
    EXPECT_EQ(DrawError(changed, 200, 150), QString()) << "not tried again with every paint";
    EXPECT_EQ(changed.Bitmap().size(), QSize(100, 75)) << "the kept bitmap stays";
    EXPECT_EQ(changed.DecodedScale(), 1);
    EXPECT_EQ(DrawInto(changed, 100, 75), small);

    // Another photo of the same byte size written over it in place: same inode, same size.
    TJPEGImage sameSize;
    const QString second = folder.Write(QStringLiteral("b.jpg"), ToQByteArray(original));
    LoadFile(sameSize, second);
    Bytes other = test::EncodeJpeg(test::PhotoLike(800, 600, 5));
    other.resize(original.size(), 0); // cut or padded after its end
    {
        QFile file(second);
        ASSERT_TRUE(file.open(QIODevice::ReadWrite));
        ASSERT_EQ(file.write(ToQByteArray(other)), static_cast<qint64>(other.size()));
    }
    EXPECT_EQ(DrawError(sameSize, 100, 75),
              QStringLiteral("画像ファイルが読み込んだ後で変更されています: %1").arg(second));
    EXPECT_EQ(DrawError(sameSize, 100, 75), QString()) << "reported once";
    EXPECT_TRUE(sameSize.Bitmap().isNull()) << "never drawn as the loaded picture";

    TJPEGImage gone;
    LoadFile(gone, path);
    ASSERT_TRUE(QFile::remove(path));
    EXPECT_EQ(DrawError(gone, 100, 75),
              QStringLiteral("画像ファイルが見つかりません（読み込んだ時の名前: %1）").arg(path));
    EXPECT_EQ(DrawError(gone, 100, 75), QString());
    EXPECT_TRUE(gone.Bitmap().isNull());
}

TEST_F(JpegImageTest, An8BitBitmapIsKeptWholeNotCutDown) {
    TJPEGImage picture;
    Load(picture, test::EncodeJpeg(test::PhotoLike(800, 600), {.kind = test::JpegKind::Grayscale}));
    DrawInto(picture, 100, 100);
    EXPECT_EQ(picture.Bitmap().format(), QImage::Format_Indexed8);
    EXPECT_EQ(picture.Bitmap().size(), QSize(200, 150));
}

TEST_F(JpegImageTest, AProgressiveThumbnailAtOneEighthIsMadeFromItsFirstScansAlone) {
    const Bytes bytes = test::EncodeJpeg(test::PhotoLike(512, 384, 9), {.progressive = true});
    TJPEGImage picture;
    Load(picture, bytes);
    DrawInto(picture, 64, 48);
    ASSERT_EQ(picture.DecodedScale(), 1);
    ASSERT_EQ(picture.Bitmap().size(), QSize(64, 48));
    // Made from the first scans, whose coefficients may lack their last bit (half a
    // quantization step): against the block means of a full decode it stays within the
    // tolerance of the baseline case.
    const test::Difference d =
        test::Compare(picture.Bitmap(), test::BoxDownscale(test::ReferenceDecode(bytes), 8));
    EXPECT_LT(d.mean, 2.0);
    EXPECT_LE(d.largest, 8);
    // libjpeg's standard progression sends the DC terms (less their last bit), the first
    // luma band, then each chroma component's detail (less its last bit), then the rest of
    // the luma detail from scan 5 on. Scan 5's marker is damaged into an unsupported frame
    // type, which the library refuses: a thumbnail never gets that far, a larger draw does.
    std::vector<std::size_t> scans;
    for (std::size_t i = 0; i + 1 < bytes.size(); ++i)
        if (bytes[i] == 0xFF && bytes[i + 1] == 0xDA) scans.push_back(i);
    ASSERT_EQ(scans.size(), 10u);
    Bytes damaged = bytes;
    damaged[scans[4] + 1] = 0xC8;
    TJPEGImage early;
    Load(early, damaged);
    EXPECT_EQ(DrawError(early, 64, 48), QString());
    EXPECT_EQ(early.Bitmap(), picture.Bitmap());
    // A larger decode that fails keeps the thumbnail, stretched, with no error.
    EXPECT_EQ(DrawError(early, 128, 96), QString());
    EXPECT_EQ(early.Bitmap().size(), QSize(64, 48)) << "the thumbnail stays";
    EXPECT_EQ(DrawError(picture, 128, 96), QString());
    EXPECT_EQ(picture.Bitmap().size(), QSize(128, 96)) << "undamaged, it decodes larger";
}

} // namespace
} // namespace sorowa
