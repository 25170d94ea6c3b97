#include "workspace/mdi_frame.h"

#include "workspace/thumbnail_window.h"

#include <QResizeEvent>
#include <algorithm>

namespace sorowa {

TMdiFrame::TMdiFrame(QWidget* parent, std::shared_ptr<gif::TRenderer> renderer)
    : QScrollArea(parent), decodes_(std::make_unique<TDecodePool>()),
      renderer_(std::move(renderer)), canvas_(new QWidget) {
    pictureContext_.pool = decodes_.get();
    pictureContext_.renderer = renderer_.get();
    setObjectName(QStringLiteral("MDIClient"));
    setBackgroundRole(QPalette::Dark);
    setFrameShape(QFrame::StyledPanel);
    setWidgetResizable(false);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    canvas_->setObjectName(QStringLiteral("MDICanvas"));
    canvas_->setBackgroundRole(QPalette::Dark);
    setWidget(canvas_);
    viewport()->setBackgroundRole(QPalette::Dark);
    viewport()->setAutoFillBackground(true);
    sequence_ = std::make_unique<TSequence>();
    drag_ = new TReorderDrag(this);
    FitCanvas();
}

TMdiFrame::~TMdiFrame() {
    // Nobody is told: the windows that listen may be half destroyed by now.
    sequence_->blockSignals(true);
    // The windows go first, and their animations with them: no picture outlives the pools
    // it was given. Then no decode and no render thread outlives the frame.
    qDeleteAll(Children());
    renderer_.reset();
    decodes_.reset();
    sequence_->Clear();
}

QList<TForm_Grp*> TMdiFrame::Children() const {
    QList<TForm_Grp*> windows;
    for (QObject* child : canvas_->children())
        if (auto* window = qobject_cast<TForm_Grp*>(child)) windows.append(window);
    return windows;
}

TForm_Grp* TMdiFrame::ActiveChild() const {
    return active_;
}

void TMdiFrame::AddChild(TForm_Grp* child) {
    // Its geometry counts from its first move and resize in the canvas on.
    child->setParent(canvas_);
    ++openChildren_;
}

void TMdiFrame::SetActiveChild(TForm_Grp* child) {
    sequence_->SelectOnly(child);
    anchor_ = child;
    MakeActive(child);
}

void TMdiFrame::MakeActive(TForm_Grp* child) {
    if (child == active_) {
        if (child != nullptr && !child->hasFocus()) child->setFocus(Qt::OtherFocusReason);
        return;
    }
    TForm_Grp* previous = active_;
    active_ = child;
    if (previous != nullptr) previous->update();
    if (child != nullptr) {
        child->update();
        child->setFocus(Qt::OtherFocusReason);
    }
}

bool TMdiFrame::InView(const QWidget* child) const {
    return child->geometry().intersects(QRect(-canvas_->pos(), viewport()->size()));
}

void TMdiFrame::AppendToSequence(TForm_Grp* child) {
    sequence_->Append(child);
    if (child == active_) sequence_->SelectOnly(child);
}

void TMdiFrame::SelectByClick(TForm_Grp* child, Qt::KeyboardModifiers modifiers) {
    const int number = sequence_->NumberOf(child);
    if (number == 0) {
        SetActiveChild(child);
        return;
    }
    if (modifiers & Qt::ShiftModifier) {
        const int from = sequence_->NumberOf(anchor_);
        sequence_->SelectRange(from != 0 ? from : number, number);
        MakeActive(child);
        return;
    }
    if (!(modifiers & Qt::ControlModifier)) {
        SetActiveChild(child);
        return;
    }
    if (!sequence_->IsSelected(child)) {
        sequence_->SetSelected(child, true);
        anchor_ = child;
        MakeActive(child);
        return;
    }
    // Ctrl+click on a selected one takes it out, unless it is the only one: one is always
    // selected, and the active one is the selected one nearest to it.
    if (sequence_->SelectedCount() <= 1) return;
    sequence_->SetSelected(child, false);
    const std::vector<int> numbers = sequence_->SelectedNumbers();
    const auto after = std::lower_bound(numbers.begin(), numbers.end(), number);
    const int nearest = after == numbers.end() ? numbers.back() : *after;
    anchor_ = sequence_->At(nearest);
    MakeActive(anchor_);
}

void TMdiFrame::SelectAll() {
    sequence_->SelectAll();
    if (active_) active_->update();
}

int TMdiFrame::RowLength() const {
    const int count = sequence_->Size();
    const int top = count > 0 ? sequence_->At(1)->y() : 0;
    int length = 1;
    while (length < count && sequence_->At(length + 1)->y() == top)
        ++length;
    return length;
}

void TMdiFrame::MoveActive(int columns, int rows, bool extend) {
    const int count = sequence_->Size();
    const int number = sequence_->NumberOf(active_);
    if (number == 0) return;
    int target = number + columns;
    if (rows != 0) {
        target = number + rows * RowLength();
        // Down onto a last row that is shorter: its last window.
        if (rows > 0 && target > count && sequence_->At(count)->y() > active_->y()) target = count;
    }
    if (target < 1 || target > count) return;
    TForm_Grp* next = sequence_->At(target);
    if (extend) {
        const int from = sequence_->NumberOf(anchor_);
        sequence_->SelectRange(from != 0 ? from : number, target);
        MakeActive(next);
    } else {
        SetActiveChild(next);
    }
    ensureWidgetVisible(next, 0, 0);
}

void TMdiFrame::ChildGeometryChanged(const QRect& geometry) {
    const QSize reach(std::max(extent_.width(), geometry.right() + 1),
                      std::max(extent_.height(), geometry.bottom() + 1));
    if (reach == extent_) return;
    extent_ = reach;
    // Fitted once the command that places the windows is over: resizing the canvas for
    // every new row would make opening a folder grow with the square of its size.
    if (fitPending_) return;
    fitPending_ = true;
    QMetaObject::invokeMethod(this, &TMdiFrame::FitCanvas, Qt::QueuedConnection);
}

void TMdiFrame::ChildClosed(TForm_Grp* child) {
    if (child == active_) active_ = nullptr;
    // Only closing the folder closes thumbnails: its order and history go with it.
    drag_->Cancel();
    sequence_->Clear();
    // The folder is closed: nothing of it is decoded any more.
    if (--openChildren_ <= 0) {
        openChildren_ = 0;
        decodes_->CancelAll();
    }
    RemeasureLater();
}

void TMdiFrame::RemeasureLater() {
    // Measured once the command is over, so closing or re-laying out every window of a
    // folder stays one pass over them.
    if (remeasurePending_) return;
    remeasurePending_ = true;
    QMetaObject::invokeMethod(this, &TMdiFrame::Remeasure, Qt::QueuedConnection);
}

void TMdiFrame::Remeasure() {
    remeasurePending_ = false;
    QSize reach(0, 0);
    for (TForm_Grp* window : Children())
        if (!window->isHidden())
            reach =
                reach.expandedTo({window->geometry().right() + 1, window->geometry().bottom() + 1});
    extent_ = reach;
    FitCanvas();
}

void TMdiFrame::FitCanvas() {
    fitPending_ = false;
    // Exactly as large as the windows reach, so scroll bars show only when they are needed.
    const QSize size = extent_.expandedTo({1, 1});
    if (canvas_->size() != size) canvas_->resize(size);
}

} // namespace sorowa
