// The plug-in picture's deferred decode: a note of the file at load, the decode (and the
// file's own preview) on the decode pool, the result handed back on the GUI thread.
#include "spi/spi_bitmap.h"

#include "picture/decode_pool.h"
#include "picture/stream.h"
#include "platform/file_identity.h"
#include "platform/file_names.h"
#include "platform/memory_budget.h"
#include "spi/plugin_input.h"
#include "spi/spi.h"

#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace sorowa {

using spi_input::DottedExtension;
using spi_input::kMaxPluginInput;
using spi_input::kMinimumData;
using spi_input::SameAsciiCase;

// A deferred picture keeps a note of its file rather than the file's bytes, so that a folder
// of large pictures that are never drawn costs no more than their notes; the decode reads the
// file again (found again after a rename in its folder; a file that no longer holds what was
// first read is an error, never decoded as if it were the one loaded).
struct TSPIBitmap::Deferred {
    QString fileName; // as the load was given it: the plug-ins see it
    platform::FileIdentity identity;
    platform::FileFingerprint fingerprint; // of the file's first bytes, as first read
    TInSPI* spi = nullptr;
    bool headerSkipRetry = true;
    // The picture's own, without its pools: the decode is made on a pool thread already.
    TPictureContext context;
    // The plug-in that took the file's first bytes: asked for the file's own preview.
    TInSPI* taker = nullptr;
    // As the plug-in claimed it from the file's first bytes; empty when it could not tell
    // from those alone (the decode says).
    QSize size;
};

namespace {

// As much of a file as the load reads to choose a plug-in: its fingerprint covers these.
constexpr std::size_t kHeadBytes = 64 * 1024;

// Whether a plug-in takes a file by its first bytes, and the size it claims from them when
// it can tell (nullopt: it does not take them). Plug-ins are asked as the decode asks them
// (at least 2048 bytes, the file's name).
std::optional<QSize> Claim(const TInSPI& spi, const std::vector<std::uint8_t>& head,
                           const QString& fileName) {
    std::vector<std::uint8_t> padded;
    const std::uint8_t* data = head.data();
    if (head.size() < kMinimumData) {
        padded.assign(kMinimumData, 0);
        if (!head.empty()) std::memcpy(padded.data(), head.data(), head.size());
        data = padded.data();
    }
    const std::string name = platform::EncodeFileName(fileName);
    if (spi.IsSupported(name.c_str(), data) == 0) return std::nullopt;
    PictureInfo info{};
    if (spi.GetPictureInfo(reinterpret_cast<const char*>(data),
                           static_cast<std::int32_t>(head.size()), SPI_INPUT_MEMORY, &info) != 0)
        return QSize();
    if (info.text != 0) LocalFree(info.text); // the info text's block is ours to free
    if (info.width <= 0 || info.height <= 0) return QSize();
    return QSize(info.width, info.height);
}

// The file's bytes again, as the load first read them; the error says what became of the
// file.
std::vector<std::uint8_t> ReadAgain(const TSPIBitmap::Deferred& deferred) {
    platform::RereadResult reread =
        platform::ReadFileAgain(deferred.fileName, deferred.identity, deferred.fingerprint, 0);
    switch (reread.status) {
    case platform::RereadStatus::Ok:
        break;
    case platform::RereadStatus::Missing:
        throw EInvalidGraphic(
            QStringLiteral("画像ファイルが見つかりません（読み込んだ時の名前: %1）")
                .arg(deferred.fileName));
    case platform::RereadStatus::Changed:
        throw EInvalidGraphic(
            QStringLiteral("画像ファイルが読み込んだ後で変更されています: %1").arg(reread.path));
    case platform::RereadStatus::ReadError:
        throw EInvalidGraphic(QStringLiteral("画像ファイルを読み込めません: %1").arg(reread.path));
    }
    return {reread.bytes.get(), reread.bytes.get() + reread.size};
}

} // namespace

