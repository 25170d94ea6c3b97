#include "picture/jpeg/jpeg_image.h"

#include "picture/jpeg/exif_thumbnail.h"
#include "picture/jpeg/jpeg_decoder.h"
#include "picture/jpeg/orientation.h"
#include "picture/picture.h"
#include "picture/stream.h"
#include "platform/display.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <exception>

namespace sorowa {

const TGraphicClass TJPEGImage::Class{"TJPEGImage", nullptr,
                                      [] { return std::unique_ptr<TGraphic>(new TJPEGImage); }};

EJPEG::EJPEG(int code) : EJPEG(QStringLiteral("JPEG エラー #%1").arg(code), code) {}

namespace {

jpeg::DecodeLimits Limits() {
    return {TJPEGImage::kMaxScans, TJPEGImage::kMaxLibraryMemory, TJPEGImage::kMaxOutputPixels};
}

// Turns a decode's outcome into the picture's error; returns for success and for the silent
// abort, which keeps the rows decoded so far.
void RaiseFor(const jpeg::DecodeResult& result, const std::exception_ptr& handlerError) {
    switch (result.status) {
    case jpeg::DecodeStatus::Ok:
        return;
    case jpeg::DecodeStatus::LibraryError:
        throw EJPEG(result.code);
    case jpeg::DecodeStatus::TooManyScans:
        throw EJPEG(QStringLiteral("JPEG イメージのスキャンが多すぎます（%1 を超えています）")
                        .arg(TJPEGImage::kMaxScans));
    case jpeg::DecodeStatus::OverPixelBudget:
        throw EJPEG(QStringLiteral("JPEG イメージが大きすぎます（%1 x %2 ピクセル）")
                        .arg(result.width)
                        .arg(result.height));
    case jpeg::DecodeStatus::NoMemory:
        throw EJPEG(QStringLiteral("JPEG イメージのメモリが足りません"));
    case jpeg::DecodeStatus::HandlerStop:
        try {
            if (handlerError) std::rethrow_exception(handlerError);
        } catch (const EAbort&) {
        }
        return;
    }
}

// Reads the header from the stream into bytes, taking no more of its bytes than the header
// needs: 64 KB, then four times as much whenever the header goes on past what has been read.
// nullopt when the stream has no bytes.
std::optional<jpeg::HeaderResult> ReadHeaderFrom(TStream& stream,
                                                 std::vector<std::uint8_t>& bytes) {
    std::size_t want = 64 * 1024;
    for (;;) {
        const std::size_t had = bytes.size();
        bytes.resize(want);
        const auto got = static_cast<std::size_t>(
            stream.Read(bytes.data() + had, static_cast<std::int64_t>(want - had)));
        bytes.resize(had + got);
        if (bytes.empty()) return std::nullopt;
        const jpeg::HeaderResult header =
            jpeg::ReadJpegHeader(bytes.data(), bytes.size(), Limits());
        const bool atEnd = bytes.size() < want;
        if (header.status == jpeg::DecodeStatus::Ok || !header.ranOut || atEnd) return header;
        want *= 4;
    }
}

// The picture's bytes for a decode: read again from its file, or the ones kept.
struct DecodeInput {
    std::unique_ptr<std::uint8_t[]> read;
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
};

// All the bytes, or at least the first maxLength of them when maxLength is not negative.
void GetInput(const TJPEGData* data, DecodeInput& input, std::int64_t maxLength = -1) {
    if (data == nullptr) return;
    if (!data->file) {
        input.data = data->bytes.data();
        input.size = data->bytes.size();
        return;
    }
    const TJPEGFile& file = *data->file;
    platform::RereadResult reread =
        platform::ReadFileAgain(file.path, file.identity, file.fingerprint, file.offset, maxLength);
    switch (reread.status) {
    case platform::RereadStatus::Ok:
        break;
    case platform::RereadStatus::Missing:
        throw EJPEG(QStringLiteral("画像ファイルが見つかりません（読み込んだ時の名前: %1）")
                        .arg(file.path));
    case platform::RereadStatus::Changed:
        throw EJPEG(
            QStringLiteral("画像ファイルが読み込んだ後で変更されています: %1").arg(reread.path));
    case platform::RereadStatus::ReadError:
        throw EJPEG(QStringLiteral("画像ファイルを読み込めません: %1").arg(reread.path));
    }
    input.read = std::move(reread.bytes);
    input.data = input.read.get();
    input.size = reread.size;
}

// The embedded thumbnail of the loaded bytes, when it can stand for the photo: a colour JPEG
// smaller than the photo (and not larger than a thumbnail), and, where the Exif record gives
// the photo's pixel size, that record describes this photo, not one it was edited from.
std::optional<TJPEGThumbnail> ThumbnailIn(const std::vector<std::uint8_t>& bytes,
                                          const jpeg::JpegHeader& photo) {
    if (photo.grayscale || photo.width <= 0 || photo.height <= 0) return std::nullopt;
    const std::optional<jpeg::EmbeddedThumbnail> found =
        jpeg::FindEmbeddedThumbnail(bytes.data(), bytes.size());
    if (!found) return std::nullopt;
    if ((found->pixelWidth != 0 || found->pixelHeight != 0) &&
        (found->pixelWidth != static_cast<std::uint32_t>(photo.width) ||
         found->pixelHeight != static_cast<std::uint32_t>(photo.height)))
        return std::nullopt;
    const jpeg::HeaderResult header =
        jpeg::ReadJpegHeader(bytes.data() + found->offset, found->length, Limits());
    const jpeg::JpegHeader& own = header.header;
    constexpr int kSmallest = 16;
    constexpr std::int64_t kLargestPixels = 1024 * 1024;
    if (header.status != jpeg::DecodeStatus::Ok || own.grayscale || own.width < kSmallest ||
        own.height < kSmallest || own.width >= photo.width || own.height >= photo.height ||
        std::int64_t{own.width} * own.height > kLargestPixels)
        return std::nullopt;
    return TJPEGThumbnail{found->offset, found->length, own.width, own.height};
}

// Where the photo may be inside its thumbnail. Where proportions differ, first the photo's
// proportions centred between bars, as cameras store it (less a pixel on the bars' sides,
// where the compression smears them), then the whole thumbnail, stretched.
std::vector<QRect> PhotoRectsIn(QSize thumbnail, int photoWidth, int photoHeight) {
    const QRect whole(QPoint(0, 0), thumbnail);
    const double scale = std::min(static_cast<double>(thumbnail.width()) / photoWidth,
                                  static_cast<double>(thumbnail.height()) / photoHeight);
    const double width = photoWidth * scale, height = photoHeight * scale;
    if (thumbnail.width() - width < 1 && thumbnail.height() - height < 1) return {whole};
    const double x0 = (thumbnail.width() - width) / 2, y0 = (thumbnail.height() - height) / 2;
    const bool bars = y0 > 0.5; // above and below; otherwise at the sides
    int left = static_cast<int>(std::ceil(x0)), top = static_cast<int>(std::ceil(y0));
    int right = static_cast<int>(std::floor(x0 + width)),
        bottom = static_cast<int>(std::floor(y0 + height));
    if (bars) {
        ++top, --bottom;
    } else {
        ++left, --right;
    }
    if (right - left < 16 || bottom - top < 16) return {whole};
    return {QRect(left, top, right - left, bottom - top), whole};
}

using Means = std::array<double, 3>;

// The mean of each byte of a 3-byte pixel over [x0, x1) x [y0, y1).
Means MeanOver(const QImage& image, int x0, int x1, int y0, int y1) {
    Means sum{};
    for (int y = y0; y < y1; ++y) {
        const uchar* row = image.constScanLine(y);
        for (int x = x0; x < x1; ++x)
            for (int c = 0; c < 3; ++c)
                sum[c] += row[x * 3 + c];
    }
    const double count = std::max(1.0, static_cast<double>(x1 - x0) * (y1 - y0));
    for (double& value : sum)
        value /= count;
    return sum;
}

// The thumbnail rows whose band is compared with the top of the photo.
constexpr int kBandRows = 8;

// Photo rows (at the scale decoded) that lie under the thumbnail's top band.
int PhotoRowsUnderBand(const QRect& photo, int scaledHeight) {
    const int band = std::min(kBandRows, photo.height());
    return std::clamp(
        static_cast<int>(std::lround(static_cast<double>(band) * scaledHeight / photo.height())), 1,
        scaledHeight);
}

// How far the top band of the photo's rectangle in the thumbnail is from the photo's own top
// rows: eight cells across, each colour's mean compared; the mean difference, or nullopt when
// it or any one cell is too large for a copy of this photo. A thumbnail is a scaled copy, so
// the means agree closely (cell edges fall within a pixel of each other; compression moves
// means by little); another picture, or this one turned or cropped since, differs widely.
std::optional<double> TopBandDifference(const QImage& thumbnail, const QRect& photo,
                                        const QImage& top, int scaledHeight) {
    constexpr int kCells = 8;
    constexpr double kLargestCell = 24, kLargestMean = 8;
    const int band = std::min(kBandRows, photo.height());
    const int rows = PhotoRowsUnderBand(photo, scaledHeight);
    if (top.height() < rows) return std::nullopt;
    double total = 0;
    for (int i = 0; i < kCells; ++i) {
        const Means a = MeanOver(thumbnail, photo.left() + i * photo.width() / kCells,
                                 photo.left() + (i + 1) * photo.width() / kCells, photo.top(),
                                 photo.top() + band);
        const Means b =
            MeanOver(top, i * top.width() / kCells, (i + 1) * top.width() / kCells, 0, rows);
        for (int c = 0; c < 3; ++c) {
            const double difference = std::abs(a[c] - b[c]);
            if (difference > kLargestCell) return std::nullopt;
            total += difference;
        }
    }
    const double mean = total / (kCells * 3);
    if (mean > kLargestMean) return std::nullopt;
    return mean;
}

// The bitmap a decode makes, in the frame of whoever runs the decode.
struct Target {
    QImage image;

