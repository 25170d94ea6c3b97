#pragma once
// The JPEG picture. Loading reads only the header; the pixels are decoded by libjpeg when the
// picture is first drawn, at the smallest of libjpeg's scales (M/8) that still covers the
// rectangle drawn, and decoded again, larger, only when a later draw needs more. Width and
// height are always the file's full size.
//
// Where a decode pool is running (the thumbnail windows run one), draws hand the decode to it
// and show what the picture has meanwhile: nothing, or, for a camera photo, the small copy of
// itself that the camera stored in its Exif segment, while it still looks like the photo. The
// picture repaints when the decode arrives; what it shows from then on is always the photo's
// own decode, never the copy. Without a pool the decode runs inside the draw.
//
// A photo whose Exif segment says the camera was held turned or mirrored is shown upright,
// the camera's copy too, and its width and height are those of the upright picture.
//
// What a picture keeps is about what it shows, not about the photo: a picture loaded from a
// file keeps a note of the file instead of its bytes and reads it again for each decode (found
// again after a rename in its folder; a file that no longer holds the bytes first read, or is
// at another size, is an error, never shown as if it were the one loaded), and a 24-bit bitmap
// larger than the rectangle drawn is cut down to what that draw shows. A folder of large
// photos thus costs about one thumbnail's pixels per photo.
//
// The picture's bitmap is in one of the states of jpeg_state.h (Loaded, Waiting, StandingIn,
// Decoding, Decoded, Enlarging, Failed), which lists their legal changes.

#include "picture/bitmap.h"
#include "picture/decode_pool.h"
#include "picture/graphic.h"
#include "picture/jpeg/jpeg_source.h"
#include "picture/jpeg/jpeg_state.h"
#include "picture/jpeg/jpeg_status.h"

#include <QImage>
#include <cstdint>
#include <exception>
#include <memory>
#include <optional>

namespace sorowa {

class TJPEGImage : public TGraphic {
public:
    static const TGraphicClass Class;
    const TGraphicClass& ClassType() const override { return Class; }

    // The limits of every decode (see jpeg_status.h).
    static constexpr std::uint64_t kMaxOutputPixels = jpeg::kMaxOutputPixels;
    static constexpr long kMaxLibraryMemory = jpeg::kMaxLibraryMemory;
    static constexpr int kMaxScans = jpeg::kMaxScans;

    TJPEGImage();
    ~TJPEGImage() override;

    void Draw(TCanvas& canvas, const QRect& rect) override;
    bool Empty() const override;
    int Width() const override;
    int Height() const override;
    void SetWidth(int width) override;
    void SetHeight(int height) override;
    QList<QRgb> Palette() const override;
    void LoadFromStream(TStream& stream) override;

    // True when other is a JPEG picture sharing this one's data.
    bool Equals(const TGraphic& other) const;
    // Shares other's data; the decoded bitmap is dropped.
    void Assign(const TJPEGImage& other);

    const TJPEGData* Data() const { return data_.get(); }
    bool Progressive() const { return progressive_; }
    // The kept bitmap (null image before the first draw) and the depth it was decoded at,
    // 8 or 24. A 24-bit one cut down to the rectangle drawn holds 32-bit pixels.
    const QImage& Bitmap() const { return bitmap_; }
    int BitmapBits() const { return bitmapBits_; }
    bool Decoded() const { return jpeg::HasDecoded(state_); }
    // M of the M/8 scale the kept bitmap was decoded at; 0 before the first decode arrives.
    int DecodedScale() const { return keptScale_; }
    // The bitmap shown is the camera's copy, standing in until the photo's decode arrives.
    bool FromEmbeddedThumbnail() const { return state_ == jpeg::PictureState::StandingIn; }
    // The camera's copy as it stands in for the photo (see exif_stand_in.h); nullopt when it
    // may not. Reads the file's first part; runs on any thread.
    static std::optional<QImage> StandInFor(const TJPEGData& data);
    // A decode has been handed to the decode pool and has not arrived yet.
    bool DecodePending() const { return jpeg::AwaitsPool(state_); }
    jpeg::PictureState State() const { return state_; }

private:
    struct InDrawProgress;
    // Every change of state_ goes through the table in jpeg_state.h.
    void Go(jpeg::PictureEvent event);
    void DecodeAt(int scaleEighths, bool firstDraw);
    void Apply(jpeg::PhotoDecode& outcome, int scaleEighths, bool firstDraw);
    void DrawWithPool(TDecodePool& pool, TCanvas& canvas, const QRect& rect);
    // The scale a larger draw decodes again at; 0 when what is kept will do.
    int LargerScaleFor(QSize drawn, int wanted) const;
    // keep: the draw's size; a 24-bit result larger than it is cut down to it as the draw would
    // stretch it (smooth or not), before it reaches the GUI thread.
    void StartDecode(TDecodePool& pool, int scaleEighths, bool firstDraw, QSize keep, bool smooth);
    void Arrived(jpeg::PhotoDecode& outcome, int scaleEighths, bool firstDraw);
    void StartStandIn(TDecodePool& pool);
    void CancelJobs();
    void Reset();
    void KeepOnly(const TCanvas& canvas, QSize drawn);
    int LargestScaleWithinBudget() const;
    // Keeps error for the next draw with the pool to raise, unless one is kept already.
    void KeepUnreported(std::exception_ptr error);

    std::shared_ptr<const TJPEGData> data_;
    bool progressive_ = false;
    jpeg::PictureState state_ = jpeg::PictureState::Loaded;
    int keptScale_ = 0;    // M of the kept bitmap's M/8
    bool cutDown_ = false; // the kept bitmap was cut down to a smaller draw
    TDecodePool::JobPtr decodeJob_;
    int decodeJobScale_ = 0;
    TDecodePool::JobPtr standInJob_;
    // What went wrong where no draw was running (a first decode in the pool, a progress
    // handler called from a decode's arrival): the next draw with the pool raises it, once.
    std::exception_ptr unreported_;
    QImage bitmap_;
    int bitmapBits_ = 0;
    TStretchCache cache_;
};

// Registers the picture for "jpeg" and "jpg"; UnregisterJpegPicture removes both.
void RegisterJpegPicture();
void UnregisterJpegPicture();

} // namespace sorowa
