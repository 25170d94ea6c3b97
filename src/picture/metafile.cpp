#include "picture/metafile.h"

#include "picture/emf_player.h"
#include "picture/metafile_records.h"
#include "picture/stream.h"
#include "picture/wmf_player.h"
#include "platform/display.h"

#include <QPainter>
#include <cmath>
#include <exception>
#include <utility>

namespace sorowa {

const TGraphicClass TMetafile::Class{"TMetafile", nullptr,
                                     [] { return std::unique_ptr<TGraphic>(new TMetafile); }};

namespace {

constexpr std::size_t kPlaceableSize = 22;
constexpr std::uint32_t kPlaceableKey = 0x9AC6CDD7;
constexpr std::size_t kEnhancedHeaderRead = 100;

[[noreturn]] void Invalid() {
    throw EInvalidGraphic(QStringLiteral("メタファイルが不正です"));
}

[[noreturn]] void ReadError() {
    throw EReadError(QStringLiteral("ストリームからの読み込みエラー"));
}

// a * b / c rounded to the nearest integer, halves away from zero.
int MulDiv(std::int64_t a, std::int64_t b, std::int64_t c) {
    return static_cast<int>(
        std::lround(static_cast<double>(a) * static_cast<double>(b) / static_cast<double>(c)));
}

} // namespace

TMetafile::TMetafile() {
    SetTransparent(true);
    SetModified(false);
}

TMetafile::~TMetafile() {
    TDecodePool::Cancel(playJob_);
}

void TMetafile::CancelPlay() {
    TDecodePool::Cancel(playJob_);
    playJob_.reset();
    played_ = QImage();
    playedSize_ = QSize();
    playError_ = nullptr;
}

void TMetafile::SetWidth(int width) {
    if (width == width_) return;
    width_ = width;
    NotifyChange();
}

void TMetafile::SetHeight(int height) {
    if (height == height_) return;
    height_ = height;
    NotifyChange();
}

void TMetafile::LoadFromStream(TStream& stream) {
    CancelPlay();
    std::vector<std::uint8_t> bytes = stream.ReadRemaining();
    if (metafile::LooksEnhanced(bytes))
        LoadEnhanced(std::move(bytes));
    else
        LoadPlaceable(std::move(bytes));
    SetPaletteModified(!palette_.isEmpty());
    NotifyChange();
}

void TMetafile::LoadEnhanced(std::vector<std::uint8_t> bytes) {
    const metafile::EnhancedHeader h = *metafile::ReadEnhancedHeader(bytes);
    if (h.bytes < kEnhancedHeaderRead) Invalid();
    if (h.bytes > bytes.size()) ReadError();
    bytes.resize(h.bytes);
    QList<QRgb> palette;
    if (!metafile::CheckEnhancedMetafile(bytes, &palette)) Invalid();
    // A reference device without a size in millimetres gives no pixel size; such a file is
    // refused rather than divided by zero (tests/data/metafile/device-mm-0.emf).
    if (h.deviceMillimetres.width() <= 0 || h.deviceMillimetres.height() <= 0) Invalid();

    const std::int64_t mmWidth = std::int64_t{h.frame.right()} - h.frame.left();
    const std::int64_t mmHeight = std::int64_t{h.frame.bottom()} - h.frame.top();
    data_ = std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes));
    enhanced_ = true;
    bounds_ = QRect();
    mmWidth_ = static_cast<int>(mmWidth);
    mmHeight_ = static_cast<int>(mmHeight);
    width_ =
        MulDiv(mmWidth, h.devicePixels.width(), std::int64_t{h.deviceMillimetres.width()} * 100);
    height_ =
        MulDiv(mmHeight, h.devicePixels.height(), std::int64_t{h.deviceMillimetres.height()} * 100);
    palette_ = std::move(palette);
}

