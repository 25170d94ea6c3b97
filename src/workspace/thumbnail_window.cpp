#include "workspace/thumbnail_window.h"

#include "workspace/image.h"
#include "platform/ui/message_box.h"
#include "platform/shell.h"
#include "workspace/mdi_frame.h"
#include "workspace/sequence_caption.h"
#include "workspace/thumbnail_size.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

namespace sorowa {

TForm_Grp::TForm_Grp(TMdiFrame* frame)
    : frame_(frame), image_(new TImage(frame->PictureContext(), this)) {
    setObjectName(QStringLiteral("Form_Grp"));
    setWindowTitle(QStringLiteral("Form_Grp"));
    setAttribute(Qt::WA_DeleteOnClose);
    // The background is painted by paintEvent rather than filled by Qt: a window that Qt
    // knows to be opaque makes every move look at all the windows stacked above it.
    setBackgroundRole(QPalette::Button);
    setFocusPolicy(Qt::ClickFocus);
    QFont captionFont = font();
    captionFont.setPixelSize(12);
    setFont(captionFont);
    image_->setObjectName(QStringLiteral("Image1"));
    image_->SetStretch(true);
    image_->move(kBorder, kCaptionHeight);
    image_->installEventFilter(this);
    frame->AddChild(this);
    SetClientSize(ThumbnailSize());
    show();
    frame->SetActiveChild(this);
}

void TForm_Grp::SetClientSize(QSize size) {
    const QSize outer(size.width() + 2 * kBorder, size.height() + kCaptionHeight + kBorder);
    if (image_->size() == size && this->size() == outer) return;
    image_->resize(size);
    resize(outer);
}

QSize TForm_Grp::ClientSize() const {
    return image_->size();
}

QString TForm_Grp::FileName() const {
    const auto caption = ReadSequenceCaption(windowTitle());
    return caption ? caption->fileName : QString();
}

void TForm_Grp::LoadPicture(const QString& numberText, const QString& path) {
    const QString bareName = path.mid(path.lastIndexOf(u'/') + 1);
    setWindowTitle(BuildSequenceCaption(numberText, bareName));
    try {
        image_->Picture().LoadFile(path);
    } catch (...) {
        platform::ShowWarning(QStringLiteral("ファイルオープンに失敗しました。\n") + path,
                              platform::MessageIcon::Stop, window());
    }
}

void TForm_Grp::FormResize() {
    const QSize size = ThumbnailSize();
    if (image_->size() != size) image_->resize(size);
}

void TForm_Grp::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
    frame_->ChildGeometryChanged(geometry());
}

void TForm_Grp::moveEvent(QMoveEvent* event) {
    QWidget::moveEvent(event);
    frame_->ChildGeometryChanged(geometry());
}

void TForm_Grp::closeEvent(QCloseEvent* event) {
    // Destroyed by the event loop (WA_DeleteOnClose); until then it is still a child.
    if (!closed_) frame_->ChildClosed(this);
    closed_ = true;
    QWidget::closeEvent(event);
}

void TForm_Grp::paintEvent(QPaintEvent*) {
    // A tool-window frame: a thin raised border and a small caption bar, in the selection
    // colours while this is the frame's active window. A selected window's border is drawn
    // thick in the selection colour, and its caption bar in a pale shade of it, so that a
    // selection of many shows at a glance across the grid.
    QPainter painter(this);
    const bool active = frame_->ActiveChild() == this;
    const bool selected = frame_->Sequence().IsSelected(this);
    const QPalette& colours = palette();
    const QRect outer = rect();
    painter.fillRect(outer, colours.color(QPalette::Button));
    if (selected) {
        painter.fillRect(outer, colours.color(QPalette::Highlight));
    } else {
        painter.setPen(colours.color(QPalette::Light));
        painter.drawLine(outer.topLeft(), outer.topRight());
        painter.drawLine(outer.topLeft(), outer.bottomLeft());
        painter.setPen(colours.color(QPalette::Shadow));
        painter.drawLine(outer.bottomLeft(), outer.bottomRight());
        painter.drawLine(outer.topRight(), outer.bottomRight());
    }
    const QRect bar(kBorder, kBorder - 1, width() - 2 * kBorder, kCaptionHeight - kBorder);
    QColor barColour = colours.color(active ? QPalette::Highlight : QPalette::Mid);
    QColor textColour = colours.color(active ? QPalette::HighlightedText : QPalette::ButtonText);
    if (selected && !active) {
        barColour = colours.color(QPalette::Highlight).lighter(170);
        textColour = colours.color(QPalette::ButtonText);
    }
    painter.fillRect(bar, barColour);
    painter.setPen(textColour);
    const QRect textArea = bar.adjusted(3, 0, -2, 0);
    painter.drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft,
                     fontMetrics().elidedText(windowTitle(), Qt::ElideRight, textArea.width()));
}

