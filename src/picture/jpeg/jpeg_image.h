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

#include "picture/bitmap.h"
#include "picture/decode_pool.h"
#include "picture/graphic.h"
#include "platform/file_identity.h"

#include <QImage>
#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

namespace sorowa {

// A JPEG that cannot be decoded. Code() is libjpeg's message code, 0 for the program's own
// refusals (too many scans, too many pixels).
class EJPEG : public EInvalidGraphic {
public:
    explicit EJPEG(int code);
    explicit EJPEG(QString message, int code = 0)
        : EInvalidGraphic(std::move(message)), code_(code) {}
    int Code() const noexcept { return code_; }

private:
    int code_;
};

// The file that holds a picture's bytes, from offset to its end.
struct TJPEGFile {
    QString path;
    platform::FileIdentity identity;
    platform::FileFingerprint fingerprint; // of the bytes the load read
    std::int64_t offset = 0;
};

// The small copy of the photo that a camera stores in the file's Exif segment, where the
// loaded bytes hold one that fits the photo.
struct TJPEGThumbnail {
    std::size_t offset = 0; // from the first byte of the picture's data
    std::size_t length = 0;
    int width = 0, height = 0;
};

// The loaded data and what its header says. Shared between pictures.
struct TJPEGData {
    std::vector<std::uint8_t> bytes; // every byte, when they did not come from a file
    std::optional<TJPEGFile> file;   // otherwise, where they are read again
    int width = 0;                   // as stored, before turning upright
    int height = 0;
    int orientation = 1; // the Exif orientation, 1 to 8
    bool grayscale = false;
    std::optional<TJPEGThumbnail> thumbnail;

    std::int64_t Size() const {
        return file ? file->identity.size - file->offset : static_cast<std::int64_t>(bytes.size());
    }
};

class TJPEGImage : public TGraphic {
public:
    static const TGraphicClass Class;
    const TGraphicClass& ClassType() const override { return Class; }

    // A first draw is refused when its output would have more pixels than this: 40 million
    // pixels (120 MB at 24 bits) decode a 40-megapixel photo at full size, and far larger
    // ones at the reduced scales that thumbnails use. Later, larger draws stop at the largest
    // scale within it.
    static constexpr std::uint64_t kMaxOutputPixels = 40'000'000;
    // libjpeg's working memory (a progressive file's coefficients live there: 144 MB for a
    // 24-megapixel photo without chroma subsampling).
    static constexpr long kMaxLibraryMemory = 512L * 1024 * 1024;
    // Real photos have about ten scans; a few hundred bytes per scan can make thousands.
    static constexpr int kMaxScans = 100;

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
    bool Decoded() const { return decoded_; }
    // M of the M/8 scale the kept bitmap was decoded at; 0 before the first decode arrives.
    int DecodedScale() const { return keptScale_; }
    // The bitmap shown is the camera's copy, standing in until the photo's decode arrives.
    bool FromEmbeddedThumbnail() const { return fromThumbnail_; }
    // The camera's copy as it stands in for the photo (the photo's part of it, between bars,
    // or all of it), when the top of the photo confirms that it still shows the photo;
    // nullopt otherwise. Reads the file's first part; runs on any thread.
    static std::optional<QImage> StandInFor(const TJPEGData& data);
    // A decode has been handed to the decode pool and has not arrived yet.
    bool DecodePending() const { return decodeJob_ != nullptr; }

    struct Outcome;

private:
    struct Decode;
    void DecodeAt(int scaleEighths, bool firstDraw);
    void Apply(Outcome& outcome, int scaleEighths, bool firstDraw);
    void DrawWithPool(TDecodePool& pool, TCanvas& canvas, const QRect& rect);
    // keep: the draw's size; a 24-bit result larger than it is cut down to it as the draw would
    // stretch it (smooth or not), before it reaches the GUI thread.
    void StartDecode(TDecodePool& pool, int scaleEighths, bool firstDraw, QSize keep, bool smooth);
    void StartStandIn(TDecodePool& pool);
    void CancelJobs();
    void Reset();
    void KeepOnly(const TCanvas& canvas, QSize drawn);
    int LargestScaleWithinBudget() const;

    std::shared_ptr<const TJPEGData> data_;
    bool progressive_ = false;
    bool decoded_ = false;       // a bitmap exists (perhaps empty or partial)
    bool decodeFailed_ = false;  // the last decode did not finish: not tried again
    int keptScale_ = 0;          // M of the kept bitmap's M/8
    bool cutDown_ = false;       // the kept bitmap was cut down to a smaller draw
    bool fromThumbnail_ = false; // the kept bitmap came from the embedded thumbnail
    TDecodePool::JobPtr decodeJob_;
    int decodeJobScale_ = 0;
    TDecodePool::JobPtr standInJob_;
    bool standInTried_ = false;
    std::optional<EJPEG> error_; // a first decode's failure, raised by the next draw
    QImage bitmap_;
    int bitmapBits_ = 0;
    TStretchCache cache_;
};

// Registers the picture for "jpeg" and "jpg"; UnregisterJpegPicture removes both.
void RegisterJpegPicture();
void UnregisterJpegPicture();

} // namespace sorowa
