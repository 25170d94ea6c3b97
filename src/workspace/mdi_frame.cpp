#include "workspace/mdi_frame.h"

#include "workspace/thumbnail_window.h"

#include <QResizeEvent>

namespace sorowa {

TMdiFrame::TMdiFrame(QWidget* parent)
    : QScrollArea(parent), decodes_(std::make_unique<TDecodePool>()), canvas_(new QWidget) {
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
    FitCanvas();
}

TMdiFrame::~TMdiFrame() {
    // Stopped while the windows still exist: no decode outlives the frame.
    decodes_.reset();
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
