#pragma once
// The metafile picture: an enhanced metafile, or a placeable Windows metafile, played into
// any rectangle.

#include "picture/graphic.h"

#include <QRect>
#include <cstdint>
#include <vector>

namespace sorowa {

class TMetafile : public TGraphic {
public:
    static const TGraphicClass Class;
    const TGraphicClass& ClassType() const override { return Class; }

    TMetafile();

    // Plays the metafile into rect with its right and bottom edges moved in by one pixel.
    void Draw(TCanvas& canvas, const QRect& rect) override;
    bool Empty() const override { return data_.empty(); }
    int Width() const override { return width_; }
    int Height() const override { return height_; }
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    QList<QRgb> Palette() const override { return palette_; }
    void LoadFromStream(TStream& stream) override;

    // Size in 0.01 mm.
    int MMWidth() const { return mmWidth_; }
    int MMHeight() const { return mmHeight_; }
    // True for an enhanced metafile; false for a Windows metafile.
    bool Enhanced() const { return enhanced_; }

private:
    void LoadEnhanced(std::vector<std::uint8_t> bytes);
    void LoadPlaceable(std::vector<std::uint8_t> bytes);

    std::vector<std::uint8_t> data_; // the enhanced records, or the Windows metafile body
    bool enhanced_ = false;
    QRect bounds_; // Windows metafiles: the placeable header's box, in logical units
    int mmWidth_ = 0;
    int mmHeight_ = 0;
    int width_ = 0;
    int height_ = 0;
    QList<QRgb> palette_;
};

} // namespace sorowa
