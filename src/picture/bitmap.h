#pragma once
// The bitmap picture, and the stretched drawing that every scaling picture shares.

#include "picture/bmp_reader.h"
#include "picture/decode_pool.h"
#include "picture/graphic.h"
#include "platform/memory_budget.h"

#include <QImage>
#include <exception>
#include <memory>
#include <span>

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
    // The same in two steps: the stretch mode for this canvas, then the scaling, which touches
    // nothing but the images and so runs on any thread.
    static bool Smooth(const TCanvas& canvas, int imageBits);
    static QImage Stretched(QSize size, const QImage& image, bool smooth);

private:
    QImage scaled_;
    qint64 sourceKey_ = 0;
    bool smooth_ = false;
};

// A bitmap of at most kWholeDecodePixels is decoded whole when it is loaded. A larger one keeps
// only its headers and where its pixels are (a note of the file, which is read again, or the
// bytes it was loaded from memory with), and each draw decodes just the pixels that the
// nearest-pixel stretch samples: the same drawn pixels as from the whole picture, at the cost
// of the rectangle drawn rather than of what the header claims.
//
// Where a decode pool is running, a file of more than kPoolDecodePixels that is decoded whole
// keeps only its headers and a note of the file at its load; its first draw hands the decode
// to the pool and draws nothing until the decode lands (the same pixels as a load without a
// pool gives), and a decode that fails is raised by the next draw, once.
class TBitmap : public TGraphic {
public:
    static const TGraphicClass Class;
    const TGraphicClass& ClassType() const override { return Class; }

    // 1 Mi pixels: 4 MiB at 32 bits per pixel.
    static constexpr std::uint64_t kWholeDecodePixels = std::uint64_t{1} << 20;
    // A folder's load decodes every picture in it, so what each costs adds up before any
    // window shows: a 24-bit picture of 512 x 512 decodes in 0.3 ms, one of 1024 x 1024 in
    // 1.4 ms (2.6 GHz EPYC). Below this the decode stays in the load, cheaper than a job and a
    // second paint.
    static constexpr std::uint64_t kPoolDecodePixels = std::uint64_t{1} << 18;

    TBitmap();
    ~TBitmap() override;

    void Draw(TCanvas& canvas, const QRect& rect) override;
    bool Empty() const override { return Width() == 0 || Height() == 0; }
    int Width() const override;
    int Height() const override;
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    QList<QRgb> Palette() const override { return palette_; }
    void LoadFromStream(TStream& stream) override;
    // Reads a bitmap file that lies whole in memory, kept there by owner (ownerBytes in all).
    // A small picture is decoded at once and the bytes are let go; a large one keeps them,
    // with their cost taken from the decoded-bytes budget, and is drawn from them.
    void LoadFromMemory(std::span<const std::uint8_t> file, std::shared_ptr<const void> owner,
                        std::uint64_t ownerBytes);

    // The pixels, when the picture is decoded whole (null for a large one drawn from its
    // file, and while the pool decodes it); Indexed8 with a colour table, or 32-bit.
    const QImage& Image() const { return image_; }
    // Replaces the pixels (bitCount: the depth they came from, for the stretch mode).
    void SetImage(QImage image, int bitCount, QList<QRgb> palette = {});
    int BitCount() const { return bitCount_; }
    // True when the picture is drawn from its file, a few sampled pixels at a time.
    bool Sampled() const { return sampled_ != nullptr; }
    // True while the pool's decode of the picture has not landed.
    bool WholeDecodePending() const { return pending_ != nullptr; }

    // Takes over another bitmap's picture: its pixels, or where it draws them from.
    void AssignBitmap(const TBitmap& source);

    // Where a large picture's pixels are read from.
    struct SampledSource {
        bmp::BmpHeader header;
        bmp::ByteSource read;
        // The pixel data when read has it whole in memory, and the budget's share for it.
        std::span<const std::uint8_t> pixels;
        platform::DecodedBytesLease lease;
    };

    // A whole decode left to the pool: the headers and a note of the file. Shared with the
    // pool thread, never changed once made.
    struct PendingDecode;

private:
    void DrawSampled(TCanvas& canvas, const QRect& rect);
    void StartPendingDecode(TDecodePool& pool);
    void DecodePendingHere();
    void CancelPendingDecode();
    QImage SmoothedFromWhole(QSize size) const;
    void SetSampled(std::shared_ptr<const SampledSource> source, int bits, QSize size);
    void DecodeWhole(const bmp::BmpHeader& header, std::span<const std::uint8_t> file, int bits,
                     platform::DecodedBytesLease lease);

    QImage image_;
    int bitCount_ = 0;
    QList<QRgb> palette_;
    TStretchCache cache_;
    platform::DecodedBytesLease lease_;
    std::shared_ptr<const SampledSource> sampled_;
    int sampledWidth_ = 0, sampledHeight_ = 0;
    QImage sampledDrawn_;
    bool sampledSmooth_ = false;
    std::shared_ptr<const PendingDecode> pending_;
    TDecodePool::JobPtr pendingJob_;
    platform::DecodedBytesLease pendingLease_; // the decoded picture's share, from its load
    std::exception_ptr pendingError_;
};

// The source column (or row, when vertical) that the nearest-pixel stretch of `source` pixels
// onto `target` takes for each target pixel, for an indexed or a 32-bit image.
std::vector<int> NearestPixelMap(int source, int target, bool indexed, bool vertical);

} // namespace sorowa
