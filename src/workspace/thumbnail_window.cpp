#include "workspace/thumbnail_window.h"

#include "picture/image.h"
#include "platform/message_box.h"
#include "platform/shell.h"
#include "workspace/sequence_caption.h"
#include "workspace/thumbnail_size.h"

#include <QKeyEvent>
#include <QMdiArea>

namespace sorowa {
namespace {

// Keys with which the frame would close or cycle its child windows.
bool IsFrameKey(const QKeyEvent& key) {
    const bool ctrl = key.modifiers() & Qt::ControlModifier;
    switch (key.key()) {
    case Qt::Key_F4:
    case Qt::Key_F6:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
        return ctrl;
    default:
        return false;
    }
}

} // namespace

TForm_Grp::TForm_Grp(QMdiArea* frame)
    : QMdiSubWindow(nullptr,
                    Qt::SubWindow | Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      image_(new TImage(this)) {
    setObjectName(QStringLiteral("Form_Grp"));
    setWindowTitle(QStringLiteral("Form_Grp"));
    setAttribute(Qt::WA_DeleteOnClose);
    setSystemMenu(nullptr);
    setAutoFillBackground(true);
    setBackgroundRole(QPalette::Button);
    image_->setObjectName(QStringLiteral("Image1"));
    image_->SetStretch(true);
    image_->installEventFilter(this);
    setWidget(image_);
    // The grid places every window right after creating it, so the frame's own placement
    // search (which looks at every other window) is skipped.
    move(0, 0);
    frame->addSubWindow(this);
    SetClientSize(ThumbnailSize());
    show();
    frame->setActiveSubWindow(this);
}

void TForm_Grp::SetClientSize(QSize size) {
    image_->setFixedSize(size);
    const QMargins frame = contentsMargins();
    resize(size.grownBy(frame));
}

QSize TForm_Grp::ClientSize() const {
    return contentsRect().size();
}

QString TForm_Grp::FileName() const {
    const auto caption = ReadSequenceCaption(windowTitle());
    return caption ? caption->fileName : QString();
}

std::optional<int> TForm_Grp::Number() const {
    const auto caption = ReadSequenceCaption(windowTitle());
    return caption ? caption->Number() : std::nullopt;
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
    if (image_->size() != size) image_->setFixedSize(size);
}

void TForm_Grp::resizeEvent(QResizeEvent* event) {
    QMdiSubWindow::resizeEvent(event);
    FormResize();
}

void TForm_Grp::Image1DblClick() {
    const QString name = FileName();
    if (!name.isEmpty()) platform::ShellOpen(name);
}

bool TForm_Grp::eventFilter(QObject* watched, QEvent* event) {
    if (watched == image_ && event->type() == QEvent::MouseButtonDblClick) {
        Image1DblClick();
        return true;
    }
    return QMdiSubWindow::eventFilter(watched, event);
}

bool TForm_Grp::event(QEvent* event) {
    if (event->type() == QEvent::ShortcutOverride && IsFrameKey(*static_cast<QKeyEvent*>(event))) {
        event->accept(); // claim the key so no frame shortcut runs; keyPressEvent drops it
        return true;
    }
    return QMdiSubWindow::event(event);
}

// The window is selected by a click but never moved or resized by the mouse.
void TForm_Grp::mousePressEvent(QMouseEvent* event) {
    if (QMdiArea* frame = mdiArea()) frame->setActiveSubWindow(this);
    setFocus(Qt::MouseFocusReason);
    event->accept();
}

void TForm_Grp::mouseMoveEvent(QMouseEvent* event) {
    event->accept();
}
void TForm_Grp::mouseReleaseEvent(QMouseEvent* event) {
    event->accept();
}
void TForm_Grp::mouseDoubleClickEvent(QMouseEvent* event) {
    event->accept();
}
void TForm_Grp::contextMenuEvent(QContextMenuEvent* event) {
    event->accept();
}

void TForm_Grp::keyPressEvent(QKeyEvent* event) {
    if (IsFrameKey(*event)) {
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_PageUp || event->key() == Qt::Key_PageDown) {
        emit MoveKeyPressed(event->key() == Qt::Key_PageUp);
        event->accept();
        return;
    }
    QMdiSubWindow::keyPressEvent(event);
}

} // namespace sorowa