void TMetafile::LoadPlaceable(std::vector<std::uint8_t> bytes) {
    if (bytes.size() < kPlaceableSize) ReadError();
    const metafile::Record header(std::span<const std::uint8_t>(bytes.data(), kPlaceableSize));
    if (header.U32(0) != kPlaceableKey) Invalid();
    std::uint16_t checksum = 0;
    for (std::size_t i = 0; i < 10; ++i)
        checksum ^= header.U16(2 * i);
    if (checksum != header.U16(20)) Invalid();

    const QRect box(QPoint(header.I16(6), header.I16(8)), QPoint(header.I16(10), header.I16(12)));
    const int inch = header.U16(14);
    std::vector<std::uint8_t> body(bytes.begin() + kPlaceableSize, bytes.end());
    metafile::WindowsMetafileFacts facts;
    if (!metafile::CheckWindowsMetafile(body, &facts)) Invalid();

    const std::int64_t width = std::int64_t{box.right()} - box.left();
    const std::int64_t height = std::int64_t{box.bottom()} - box.top();
    const int unitsPerInch = inch != 0 ? inch : 96;
    data_ = std::make_shared<const std::vector<std::uint8_t>>(std::move(body));
    enhanced_ = false;
    bounds_ = box;
    mmWidth_ = MulDiv(width, 2540, unitsPerInch);
    mmHeight_ = MulDiv(height, 2540, unitsPerInch);
    if (inch != 0) {
        width_ = MulDiv(mmWidth_, Context().display.PixelsPerInchX(), 2540);
        height_ = MulDiv(mmHeight_, Context().display.PixelsPerInchY(), 2540);
    } else {
        // Without units per inch the picture is converted with one logical unit to one
        // pixel of the 96-dpi reference device, so its box is its size in pixels.
        width_ = static_cast<int>(width);
        height_ = static_cast<int>(height);
    }
    palette_ = std::move(facts.palette);
}

void TMetafile::Play(QPainter& painter, const QRectF& target) const {
    if (enhanced_) {
        metafile::PlayEnhancedMetafile(*data_, painter, target);
    } else {
        const QRectF window(QPointF(bounds_.left(), bounds_.top()),
                            QPointF(bounds_.right(), bounds_.bottom()));
        metafile::PlayWindowsMetafile(*data_, window, painter, target);
    }
}

void TMetafile::Draw(TCanvas& canvas, const QRect& rect) {
    if (Empty()) return;
    const QRectF target(rect.left(), rect.top(), rect.width() - 1, rect.height() - 1);
    if (target.width() <= 0 || target.height() <= 0) return;
    if (data_->size() > kPoolPlayBytes) {
        if (TDecodePool* pool = Context().pool) {
            DrawPlayed(canvas, rect, *pool);
            return;
        }
    }
    Play(canvas.Painter(), target);
}

// The play runs on the pool into a picture of its own, touching only the records (shared,
// never changed) and a copy of the few facts it plays them with.
void TMetafile::DrawPlayed(TCanvas& canvas, const QRect& rect, TDecodePool& pool) {
    if (playedSize_ == rect.size()) {
        // A play that failed is raised once, as the draw that played it would have.
        if (playError_) std::rethrow_exception(std::exchange(playError_, nullptr));
        canvas.Painter().drawImage(rect.topLeft(), played_);
        return;
    }
    if (playJob_ && playJobSize_ == rect.size() && pool.Request(playJob_)) return;
    TDecodePool::Cancel(playJob_);
    auto player = std::make_shared<TMetafile>();
    player->data_ = data_;
    player->enhanced_ = enhanced_;
    player->bounds_ = bounds_;
    struct Played {
        QImage image;
        std::exception_ptr error;
    };
    auto result = std::make_shared<Played>();
    const QSize size = rect.size();
    playJobSize_ = size;
    playJob_ = pool.Submit(
        TDecodePool::Kind::Decode,
        [player, result, size] {
            try {
                QImage image(size, QImage::Format_ARGB32_Premultiplied);
                if (image.isNull()) throw EOutOfResources(QStringLiteral("メモリが足りません"));
                image.fill(Qt::transparent);
                {
                    QPainter painter(&image);
                    player->Play(painter, QRectF(0, 0, size.width() - 1, size.height() - 1));
                }
                result->image = std::move(image);
            } catch (...) {
                result->error = std::current_exception();
            }
        },
        [this, result, size] {
            playJob_.reset();
            played_ = std::move(result->image);
            playedSize_ = size;
            playError_ = result->error;
            NotifyChange();
        });
}

} // namespace sorowa
