// Large bitmaps are drawn from the pixels that the stretch samples, read from the file at each
// draw: the drawn pixels must be exactly those of the whole picture stretched, for every kind
// of bitmap and every size drawn.
#include "picture/bitmap.h"
#include "picture/bmp_reader.h"
#include "picture/stream.h"
#include "platform/display.h"
#include "support/shared_data.h"
#include "support/temp_folder.h"

#include <QDir>
#include <QImage>
#include <QPainter>
#include <cstring>
#include <gtest/gtest.h>
#include <random>

namespace sorowa {
namespace {

std::vector<std::uint8_t> Bytes(const QByteArray& b) {
    return std::vector<std::uint8_t>(b.begin(), b.end());
}

bmp::ByteSource FromMemory(const std::vector<std::uint8_t>& bytes) {
    return [&bytes](std::uint64_t offset, std::span<std::uint8_t> out) {
        if (offset >= bytes.size()) return std::size_t{0};
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), bytes.size() - offset));
        std::memcpy(out.data(), bytes.data() + offset, n);
        return n;
    };
}

// The whole picture stretched onto size as a 24-bit display draws it.
QImage WholeStretched(const QImage& image, int bits, QSize size) {
    QImage target(1, 1, QImage::Format_RGB32);
    QPainter painter(&target);
    TCanvas canvas(painter, 24);
    return TStretchCache::Stretched(canvas, size, image, bits);
}

QImage SampledStretched(const std::vector<std::uint8_t>& bytes, QSize size) {
    const bmp::BmpHeader header = bmp::ReadBmpHeader(bytes, bytes.size());
    const bool indexed = header.bitCount <= 8;
    const std::vector<int> columns = NearestPixelMap(header.width, size.width(), indexed, false);
    const std::vector<int> rows = NearestPixelMap(header.height, size.height(), indexed, true);
    return bmp::DecodeBmpSampled(header, FromMemory(bytes), columns, rows);
}

QStringList BitmapFiles(const QString& folder) {
    QStringList files;
    for (const QString& name : QDir(folder).entryList({QStringLiteral("*.bmp")}, QDir::Files))
        files.append(folder + u'/' + name);
    return files;
}

// How many sizes of how many pictures were compared.
int CompareSampledWithWhole(const QStringList& files) {
    int compared = 0;
    for (const QString& path : files) {
        const std::vector<std::uint8_t> bytes = Bytes(test::ReadFileBytes(path));
        const bmp::BmpImage whole = bmp::DecodeBmp(bytes);
        if (whole.status != bmp::BmpStatus::Ok) continue;
        const int w = whole.image.width(), h = whole.image.height();
        for (const QSize size : {QSize(1, 1), QSize(7, 3), QSize(37, 23), QSize(100, 100),
                                 QSize(2 * w + 1, 3 * h + 2), QSize(w, h)}) {
            SCOPED_TRACE(path.toStdString() + " at " + std::to_string(size.width()) + "x" +
                         std::to_string(size.height()));
            EXPECT_EQ(SampledStretched(bytes, size),
                      WholeStretched(whole.image, whole.bitCount, size));
            if (testing::Test::HasFailure()) return compared;
            ++compared;
        }
    }
    return compared;
}

TEST(SampledBitmap, GivesTheSamePixelsAsTheWholePictureStretched) {
    const QStringList files = BitmapFiles(QStringLiteral(SOROWA_TEST_DATA "/bmp"));
    ASSERT_GT(files.size(), 70);
    EXPECT_GT(CompareSampledWithWhole(files), 200);
}

TEST(SampledBitmap, GivesTheSamePixelsAsTheWholePictureForTheBmpSuite) {
    const QString suite = QStringLiteral(SOROWA_SHARED_DATA "/bmpsuite");
    SOROWA_SKIP_WITHOUT(suite);
    const QStringList files = BitmapFiles(suite + QStringLiteral("/good")) +
                              BitmapFiles(suite + QStringLiteral("/bad"));
    ASSERT_GE(files.size(), 40);
    EXPECT_GT(CompareSampledWithWhole(files), 200);
}

