#include "platform/ui/error_display.h"

#include "platform/errors.h"
#include "platform/ui/message_box.h"

#include <QEvent>
#include <QTimer>
#include <new>

namespace sorowa::platform {

QString ErrorDisplayText(const QString& message) {
    if (!message.isEmpty() && message.back() > QChar(u'.')) return message + u'.';
    return message;
}

namespace {

QString MessageOf(const std::exception& error) {
    if (const auto* ours = dynamic_cast<const Exception*>(&error)) return ours->Message();
    if (dynamic_cast<const std::bad_alloc*>(&error)) return QStringLiteral("メモリが足りません");
    return QString::fromLocal8Bit(error.what());
}

} // namespace

void ShowException(const std::exception& error) {
    ShowMessageBox({ErrorDisplayText(MessageOf(error)), ApplicationTitle(), MessageIcon::Error,
                    QApplication::activeWindow()});
}

void ShowCurrentException() {
    try {
        throw;
    } catch (const std::exception& error) {
        ShowException(error);
    } catch (...) {
        ShowMessageBox({ErrorDisplayText(QStringLiteral("不明なエラー")), ApplicationTitle(),
                        MessageIcon::Error, QApplication::activeWindow()});
    }
}

TApplication::TApplication(int& argc, char** argv) : QApplication(argc, argv) {}

bool TApplication::notify(QObject* receiver, QEvent* event) {
    try {
        return QApplication::notify(receiver, event);
    } catch (const std::exception& error) {
        if (event->type() == QEvent::Paint) {
            // A modal box inside a paint would paint recursively: show it once the paint is over.
            QTimer::singleShot(0, this, [message = MessageOf(error)] {
                ShowMessageBox({ErrorDisplayText(message), ApplicationTitle(), MessageIcon::Error,
                                QApplication::activeWindow()});
            });
        } else {
            ShowException(error);
        }
    } catch (...) {
        ShowCurrentException();
    }
    return false;
}

} // namespace sorowa::platform
