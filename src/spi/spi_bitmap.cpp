#include "spi/spi_bitmap.h"

#include "picture/bmp_reader.h"
#include "picture/picture.h"
#include "picture/stream.h"
#include "platform/file_identity.h"
#include "platform/file_names.h"
#include "platform/memory_budget.h"
#include "spi/local_memory.h"
#include "spi/plugin_input.h"
#include "spi/spi.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <limits>
#include <mutex>
#include <new>
#include <optional>
#include <unordered_map>

namespace sorowa {

using spi_input::DottedExtension;
using spi_input::kMaxPluginInput;
using spi_input::kMinimumData;
using spi_input::SameAsciiCase;

namespace {

constexpr std::size_t kHeaderSkip = 128;
constexpr std::size_t kInfoHeaderSize = 40;

// Plug-ins get a 32-bit user value; it names the adapter in this table while GetPicture
// runs.
struct CallbackTable {
    std::mutex mutex;
    std::unordered_map<std::int32_t, TInSPIAble*> adapters;
    std::int32_t next = 1;
};

CallbackTable& Callbacks() {
    static CallbackTable table;
    return table;
}

class CallbackToken {
public:
    explicit CallbackToken(TInSPIAble* adapter) {
        auto& table = Callbacks();
        std::lock_guard lock(table.mutex);
        while (table.next == 0 || table.adapters.contains(table.next))
            table.next =
                table.next == std::numeric_limits<std::int32_t>::max() ? 1 : table.next + 1;
        value_ = table.next++;
        table.adapters.emplace(value_, adapter);
    }
    ~CallbackToken() {
        auto& table = Callbacks();
        std::lock_guard lock(table.mutex);
        table.adapters.erase(value_);
    }
    CallbackToken(const CallbackToken&) = delete;
    CallbackToken& operator=(const CallbackToken&) = delete;
    std::int32_t Value() const { return value_; }

private:
    std::int32_t value_ = 0;
};

TInSPIAble* AdapterOf(std::int32_t token) {
    auto& table = Callbacks();
    std::lock_guard lock(table.mutex);
    const auto it = table.adapters.find(token);
    return it == table.adapters.end() ? nullptr : it->second;
}

std::uint32_t U32(const std::uint8_t* p) {
    return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
           std::uint32_t{p[3]} << 24;
}
std::uint16_t U16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>(p[0] | p[1] << 8);
}
void Put32(std::uint8_t* p, std::uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

QString TextOfHandle(std::uint32_t handle) {
    spi::TLocalBlock block(handle);
    if (!block.Valid()) return {};
    const auto bytes = block.Bytes();
    const auto* chars = reinterpret_cast<const char*>(bytes.data());
    return QString::fromUtf8(chars, static_cast<qsizetype>(strnlen(chars, bytes.size())));
}

} // namespace

// ---- TInSPIAble -------------------------------------------------------------------------

TInSPIAble::TInSPIAble(QString nativeExtension, FileLoader fileLoader, StreamLoader streamLoader,
                       PictureSink pictureSink, ProgressSink progressSink, SizeQuery ownerSize)
    : nativeExtension_(std::move(nativeExtension)), fileLoader_(std::move(fileLoader)),
      streamLoader_(std::move(streamLoader)), pictureSink_(std::move(pictureSink)),
      progressSink_(std::move(progressSink)), ownerSize_(std::move(ownerSize)) {}

TInSPIAble::~TInSPIAble() = default;

void TInSPIAble::SetName(const QString& name) {
    extension_ = DottedExtension(name);
    fileName_ = name;
}

void TInSPIAble::LoadFile(const QString& path) {
    SetName(path);
    try {
        fileLoader_(path);
    } catch (...) {
        SetName({});
        throw;
    }
    SetName({});
}

void TInSPIAble::LoadFromStreamWithName(TStream& stream, const QString& fileName) {
    SetName(fileName);
    try {
        LoadFromStream(stream);
    } catch (...) {
        SetName({});
        throw;
    }
    SetName({});
}

void TInSPIAble::LoadFromStream(TStream& stream) {
    // The blocks the plug-ins allocate through LocalAlloc come from the owner's budget too.
    platform::TDecodedBytesBudget& budget =
        OwnerContext != nullptr ? OwnerContext->Budget() : platform::TDecodedBytesBudget::Process();
    const platform::TDecodedBytesBudget::Scope scope(budget);
    TMemoryStream* image = dynamic_cast<TMemoryStream*>(&stream);
    std::unique_ptr<TMemoryStream> copy;
    platform::DecodedBytesLease copyLease;
    if (image == nullptr) {
        // The size first: the interface hands a plug-in at most 2 GiB, and the copy is taken
        // from the decoded-bytes budget like any other block a decode holds.
        const std::int64_t size = stream.Size();
        platform::DecodedBytesRequest request = size >= 0 && size <= kMaxPluginInput
                                                    ? budget.Reserve(std::uint64_t(size))
                                                    : platform::DecodedBytesRequest{};
        if (!request.ok) throw EInvalidGraphic(QStringLiteral("認識できない画像形式です"));
        copyLease = std::move(request.lease);
        stream.SetPosition(0);
        copy = std::make_unique<TMemoryStream>(stream.ReadRemaining());
        image = copy.get();
    }
    const bool nativeFirst =
        extension_.isEmpty() || SameAsciiCase(extension_.mid(1), nativeExtension_);
    QString nativeError;
    const bool loaded = UsePreview    ? LoadBySPIs(*image)
                        : nativeFirst ? LoadNative(*image, nativeError) || LoadBySPIs(*image)
                                      : LoadBySPIs(*image) || LoadNative(*image, nativeError);
    if (loaded) return;
    // A file of the native format that no plug-in reads either keeps the native decoder's own
    // account of what is wrong with it.
    if (nativeFirst && !nativeError.isEmpty()) throw EInvalidGraphic(nativeError);
    throw EInvalidGraphic(QStringLiteral("認識できない画像形式です"));
}

bool TInSPIAble::LoadNative(TMemoryStream& image, QString& error) {
    // Only the program's own errors mean "not this format, try the plug-ins"; anything else
    // (memory, a fault in the code) is not a question of format and goes to the caller.
    try {
        image.SetPosition(0);
        streamLoader_(image);
        return true;
    } catch (const Exception& e) {
        error = e.Message();
        return false;
    }
}

bool TInSPIAble::LoadBySPIs(const TMemoryStream& image) {
    if (SPI != nullptr) return LoadBySPI(*SPI, image);
    TSPIs* set = TSPIs::Instance();
    if (set == nullptr) return false;
    std::vector<TSPI*> candidates;
    set->FindSPIs({&TInSPI::Class}, candidates, extension_);
    for (TSPI* candidate : candidates)
        if (LoadBySPI(static_cast<TInSPI&>(*candidate), image)) return true;
    return false;
}

void TInSPIAble::Report(TProgressStage stage, int percent, bool redrawNow) {
    if (!progressSink_) return;
    TProgressReport report;
    report.stage = stage;
    report.percent = percent;
    report.redrawNow = redrawNow;
    const QSize size = ownerSize_ ? ownerSize_() : QSize();
    report.rect = QRect(0, 0, size.width(), size.height());
    progressSink_(report);
}

bool TInSPIAble::LoadBySPI(TInSPI& spi, const TMemoryStream& image) {
    const std::vector<std::uint8_t>& bytes = image.Bytes();
    bool decoded = false;
    try {
        Report(TProgressStage::Starting, 0, false);
        decoded = DecodeBuffer(spi, bytes.data(), bytes.size());
        if (!decoded && HeaderSkipRetry && bytes.size() > kHeaderSkip)
            decoded = DecodeBuffer(spi, bytes.data() + kHeaderSkip, bytes.size() - kHeaderSkip);
    } catch (...) {
        Report(TProgressStage::Ending, 100, true);
        throw;
    }
    Report(TProgressStage::Ending, 100, true);
    return decoded;
}

bool TInSPIAble::DecodeBuffer(TInSPI& spi, const std::uint8_t* data, std::size_t length) {
    // The interface counts bytes in 32 bits.
    if (length > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) return false;
    const auto length32 = static_cast<std::int32_t>(length);
    std::vector<std::uint8_t> padded;
    if (length < kMinimumData) {
        padded.assign(kMinimumData, 0);
        if (length > 0) std::memcpy(padded.data(), data, length);
        data = padded.data();
    }
    const auto* chars = reinterpret_cast<const char*>(data);
    const std::string name = platform::EncodeFileName(fileName_);
    if (UsePreview && !spi.HasGetPreview()) return false;
    if (spi.IsSupported(name.c_str(), data) == 0) return false;

    // A preview's information would be the picture's, not its own: none is asked for.
    TPictureInfoRec record;
    PictureInfo info{};
    if (!UsePreview && spi.GetPictureInfo(chars, length32, SPI_INPUT_MEMORY, &info) == 0) {
        record.left = info.left;
        record.top = info.top;
        record.width = info.width;
        record.height = info.height;
        record.xDensity = info.x_density;
        record.yDensity = info.y_density;
        record.colourDepth = info.colour_depth;
        if (info.text != 0) record.info = TextOfHandle(info.text);
        record.valid = true;
    }

    std::uint32_t infoHandle = 0, pixelHandle = 0;
    {
        CallbackToken token(this);
        const auto entry = UsePreview ? &TInSPI::GetPreview : &TInSPI::GetPicture;
        if ((spi.*entry)(chars, length32, SPI_INPUT_MEMORY, &infoHandle, &pixelHandle,
                         &TInSPIAble::Callback, token.Value()) != 0)
            return false;
    }
    // Both blocks are ours now: locked while the sink reads them, freed in any case. An
    // unknown or freed handle gives an empty block, which the sink refuses.
    bool success = false;
    spi::TLocalBlock pixels(pixelHandle);
    spi::TLocalBlock bitmapInfo(infoHandle);
    pictureSink_(bitmapInfo.Bytes(), pixels.Bytes(), pixels.Headroom(), record, success,
                 [&pixels] { return pixels.Take(); });
    return success;
}

std::int32_t TInSPIAble::Callback(std::int32_t numerator, std::int32_t denominator,
                                  std::int32_t user) {
    if (user == 0) return 0;
    TInSPIAble* adapter = AdapterOf(user);
    if (adapter == nullptr) return 0;
    const int percent =
        denominator == 0
            ? 0
            : static_cast<int>(std::llround(static_cast<double>(numerator) * 98.0 / denominator)) +
                  1;
    // Nothing may pass through the plug-in's C frames: an abort request, and any other
    // failure of the report, asks the plug-in to stop.
    try {
        adapter->Report(TProgressStage::Running, percent, false);
    } catch (...) {
        return 1;
    }
    return 0;
}

// ---- TSPIBitmap -------------------------------------------------------------------------

const TGraphicClass TSPIBitmap::Class{"TSPIBitmap", &TBitmap::Class,
                                      [] { return std::unique_ptr<TGraphic>(new TSPIBitmap); }};

TSPIBitmap::TSPIBitmap()
    : adapter_(std::make_unique<TInSPIAble>(
          QStringLiteral("BMP"), [this](const QString& path) { TGraphic::LoadFile(path); },
          [this](TStream& stream) { TBitmap::LoadFromStream(stream); },
          [this](std::span<const std::uint8_t> bitmapInfo, std::span<const std::uint8_t> bitmap,
                 std::span<std::uint8_t> headroom, const TPictureInfoRec& info, bool& success,
                 const TInSPIAble::PixelKeeper& keep) {
              SetDIB(bitmapInfo, bitmap, headroom, info, success, keep);
          },
          [this](const TProgressReport& report) { Progress(report); },
          [this] { return QSize(Width(), Height()); })) {
    adapter_->OwnerContext = &Context();
}

TSPIBitmap::~TSPIBitmap() {
    CancelDecode();
}


void TSPIBitmap::CopySettings() {
    adapter_->SPI = SPI;
    adapter_->HeaderSkipRetry = HeaderSkipRetry;
    adapter_->UsePreview = UsePreview;
}

void TSPIBitmap::LoadFile(const QString& path) {
    CancelDecode();
    CopySettings();
    if (Context().pool != nullptr && Defer(path)) return;
    adapter_->LoadFile(path);
}

void TSPIBitmap::LoadFromStream(TStream& stream) {
    CancelDecode();
    CopySettings();
    adapter_->LoadFromStream(stream);
}

void TSPIBitmap::LoadFromStreamWithName(TStream& stream, const QString& fileName) {
    CancelDecode();
    CopySettings();
    adapter_->LoadFromStreamWithName(stream, fileName);
}

TSPILoadFromStreamWithNameEvent TSPIBitmap::OnLoadFromStreamWithName() {
    return [this](TStream& stream, const QString& fileName) {
        LoadFromStreamWithName(stream, fileName);
    };
}

void TSPIBitmap::Assign(const TSPIBitmap& source) {
    if (&source == this) return;
    CancelDecode();
    SPI = source.SPI;
    HeaderSkipRetry = source.HeaderSkipRetry;
    AssignBitmap(source);
    if (source.state_ == State::Waiting) {
        // The bytes are shared; each picture hands its own decode to the pool.
        deferred_ = source.deferred_;
        state_ = State::Waiting;
    }
}

void TSPIBitmap::SetDIB(std::span<const std::uint8_t> bitmapInfo,
                        std::span<const std::uint8_t> bitmap, std::span<std::uint8_t> headroom,
                        const TPictureInfoRec&, bool& success,
                        const TInSPIAble::PixelKeeper& keep) {
    if (bitmapInfo.size() < kInfoHeaderSize) return;
    const std::uint8_t* header = bitmapInfo.data();
    const auto width = static_cast<std::int32_t>(U32(header + 4));
    const auto height = static_cast<std::int32_t>(U32(header + 8));
    const std::uint16_t planes = U16(header + 12);
    const std::uint16_t bitCount = U16(header + 14);
    const std::uint32_t compression = U32(header + 16);
    const std::uint32_t colorsUsed = U32(header + 32);

    // A header no bitmap of ours can have fails this plug-in's attempt, before anything is
    // allocated on its word (tests/spi/spi_bitmap_test.cpp, HostileResults).
    if (width <= 0 || height == 0 || height == std::numeric_limits<std::int32_t>::min()) return;
    if (planes != 1 || compression != 0) return;
    if (bitCount != 1 && bitCount != 4 && bitCount != 8 && bitCount != 16 && bitCount != 24 &&
        bitCount != 32)
        return;
    const std::uint64_t rows = height < 0 ? std::uint64_t(-std::int64_t{height}) : height;
    if (std::uint64_t(width) * rows > bmp::kMaxPixels) return;
    if (colorsUsed > 256) return;
    std::uint32_t colors = colorsUsed;
    if (colors == 0) colors = bitCount == 1 ? 2 : bitCount == 4 ? 16 : bitCount == 8 ? 256 : 0;

    const std::uint64_t rowSize = (std::uint64_t(width) * bitCount + 31) / 32 * 4;
    const std::uint64_t imageSize = rowSize * rows;
    const std::uint64_t infoSize = kInfoHeaderSize + 4ull * colors;
    if (bitmapInfo.size() < infoSize || bitmap.size() < imageSize) return;

    // The bitmap file: file header, info header and colour table, then the rows. The
    // headers go into the room in front of the rows when it is there, so that the rows are
    // read where the plug-in put them, and a large picture keeps the plug-in's block as it
    // is; otherwise the whole file is put together.
    const std::size_t headersSize = 14 + static_cast<std::size_t>(infoSize);
    const std::size_t fileSize = headersSize + static_cast<std::size_t>(imageSize);
    std::shared_ptr<const void> owner;
    std::uint64_t ownerBytes = 0;
    std::uint8_t* file = nullptr;
    if (headroom.size() >= headersSize && headroom.data() + headroom.size() == bitmap.data()) {
        file = headroom.data() + headroom.size() - headersSize;
        if (keep) owner = keep();
        ownerBytes = headroom.size() + bitmap.size();
    }
    // The block could not be taken: the file is put together in a buffer of its own.
    std::shared_ptr<std::uint8_t[]> built;
    if (!owner) {
        built.reset(new (std::nothrow) std::uint8_t[fileSize]);
        if (!built) throw EOutOfResources(QStringLiteral("メモリが足りません"));
        std::memcpy(built.get() + headersSize, bitmap.data(), static_cast<std::size_t>(imageSize));
        file = built.get();
        owner = built;
        ownerBytes = fileSize;
    }
    std::memset(file, 0, 14);
    file[0] = 'B';
    file[1] = 'M';
    Put32(file + 2, static_cast<std::uint32_t>(fileSize));
    Put32(file + 10, static_cast<std::uint32_t>(headersSize));
    std::memcpy(file + 14, bitmapInfo.data(), static_cast<std::size_t>(infoSize));
    Put32(file + 14, kInfoHeaderSize); // the header is always the 40-byte form
    Put32(file + 14 + 20, 0);          // and its rows are exactly as long as computed

    // The bitmap reader's own errors end the load. A 4-bit picture keeps its 16 colours as its
    // palette even when the header counts none.
    LoadFromMemory({file, fileSize}, std::move(owner), ownerBytes);
    success = true;
}

void RegisterSPIBitmap() {
    SetGraphicClass(&TSPIBitmap::Class);
}

void UnregisterSPIBitmap() {
    UnregisterPictureClass(TSPIBitmap::Class);
    if (GraphicClass() == &TSPIBitmap::Class) SetGraphicClass(nullptr);
}

} // namespace sorowa