void TForm_Grp::Image1DblClick() {
    const QString name = FileName();
    if (!name.isEmpty()) platform::ShellOpen(name);
}

bool TForm_Grp::eventFilter(QObject* watched, QEvent* event) {
    if (watched != image_) return QWidget::eventFilter(watched, event);
    // The picture is where a drag starts; the mouse stays with it until the button is up.
    const auto mouse = [event] { return static_cast<QMouseEvent*>(event); };
    switch (event->type()) {
    case QEvent::MouseButtonDblClick:
        Image1DblClick();
        return true;
    case QEvent::MouseButtonPress:
        if (mouse()->button() == Qt::LeftButton)
            frame_->Drag().Press(this, PointInViewport(mouse()), mouse()->modifiers());
        else
            frame_->SelectByClick(this, mouse()->modifiers());
        return true;
    case QEvent::MouseMove:
        if (mouse()->buttons() & Qt::LeftButton) frame_->Drag().Move(PointInViewport(mouse()));
        return true;
    case QEvent::MouseButtonRelease:
        if (mouse()->button() == Qt::LeftButton) frame_->Drag().Release(PointInViewport(mouse()));
        return true;
    default:
        return QWidget::eventFilter(watched, event);
    }
}

QPoint TForm_Grp::PointInViewport(const QMouseEvent* event) const {
    return image_->mapTo(frame_->viewport(), event->position().toPoint());
}

bool TForm_Grp::event(QEvent* event) {
    if (event->type() == QEvent::WindowTitleChange) {
        const auto caption = ReadSequenceCaption(windowTitle());
        number_ = caption ? caption->Number() : std::nullopt;
        if (frame_->InView(this)) update();
    }
    return QWidget::event(event);
}

// A click on the caption bar or the border selects the window; nothing drags or resizes it.
void TForm_Grp::mousePressEvent(QMouseEvent* event) {
    frame_->SelectByClick(this, event->modifiers());
    event->accept();
}

void TForm_Grp::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}
void TForm_Grp::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void TForm_Grp::keyPressEvent(QKeyEvent* event) {
    const int key = event->key();
    if (frame_->Drag().Dragging()) {
        if (key == Qt::Key_Escape) frame_->Drag().Cancel();
        event->accept();
        return;
    }
    if (key == Qt::Key_PageUp || key == Qt::Key_PageDown) {
        emit MoveKeyPressed(key == Qt::Key_PageUp);
        event->accept();
        return;
    }
    const bool extend = event->modifiers() & Qt::ShiftModifier;
    const struct {
        int key, columns, rows;
    } arrows[] = {
        {Qt::Key_Left, -1, 0}, {Qt::Key_Right, 1, 0}, {Qt::Key_Up, 0, -1}, {Qt::Key_Down, 0, 1}};
    for (const auto& arrow : arrows) {
        if (key == arrow.key) {
            frame_->MoveActive(arrow.columns, arrow.rows, extend);
            event->accept();
            return;
        }
    }
    QWidget::keyPressEvent(event);
}

} // namespace sorowa