// The file read once for both of a picture's jobs, by whichever runs first: the stand-in
// takes a copy, the decode takes the bytes themselves. Safe from any thread.
class TSPIBitmap::FileRead {
public:
    explicit FileRead(std::shared_ptr<const Deferred> deferred) : deferred_(std::move(deferred)) {}
    // nullopt when the decode has taken the bytes already (the stand-in is too late).
    std::optional<std::vector<std::uint8_t>> Copy() {
        std::lock_guard lock(mutex_);
        if (taken_) return std::nullopt;
        Read();
        return bytes_;
    }
    std::vector<std::uint8_t> Take() {
        std::lock_guard lock(mutex_);
        Read();
        taken_ = true;
        return std::move(bytes_);
    }

private:
    void Read() {
        if (!read_) {
            read_ = true;
            try {
                bytes_ = ReadAgain(*deferred_);
            } catch (...) {
                error_ = std::current_exception();
            }
        }
        if (error_) std::rethrow_exception(error_);
    }

    const std::shared_ptr<const Deferred> deferred_;
    std::mutex mutex_;
    bool read_ = false, taken_ = false;
    std::vector<std::uint8_t> bytes_;
    std::exception_ptr error_;
};

namespace {

// A deferred picture decoded into a picture of its own, exactly as a load without a pool
// decodes it (the same plug-ins in the same order, then the bitmap reader). It touches only
// what it makes, the bytes and the note, which never changes, so it runs on any thread.
std::unique_ptr<TSPIBitmap> DecodeDeferred(const TSPIBitmap::Deferred& deferred,
                                           std::vector<std::uint8_t> bytes) {
    auto picture = std::make_unique<TSPIBitmap>();
    picture->SetContext(deferred.context);
    picture->SPI = deferred.spi;
    picture->HeaderSkipRetry = deferred.headerSkipRetry;
    TMemoryStream stream(std::move(bytes));
    picture->LoadFromStreamWithName(stream, deferred.fileName);
    return picture;
}

// The file's own small preview, from the plug-in that took it; null when it has none.
std::unique_ptr<TSPIBitmap> DecodePreview(const TSPIBitmap::Deferred& deferred,
                                          std::vector<std::uint8_t> bytes) {
    auto picture = std::make_unique<TSPIBitmap>();
    picture->SetContext(deferred.context);
    picture->SPI = deferred.taker;
    picture->HeaderSkipRetry = false;
    picture->UsePreview = true;
    TMemoryStream stream(std::move(bytes));
    try {
        picture->LoadFromStreamWithName(stream, deferred.fileName);
    } catch (const Exception&) {
        return nullptr; // no preview: the picture's own decode follows anyway
    }
    return picture;
}

} // namespace

// The decode waits for the pool only where the plug-ins will decode it: a bitmap file goes to
// the bitmap reader first, and one that no plug-in takes by its first bytes is loaded at
// once, as without a pool, with that load's own errors. Only those first bytes are read
// here; the decode reads the file, once, on the pool.
bool TSPIBitmap::Defer(const QString& path) {
    const QString extension = DottedExtension(path);
    if (extension.isEmpty() || SameAsciiCase(extension.mid(1), adapter_->NativeExtension()))
        return false;
    std::vector<TSPI*> candidates;
    if (SPI != nullptr) {
        candidates.push_back(SPI);
    } else if (TSPIs* set = TSPIs::Instance()) {
        set->FindSPIs({&TInSPI::Class}, candidates, extension);
    }
    if (candidates.empty()) return false;
    auto deferred = std::make_shared<Deferred>();
    std::vector<std::uint8_t> head;
    {
        TFileStream stream(path);
        const std::optional<platform::FileIdentity> identity = stream.Identity();
        // Too large for any plug-in: the load at once refuses it before reading a byte.
        if (!identity || identity->size > kMaxPluginInput) return false;
        deferred->identity = *identity;
        head.resize(static_cast<std::size_t>(
            std::min<std::int64_t>(identity->size, static_cast<std::int64_t>(kHeadBytes))));
        const std::int64_t got = stream.Read(head.data(), static_cast<std::int64_t>(head.size()));
        if (got != static_cast<std::int64_t>(head.size())) return false;
    }
    deferred->fingerprint = platform::FingerprintOf(head.data(), head.size());
    std::optional<QSize> size;
    try {
        for (TSPI* candidate : candidates) {
            if ((size = Claim(static_cast<const TInSPI&>(*candidate), head, path))) {
                deferred->taker = static_cast<TInSPI*>(candidate);
                break;
            }
        }
    } catch (const Exception&) {
        return false; // the load at once meets the same plug-in and reports it
    }
    if (!size) return false;
    deferred->fileName = path;
    deferred->spi = SPI;
    deferred->headerSkipRetry = HeaderSkipRetry;
    deferred->context = Context();
    deferred->context.pool = nullptr;
    deferred->context.renderer = nullptr;
    deferred->size = *size;
    SetImage(QImage(), 0);
    deferred_ = std::move(deferred);
    state_ = State::Waiting;
    return true;
}

