#include "picture/gif/gif_image.h"

#include "picture/gif/gif_frame_bitmap.h"
#include "picture/gif/gif_painter.h"
#include "picture/gif/gif_reader.h"
#include "picture/picture.h"
#include "picture/stream.h"

namespace sorowa {

const TGraphicClass TGIFImage::Class{"TGIFImage", nullptr,
                                     [] { return std::unique_ptr<TGraphic>(new TGIFImage); }};

const TGIFColorMap& TGIFSubImage::ActiveColorMap() const {
    if (!colorMap.Empty() || Image() == nullptr) return colorMap;
    return Image()->Header().colorMap;
}

TGIFImage::TGIFImage() : header_(this), painters_(std::make_shared<gif::TPainterList>()) {}

TGIFImage::~TGIFImage() {
    StopPaintingAll();
}

bool TGIFImage::DitheringInForce() const {
    if ((drawOptions_ & goDither) == 0) return false;
    return (drawOptions_ & goAutoDither) == 0 || Context().display.BitsPerPixel() <= 8;
}

void TGIFImage::Warning(TGIFItem* sender, TGIFSeverity severity, const QString& message) {
    if (onWarning_) onWarning_(sender, severity, message);
}

void TGIFImage::Clear() {
    drawFailed_ = false;
    StopPaintingAll();
    images_.Clear();
    header_.Clear();
    cachedPalette_.reset();
}

void TGIFImage::SetWidth(int width) {
    if (width == Width()) return;
    StopPaintingAll();
    header_.SetWidth(width);
    NotifyChange();
}

void TGIFImage::SetHeight(int height) {
    if (height == Height()) return;
    StopPaintingAll();
    header_.SetHeight(height);
    NotifyChange();
}

void TGIFImage::ReportRendering(TProgressStage stage, int percent) {
    Progress({stage, percent, false, {}, QString::fromLatin1(gifmsg::kRendering)});
}

QList<QRgb> TGIFImage::Palette() const {
    return PicturePalette();
}

QList<QRgb> TGIFImage::PicturePalette() const {
    if (cachedPalette_) return *cachedPalette_;
    if (DitheringInForce()) {
        cachedPalette_ = gif::ColorCubePalette();
        return *cachedPalette_;
    }
    if (!header_.colorMap.Empty()) {
        cachedPalette_ = header_.colorMap.ToPalette();
        return *cachedPalette_;
    }
    if (images_.Empty()) return {};
    // The first frame's palette asks the picture again when the frame has no table of its
    // own either (tests/data/gif/no-color-table.gif).
    if (paletteQuery_) throw GIFException(QString::fromLatin1(gifmsg::kNoColorTable));
    paletteQuery_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{paletteQuery_};
    return gif::FramePalette(*this, images_[0]);
}

void TGIFImage::LoadFromStream(TStream& stream) {
    const QString loading = QString::fromLatin1(gifmsg::kLoading);
    Progress({TProgressStage::Starting, 0, false, {}, loading});
    Clear();
    // A memory stream is read in place; any other is read whole first.
    std::vector<std::uint8_t> copy;
    std::span<const std::uint8_t> bytes;
    if (auto* memory = dynamic_cast<TMemoryStream*>(&stream)) {
        const auto position = static_cast<std::size_t>(
            std::min<std::int64_t>(memory->Position(), std::ssize(memory->Bytes())));
        bytes = std::span(memory->Bytes()).subspan(position);
        memory->Seek(0, TStream::Origin::End);
    } else {
        copy = stream.ReadRemaining();
        bytes = copy;
    }
    TGIFReader reader(bytes, this,
                      [this](TGIFItem* sender, TGIFSeverity severity, const QString& text) {
                          Warning(sender, severity, text);
                      });
    try {
        reader.ReadHeader(header_);
        reader.ReadBlocks(images_, header_, [&](std::size_t position, std::size_t size) {
            const int percent =
                size == 0 ? 100 : static_cast<int>((position * 200 + size) / (size * 2));
            Progress({TProgressStage::Running, percent, false, {}, loading});
        });
        reader.ReadTrailer();
    } catch (...) {
        // The frames read so far stay; the picture holder drops the whole picture anyway.
        Progress({TProgressStage::Ending, 0, false, {}, loading});
        throw;
    }
    Progress({TProgressStage::Ending, 100, false, {}, loading});
}

void TGIFImage::Draw(TCanvas& canvas, const QRect& rect) {
    if (images_.Empty() || drawing_ || drawFailed_) return;
    drawing_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{drawing_};
    try {
        if (images_.Count() > 1 && (drawOptions_ & goAnimate) != 0)
            DrawAnimated(canvas, rect);
        else
            DrawFirstFrame(canvas, rect);
    } catch (...) {
        // The error box would otherwise come back with every repaint of the thumbnail
        // (tests/picture/gif/gif_corpus_test.cpp, NoColorTableFailsAtTheFirstDraw).
        drawFailed_ = true;
        throw;
    }
}

void TGIFImage::DrawFirstFrame(TCanvas& canvas, const QRect& rect) {
    gif::DrawFrame(*this, images_[0], canvas, rect, (drawOptions_ & goTransparent) != 0);
}

void RegisterGifPicture() {
    RegisterPictureFormat(QStringLiteral("GIF"), QStringLiteral("GIF Image"), TGIFImage::Class);
}

void UnregisterGifPicture() {
    UnregisterPictureClass(TGIFImage::Class);
}

} // namespace sorowa
