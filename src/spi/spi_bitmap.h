#pragma once
// The picture class of every extension a picture plug-in registers: a bitmap that loads
// through the plug-ins first (or last, for bitmap files) and through the bitmap reader
// otherwise. The decoding sits in TInSPIAble, which knows its owner only through the
// operations it is handed.
//
// Where a decode pool is running (the thumbnail windows run one), loading a file reads only
// its first bytes and asks the plug-ins whether they take it (and how large it is, when they
// can tell from those), and keeps a note of the file rather than its bytes; the file is read,
// once, on the pool when the picture is first drawn, and the plug-in's decode runs there, so
// that a folder of photos that take a plug-in a second each never holds the window up. A
// plug-in with GetPreview gives the file's own small copy first, shown until the decode
// lands. What the picture shows is then that decode, as the load without a pool would have
// made it; a decode that fails is raised by the next draw, once.

#include "picture/bitmap.h"
#include "picture/decode_pool.h"

#include <QSize>
#include <QString>
#include <cstdint>
#include <functional>
#include <memory>
#include <span>

namespace sorowa {

class TInSPI;
class TMemoryStream;
class TStream;

// Picture information a plug-in gave for a picture.
struct TPictureInfoRec {
    std::int32_t left = 0;
    std::int32_t top = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
    std::uint16_t xDensity = 0;
    std::uint16_t yDensity = 0;
    std::int16_t colourDepth = 0;
    QString info;
    bool valid = false;
};

class TInSPIAble {
public:
    using FileLoader = std::function<void(const QString& path)>;
    using StreamLoader = std::function<void(TStream& stream)>;
    // Takes the pixel block, headroom included, out of local memory so that the picture may
    // keep it instead of a copy; null when it cannot.
    using PixelKeeper = std::function<std::shared_ptr<const void>()>;
    // Bitmap information block, pixel block (each as big as the plug-in's block), room
    // right before the pixel block that the sink may use, the picture information, success
    // out, and the way to keep the pixel block.
    using PictureSink =
        std::function<void(std::span<const std::uint8_t> bitmapInfo,
                           std::span<const std::uint8_t> bitmap, std::span<std::uint8_t> headroom,
                           const TPictureInfoRec& info, bool& success, const PixelKeeper& keep)>;
    using ProgressSink = std::function<void(const TProgressReport& report)>;
    using SizeQuery = std::function<QSize()>;

    TInSPIAble(QString nativeExtension, FileLoader fileLoader, StreamLoader streamLoader,
               PictureSink pictureSink, ProgressSink progressSink, SizeQuery ownerSize);
    ~TInSPIAble();
    TInSPIAble(const TInSPIAble&) = delete;
    TInSPIAble& operator=(const TInSPIAble&) = delete;

    void LoadFile(const QString& path);
    void LoadFromStream(TStream& stream);
    void LoadFromStreamWithName(TStream& stream, const QString& fileName);

    const QString& NativeExtension() const { return nativeExtension_; }
    TInSPI* SPI = nullptr;
    bool HeaderSkipRetry = true;
    // The owner's context: its budget holds the plug-ins' blocks and the copy of a stream.
    const TPictureContext* OwnerContext = nullptr;
    // Asks the plug-ins for the file's own small preview (GetPreview) instead of the picture:
    // only plug-ins that have one are tried, and never the bitmap reader.
    bool UsePreview = false;

    // The progress callback handed to plug-ins (public for the plug-ins' sake only).
    static std::int32_t Callback(std::int32_t numerator, std::int32_t denominator,
                                 std::int32_t user);

private:
    // False, with the native decoder's message in error, when it cannot read image.
    bool LoadNative(TMemoryStream& image, QString& error);
    bool LoadBySPIs(const TMemoryStream& image);
    bool LoadBySPI(TInSPI& spi, const TMemoryStream& image);
    bool DecodeBuffer(TInSPI& spi, const std::uint8_t* data, std::size_t length);
    void Report(TProgressStage stage, int percent, bool redrawNow);
    void SetName(const QString& name);

    QString extension_;
    QString fileName_;
    QString nativeExtension_;
    FileLoader fileLoader_;
    StreamLoader streamLoader_;
    PictureSink pictureSink_;
    ProgressSink progressSink_;
    SizeQuery ownerSize_;
};

// Loads a stream as if it came from a file of that name.
using TSPILoadFromStreamWithNameEvent =
    std::function<void(TStream& stream, const QString& fileName)>;

class TSPIBitmap : public TBitmap {
public:
    static const TGraphicClass Class;
    const TGraphicClass& ClassType() const override { return Class; }

    TSPIBitmap();
    ~TSPIBitmap() override;

    void Draw(TCanvas& canvas, const QRect& rect) override;
    bool Empty() const override;
    int Width() const override;
    int Height() const override;
    void LoadFile(const QString& path) override;
    void LoadFromStream(TStream& stream) override;
    virtual void LoadFromStreamWithName(TStream& stream, const QString& fileName);
    // The named load, published as an event: reading it always gives this bitmap's own
    // LoadFromStreamWithName, and assigning it changes nothing.
    TSPILoadFromStreamWithNameEvent OnLoadFromStreamWithName();
    void SetOnLoadFromStreamWithName(const TSPILoadFromStreamWithNameEvent&) {}
    // Copies the plug-in choice of another plug-in picture, then its pixels.
    void Assign(const TSPIBitmap& source);

    // The picture sink: builds a bitmap file from a plug-in's two blocks and reads it.
    // Leaves success false (the plug-in's attempt failed) when the blocks are smaller than
    // their header says or the header is one no bitmap can have.
    // headroom: writable bytes right before bitmap; when they hold the headers, the rows
    // are read in place instead of copied, and a large picture keeps them (through keep)
    // rather than a converted copy.
    void SetDIB(std::span<const std::uint8_t> bitmapInfo, std::span<const std::uint8_t> bitmap,
                std::span<std::uint8_t> headroom, const TPictureInfoRec& info, bool& success,
                const TInSPIAble::PixelKeeper& keep = {});

    TInSPI* SPI = nullptr;
    bool HeaderSkipRetry = true;
    // Loads the file's own small preview rather than the picture (see TInSPIAble).
    bool UsePreview = false;

    // The plug-in's decode waits for the pool (it is asked for, or has not been drawn yet).
    bool DecodePending() const { return state_ == State::Waiting; }

    // What a deferred decode works from: a note of the file, its name and the size the
    // plug-in claimed. Shared with the pool thread, never changed once made.
    struct Deferred;
    class FileRead;

private:
    // Loaded: the pixels are here (or the picture is empty). Waiting: the bytes are kept and
    // the decode has not arrived; its first draw hands it to the pool (decodeJob_). A load
    // goes to either; a decode's arrival goes from Waiting to Loaded.
    enum class State { Loaded, Waiting };

    void CopySettings();
    bool Defer(const QString& path);
    void StartDecode(TDecodePool& pool);
    void CancelDecode();

    std::unique_ptr<TInSPIAble> adapter_;
    State state_ = State::Loaded;
    std::shared_ptr<const Deferred> deferred_;
    TDecodePool::JobPtr decodeJob_;
    // The plug-in's preview, drawn while the decode is on its way, and the job making it.
    std::unique_ptr<TBitmap> standIn_;
    TDecodePool::JobPtr standInJob_;
    std::exception_ptr error_; // a deferred decode's failure, raised by the next draw
};

// Makes TSPIBitmap the class that the plug-in set registers; withdraws it at the end.
void RegisterSPIBitmap();
void UnregisterSPIBitmap();

} // namespace sorowa