// Random pictures of random depth and size, stretched to random sizes, from both directions.
TEST(SampledBitmap, NearestPixelMapIsTheStretchsOwnForAnySizes) {
    std::mt19937 random(18);
    for (int round = 0; round < 150; ++round) {
        const bool indexed = round % 2 == 0;
        const int w = 1 + static_cast<int>(random() % 700);
        const int h = 1 + static_cast<int>(random() % 300);
        const QSize size(1 + static_cast<int>(random() % 400),
                         1 + static_cast<int>(random() % 400));
        QImage image(w, h, indexed ? QImage::Format_Indexed8 : QImage::Format_RGB32);
        if (indexed) {
            QList<QRgb> table;
            for (int i = 0; i < 256; ++i)
                table.append(qRgb(i, (i * 37) & 255, (i * 91) & 255));
            image.setColorTable(table);
        }
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x) {
                const auto v = static_cast<std::uint32_t>(random());
                if (indexed)
                    image.scanLine(y)[x] = static_cast<std::uint8_t>(v);
                else
                    reinterpret_cast<QRgb*>(image.scanLine(y))[x] = 0xFF000000u | v;
            }
        const std::vector<int> columns = NearestPixelMap(w, size.width(), indexed, false);
        const std::vector<int> rows = NearestPixelMap(h, size.height(), indexed, true);
        const QImage rgb = image.convertToFormat(QImage::Format_RGB32);
        const QImage stretched = WholeStretched(image, indexed ? 8 : 24, size);
        SCOPED_TRACE(testing::Message() << w << "x" << h << " to " << size.width() << "x"
                                        << size.height() << (indexed ? " indexed" : " rgb"));
        for (int y = 0; y < size.height(); ++y)
            for (int x = 0; x < size.width(); ++x)
                ASSERT_EQ(stretched.pixel(x, y), rgb.pixel(columns[static_cast<std::size_t>(x)],
                                                           rows[static_cast<std::size_t>(y)]))
                    << "at " << x << "," << y;
    }
}

QByteArray LargeBmp(int width, int height, int bits) {
    const int stride = (width * bits + 31) / 32 * 4;
    const int tableSize = bits <= 8 ? (1 << bits) : 0;
    QByteArray b("BM");
    auto put = [&b](quint32 v, int n) {
        for (int i = 0; i < n; ++i)
            b.append(char((v >> (8 * i)) & 0xFF));
    };
    const int offset = 14 + 40 + 4 * tableSize;
    put(quint32(offset + stride * height), 4);
    put(0, 4);
    put(quint32(offset), 4);
    for (quint32 v : {40u, quint32(width), quint32(height)})
        put(v, 4);
    put(1, 2);
    put(quint32(bits), 2);
    for (quint32 v : {0u, 0u, 0u, 0u, 0u, 0u})
        put(v, 4);
    for (int i = 0; i < tableSize; ++i)
        put(quint32(i * 0x010203 + 0x402010) & 0xFFFFFF, 4);
    QByteArray rows(stride * height, '\0');
    std::mt19937 random(static_cast<unsigned>(width + bits));
    for (char& c : rows)
        c = static_cast<char>(random() & 0xFF);
    return b + rows;
}

TEST(SampledBitmap, ALargeFileIsDrawnFromItsFileWithTheWholePicturesPixels) {
    test::TempFolder folder;
    for (const int bits : {8, 24}) {
        SCOPED_TRACE(bits);
        const QByteArray file = LargeBmp(1500, 800, bits);
        const QString path = folder.Write(QStringLiteral("large%1.bmp").arg(bits), file);
        TBitmap bitmap;
        bitmap.LoadFile(path);
        ASSERT_TRUE(bitmap.Sampled());
        EXPECT_TRUE(bitmap.Image().isNull());
        EXPECT_EQ(bitmap.Width(), 1500);
        EXPECT_EQ(bitmap.Height(), 800);
        const bmp::BmpImage whole = bmp::DecodeBmp(Bytes(file));
        ASSERT_EQ(whole.status, bmp::BmpStatus::Ok);
        for (const QSize size : {QSize(100, 100), QSize(333, 77), QSize(1600, 900)}) {
            QImage target(size, QImage::Format_RGB32);
            target.fill(Qt::white);
            {
                QPainter painter(&target);
                TCanvas canvas(painter, 24);
                bitmap.Draw(canvas, QRect(QPoint(0, 0), size));
            }
            EXPECT_EQ(target, WholeStretched(whole.image, bits, size));
        }
    }
}

TEST(SampledBitmap, AFileChangedSinceItsLoadIsNotShownAsIfItWereTheOneLoaded) {
    test::TempFolder folder;
    const QString path = folder.Write(QStringLiteral("large.bmp"), LargeBmp(1200, 900, 24));
    TBitmap bitmap;
    bitmap.LoadFile(path);
    ASSERT_TRUE(bitmap.Sampled());
    folder.Write(QStringLiteral("large.bmp"), LargeBmp(1200, 901, 24)); // another picture now
    QImage target(50, 50, QImage::Format_RGB32);
    target.fill(Qt::white);
    {
        QPainter painter(&target);
        TCanvas canvas(painter, 24);
        bitmap.Draw(canvas, target.rect());
    }
    // Nothing of the other file: the picture's pixels stay unread (black).
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 50; ++x)
            ASSERT_EQ(target.pixel(x, y), qRgb(0, 0, 0));
}

} // namespace
} // namespace sorowa
