#include "picture/jpeg/jpeg_image.h"

#include "picture/jpeg/exif_stand_in.h"
#include "picture/jpeg/exif_thumbnail.h"
#include "picture/jpeg/orientation.h"
#include "picture/picture.h"
#include "picture/stream.h"
#include "platform/display.h"

#include <QtGlobal>
#include <algorithm>
#include <utility>

namespace sorowa {

using jpeg::PictureEvent;
using jpeg::PictureState;

const TGraphicClass TJPEGImage::Class{"TJPEGImage", nullptr,
                                      [] { return std::unique_ptr<TGraphic>(new TJPEGImage); }};

namespace {

// A 24-bit bitmap larger than the draw in both directions is worth cutting down to it (see
// KeepOnly).
bool CutsDownTo(const QImage& bitmap, int bits, QSize drawn) {
    return bits == 24 && !bitmap.isNull() && !drawn.isEmpty() && bitmap.size() != drawn &&
           bitmap.width() >= drawn.width() && bitmap.height() >= drawn.height();
}

} // namespace

// The progress handler of a decode run inside a draw. A handler that raises stops the
// decode; its error is raised again once libjpeg is done.
struct TJPEGImage::InDrawProgress {
    TJPEGImage* picture;
    std::exception_ptr handlerError;

    static bool Report(void* context, const jpeg::ProgressEvent& event) noexcept {
        auto& progress = *static_cast<InDrawProgress*>(context);
        try {
            TProgressReport report;
            report.stage = TProgressStage::Running;
            report.percent = event.percent;
            report.redrawNow = event.redrawNow;
            report.rect = QRect(QPoint(0, event.top), QPoint(event.width, event.bottom));
            progress.picture->Progress(report);
            return true;
        } catch (...) { // kept, and raised again by the draw once libjpeg is done
            progress.handlerError = std::current_exception();
            return false;
        }
    }
};

std::optional<QImage> TJPEGImage::StandInFor(const TJPEGData& data) {
    return jpeg::StandInFor(data);
}

TJPEGImage::TJPEGImage() = default;

TJPEGImage::~TJPEGImage() {
    TDecodePool::Cancel(decodeJob_);
    TDecodePool::Cancel(standInJob_);
}

void TJPEGImage::Go(PictureEvent event) {
    const std::optional<PictureState> next = jpeg::Next(state_, event);
    Q_ASSERT_X(next, "TJPEGImage",
               qPrintable(QStringLiteral("no change of state from %1 by %2")
                              .arg(QLatin1String(jpeg::NameOf(state_)),
                                   QLatin1String(jpeg::NameOf(event)))));
    if (next) state_ = *next;
}

// A decode or stand-in that is asked of the pool and then dropped never completes; a
// stand-in shown goes with the first decode it stood in for.
void TJPEGImage::CancelJobs() {
    TDecodePool::Cancel(decodeJob_);
    TDecodePool::Cancel(standInJob_);
    decodeJob_.reset();
    standInJob_.reset();
    if (state_ == PictureState::StandingIn) {
        bitmap_ = QImage();
        bitmapBits_ = 0;
        cache_.Clear();
    }
    if (jpeg::AwaitsPool(state_)) Go(PictureEvent::Cancel);
}

void TJPEGImage::Reset() {
    CancelJobs();
    Go(PictureEvent::Reset);
    cutDown_ = false;
    keptScale_ = decodeJobScale_ = 0;
    unreported_ = nullptr;
    bitmap_ = QImage();
    bitmapBits_ = 0;
    cache_.Clear();
}

void TJPEGImage::KeepUnreported(std::exception_ptr error) {
    if (!unreported_) unreported_ = std::move(error);
}

bool TJPEGImage::Empty() const {
    return data_ == nullptr || data_->Size() == 0;
}

// Always the upright photo's full size, whatever scale the kept bitmap has.
int TJPEGImage::Width() const {
    if (!data_) return 0;
    return jpeg::SwapsSides(data_->orientation) ? data_->height : data_->width;
}
int TJPEGImage::Height() const {
    if (!data_) return 0;
    return jpeg::SwapsSides(data_->orientation) ? data_->width : data_->height;
}

void TJPEGImage::SetWidth(int) {
    throw EInvalidGraphicOperation(QStringLiteral("JPEG イメージのサイズは変更できません"));
}

void TJPEGImage::SetHeight(int) {
    throw EInvalidGraphicOperation(QStringLiteral("JPEG イメージのサイズは変更できません"));
}

QList<QRgb> TJPEGImage::Palette() const {
    return bitmapBits_ == 8 ? bitmap_.colorTable() : QList<QRgb>();
}

bool TJPEGImage::Equals(const TGraphic& other) const {
    const auto* jpeg = dynamic_cast<const TJPEGImage*>(&other);
    return jpeg != nullptr && jpeg->data_ != nullptr && jpeg->data_ == data_;
}

void TJPEGImage::Assign(const TJPEGImage& other) {
    if (&other == this) return;
    Reset();
    data_ = other.data_;
    progressive_ = other.progressive_;
    SetPaletteModified(true);
    NotifyChange();
}

// A file keeps its bytes: the picture notes which file it is and reads only as far as the
// header, and a fingerprint of what it read. Any other stream's bytes are all kept.
void TJPEGImage::LoadFromStream(TStream& stream) {
    auto data = std::make_shared<TJPEGData>();
    data_.reset();
    progressive_ = false;
    Reset();

    std::optional<jpeg::HeaderResult> header;
    std::vector<std::uint8_t> headerBytes;
    const auto* file = dynamic_cast<const TFileStream*>(&stream);
    const std::optional<platform::FileIdentity> identity = file ? file->Identity() : std::nullopt;
    const std::int64_t start = stream.Position();
    if (identity && start <= identity->size) {
        data->file = TJPEGFile{file->Path(), *identity, {}, start};
        data_ = data;
        header = jpeg::ReadHeaderFrom(stream, headerBytes);
        data->file->fingerprint = platform::FingerprintOf(headerBytes.data(), headerBytes.size());
    } else {
        data->bytes = stream.ReadRemaining();
        data_ = data;
        if (!data->bytes.empty())
            header =
                jpeg::ReadJpegHeader(data->bytes.data(), data->bytes.size(), jpeg::PictureLimits());
    }
    if (header) {
        if (header->status != jpeg::DecodeStatus::Ok) throw jpeg::HeaderError(*header);
        data->width = header->header.width;
        data->height = header->header.height;
        data->grayscale = header->header.grayscale;
        progressive_ = header->header.progressive;
        const std::vector<std::uint8_t>& read = data->file ? headerBytes : data->bytes;
        data->thumbnail = jpeg::StandInThumbnail(read, header->header);
        data->orientation = jpeg::FindExifOrientation(read);
    }
    SetPaletteModified(true);
    NotifyChange();
}

int TJPEGImage::LargestScaleWithinBudget() const {
    for (int m = 8; m >= 1; --m)
        if (jpeg::ScaledSide(Width(), m) * jpeg::ScaledSide(Height(), m) <=
            static_cast<std::int64_t>(kMaxOutputPixels))
            return m;
    return 0;
}

// Only a kept decode that is smaller than the draw, or was cut down to a smaller one, is
// decoded again, and never where a decode has failed.
int TJPEGImage::LargerScaleFor(QSize drawn, int wanted) const {
    const bool mayDecode = state_ == PictureState::Decoded || state_ == PictureState::Enlarging;
    if (!mayDecode || (bitmap_.width() >= drawn.width() && bitmap_.height() >= drawn.height()))
        return 0;
    const int scale = std::min(wanted, LargestScaleWithinBudget());
    return scale > keptScale_ || (cutDown_ && scale >= keptScale_) ? scale : 0;
}

void TJPEGImage::Draw(TCanvas& canvas, const QRect& rect) {
    if (TDecodePool* pool = Context().pool) {
        DrawWithPool(*pool, canvas, rect);
        return;
    }
    CancelJobs();
    const QSize drawn(std::max(rect.width(), 0), std::max(rect.height(), 0));
    const int wanted = jpeg::ChooseScale(Width(), Height(), drawn.width(), drawn.height());
    if (state_ == PictureState::Loaded) {
        DecodeAt(wanted, true);
    } else if (const int scale = LargerScaleFor(drawn, wanted)) {
        DecodeAt(scale, false);
    }
    KeepOnly(canvas, drawn);
    cache_.Draw(canvas, rect, bitmap_, bitmapBits_);
}

// Asks the pool for what this draw needs and draws what there is. What went wrong meanwhile
// (a first decode's failure, a progress handler's error) is raised after the draw, once, as a
// draw that decoded would raise it.
void TJPEGImage::DrawWithPool(TDecodePool& pool, TCanvas& canvas, const QRect& rect) {
    const QSize drawn(std::max(rect.width(), 0), std::max(rect.height(), 0));
    const int wanted = jpeg::ChooseScale(Width(), Height(), drawn.width(), drawn.height());
    const bool smooth = TStretchCache::Smooth(canvas, 24);
    if (!jpeg::HasDecoded(state_)) {
        // Drawn larger before anything arrived: a decode not yet started is made larger.
        if (decodeJob_ && wanted > decodeJobScale_ && !TDecodePool::Started(decodeJob_)) {
            TDecodePool::Cancel(decodeJob_);
            decodeJob_.reset();
        }
        if (state_ == PictureState::Loaded || (standInJob_ && !pool.Request(standInJob_)))
            StartStandIn(pool);
        if (!decodeJob_ || !pool.Request(decodeJob_))
            StartDecode(pool, wanted, true, drawn, smooth);
    } else if (const int scale = LargerScaleFor(drawn, wanted)) {
        if (!decodeJob_ || decodeJobScale_ < scale || !pool.Request(decodeJob_))
            StartDecode(pool, scale, false, drawn, smooth);
    }
    KeepOnly(canvas, drawn);
    cache_.Draw(canvas, rect, bitmap_, bitmapBits_);
    if (unreported_) std::rethrow_exception(std::exchange(unreported_, nullptr));
}

void TJPEGImage::StartDecode(TDecodePool& pool, int scaleEighths, bool firstDraw, QSize keep,
                             bool smooth) {
    TDecodePool::Cancel(decodeJob_); // one decode at a time: the one asked for last
    auto outcome = std::make_shared<jpeg::PhotoDecode>();
    std::shared_ptr<const TJPEGData> data = data_;
    const bool eightBit = Context().display.BitsPerPixel() <= 8;
    decodeJobScale_ = scaleEighths;
    // A decode that runs elsewhere cannot be stopped: the silent abort has nothing to stop.
    try {
        Progress({TProgressStage::Starting, 0, false, QRect(), QString()});
    } catch (const EAbort&) {
    } catch (...) {
        KeepUnreported(std::current_exception());
    }
    decodeJob_ = pool.Submit(
        TDecodePool::Kind::Decode,
        [data, scaleEighths, eightBit, outcome, keep, smooth] {
            jpeg::DecodePhoto(data.get(), scaleEighths, eightBit, {}, *outcome);
            // What the draw would keep of it (see KeepOnly): a large photo's full decode
            // never waits for the GUI thread's next paint.
            QImage& image = outcome->image;
            if (CutsDownTo(image, outcome->result.bitsPerPixel, keep)) {
                image = TStretchCache::Stretched(keep, image, smooth);
                outcome->cutDown = true;
            }
        },
        [this, scaleEighths, firstDraw, outcome] { Arrived(*outcome, scaleEighths, firstDraw); });
    Go(PictureEvent::Ask);
}

// A decode's completion, on the GUI thread: it runs from the event loop, so errors are kept
// for the next draw rather than raised.
void TJPEGImage::Arrived(jpeg::PhotoDecode& outcome, int scaleEighths, bool firstDraw) {
    decodeJob_.reset();
    if (firstDraw) {
        TDecodePool::Cancel(standInJob_);
        standInJob_.reset();
        if (std::optional<EJPEG> error = outcome.Error())
            KeepUnreported(std::make_exception_ptr(std::move(*error)));
    }
    Apply(outcome, scaleEighths, firstDraw);
    try {
        Progress({TProgressStage::Ending, outcome.Ok() ? 100 : 0, PaletteModified(), QRect(),
                  QString()});
    } catch (const EAbort&) {
    } catch (...) {
        KeepUnreported(std::current_exception());
    }
    NotifyChange();
}

void TJPEGImage::StartStandIn(TDecodePool& pool) {
    TDecodePool::Cancel(standInJob_);
    standInJob_.reset();
    if (data_ == nullptr || !data_->thumbnail || Context().display.BitsPerPixel() <= 8) return;
    auto standIn = std::make_shared<std::optional<QImage>>();
    std::shared_ptr<const TJPEGData> data = data_;
    standInJob_ = pool.Submit(
        TDecodePool::Kind::StandIn, [data, standIn] { *standIn = jpeg::StandInFor(*data); },
        [this, standIn] {
            standInJob_.reset();
            if (!*standIn) return;
            Go(PictureEvent::StandIn);
            bitmap_ = std::move(**standIn);
            bitmapBits_ = 24;
            cutDown_ = false;
            cache_.Clear();
            NotifyChange();
        });
}

// A 24-bit bitmap larger than the draw in both directions is cut down to it, scaled exactly as
// the draw would scale it, so that the picture keeps what it shows. A larger draw later
// decodes again. (8-bit bitmaps are kept whole: their palette would not survive the scaling,
// and at one byte a pixel they are small at the scales thumbnails use.)
void TJPEGImage::KeepOnly(const TCanvas& canvas, QSize drawn) {
    if (!CutsDownTo(bitmap_, bitmapBits_, drawn)) return;
    bitmap_ = TStretchCache::Stretched(canvas, drawn, bitmap_, bitmapBits_);
    cutDown_ = true;
    cache_.Clear();
}

// A first decode's bitmap is kept even when the decode failed part way (the rows it made);
// one that gave no bitmap leaves the picture empty: whatever stood in for the photo goes. A
// later, larger decode replaces the kept bitmap only when it succeeds; when it fails the
// picture keeps drawing what it has, and does not try again.
void TJPEGImage::Apply(jpeg::PhotoDecode& outcome, int scaleEighths, bool firstDraw) {
    const bool ok = outcome.Ok();
    const bool made = !outcome.inputError && outcome.result.madeBitmap;
    const bool replaced = made && (firstDraw || ok);
    if (replaced) {
        bitmap_ = std::move(outcome.image);
        bitmapBits_ = outcome.result.bitsPerPixel;
        if (bitmapBits_ == 8) SetPaletteModified(true);
    } else if (firstDraw) {
        bitmap_ = QImage();
        bitmapBits_ = 0;
    }
    if (made || firstDraw) {
        cutDown_ = replaced && outcome.cutDown;
        cache_.Clear();
    }
    if (ok) keptScale_ = scaleEighths;
    Go(ok ? PictureEvent::Succeed : PictureEvent::Fail);
}

// The first decode empties the bitmap before anything else; a decode stopped before its first
// row leaves the bitmap as it is, and, like one that fails, is not tried again.
void TJPEGImage::DecodeAt(int scaleEighths, bool firstDraw) {
    if (firstDraw) {
        bitmap_ = QImage();
        bitmapBits_ = 0;
        cache_.Clear();
    }
    Go(PictureEvent::Start);
    try {
        Progress({TProgressStage::Starting, 0, false, QRect(), QString()});
    } catch (...) {
        Go(PictureEvent::Fail);
        jpeg::RethrowHandlerError(std::current_exception());
        return;
    }
    InDrawProgress progress{this, nullptr};
    jpeg::PhotoDecode outcome;
    jpeg::DecodePhoto(data_.get(), scaleEighths, Context().display.BitsPerPixel() <= 8,
                      {&progress, &InDrawProgress::Report}, outcome);
    outcome.handlerError = progress.handlerError;
    Apply(outcome, scaleEighths, firstDraw);
    Progress(
        {TProgressStage::Ending, outcome.Ok() ? 100 : 0, PaletteModified(), QRect(), QString()});
    if (PaletteModified()) NotifyChange();

    // A larger decode that fails keeps the bitmap quietly; the handler's own error is raised
    // whichever decode it stopped.
    if (firstDraw)
        if (std::optional<EJPEG> error = outcome.Error()) throw *error;
    if (outcome.result.status == jpeg::DecodeStatus::HandlerStop)
        jpeg::RethrowHandlerError(outcome.handlerError);
}

void RegisterJpegPicture() {
    const QString description = QStringLiteral("JPEG イメージファイル");
    RegisterPictureFormat(QStringLiteral("jpeg"), description, TJPEGImage::Class);
    RegisterPictureFormat(QStringLiteral("jpg"), description, TJPEGImage::Class);
}

void UnregisterJpegPicture() {
    UnregisterPictureClass(TJPEGImage::Class);
}

} // namespace sorowa
