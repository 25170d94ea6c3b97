#pragma once
// The bitmap picture, and the stretched drawing that every scaling picture shares.

#include "picture/graphic.h"

#include <QImage>

namespace sorowa {

// Draws image stretched onto rect. The stretch mode follows the target's depth: halftone
// (smooth) when the target has 8 or fewer bits per pixel and fewer than the image;
// otherwise colour-on-colour (nearest pixel), except that a monochrome image keeps the
// painter's own mode. The scaled copy is kept in cache until size or image change.
class TStretchCache {
public:
    void Draw(TCanvas& canvas, const QRect& rect, const QImage& image, int imageBits);
    void Clear() { scaled_ = QImage(); }
    // image scaled to size as Draw scales it for this canvas, as 32-bit pixels; drawing the
    // result at that size needs no further copy.
    static QImage Stretched(const TCanvas& canvas, QSize size, const QImage& image, int imageBits);

private:
    QImage scaled_;
    qint64 sourceKey_ = 0;
    bool smooth_ = false;
};

class TBitmap : public TGraphic {
public:
    static const TGraphicClass Class;
    const TGraphicClass& ClassType() const override { return Class; }

    void Draw(TCanvas& canvas, const QRect& rect) override;
    bool Empty() const override { return image_.isNull(); }
    int Width() const override { return image_.width(); }
    int Height() const override { return image_.height(); }
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    QList<QRgb> Palette() const override { return palette_; }
    void LoadFromStream(TStream& stream) override;

    // The pixels; Indexed8 with a colour table, or 32-bit.
    const QImage& Image() const { return image_; }
    // Replaces the pixels (bitCount: the depth they came from, for the stretch mode).
    void SetImage(QImage image, int bitCount, QList<QRgb> palette = {});
    int BitCount() const { return bitCount_; }

private:
    QImage image_;
    int bitCount_ = 0;
    QList<QRgb> palette_;
    TStretchCache cache_;
};

} // namespace sorowa
