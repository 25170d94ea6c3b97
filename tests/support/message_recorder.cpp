#include "support/message_recorder.h"

#include "support/modal_dialogs.h"

#include <QApplication>
#include <QPointer>
#include <gtest/gtest.h>

namespace sorowa::test {
namespace {

// ShowMessageBox names its boxes so; the program's questions are message boxes too.
QMessageBox* ProgramMessageBox(QObject* object) {
    auto* box = qobject_cast<QMessageBox*>(object);
    return box != nullptr && box->objectName() == QStringLiteral("MessageBox") ? box : nullptr;
}

} // namespace

MessageRecorder::MessageRecorder() {
    qApp->installEventFilter(this);
}

MessageRecorder::~MessageRecorder() {
    qApp->removeEventFilter(this);
    for (QWidget* widget : QApplication::topLevelWidgets()) {
        if (const QMessageBox* box = ProgramMessageBox(widget)) {
            EXPECT_FALSE(box->isVisible())
                << "message box left open: " << box->text().toStdString();
        }
    }
}

bool MessageRecorder::eventFilter(QObject* watched, QEvent* event) {
    QMessageBox* box = event->type() == QEvent::Show ? ProgramMessageBox(watched) : nullptr;
    if (box == nullptr) return false;
    messages_.append({box->text(), box->windowTitle(), box->icon(), box->parentWidget()});
    QPointer<MessageRecorder> self(this);
    WhenItsLoopRuns(box, [self, box] {
        if (self) self->Answer(box);
    });
    return false;
}

void MessageRecorder::Answer(QMessageBox* box) {
    if (whileOpen_) whileOpen_();
    if (!box->isVisible()) return; // the look closed it
    if (!ClickOk(box))
        ADD_FAILURE() << "message box without an OK button: " << box->text().toStdString();
}

QStringList MessageRecorder::Texts() const {
    QStringList texts;
    for (const auto& message : messages_)
        texts.append(message.text);
    return texts;
}

} // namespace sorowa::test
