// The animated side of the GIF picture: the composed bitmap, the painters that play into it,
// and stopping them.
#include "picture/gif/gif_image.h"
#include "picture/gif/gif_painter.h"
#include "picture/gif/gif_renderer.h"

#include <QPainter>
#include <QPixmap>

namespace sorowa {
namespace {

// A logical screen larger than this is not composed (its header alone could ask for
// gigabytes); such a picture shows its first frame without animation.
constexpr std::int64_t kMaxComposedPixels = std::int64_t{16} * 1024 * 1024;

// What the canvas holds in rect, stretched to size: the background under transparent
// pixels. Where the device cannot be read back (a window), the canvas's background colour.
QImage TargetContent(TCanvas& canvas, const QRect& rect, QSize size) {
    QPainter& painter = canvas.Painter();
    QPaintDevice* device = painter.device();
    const QRect area = painter.deviceTransform().mapRect(rect);
    QImage content;
    if (device != nullptr && device->devType() == QInternal::Image)
        content = static_cast<const QImage*>(device)->copy(area);
    else if (device != nullptr && device->devType() == QInternal::Pixmap)
        content = static_cast<const QPixmap*>(device)->copy(area).toImage();
    if (!content.isNull())
        return content.scaled(size, Qt::IgnoreAspectRatio, Qt::FastTransformation)
            .convertToFormat(QImage::Format_RGB32);
    QImage filled(size, QImage::Format_RGB32);
    if (!filled.isNull()) filled.fill(canvas.Background());
    return filled;
}

} // namespace

gif::TGIFPainter* TGIFImage::CurrentPainter() const {
    std::lock_guard lock(painters_->mutex);
    return painters_->current;
}

int TGIFImage::RunningPainters() const {
    return painters_->Running();
}

void TGIFImage::WaitForPainters(bool currentOnly) {
    gif::TGuiCalls* calls = nullptr;
    for (;;) {
        int waitFor = 0;
        {
            std::lock_guard lock(painters_->mutex);
            if (currentOnly) {
                if (gif::TGIFPainter* current = painters_->current) {
                    current->Terminate();
                    waitFor = current->Asynchronous() ? 1 : 0;
                }
            } else {
                for (const auto& painter : painters_->painters) {
                    if (painter->Ended()) continue;
                    painter->Terminate();
                    if (painter->Asynchronous()) ++waitFor;
                }
            }
        }
        if (waitFor == 0) break;
        // The painters may be waiting for the GUI thread, which is this one.
        if (calls == nullptr) calls = &gif::TGuiCalls::Instance();
        if (!calls->RunPending()) calls->WaitForCalls(2);
    }
    painters_->Reap();
    composed_ = QImage();
    composedMade_ = false;
    composedCache_.Clear();
}

void TGIFImage::StopPainting() {
    WaitForPainters(true);
}

void TGIFImage::StopPaintingAll() {
    WaitForPainters(false);
}

void TGIFImage::DrawAnimated(TCanvas& canvas, const QRect& rect) {
    if (composedMade_) {
        // Every repaint after the first: the painter keeps changing the bitmap.
        composedCache_.Draw(canvas, rect, composed_, 32);
        return;
    }
    StopPainting();
    gif::TGuiCalls& calls = gif::TGuiCalls::Instance();
    std::this_thread::yield();
    calls.RunPending();

    if (std::int64_t{Width()} * Height() > kMaxComposedPixels) {
        DrawFirstFrame(canvas, rect);
        return;
    }
    composed_ = TargetContent(canvas, rect, QSize(Width(), Height()));
    composedMade_ = true;
    if (Empty() || composed_.isNull()) return;

    auto owned = std::make_unique<gif::TGIFPainter>(
        *this, composed_, drawOptions_, animationSpeed_,
        clock_ != nullptr ? *clock_ : gif::SteadyClock(), Context().renderer);
    gif::TGIFPainter* painter = owned.get();
    {
        std::lock_guard lock(painters_->mutex);
        painters_->painters.push_back(std::move(owned));
        painters_->current = painter;
    }
    if (painter->Asynchronous()) {
        painter->Start();
    } else {
        painter->Execute();
        painters_->Reap();
    }
    {
        // A synchronous run has ended already: its changes bring the next paint.
        std::lock_guard lock(painters_->mutex);
        if (painters_->current != painter) return;
    }
    // Until the first frame is there, or the painter has ended (a picture whose second entry
    // is empty plays one frame and ends at once), this paint waits.
    for (;;) {
        {
            std::lock_guard lock(painters_->mutex);
            if (painters_->current != painter || painter->Started()) break;
        }
        if (!calls.RunPending()) calls.WaitForCalls(2);
    }
    composedCache_.Draw(canvas, rect, composed_, 32);
}

} // namespace sorowa