    static jpeg::RowTarget Make(void* context, int width, int height, int bitsPerPixel,
                                const std::uint32_t* palette, int paletteSize) noexcept {
        auto& target = *static_cast<Target*>(context);
        try {
            QImage image(width, height,
                         bitsPerPixel == 8 ? QImage::Format_Indexed8 : QImage::Format_BGR888);
            if (image.isNull()) return {};
            if (bitsPerPixel == 8) image.setColorTable(QList<QRgb>(palette, palette + paletteSize));
            target.image = std::move(image);
            return {target.image.bits(), target.image.bytesPerLine()};
        } catch (...) {
            return {};
        }
    }
};

// The camera's copy, to stand in for the photo while the photo decodes, when the top of the
// photo confirms that it still shows the photo; placed between bars, as cameras store it, or
// stretched, whichever is closer. Only the copy and the photo's first rows are read. nullopt
// when the copy cannot be used: then nothing stands in. It touches nothing but data, which
// never changes after the load, so it runs on any thread.
std::optional<QImage> CameraCopyFor(const TJPEGData& data) {
    if (!data.thumbnail) return std::nullopt;
    const TJPEGThumbnail& thumbnail = *data.thumbnail;
    const std::vector<QRect> rects =
        PhotoRectsIn(QSize(thumbnail.width, thumbnail.height), data.width, data.height);

    // The photo's top rows lie within the first part of its data: a quarter of the file
    // besides the thumbnail is far more than they take in any real photo.
    const std::int64_t size = data.Size();
    const std::int64_t prefix = std::min<std::int64_t>(
        size, static_cast<std::int64_t>(thumbnail.offset + thumbnail.length) + size / 4 + 65536);
    DecodeInput input;
    try {
        GetInput(&data, input, prefix);
    } catch (const EJPEG&) {
        return std::nullopt;
    }
    if (input.size < thumbnail.offset + thumbnail.length) return std::nullopt;

    Target small;
    jpeg::DecodeRequest request;
    request.data = input.data + thumbnail.offset;
    request.size = thumbnail.length;
    request.limits = Limits();
    request.bitmap = {&small, &Target::Make};
    const jpeg::DecodeResult own = jpeg::DecodeJpeg(request);
    if (own.status != jpeg::DecodeStatus::Ok || own.ranOut || own.bitsPerPixel != 24 ||
        small.image.size() != QSize(thumbnail.width, thumbnail.height))
        return std::nullopt;

    const int scaledHeight = static_cast<int>(jpeg::ScaledSide(data.height, 1));
    int rows = 0;
    for (const QRect& rect : rects)
        rows = std::max(rows, PhotoRowsUnderBand(rect, scaledHeight));
    Target top;
    request.data = input.data;
    request.size = input.size;
    request.scaleEighths = 1;
    request.maxRows = rows;
    request.bitmap = {&top, &Target::Make};
    const jpeg::DecodeResult first = jpeg::DecodeJpeg(request);
    if (first.status != jpeg::DecodeStatus::Ok || first.ranOut || first.bitsPerPixel != 24 ||
        first.rowsDone < rows)
        return std::nullopt;

    // Where both placements pass (a smooth sky), the closer one.
    std::optional<QRect> best;
    double bestDifference = 0;
    for (const QRect& rect : rects) {
        const std::optional<double> difference =
            TopBandDifference(small.image, rect, top.image, scaledHeight);
        if (difference && (!best || *difference < bestDifference)) {
            best = rect;
            bestDifference = *difference;
        }
    }
    if (!best) return std::nullopt;
    return jpeg::Upright(small.image.copy(*best), data.orientation);
}

} // namespace

// What one decode of the photo gave.
struct TJPEGImage::Outcome {
    QImage image;
    jpeg::DecodeResult result;
    std::exception_ptr handlerError;
    std::optional<EJPEG> inputError; // the loaded bytes could not be had again
    bool cutDown = false;            // image was cut down to the draw's size

