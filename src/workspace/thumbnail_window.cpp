#include "workspace/thumbnail_window.h"

#include "picture/image.h"
#include "platform/message_box.h"
#include "platform/shell.h"
#include "workspace/mdi_frame.h"
#include "workspace/sequence_caption.h"
#include "workspace/thumbnail_size.h"

#include <QKeyEvent>
#include <QPainter>

namespace sorowa {

TForm_Grp::TForm_Grp(TMdiFrame* frame) : frame_(frame), image_(new TImage(this)) {
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
    // colours while this is the frame's active window.
    QPainter painter(this);
    const bool active = frame_->ActiveChild() == this;
    const QRect outer = rect();
    painter.fillRect(outer, palette().color(QPalette::Button));
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(outer.topLeft(), outer.topRight());
    painter.drawLine(outer.topLeft(), outer.bottomLeft());
    painter.setPen(palette().color(QPalette::Shadow));
    painter.drawLine(outer.bottomLeft(), outer.bottomRight());
    painter.drawLine(outer.topRight(), outer.bottomRight());
    const QRect bar(kBorder, kBorder - 1, width() - 2 * kBorder, kCaptionHeight - kBorder);
    painter.fillRect(bar, palette().color(active ? QPalette::Highlight : QPalette::Mid));
    painter.setPen(palette().color(active ? QPalette::HighlightedText : QPalette::ButtonText));
    const QRect textArea = bar.adjusted(3, 0, -2, 0);
    painter.drawText(textArea, Qt::AlignVCenter | Qt::AlignLeft,
                     fontMetrics().elidedText(windowTitle(), Qt::ElideRight, textArea.width()));
}

void TForm_Grp::Image1DblClick() {
    const QString name = FileName();
    if (!name.isEmpty()) platform::ShellOpen(name);
}

bool TForm_Grp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == image_) {
        if (event->type() == QEvent::MouseButtonDblClick) {
            Image1DblClick();
            return true;
        }
        if (event->type() == QEvent::MouseButtonPress) frame_->SetActiveChild(this);
    }
    return QWidget::eventFilter(watched, event);
}

bool TForm_Grp::event(QEvent* event) {
    if (event->type() == QEvent::WindowTitleChange) {
        const auto caption = ReadSequenceCaption(windowTitle());
        number_ = caption ? caption->Number() : std::nullopt;
        update();
    }
    return QWidget::event(event);
}

// A click selects the window; nothing drags or resizes it.
void TForm_Grp::mousePressEvent(QMouseEvent* event) {
    frame_->SetActiveChild(this);
    event->accept();
}

void TForm_Grp::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}
void TForm_Grp::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}

void TForm_Grp::keyPressEvent(QKeyEvent* event) {
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        emit MoveKeyPressed(event->key() == Qt::Key_PageUp);
        event->accept();
        return;
    }
    QWidget::keyPressEvent(event);
}

} // namespace sorowa
