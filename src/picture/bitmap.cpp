#include "picture/bitmap.h"

#include "picture/bmp_reader.h"
#include "picture/stream.h"
#include "platform/display.h"
#include "platform/file_identity.h"

#include <QPainter>
#include <algorithm>
#include <cstring>

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

bool TStretchCache::Smooth(const TCanvas& canvas, int imageBits) {
    return SmoothStretch(canvas, imageBits);
}

QImage TStretchCache::Stretched(QSize size, const QImage& image, bool smooth) {
    return Scaled(size, image, smooth);
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

namespace {

// Up to this many pixels along a side, the stretch's own sampling is asked of it (the probe
// image costs four bytes per pixel); beyond, it is computed as it samples 32-bit images.
constexpr int kProbeLimit = 1 << 20;

std::vector<int> ProbeMap(int source, int target, bool indexed, bool vertical) {
    std::vector<int> map(static_cast<std::size_t>(target), 0);
    const QSize lineSize = vertical ? QSize(1, source) : QSize(source, 1);
    const QSize stretched = vertical ? QSize(1, target) : QSize(target, 1);
    // A line of pixels that carry their own number, stretched as a picture is.
    const auto probe = [&](QImage line, int shift) {
        // Pixel i lies at bits + i * step: along the one row, or down the one column.
        std::uint8_t* bits = line.bits();
        const qsizetype pixelBytes = indexed ? 1 : 4;
        const qsizetype step = vertical ? line.bytesPerLine() : pixelBytes;
        for (int i = 0; i < source; ++i) {
            const auto number = static_cast<std::uint32_t>(i);
            std::uint8_t* pixel = bits + i * step;
            if (indexed) {
                *pixel = static_cast<std::uint8_t>((number >> shift) & 255);
            } else {
                const QRgb value = 0xFF000000u | number;
                std::memcpy(pixel, &value, sizeof value);
            }
        }
        const QImage out = line.scaled(stretched, Qt::IgnoreAspectRatio, Qt::FastTransformation)
                               .convertToFormat(QImage::Format_RGB32);
        for (int j = 0; j < target; ++j) {
            const QRgb p = vertical ? out.pixel(0, j) : out.pixel(j, 0);
            map[static_cast<std::size_t>(j)] |=
                indexed ? qRed(p) << shift : static_cast<int>(p & 0xFFFFFF);
        }
    };
    if (!indexed) {
        probe(QImage(lineSize, QImage::Format_RGB32), 0);
        return map;
    }
    QList<QRgb> table;
    for (int v = 0; v < 256; ++v)
        table.append(qRgb(v, 0, 0));
    for (int shift = 0; shift < 24 && ((source - 1) >> shift) != 0; shift += 8) {
        QImage line(lineSize, QImage::Format_Indexed8);
        line.setColorTable(table);
        probe(std::move(line), shift);
    }
    return map;
}

} // namespace

std::vector<int> NearestPixelMap(int source, int target, bool indexed, bool vertical) {
    if (source <= 0 || target <= 0) return {};
    // The stretch takes its columns from the widths alone and its rows from the heights alone
    // (tests/picture/bitmap_sampled_test.cpp), so a single line of numbered pixels shows which
    // source pixel each target pixel takes.
    if (source <= kProbeLimit) {
        std::vector<int> map = ProbeMap(source, target, indexed, vertical);
        if (std::is_sorted(map.begin(), map.end()) && map.back() < source) return map;
    }
    std::vector<int> map(static_cast<std::size_t>(target));
    const auto step = static_cast<std::int64_t>(65536.0 * source / target);
    for (int j = 0; j < target; ++j)
        map[static_cast<std::size_t>(j)] =
            static_cast<int>(std::min<std::int64_t>((step / 2 + j * step) >> 16, source - 1));
    return map;
}

// The headers, the depth the stretch counts and where the pixels are: all the pool's decode
// needs, with the file found again as the load read it.
struct TBitmap::PendingDecode {
    bmp::BmpHeader header;
    int bits = 0;
    QString path;
    platform::FileIdentity identity;
    platform::FileFingerprint headers; // of the bytes from start up to the pixels
    std::int64_t start = 0;            // where the bitmap file starts in the file
};

namespace {

struct PendingOutcome {
    QImage image;
    std::exception_ptr error;
};

// The whole picture again from its file, as the load at once decodes it (DecodeWhole): the
// bytes up to the pixel data's end, then the same pixel decode. Touches only the note and
// what it makes, so it runs on any thread.
QImage DecodeFromNote(const TBitmap::PendingDecode& pending) {
    const bmp::BmpHeader& header = pending.header;
    const std::uint64_t end = header.pixelStart + header.pixelBytes;
    platform::RereadResult again =
        platform::ReadFileRangeAgain(pending.path, pending.identity, pending.headers,
                                     pending.start, pending.start, static_cast<std::int64_t>(end));
    switch (again.status) {
    case platform::RereadStatus::Ok:
        break;
    case platform::RereadStatus::Missing:
        throw EInvalidGraphic(
            QStringLiteral("画像ファイルが見つかりません（読み込んだ時の名前: %1）").arg(pending.path));
    case platform::RereadStatus::Changed:
        throw EInvalidGraphic(
            QStringLiteral("画像ファイルが読み込んだ後で変更されています: %1").arg(again.path));
    case platform::RereadStatus::ReadError:
        throw EInvalidGraphic(QStringLiteral("画像ファイルを読み込めません: %1").arg(again.path));
    }
    const std::span<const std::uint8_t> file(again.bytes.get(), again.size);
    const auto available = std::min<std::uint64_t>(
        header.pixelBytes, file.size() > header.pixelStart ? file.size() - header.pixelStart : 0);
    QImage image = bmp::DecodeBmpPixels(
        header, file.subspan(std::min<std::size_t>(header.pixelStart, file.size()),
                             static_cast<std::size_t>(available)));
    if (image.isNull()) throw EOutOfResources(QStringLiteral("メモリが足りません"));
    return image;
}

} // namespace

TBitmap::TBitmap() = default;

TBitmap::~TBitmap() {
    TDecodePool::Cancel(pendingJob_);
}

int TBitmap::Width() const {
    if (pending_) return pending_->header.width;
    return sampled_ ? sampledWidth_ : image_.width();
}

int TBitmap::Height() const {
    if (pending_) return pending_->header.height;
    return sampled_ ? sampledHeight_ : image_.height();
}

void TBitmap::CancelPendingDecode() {
    TDecodePool::Cancel(pendingJob_);
    pendingJob_.reset();
    pending_.reset();
    pendingLease_.Release();
    pendingError_ = nullptr;
}

void TBitmap::DecodePendingHere() {
    const std::shared_ptr<const PendingDecode> pending = pending_;
    platform::DecodedBytesLease lease = std::move(pendingLease_);
    CancelPendingDecode();
    SetImage(DecodeFromNote(*pending), pending->bits, pending->header.colorTable);
    lease_ = std::move(lease);
}

void TBitmap::StartPendingDecode(TDecodePool& pool) {
    auto outcome = std::make_shared<PendingOutcome>();
    std::shared_ptr<const PendingDecode> pending = pending_;
    pendingJob_ = pool.Submit(
        TDecodePool::Kind::Decode,
        [pending, outcome] {
            try {
                outcome->image = DecodeFromNote(*pending);
            } catch (...) {
                outcome->error = std::current_exception();
            }
        },
        [this, outcome, pending] {
            pendingJob_.reset();
            platform::DecodedBytesLease lease = std::move(pendingLease_);
            pending_.reset();
            if (outcome->error) {
                SetImage(QImage(), 0);
                pendingError_ = outcome->error;
                return;
            }
            SetImage(std::move(outcome->image), pending->bits, pending->header.colorTable);
            lease_ = std::move(lease);
        });
}

void TBitmap::Draw(TCanvas& canvas, const QRect& rect) {
    if (pending_) {
        if (TDecodePool* pool = Context().pool) {
            if (!pendingJob_ || !pool->Request(pendingJob_)) StartPendingDecode(*pool);
            return; // nothing until the decode lands
        }
        // No pool any more: the decode runs here, and its failure is this draw's.
        DecodePendingHere();
    }
    if (pendingError_) {
        std::rethrow_exception(std::exchange(pendingError_, nullptr));
    }
    if (sampled_) {
        DrawSampled(canvas, rect);
        return;
    }
    cache_.Draw(canvas, rect, image_, bitCount_);
}

void TBitmap::DrawSampled(TCanvas& canvas, const QRect& rect) {
    if (rect.isEmpty() || Empty()) return;
    const bool smooth = SmoothStretch(canvas, bitCount_);
    if (sampledDrawn_.size() != rect.size() || sampledSmooth_ != smooth) {
        // Rows held in memory are smoothed whole, as a picture decoded at load would be.
        QImage drawn = smooth ? SmoothedFromWhole(rect.size()) : QImage();
        if (!drawn.isNull()) {
            sampledDrawn_ = std::move(drawn);
            sampledSmooth_ = smooth;
            canvas.Painter().drawImage(rect.topLeft(), sampledDrawn_);
            return;
        }
        const bool indexed = sampled_->header.bitCount <= 8;
        // Smoothing averages what it covers, so it is given a copy of at most four pixels per
        // drawn pixel, sampled the same way, rather than the whole picture.
        const QSize sampledSize = smooth ? QSize(std::min(Width(), 4 * rect.width()),
                                                 std::min(Height(), 4 * rect.height()))
                                         : rect.size();
        const std::vector<int> columns =
            NearestPixelMap(Width(), sampledSize.width(), indexed, false);
        const std::vector<int> rows =
            NearestPixelMap(Height(), sampledSize.height(), indexed, true);
        drawn = bmp::DecodeBmpSampled(sampled_->header, sampled_->read, columns, rows);
        if (smooth && !drawn.isNull())
            drawn = drawn.scaled(rect.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                        .convertToFormat(QImage::Format_RGB32);
        sampledDrawn_ = std::move(drawn);
        sampledSmooth_ = smooth;
    }
    canvas.Painter().drawImage(rect.topLeft(), sampledDrawn_);
}

QImage TBitmap::SmoothedFromWhole(QSize size) const {
    const bmp::BmpHeader& header = sampled_->header;
    if (sampled_->pixels.empty()) return {};
    // Only for the moment of the draw, and only when the budget has room; otherwise the
    // sampled copy stands in.
    const platform::DecodedBytesRequest lease = Context().Budget().Reserve(
        static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height) *
        (header.bitCount <= 8 ? 1 : 4));
    if (!lease.ok) return {};
    QImage whole = bmp::DecodeBmpPixels(header, sampled_->pixels);
    if (whole.isNull()) return {};
    if (whole.size() != QSize(Width(), Height())) whole = whole.copy(0, 0, Width(), Height());
    return Scaled(size, whole, true);
}

void TBitmap::SetWidth(int width) {
    if (width == Width()) return;
    if (pending_) DecodePendingHere(); // cutting needs the pixels: not waited for
    if (sampled_) {
        sampledWidth_ = std::max(0, width);
        sampledDrawn_ = QImage();
        NotifyChange();
        return;
    }
    SetImage(image_.copy(0, 0, width, image_.height()), bitCount_, palette_);
}

void TBitmap::SetHeight(int height) {
    if (height == Height()) return;
    if (pending_) DecodePendingHere();
    if (sampled_) {
        sampledHeight_ = std::max(0, height);
        sampledDrawn_ = QImage();
        NotifyChange();
        return;
    }
    SetImage(image_.copy(0, 0, image_.width(), height), bitCount_, palette_);
}

void TBitmap::AssignBitmap(const TBitmap& source) {
    if (&source == this) return;
    if (source.pending_) {
        // The note is shared; each picture hands its own decode to the pool.
        SetImage(QImage(), source.bitCount_, source.palette_);
        pending_ = source.pending_;
        NotifyChange();
        return;
    }
    if (!source.sampled_) {
        SetImage(source.image_, source.bitCount_, source.palette_);
        return;
    }
    SetSampled(source.sampled_, source.bitCount_, QSize(source.Width(), source.Height()));
}

void TBitmap::SetSampled(std::shared_ptr<const SampledSource> source, int bits, QSize size) {
    CancelPendingDecode();
    image_ = QImage();
    bitCount_ = bits;
    palette_ = source->header.colorTable;
    cache_.Clear();
    sampledDrawn_ = QImage();
    lease_.Release();
    sampled_ = std::move(source);
    sampledWidth_ = size.width();
    sampledHeight_ = size.height();
    SetPaletteModified(!palette_.isEmpty());
    NotifyChange();
}

void TBitmap::SetImage(QImage image, int bitCount, QList<QRgb> palette) {
    CancelPendingDecode();
    image_ = std::move(image);
    bitCount_ = bitCount;
    palette_ = std::move(palette);
    cache_.Clear();
    sampled_.reset();
    sampledDrawn_ = QImage();
    lease_.Release();
    SetPaletteModified(!palette_.isEmpty());
    NotifyChange();
}

namespace {

[[noreturn]] void Fail(bmp::BmpStatus status) {
    switch (status) {
    case bmp::BmpStatus::Truncated:
        throw EReadError(QStringLiteral("ストリームからの読み込みエラー"));
    case bmp::BmpStatus::TooLarge:
    case bmp::BmpStatus::OutOfMemory:
        throw EOutOfResources(QStringLiteral("メモリが足りません"));
    default:
        throw EInvalidGraphic(QStringLiteral("ビットマップイメージが不正です"));
    }
}

// Appends bytes from the stream until bytes holds `size` of them (fewer at its end).
void ReadUpTo(TStream& stream, std::vector<std::uint8_t>& bytes, std::uint64_t size) {
    if (size <= bytes.size()) return;
    const std::size_t had = bytes.size();
    bytes.resize(static_cast<std::size_t>(size));
    const std::int64_t got = stream.Read(bytes.data() + had, static_cast<std::int64_t>(size - had));
    bytes.resize(had + static_cast<std::size_t>(std::max<std::int64_t>(got, 0)));
}

// Reads a large picture's pixels again from its file when it is drawn. Only the same file,
// whose headers still read as they did at load, is read, also after a rename in its folder;
// any other gives no bytes.
bmp::ByteSource FileSource(const QString& path, const platform::FileIdentity& identity,
                           const platform::FileFingerprint& headers, std::int64_t start) {
    auto where = std::make_shared<QString>(path);
    return [where, identity, headers, start](std::uint64_t offset, std::span<std::uint8_t> out) {
        if (out.empty()) return std::size_t{0};
        platform::RereadResult again = platform::ReadFileRangeAgain(
            *where, identity, headers, start, start + static_cast<std::int64_t>(offset),
            static_cast<std::int64_t>(out.size()));
        if (again.status != platform::RereadStatus::Ok) return std::size_t{0};
        *where = again.path;
        const std::size_t n = std::min(again.size, out.size());
        std::memcpy(out.data(), again.bytes.get(), n);
        return n;
    };
}

bmp::ByteSource MemorySource(std::shared_ptr<const std::vector<std::uint8_t>> bytes) {
    return [bytes](std::uint64_t offset, std::span<std::uint8_t> out) {
        if (offset >= bytes->size()) return std::size_t{0};
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), bytes->size() - offset));
        std::memcpy(out.data(), bytes->data() + offset, n);
        return n;
    };
}