    bool Ok() const { return !inputError && result.status == jpeg::DecodeStatus::Ok; }
    // The error a first draw reports; nullopt for success and for the silent abort.
    std::optional<EJPEG> Error() const {
        if (inputError) return inputError;
        try {
            RaiseFor(result, handlerError);
        } catch (const EJPEG& error) {
            return error;
        }
        return std::nullopt;
    }
};

namespace {

// A 24-bit bitmap larger than the draw in both directions is worth cutting down to it (see
// KeepOnly).
bool CutsDownTo(const QImage& bitmap, int bits, QSize drawn) {
    return bits == 24 && !bitmap.isNull() && !drawn.isEmpty() && bitmap.size() != drawn &&
           bitmap.width() >= drawn.width() && bitmap.height() >= drawn.height();
}

// Reads the loaded bytes again and decodes them at M/8. It touches nothing but data (never
// changed after the load) and out, so it runs on any thread.
void DecodePhoto(const TJPEGData* data, int scaleEighths, bool eightBitDisplay,
                 jpeg::ProgressSink progress, TJPEGImage::Outcome& out) {
    DecodeInput input;
    try {
        GetInput(data, input);
    } catch (const EJPEG& error) {
        out.inputError = error;
        return;
    }
    Target target;
    jpeg::DecodeRequest request;
    request.data = input.data;
    request.size = input.size;
    request.scaleEighths = scaleEighths;
    request.eightBitDisplay = eightBitDisplay;
    request.limits = Limits();
    request.bitmap = {&target, &Target::Make};
    request.progress = progress;
    out.result = jpeg::DecodeJpeg(request);
    if (!out.result.madeBitmap) return;
    // Rows the decoder did not reach read as zero, as in a freshly made bitmap.
    for (int y = std::max(out.result.rowsDone, 0); y < target.image.height(); ++y)
        std::memset(target.image.scanLine(y), 0,
                    static_cast<std::size_t>(target.image.bytesPerLine()));
    out.image = jpeg::Upright(target.image, data->orientation);
    if (out.image.isNull() && !target.image.isNull()) {
        out.result.status = jpeg::DecodeStatus::NoMemory; // no room to turn it
        out.result.madeBitmap = false;
    }
}

} // namespace

// The progress handler of a decode run inside a draw.
struct TJPEGImage::Decode {
    TJPEGImage* picture;
    std::exception_ptr handlerError;

