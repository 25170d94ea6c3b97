#include "platform/ui/message_box.h"

#include <QApplication>
#include <QMessageBox>

namespace sorowa::platform {
namespace {

QString& Title() {
    static QString title = QStringLiteral("Sorowa");
    return title;
}

QMessageBox::Icon QtIcon(MessageIcon icon) {
    switch (icon) {
    case MessageIcon::Stop:
    case MessageIcon::Error:
        return QMessageBox::Critical;
    case MessageIcon::None:
        break;
    }
    return QMessageBox::NoIcon;
}

} // namespace

QString ApplicationTitle() {
    return Title();
}
void SetApplicationTitle(const QString& title) {
    Title() = title;
}

void ShowMessageBox(const MessageBoxRequest& request) {
    QMessageBox box(QtIcon(request.icon), request.caption, request.text, QMessageBox::Ok,
                    request.parent);
    // Tells these boxes from the program's questions, which are message boxes too.
    box.setObjectName(QStringLiteral("MessageBox"));
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
    // A box shown over another (an error that came up while a message waited) hands the
    // keyboard back to the one still waiting, wherever the window system puts the focus.
    if (QWidget* waiting = QApplication::activeModalWidget();
        waiting != nullptr && waiting != QApplication::activeWindow()) {
        waiting->raise();
        waiting->activateWindow();
    }
}

void ShowMessage(const QString& text, QWidget* parent) {
    ShowMessageBox({text, ApplicationTitle(), MessageIcon::None, parent});
}

void ShowWarning(const QString& text, MessageIcon icon, QWidget* parent) {
    ShowMessageBox({text, QStringLiteral("警告"), icon, parent});
}

} // namespace sorowa::platform