// Whole decodes read all their pixel data at once; more than this is read piece by piece.
constexpr std::uint64_t kWholeDecodeBytes = 64ull << 20;

} // namespace

void TBitmap::LoadFromStream(TStream& stream) {
    const std::int64_t start = stream.Position();
    const auto total = static_cast<std::uint64_t>(std::max<std::int64_t>(0, stream.Size() - start));
    // The headers first, and only as many bytes as they need; a header claiming a picture says
    // nothing yet about what it costs.
    std::vector<std::uint8_t> bytes;
    ReadUpTo(stream, bytes, std::min<std::uint64_t>(total, 64 * 1024));
    bmp::BmpHeader header = bmp::ReadBmpHeader(bytes, total);
    while (header.status == bmp::BmpStatus::NeedMore) {
        const std::size_t had = bytes.size();
        ReadUpTo(stream, bytes, header.needed);
        if (bytes.size() == had) Fail(bmp::BmpStatus::Truncated); // the file shrank
        header = bmp::ReadBmpHeader(bytes, total);
    }
    if (header.status == bmp::BmpStatus::Empty) {
        SetImage(QImage(), 0);
        return;
    }
    if (header.status != bmp::BmpStatus::Ok) Fail(header.status);

    // The palette is the file's own colour table, as long as the file made it (the image's
    // table is padded to the full depth); deeper pixels may carry one too.
    // Run-length pixels are expanded into a bitmap of the screen's own depth, so for the
    // stretch mode they count as that deep (tests/picture/bitmap_test.cpp,
    // RunLengthBitmapsDrawAsDeepAsTheScreen).
    const int bits = header.runLength ? Context().display.BitsPerPixel() : header.bitCount;
    const auto pixels =
        static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height);
    const std::uint64_t end = header.pixelStart + header.pixelBytes;
    if (pixels <= kWholeDecodePixels && end <= kWholeDecodeBytes) {
        platform::DecodedBytesRequest lease =
            Context().Budget().Reserve(pixels * (header.bitCount <= 8 ? 1 : 4));
        if (!lease.ok) Fail(bmp::BmpStatus::OutOfMemory);
        auto* file = dynamic_cast<TFileStream*>(&stream);
        const std::optional<platform::FileIdentity> identity =
            pixels > kPoolDecodePixels && file != nullptr && Context().pool != nullptr
                ? file->Identity()
                : std::nullopt;
        if (identity) {
            auto pending = std::make_shared<PendingDecode>();
            pending->bits = bits;
            pending->path = file->Path();
            pending->identity = *identity;
            pending->headers = platform::FingerprintOf(
                bytes.data(),
                std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(header.pixelStart)));
            pending->start = start;
            QList<QRgb> table = header.colorTable;
            pending->header = std::move(header);
            SetImage(QImage(), bits, std::move(table));
            pending_ = std::move(pending);
            pendingLease_ = std::move(lease.lease);
            NotifyChange();
            return;
        }
        ReadUpTo(stream, bytes, end);
        DecodeWhole(header, bytes, bits, std::move(lease.lease));
        return;
    }

    auto source = std::make_shared<SampledSource>();
    auto* file = dynamic_cast<TFileStream*>(&stream);
    const std::optional<platform::FileIdentity> identity =
        file != nullptr ? file->Identity() : std::nullopt;
    if (identity) {
        const std::size_t headerBytes =
            std::min<std::size_t>(bytes.size(), static_cast<std::size_t>(header.pixelStart));
        source->read = FileSource(file->Path(), *identity,
                                  platform::FingerprintOf(bytes.data(), headerBytes), start);
    } else {
        // From memory (or another stream): the bytes are kept, as the stream held them.
        ReadUpTo(stream, bytes, total);
        source->read =
            MemorySource(std::make_shared<const std::vector<std::uint8_t>>(std::move(bytes)));
    }
    source->header = std::move(header);
    const QSize size(source->header.width, source->header.height);
    SetSampled(std::move(source), bits, size);
}