    // A handler that raises stops the decode; its error is raised again once libjpeg is done.
    static bool Report(void* context, const jpeg::ProgressEvent& event) noexcept {
        auto& decode = *static_cast<Decode*>(context);
        try {
            TProgressReport report;
            report.stage = TProgressStage::Running;
            report.percent = event.percent;
            report.redrawNow = event.redrawNow;
            report.rect = QRect(QPoint(0, event.top), QPoint(event.width, event.bottom));
            decode.picture->Progress(report);
            return true;
        } catch (...) {
            decode.handlerError = std::current_exception();
            return false;
        }
    }
};

std::optional<QImage> TJPEGImage::StandInFor(const TJPEGData& data) {
    return CameraCopyFor(data);
}

TJPEGImage::TJPEGImage() = default;

TJPEGImage::~TJPEGImage() {
    CancelJobs();
}

void TJPEGImage::CancelJobs() {
    TDecodePool::Cancel(decodeJob_);
    TDecodePool::Cancel(standInJob_);
    decodeJob_.reset();
    standInJob_.reset();
}

void TJPEGImage::Reset() {
    CancelJobs();
    decoded_ = decodeFailed_ = cutDown_ = fromThumbnail_ = standInTried_ = false;
    keptScale_ = decodeJobScale_ = 0;
    error_.reset();
    bitmap_ = QImage();
    bitmapBits_ = 0;
    cache_.Clear();
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
        header = ReadHeaderFrom(stream, headerBytes);
        data->file->fingerprint = platform::FingerprintOf(headerBytes.data(), headerBytes.size());
    } else {
        data->bytes = stream.ReadRemaining();
        data_ = data;
        if (!data->bytes.empty())
            header = jpeg::ReadJpegHeader(data->bytes.data(), data->bytes.size(), Limits());
    }
    if (header) {
        if (header->status != jpeg::DecodeStatus::Ok) throw EJPEG(header->code);
        data->width = header->header.width;
        data->height = header->header.height;
        data->grayscale = header->header.grayscale;
        progressive_ = header->header.progressive;
        const std::vector<std::uint8_t>& read = data->file ? headerBytes : data->bytes;
        data->thumbnail = ThumbnailIn(read, header->header);
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

void TJPEGImage::Draw(TCanvas& canvas, const QRect& rect) {
    if (TDecodePool* pool = TDecodePool::Current()) {
        DrawWithPool(*pool, canvas, rect);
        return;
    }
    CancelJobs();
    const QSize drawn(std::max(rect.width(), 0), std::max(rect.height(), 0));
    const int wanted = jpeg::ChooseScale(Width(), Height(), drawn.width(), drawn.height());
    if (!decoded_) {
        DecodeAt(wanted, true);
    } else if (!decodeFailed_ &&
               (bitmap_.width() < drawn.width() || bitmap_.height() < drawn.height())) {
        const int scale = std::min(wanted, LargestScaleWithinBudget());
        if (scale > keptScale_ || (cutDown_ && scale >= keptScale_)) DecodeAt(scale, false);
    }
    KeepOnly(canvas, drawn);
    cache_.Draw(canvas, rect, bitmap_, bitmapBits_);
}

// Asks the pool for what this draw needs and draws what there is. A first decode's failure
// is raised by the draw after it arrives, once, as a draw that decoded would raise it.
void TJPEGImage::DrawWithPool(TDecodePool& pool, TCanvas& canvas, const QRect& rect) {
    const QSize drawn(std::max(rect.width(), 0), std::max(rect.height(), 0));
    const int wanted = jpeg::ChooseScale(Width(), Height(), drawn.width(), drawn.height());
    if (!decoded_) {
        // Drawn larger before anything arrived: a decode not yet started is made larger.
        if (decodeJob_ && wanted > decodeJobScale_ && !TDecodePool::Started(decodeJob_)) {
            TDecodePool::Cancel(decodeJob_);
            decodeJob_.reset();
        }
        if (!standInTried_ || (standInJob_ && !pool.Request(standInJob_))) StartStandIn(pool);
        if (!decodeJob_ || !pool.Request(decodeJob_))
            StartDecode(pool, wanted, true, drawn, TStretchCache::Smooth(canvas, 24));
    } else if (!decodeFailed_ &&
               (bitmap_.width() < drawn.width() || bitmap_.height() < drawn.height())) {
        const int scale = std::min(wanted, LargestScaleWithinBudget());
        if (scale > keptScale_ || (cutDown_ && scale >= keptScale_)) {
            if (!decodeJob_ || decodeJobScale_ < scale || !pool.Request(decodeJob_))
                StartDecode(pool, scale, false, drawn, TStretchCache::Smooth(canvas, 24));
        }
    }
    KeepOnly(canvas, drawn);
    cache_.Draw(canvas, rect, bitmap_, bitmapBits_);
    if (error_) {
        const EJPEG error = std::move(*error_);
        error_.reset();
        throw error;
    }
}

void TJPEGImage::StartDecode(TDecodePool& pool, int scaleEighths, bool firstDraw, QSize keep,
                             bool smooth) {
    TDecodePool::Cancel(decodeJob_); // one decode at a time: the one asked for last
    auto outcome = std::make_shared<Outcome>();
    std::shared_ptr<const TJPEGData> data = data_;
    const bool eightBit = platform::ScreenBitsPerPixel() <= 8;
    decodeJobScale_ = scaleEighths;
    try {
        Progress({TProgressStage::Starting, 0, false, QRect(), QString()});
    } catch (...) { // nothing can stop a decode that runs elsewhere
    }
    decodeJob_ = pool.Submit(
        TDecodePool::Kind::Decode,
        [data, scaleEighths, eightBit, outcome, keep, smooth] {
            DecodePhoto(data.get(), scaleEighths, eightBit, {}, *outcome);
            // What the draw would keep of it (see KeepOnly): a large photo's full decode
            // never waits for the GUI thread's next paint.
            QImage& image = outcome->image;
            if (CutsDownTo(image, outcome->result.bitsPerPixel, keep)) {
                image = TStretchCache::Stretched(keep, image, smooth);
                outcome->cutDown = true;
            }
        },
        [this, scaleEighths, firstDraw, outcome] {
            decodeJob_.reset();
            if (firstDraw) {
                decoded_ = true;
                TDecodePool::Cancel(standInJob_);
                standInJob_.reset();
                error_ = outcome->Error();
            }
            Apply(*outcome, scaleEighths, firstDraw);
            try {
                Progress({TProgressStage::Ending, outcome->Ok() ? 100 : 0, PaletteModified(),
                          QRect(), QString()});
            } catch (...) {
            }
            NotifyChange();
        });
}

void TJPEGImage::StartStandIn(TDecodePool& pool) {
    standInTried_ = true;
    TDecodePool::Cancel(standInJob_);
    standInJob_.reset();
    if (data_ == nullptr || !data_->thumbnail || platform::ScreenBitsPerPixel() <= 8) return;
    auto standIn = std::make_shared<std::optional<QImage>>();
    std::shared_ptr<const TJPEGData> data = data_;
    standInJob_ = pool.Submit(
        TDecodePool::Kind::StandIn, [data, standIn] { *standIn = CameraCopyFor(*data); },
        [this, standIn] {
            standInJob_.reset();
            if (decoded_ || !*standIn) return;
            bitmap_ = std::move(**standIn);
            bitmapBits_ = 24;
            cutDown_ = false;
            fromThumbnail_ = true;
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
void TJPEGImage::Apply(Outcome& outcome, int scaleEighths, bool firstDraw) {
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
        fromThumbnail_ = false;
        cutDown_ = replaced && outcome.cutDown;
        cache_.Clear();
    }
    decodeFailed_ = !ok;
    if (ok) keptScale_ = scaleEighths;
}

// The first decode stores an empty bitmap before anything else, so that a decode that fails
// is not tried again: later draws show what the bitmap holds.
void TJPEGImage::DecodeAt(int scaleEighths, bool firstDraw) {
    if (firstDraw) {
        decoded_ = true;
        bitmap_ = QImage();
        bitmapBits_ = 0;
        cache_.Clear();
    }
    decodeFailed_ = true;
    try {
        Progress({TProgressStage::Starting, 0, false, QRect(), QString()});
    } catch (const EAbort&) {
        return; // stopped before the first row: the bitmap stays as it is
    }
    Decode decode{this, nullptr};
    Outcome outcome;
    DecodePhoto(data_.get(), scaleEighths, platform::ScreenBitsPerPixel() <= 8,
                {&decode, &Decode::Report}, outcome);
    outcome.handlerError = decode.handlerError;
    Apply(outcome, scaleEighths, firstDraw);
    Progress(
        {TProgressStage::Ending, outcome.Ok() ? 100 : 0, PaletteModified(), QRect(), QString()});
    if (PaletteModified()) NotifyChange();

    if (firstDraw) {
        if (outcome.inputError) throw *outcome.inputError;
        RaiseFor(outcome.result, outcome.handlerError);
    } else if (outcome.result.status == jpeg::DecodeStatus::HandlerStop) {
        RaiseFor(outcome.result, outcome.handlerError); // the handler's own error, not the file's
    }
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
