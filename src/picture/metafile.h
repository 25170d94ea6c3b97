#pragma once
// The metafile picture: an enhanced metafile, or a placeable Windows metafile, played into
// any rectangle.
//
// Where a decode pool is running, a metafile of more than kPoolPlayBytes of records is played
// on the pool, into a transparent picture of the rectangle's size, which its draws then put
// down; until that lands a draw draws nothing, and a draw at another size asks again.

#include "picture/decode_pool.h"
#include "picture/graphic.h"

#include <QImage>
#include <QRect>
#include <cstdint>
#include <exception>
#include <memory>
#include <vector>

namespace sorowa {

class TMetafile : public TGraphic {
public:
    static const TGraphicClass Class;
    const TGraphicClass& ClassType() const override { return Class; }

    // Each draw plays every record: real files of more than this play at 100 x 100 in 0.3 to
    // 2 ms (2.6 GHz EPYC), smaller ones mostly in well under 0.3 ms.
    static constexpr std::size_t kPoolPlayBytes = 32 * 1024;

    TMetafile();
    ~TMetafile() override;

    // Plays the metafile into rect with its right and bottom edges moved in by one pixel.
    void Draw(TCanvas& canvas, const QRect& rect) override;
    bool Empty() const override { return !data_ || data_->empty(); }
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
    // True while a play on the pool for the last size drawn has not landed.
    bool PlayPending() const { return playJob_ != nullptr; }

private:
    void LoadEnhanced(std::vector<std::uint8_t> bytes);
    void LoadPlaceable(std::vector<std::uint8_t> bytes);
    void Play(QPainter& painter, const QRectF& target) const;
    void DrawPlayed(TCanvas& canvas, const QRect& rect, TDecodePool& pool);
    void CancelPlay();

    // The enhanced records, or the Windows metafile body; shared with plays on the pool and
    // never changed, a load makes new ones.
    std::shared_ptr<const std::vector<std::uint8_t>> data_;
    bool enhanced_ = false;
    QRect bounds_; // Windows metafiles: the placeable header's box, in logical units
    int mmWidth_ = 0;
    int mmHeight_ = 0;
    int width_ = 0;
    int height_ = 0;
    QList<QRgb> palette_;
    QImage played_; // the last play on the pool, of playedSize_
    QSize playedSize_;
    TDecodePool::JobPtr playJob_;
    QSize playJobSize_;
    std::exception_ptr playError_;
};

} // namespace sorowa
