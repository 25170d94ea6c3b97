#include "picture/gif/gif_painter.h"

#include "picture/gif/gif_frame_bitmap.h"
#include "picture/gif/gif_image.h"
#include "picture/gif/gif_renderer.h"

#include <QGuiApplication>
#include <QPalette>
#include <algorithm>
#include <cmath>
#include <cstring>

namespace sorowa::gif {

int FrameDelayUnits(std::optional<int> graphicControlDelay, bool synchronous) {
    int units = kDefaultDelayUnits;
    if (graphicControlDelay && *graphicControlDelay != 0)
        units = std::max(*graphicControlDelay, kMinDelayUnits);
    if (synchronous) units = std::min(units, kMaxSyncDelayUnits);
    return units;
}

std::int64_t FrameWaitMs(int delayUnits, std::int64_t overshootMs, int speed) {
    const std::int64_t delayMs = std::int64_t{delayUnits} * kMsPerDelayUnit;
    // The speed scales the delay; the overshoot is real time already spent.
    return std::llround(static_cast<double>(delayMs) * 100.0 / std::max(speed, 1)) - overshootMs;
}

void ComposeFrame(TGIFImage& image, TGIFSubImage& frame, QImage& target, bool transparent) {
    if (frame.maskNeeded) MakeFrameBitmap(image, frame);
    if (frame.Empty() || frame.bitmap.isNull()) return;
    const QRect rect(frame.Left(), frame.Top(), frame.Width(), frame.Height());
    const QRect visible = rect & target.rect();
    if (visible.isEmpty()) return;
    const bool masked = transparent && frame.transparent && FrameHasMask(image, frame);
    const QList<QRgb> table = frame.bitmap.colorTable();
    std::array<QRgb, 256> colors{};
    for (qsizetype i = 0; i < std::min<qsizetype>(table.size(), 256); ++i)
        colors[static_cast<std::size_t>(i)] = table[i] | 0xFF000000u;
    for (int y = visible.top(); y <= visible.bottom(); ++y) {
        const int sy = y - rect.top();
        const std::uint8_t* source = frame.bitmap.constScanLine(sy) - rect.left();
        auto* line = reinterpret_cast<QRgb*>(target.scanLine(y));
        if (masked) {
            for (int x = visible.left(); x <= visible.right(); ++x)
                if (!frame.MaskBit(x - rect.left(), sy)) line[x] = colors[source[x]];
        } else {
            for (int x = visible.left(); x <= visible.right(); ++x)
                line[x] = colors[source[x]];
        }
    }
}

namespace {

// Copies every pixel of source onto target (both of the same size and format).
void CopyPixels(const QImage& source, QImage& target) {
    std::memcpy(target.bits(), source.constBits(), static_cast<std::size_t>(source.sizeInBytes()));
}

void CopyArea(const QImage& source, QImage& target, const QRect& area) {
    const QRect visible = area & target.rect();
    if (visible.isEmpty()) return;
    for (int y = visible.top(); y <= visible.bottom(); ++y)
        std::memcpy(target.scanLine(y) + visible.left() * 4,
                    source.constScanLine(y) + visible.left() * 4,
                    static_cast<std::size_t>(visible.width()) * 4);
}

std::vector<TFrameTiming> TakeTimings(const TGIFImage& image) {
    std::vector<TFrameTiming> timings;
    for (const auto& frame : image.Images()) {
        TFrameTiming timing;
        timing.empty = frame->Empty();
        if (frame->graphicControl != nullptr) timing.delay = frame->graphicControl->Delay();
        for (const auto& extension : frame->extensions) {
            if (auto* loop = dynamic_cast<const TGIFAppExtNSLoop*>(extension.get())) {
                if (!timing.loopCount) timing.loopCount = loop->loops;
            } else if (auto* control =
                           dynamic_cast<const TGIFGraphicControlExtension*>(extension.get())) {
                timing.disposal = control->Disposal();
            }
        }
        timings.push_back(timing);
    }
    return timings;
}

// The picture's background colour; else the global table's entry at the header's index (an
// index outside the table is warned of and takes entry 0); else the window colour.
QRgb BackgroundColorOf(TGIFImage& image) {
    if (image.BackgroundColor()) return *image.BackgroundColor();
    const TGIFColorMap& global = image.Header().colorMap;
    if (global.Empty()) return QGuiApplication::palette().color(QPalette::Base).rgb();
    int index = image.Header().BackgroundColorIndex();
    if (index >= global.Count()) {
        image.Warning(&image.Header(), TGIFSeverity::Warning,
                      QString::fromLatin1(gifmsg::kInvalidColorIndex));
        index = 0;
    }
    const TGIFColorMap::Entry& e = global[index];
    return qRgb(e.red, e.green, e.blue);
}

} // namespace

TGIFPainter::TGIFPainter(TGIFImage& image, QImage& canvas, unsigned options, int speed,
                         TAnimationClock& clock, TRenderer* renderer)
    : image_(&image), canvas_(&canvas),
      options_(image.Images().Count() > 1 ? options : options & ~TGIFImage::goAsync), speed_(speed),
      asynchronous_((options_ & TGIFImage::goAsync) != 0), clock_(clock), renderer_(renderer),
      frames_(TakeTimings(image)) {
    ready_ = std::make_unique<std::atomic<bool>[]>(frames_.size());
    for (std::size_t i = 0; i < frames_.size(); ++i)
        ready_[i].store(!image.Images()[static_cast<int>(i)].maskNeeded);
    if (asynchronous_ && (options_ & TGIFImage::goAnimate) != 0 && frames_.size() > 1 && speed > 0)
        wake_ = std::make_unique<TWakeEvent>();
    backgroundColor_ = BackgroundColorOf(image);
    const bool clears = std::any_of(frames_.begin(), frames_.end(),
                                    [](const TFrameTiming& f) { return f.disposal == 2; });
    const bool restores = std::any_of(frames_.begin(), frames_.end(),
                                      [](const TFrameTiming& f) { return f.disposal == 3; });
    if (clears || restores) {
        composition_ = canvas.copy();
        previous_ = QImage(canvas.size(), canvas.format());
        previous_.fill(backgroundColor_);
        if (clears && (options_ & TGIFImage::goTransparent) != 0) background_ = canvas.copy();
        if (composition_.isNull() || previous_.isNull() ||
            (clears && (options_ & TGIFImage::goTransparent) != 0 && background_.isNull()))
            throw GIFException(QString::fromLatin1(gifmsg::kOutOfMemory));
    }
    ++live_;
}

TGIFPainter::~TGIFPainter() {
    Join();
    --live_;
}

void TGIFPainter::Start() {
    thread_ = std::thread([this] { Execute(); });
}

void TGIFPainter::Join() {
    if (thread_.joinable()) thread_.join();
}

void TGIFPainter::Terminate() {
    terminated_.store(true);
    if (wake_) wake_->Set();
}

void TGIFPainter::Execute() {
    try {
        Run();
    } catch (...) {
        // The composed bitmap keeps the last frame drawn.
        terminated_.store(true);
    }
    activeFrame_.store(-1);
    Ended(!asynchronous_);
}

void TGIFPainter::Ended(bool ranOnGuiThread) {
    std::shared_ptr<TPainterList> list = image_->painters_;
    {
        std::lock_guard lock(list->mutex);
        if (list->current == this) list->current = nullptr;
        ended_.store(true);
    }
    if (ranOnGuiThread) return;
    // The GUI thread joins and frees the painter.
    TGuiCalls& calls = TGuiCalls::Instance();
    calls.Post([weak = std::weak_ptr<TPainterList>(list)] {
        if (auto painters = weak.lock()) painters->Reap();
    });
    calls.Poke();
}

void TGIFPainter::Run() {
    lastWaitMs_ = clock_.NowMs();
    previousWaitMs_ = 0;
    int delay = asynchronous_ ? 0 : 1;
    previousDisposal_ = 1;
    int loopCounter = 1;
    int loopStart = 0;
    bool loopSeen = false;
    const bool loops =
        (options_ & TGIFImage::goAnimate) != 0 && (options_ & TGIFImage::goLoop) != 0;
    while (loopCounter != 0 && !Terminated()) {
        activeFrame_.store(loopStart);
        RunFrames(delay, loopSeen, loopCounter, loopStart);
        if (loopCounter > 0) --loopCounter;
        if (!loops) break;
    }
}

void TGIFPainter::RunFrames(int& delay, bool& loopSeen, int& loopCounter, int& loopStart) {
    for (;;) {
        const int active = activeFrame_.load();
        if (active >= static_cast<int>(frames_.size()) ||
            frames_[static_cast<std::size_t>(active)].empty || Terminated())
            return;
        if (delay < 1) {
            clock_.Yield();
        } else if (!WaitBeforeFrame(delay)) {
            return;
        }
        if (Terminated()) return;
        const TFrameTiming& timing = frames_[static_cast<std::size_t>(active)];
        if (timing.loopCount && !loopSeen) {
            loopSeen = true;
            loopCounter = *timing.loopCount == 0 && asynchronous_ ? -1 : *timing.loopCount;
            loopStart = active;
        }
        currentDisposal_ = timing.disposal;
        if (Terminated()) return;
        TGuiCalls::Instance().Call([this, active] { DrawFrame(active); });
        previousDisposal_ = currentDisposal_;
        if ((options_ & TGIFImage::goAnimate) == 0 || Terminated()) return;
        delay = FrameDelayUnits(timing.delay, !asynchronous_);
        activeFrame_.store(active + 1);
    }
}

bool TGIFPainter::WaitBeforeFrame(int delay) {
    PrepareFrameBitmap();
    // Overshoot is measured against the time the previous wait was meant to end, so that
    // neither drawing time nor late wake-ups add up over the frames
    // (gif_animation_test.cpp, OvershootIsTakenOffTheNextWait). A wait that was already
    // overdue counts as ending when it began: time lost to a stall is not caught up with a
    // burst of frames.
    const std::int64_t now = clock_.NowMs();
    const std::int64_t overshoot = now - lastWaitMs_ - previousWaitMs_;
    std::int64_t wait = FrameWaitMs(delay, overshoot, speed_);
    lastWaitMs_ = now;
    previousWaitMs_ = std::max<std::int64_t>(wait, 0);
    if (asynchronous_) {
        // The event also carries a late answer of the render pool; only a stop ends the wait.
        const std::int64_t until = now + wait;
        if (!wake_) {
            if (wait > 0) clock_.Sleep(wait);
            return !Terminated();
        }
        while (wait > 0) {
            if (clock_.Wait(*wake_, wait) && Terminated()) return false;
            wait = until - clock_.NowMs();
            if (Terminated()) return false;
        }
        return true;
    }
    // Synchronously the GUI thread sleeps here; the calls handed to it keep running.
    wait = std::max<std::int64_t>(wait, 1);
    while (wait > 0 && !Terminated()) {
        const std::int64_t step = std::min<std::int64_t>(wait, 100);
        clock_.Sleep(step);
        wait -= step;
        TGuiCalls::Instance().RunPending();
    }
    return !Terminated();
}

void TGIFPainter::PrepareFrameBitmap() {
    const int active = activeFrame_.load();
    if (wake_ && asynchronous_ && renderer_ != nullptr) {
        bool pending = false;
        for (std::size_t i = static_cast<std::size_t>(active); i < frames_.size(); ++i)
            if (!frames_[i].empty && !ready_[i].load()) {
                pending = true;
                break;
            }
        if (!pending) return;
        renderer_->Request(
            [this, active] {
                if (Terminated()) return;
                for (int i = active; i < static_cast<int>(frames_.size()); ++i) {
                    TGIFSubImage& frame = image_->Images()[i];
                    if (!frame.Empty() && frame.maskNeeded) {
                        MakeReady(i);
                        return;
                    }
                }
            },
            *wake_);
        return;
    }
    if (active < static_cast<int>(frames_.size()) &&
        !frames_[static_cast<std::size_t>(active)].empty &&
        !ready_[static_cast<std::size_t>(active)].load())
        TGuiCalls::Instance().Call([this, active] { MakeReady(active); });
}

void TGIFPainter::MakeReady(int index) {
    TGIFSubImage& frame = image_->Images()[index];
    if (frame.maskNeeded) MakeFrameBitmap(*image_, frame);
    ready_[static_cast<std::size_t>(index)].store(true);
}

void TGIFPainter::DrawFrame(int index) {
    // A painter being stopped draws nothing more: its picture may be on its way out.
    if (Terminated()) return;
    TGIFSubImage& frame = image_->Images()[index];
    const bool transparent = (options_ & TGIFImage::goTransparent) != 0;
    QImage& canvas = *canvas_;
    if (composition_.isNull()) {
        ComposeFrame(*image_, frame, canvas, transparent);
    } else {
        switch (currentDisposal_) {
        case 0:
        case 1:
            ComposeFrame(*image_, frame, composition_, transparent);
            CopyPixels(composition_, canvas);
            break;
        case 2: {
            ComposeFrame(*image_, frame, composition_, transparent);
            CopyPixels(composition_, canvas);
            const QRect area(frame.Left(), frame.Top(), frame.Width(), frame.Height());
            if (!background_.isNull()) {
                CopyArea(background_, composition_, area);
            } else {
                const QRect visible = area & composition_.rect();
                for (int y = visible.top(); y <= visible.bottom(); ++y)
                    std::fill_n(reinterpret_cast<QRgb*>(composition_.scanLine(y)) + visible.left(),
                                visible.width(), backgroundColor_ | 0xFF000000u);
            }
            break;
        }
        case 3:
            if (previousDisposal_ == 0 || previousDisposal_ == 1) {
                ComposeFrame(*image_, frame, canvas, transparent);
            } else {
                CopyPixels(composition_, previous_);
                ComposeFrame(*image_, frame, previous_, transparent);
                CopyPixels(previous_, canvas);
            }
            break;
        default:
            break;
        }
    }
    ready_[static_cast<std::size_t>(index)].store(true);
    started_.store(true);
    image_->NotifyChange();
}

void TPainterList::Reap() {
    std::vector<std::unique_ptr<TGIFPainter>> ended;
    {
        std::lock_guard lock(mutex);
        for (auto it = painters.begin(); it != painters.end();) {
            if ((*it)->Ended()) {
                ended.push_back(std::move(*it));
                it = painters.erase(it);
            } else {
                ++it;
            }
        }
    }
    ended.clear(); // joins
}

int TPainterList::Running() {
    std::lock_guard lock(mutex);
    return static_cast<int>(
        std::count_if(painters.begin(), painters.end(), [](const auto& p) { return !p->Ended(); }));
}

} // namespace sorowa::gif