void TSPIBitmap::CancelDecode() {
    TDecodePool::Cancel(decodeJob_);
    decodeJob_.reset();
    TDecodePool::Cancel(standInJob_);
    standInJob_.reset();
    standIn_.reset();
    deferred_.reset();
    error_ = nullptr;
    state_ = State::Loaded;
}

bool TSPIBitmap::Empty() const {
    return state_ == State::Waiting ? false : TBitmap::Empty();
}

int TSPIBitmap::Width() const {
    return state_ == State::Waiting ? deferred_->size.width() : TBitmap::Width();
}

int TSPIBitmap::Height() const {
    return state_ == State::Waiting ? deferred_->size.height() : TBitmap::Height();
}

void TSPIBitmap::Draw(TCanvas& canvas, const QRect& rect) {
    if (state_ == State::Waiting) {
        TDecodePool* pool = Context().pool;
        if (pool == nullptr) {
            // No pool any more: the decode runs here, and its failure is this draw's.
            const std::shared_ptr<const Deferred> deferred = deferred_;
            CancelDecode();
            AssignBitmap(*DecodeDeferred(*deferred, ReadAgain(*deferred)));
        } else if (!decodeJob_ || !pool->Request(decodeJob_)) {
            StartDecode(*pool);
        } else if (standInJob_) {
            pool->Request(standInJob_);
        }
    }
    if (state_ == State::Waiting && standIn_)
        standIn_->Draw(canvas, rect);
    else
        TBitmap::Draw(canvas, rect);
    if (error_) std::rethrow_exception(std::exchange(error_, nullptr));
}

void TSPIBitmap::StartDecode(TDecodePool& pool) {
    struct Outcome {
        std::unique_ptr<TSPIBitmap> picture;
        std::exception_ptr error;
    };
    auto outcome = std::make_shared<Outcome>();
    std::shared_ptr<const Deferred> deferred = deferred_;
    auto read = std::make_shared<FileRead>(deferred);
    try {
        Progress({TProgressStage::Starting, 0, false, QRect(), QString()});
    } catch (...) { // nothing can stop a decode that runs elsewhere
    }
    // The plug-in's own small copy, where it keeps one, stands in until the decode lands;
    // what stays is always the decode.
    TDecodePool::Cancel(standInJob_);
    standInJob_.reset();
    if (deferred->taker != nullptr && deferred->taker->HasGetPreview() && !standIn_) {
        auto preview = std::make_shared<std::unique_ptr<TSPIBitmap>>();
        standInJob_ = pool.Submit(
            TDecodePool::Kind::StandIn,
            [deferred, read, preview] {
                try {
                    if (std::optional<std::vector<std::uint8_t>> bytes = read->Copy())
                        *preview = DecodePreview(*deferred, std::move(*bytes));
                } catch (...) { // the decode meets the same file and reports it
                }
            },
            [this, preview] {
                standInJob_.reset();
                if (!*preview || state_ != State::Waiting) return;
                standIn_ = std::make_unique<TBitmap>();
                standIn_->AssignBitmap(**preview);
                preview->reset();
                NotifyChange();
            });
    }
    decodeJob_ = pool.Submit(
        TDecodePool::Kind::Decode,
        [deferred, read, outcome] {
            try {
                outcome->picture = DecodeDeferred(*deferred, read->Take());
            } catch (...) {
                outcome->error = std::current_exception();
            }
        },
        [this, outcome] {
            decodeJob_.reset();
            TDecodePool::Cancel(standInJob_);
            standInJob_.reset();
            standIn_.reset();
            deferred_.reset();
            state_ = State::Loaded;
            const bool ok = outcome->picture != nullptr;
            if (ok) {
                AssignBitmap(*outcome->picture);
                outcome->picture.reset();
            } else {
                error_ = outcome->error;
            }
            try {
                Progress({TProgressStage::Ending, ok ? 100 : 0, false, QRect(), QString()});
            } catch (...) {
            }
            NotifyChange();
        });
}

} // namespace sorowa
