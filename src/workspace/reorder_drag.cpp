#include "workspace/reorder_drag.h"

#include "workspace/mdi_frame.h"
#include "workspace/sequence.h"
#include "workspace/thumbnail_window.h"

#include <QApplication>
#include <QScrollBar>
#include <algorithm>

namespace sorowa {
namespace {

constexpr int kBarWidth = 4;
constexpr int kScrollInterval = 20; // ms
constexpr int kMaxScrollStep = 600; // pixels per step, far beyond the edge

// The windows stand in sequence order row by row (positions travel with the numbers), so
// places can be found by bisection: rows by top edge, then within a row by left edge.
int FirstPlaceBelow(const TSequence& sequence, int y) {
    int low = 0;
    int high = sequence.Size();
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (sequence.At(mid + 1)->y() <= y)
            low = mid + 1;
        else
            high = mid;
    }
    return low; // index of the first window whose top is below y
}

int FirstPlaceAtTop(const TSequence& sequence, int top, int end) {
    int low = 0;
    int high = end;
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (sequence.At(mid + 1)->y() < top)
            low = mid + 1;
        else
            high = mid;
    }
    return low;
}

// The bar after the last window of a row: on its right edge, reaching into the gap.
QRect AfterRowEnd(const TForm_Grp* last) {
    return {last->geometry().right(), last->y(), kBarWidth, last->height()};
}

} // namespace

TDropPlace DropPlaceAt(const TSequence& sequence, QPoint point) {
    const int count = sequence.Size();
    if (count == 0) return {};
    const QSize outer = sequence.At(1)->size();
    // The row: the last one whose top is at or above the point (the first row when the
    // point is above every row).
    int rowEnd = FirstPlaceBelow(sequence, point.y());
    if (rowEnd == 0) rowEnd = FirstPlaceBelow(sequence, sequence.At(1)->y());
    const int rowTop = sequence.At(rowEnd)->y();
    const int rowStart = FirstPlaceAtTop(sequence, rowTop, rowEnd);
    if (rowEnd == count && point.y() >= rowTop + outer.height() + 8)
        return {count, AfterRowEnd(sequence.At(count))};
    // The first window of the row whose middle is right of the point.
    int low = rowStart;
    int high = rowEnd;
    while (low < high) {
        const int mid = low + (high - low) / 2;
        if (sequence.At(mid + 1)->x() + outer.width() / 2 <= point.x())
            low = mid + 1;
        else
            high = mid;
    }
    if (low < rowEnd) {
        // In the middle of the gap before the window, or at the row's left edge.
        const TForm_Grp* next = sequence.At(low + 1);
        const int left = low > rowStart ? (sequence.At(low)->geometry().right() + next->x()) / 2 -
                                              kBarWidth / 2 + 1
                                        : std::max(0, next->x() - kBarWidth + 1);
        return {low, QRect(left, next->y(), kBarWidth, outer.height())};
    }
    return {rowEnd, AfterRowEnd(sequence.At(rowEnd))};
}

TReorderDrag::TReorderDrag(TMdiFrame* frame) : QObject(frame), frame_(frame) {
    bar_ = new QWidget(frame->widget());
    bar_->setObjectName(QStringLiteral("InsertionBar"));
    bar_->setAutoFillBackground(true);
    bar_->setBackgroundRole(QPalette::Highlight);
    bar_->setAttribute(Qt::WA_TransparentForMouseEvents);
    bar_->hide();
    scrollTimer_.setInterval(kScrollInterval);
    connect(&scrollTimer_, &QTimer::timeout, this, &TReorderDrag::ScrollStep);
}

void TReorderDrag::Press(TForm_Grp* window, QPoint point, Qt::KeyboardModifiers modifiers) {
    if (state_ != State::kIdle) Cancel();
    const TSequence& sequence = frame_->Sequence();
    pressed_ = window;
    pressPoint_ = point;
    point_ = point;
    pressModifiers_ = modifiers;
    clickOnRelease_ = sequence.IsSelected(window) && !(modifiers & Qt::ShiftModifier);
    if (clickOnRelease_)
        frame_->MakeActive(window);
    else
        frame_->SelectByClick(window, modifiers);
    state_ = sequence.NumberOf(window) != 0 ? State::kPressed : State::kIdle;
}

void TReorderDrag::Move(QPoint point) {
    point_ = point;
    if (state_ == State::kPressed &&
        (point - pressPoint_).manhattanLength() >= QApplication::startDragDistance())
        Begin();
    if (state_ == State::kDragging) Track();
}

void TReorderDrag::Release(QPoint point) {
    point_ = point;
    if (state_ == State::kPressed) {
        state_ = State::kIdle;
        if (clickOnRelease_ && pressed_) frame_->SelectByClick(pressed_, pressModifiers_);
        return;
    }
    if (state_ != State::kDragging) return;
    const bool inside = frame_->viewport()->rect().contains(point);
    const QPoint canvasPoint = frame_->widget()->mapFrom(frame_->viewport(), point);
    End();
    if (inside)
        frame_->Sequence().MoveSelectionToGap(DropPlaceAt(frame_->Sequence(), canvasPoint).gap);
}

void TReorderDrag::Cancel() {
    if (state_ == State::kDragging) End();
    state_ = State::kIdle;
}

void TReorderDrag::Begin() {
    state_ = State::kDragging;
    // A drag always carries the window it started on.
    if (pressed_ && !frame_->Sequence().IsSelected(pressed_))
        frame_->Sequence().SetSelected(pressed_, true);
    frame_->viewport()->setCursor(Qt::DragMoveCursor);
    bar_->raise();
    scrollTimer_.start();
}

void TReorderDrag::End() {
    state_ = State::kIdle;
    scrollTimer_.stop();
    bar_->hide();
    frame_->viewport()->unsetCursor();
}

void TReorderDrag::Track() {
    if (!frame_->viewport()->rect().contains(point_) || frame_->Sequence().Size() == 0) {
        bar_->hide();
        return;
    }
    const QPoint canvasPoint = frame_->widget()->mapFrom(frame_->viewport(), point_);
    bar_->setGeometry(DropPlaceAt(frame_->Sequence(), canvasPoint).bar);
    bar_->show();
}

int TReorderDrag::ScrollSpeed() const {
    // Faster the closer the pointer comes to the edge, and faster still beyond it, so that
    // the last screen of thousands of thumbnails is reached in seconds.
    const int height = frame_->viewport()->height();
    const int fromTop = point_.y();
    const int fromBottom = height - 1 - point_.y();
    const int depth = kScrollZone - std::min(fromTop, fromBottom);
    if (depth <= 0 || point_.x() < -kScrollZone ||
        point_.x() > frame_->viewport()->width() + kScrollZone)
        return 0;
    const int step = std::min(kMaxScrollStep, 2 + depth * depth / 32);
    return fromTop < fromBottom ? -step : step;
}

void TReorderDrag::ScrollStep() {
    const int speed = ScrollSpeed();
    if (speed == 0) return;
    QScrollBar* bar = frame_->verticalScrollBar();
    const int before = bar->value();
    bar->setValue(before + speed);
    if (bar->value() != before) Track();
}

} // namespace sorowa