void TBitmap::DecodeWhole(const bmp::BmpHeader& header, std::span<const std::uint8_t> file,
                          int bits, platform::DecodedBytesLease lease) {
    const auto available = std::min<std::uint64_t>(
        header.pixelBytes, file.size() > header.pixelStart ? file.size() - header.pixelStart : 0);
    QImage image = bmp::DecodeBmpPixels(
        header, file.subspan(std::min<std::size_t>(header.pixelStart, file.size()),
                             static_cast<std::size_t>(available)));
    if (image.isNull()) Fail(bmp::BmpStatus::OutOfMemory);
    QList<QRgb> table = header.colorTable;
    SetImage(std::move(image), bits, std::move(table));
    lease_ = std::move(lease);
}

void TBitmap::LoadFromMemory(std::span<const std::uint8_t> file, std::shared_ptr<const void> owner,
                             std::uint64_t ownerBytes) {
    bmp::BmpHeader header = bmp::ReadBmpHeader(file, file.size());
    if (header.status == bmp::BmpStatus::Empty) {
        SetImage(QImage(), 0);
        return;
    }
    if (header.status == bmp::BmpStatus::NeedMore) Fail(bmp::BmpStatus::Truncated);
    if (header.status != bmp::BmpStatus::Ok) Fail(header.status);
    const int bits = header.runLength ? Context().display.BitsPerPixel() : header.bitCount;
    const auto pixels =
        static_cast<std::uint64_t>(header.width) * static_cast<std::uint64_t>(header.height);
    if (pixels <= kWholeDecodePixels &&
        header.pixelStart + header.pixelBytes <= kWholeDecodeBytes) {
        platform::DecodedBytesRequest lease =
            Context().Budget().Reserve(pixels * (header.bitCount <= 8 ? 1 : 4));
        if (!lease.ok) Fail(bmp::BmpStatus::OutOfMemory);
        DecodeWhole(header, file, bits, std::move(lease.lease));
        return;
    }
    // Large: the bytes are kept as they are, and each draw converts only the pixels it shows.
    platform::DecodedBytesRequest lease = Context().Budget().Reserve(ownerBytes);
    if (!lease.ok) Fail(bmp::BmpStatus::OutOfMemory);
    auto source = std::make_shared<SampledSource>();
    source->lease = std::move(lease.lease);
    // Whatever the header says, never past the bytes there are (what is missing reads as
    // missing, as for a cut file).
    const std::size_t start =
        static_cast<std::size_t>(std::min<std::uint64_t>(header.pixelStart, file.size()));
    source->pixels = file.subspan(start, static_cast<std::size_t>(std::min<std::uint64_t>(
                                             header.pixelBytes, file.size() - start)));
    source->read = [file, owner = std::move(owner)](std::uint64_t offset,
                                                    std::span<std::uint8_t> out) {
        if (offset >= file.size()) return std::size_t{0};
        const auto n =
            static_cast<std::size_t>(std::min<std::uint64_t>(out.size(), file.size() - offset));
        std::memcpy(out.data(), file.data() + offset, n);
        return n;
    };
    source->header = std::move(header);
    const QSize size(source->header.width, source->header.height);
    SetSampled(std::move(source), bits, size);
}

} // namespace sorowa
