#include "picture/bitmap.h"

#include "picture/bmp_reader.h"
#include "picture/stream.h"
#include "platform/display.h"

#include <QPainter>

namespace sorowa {

const TGraphicClass TBitmap::Class{"TBitmap", nullptr,
                                   [] { return std::unique_ptr<TGraphic>(new TBitmap); }};

namespace {

bool SmoothStretch(const TCanvas& canvas, int imageBits) {
    if (imageBits == 1) return canvas.Painter().testRenderHint(QPainter::SmoothPixmapTransform);
    return canvas.BitsPerPixel() <= 8 && canvas.BitsPerPixel() < imageBits; // halftone
}

QImage Scaled(QSize size, const QImage& image, bool smooth) {
    QImage scaled = image.scaled(size, Qt::IgnoreAspectRatio,
                                 smooth ? Qt::SmoothTransformation : Qt::FastTransformation);
    if (scaled.format() != QImage::Format_RGB32 &&
        scaled.format() != QImage::Format_ARGB32_Premultiplied)
        scaled = scaled.convertToFormat(
            scaled.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32);
    return scaled;
}

} // namespace

QImage TStretchCache::Stretched(const TCanvas& canvas, QSize size, const QImage& image,
                                int imageBits) {
    return Scaled(size, image, SmoothStretch(canvas, imageBits));
}

void TStretchCache::Draw(TCanvas& canvas, const QRect& rect, const QImage& image, int imageBits) {
    if (image.isNull() || rect.isEmpty()) return;
    const bool smooth = SmoothStretch(canvas, imageBits);
    if (scaled_.size() != rect.size() || sourceKey_ != image.cacheKey() || smooth_ != smooth) {
        scaled_ = Scaled(rect.size(), image, smooth);
        sourceKey_ = image.cacheKey();
        smooth_ = smooth;
    }
    canvas.Painter().drawImage(rect.topLeft(), scaled_);
}

void TBitmap::Draw(TCanvas& canvas, const QRect& rect) {
    cache_.Draw(canvas, rect, image_, bitCount_);
}

void TBitmap::SetWidth(int width) {
    if (width == image_.width()) return;
    SetImage(image_.copy(0, 0, width, image_.height()), bitCount_, palette_);
}

void TBitmap::SetHeight(int height) {
    if (height == image_.height()) return;
    SetImage(image_.copy(0, 0, image_.width(), height), bitCount_, palette_);
}

void TBitmap::SetImage(QImage image, int bitCount, QList<QRgb> palette) {
    image_ = std::move(image);
    bitCount_ = bitCount;
    palette_ = std::move(palette);
    cache_.Clear();
    SetPaletteModified(!palette_.isEmpty());
    NotifyChange();
}

void TBitmap::LoadFromStream(TStream& stream) {
    const std::vector<std::uint8_t> bytes = stream.ReadRemaining();
    bmp::BmpImage bmp = bmp::DecodeBmp(bytes);
    switch (bmp.status) {
    case bmp::BmpStatus::Ok:
        break;
    case bmp::BmpStatus::Empty:
        SetImage(QImage(), 0);
        return;
    case bmp::BmpStatus::Invalid:
        throw EInvalidGraphic(QStringLiteral("ビットマップイメージが不正です"));
    case bmp::BmpStatus::Truncated:
        throw EReadError(QStringLiteral("ストリームからの読み込みエラー"));
    case bmp::BmpStatus::TooLarge:
    case bmp::BmpStatus::OutOfMemory:
        throw EOutOfResources(QStringLiteral("メモリが足りません"));
    }
    // The palette is the file's own colour table, as long as the file made it (the image's
    // table is padded to the full depth); deeper pixels may carry one too.
    // Run-length pixels are expanded into a bitmap of the screen's own depth, so for the
    // stretch mode they count as that deep (tests/picture/bitmap_test.cpp,
    // RunLengthBitmapsDrawAsDeepAsTheScreen).
    const int bits = bmp.runLength ? platform::ScreenBitsPerPixel() : bmp.bitCount;
    SetImage(std::move(bmp.image), bits, std::move(bmp.colorTable));
}

} // namespace sorowa
