#pragma once
// Answers the program's modal dialogs as a user would: each is noticed when it is shown and
// answered from inside its own exec loop, the one that waits for the user. Free of GoogleTest,
// so that the benchmarks answer their dialogs the same way.

#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QThread>
#include <functional>

namespace sorowa::test {

namespace detail {
inline void PostOnceDeeper(QPointer<QWidget> dialog, int shownAt, std::function<void()> act) {
    if (dialog.isNull()) return;
    QMetaObject::invokeMethod(
        dialog.data(),
        [dialog, shownAt, act] {
            if (!dialog->isVisible()) return; // answered already, or closed by the program
            // Shown, but its exec has not started its loop yet: an answer now would close
            // it before that loop runs, which would then wait for ever.
            if (QThread::currentThread()->loopLevel() <= shownAt)
                return PostOnceDeeper(dialog, shownAt, act);
            act();
        },
        Qt::QueuedConnection);
}
} // namespace detail

// Runs act once dialog, being shown now, waits in its own event loop; not at all when the
// dialog is gone or hidden by then.
inline void WhenItsLoopRuns(QWidget* dialog, std::function<void()> act) {
    detail::PostOnceDeeper(dialog, QThread::currentThread()->loopLevel(), std::move(act));
}

// Clicks the push button of dialog that reads text; false, and the dialog rejected so that
// nothing waits for ever, when it has none.
inline bool ClickButton(QDialog* dialog, const QString& text) {
    for (QPushButton* button : dialog->findChildren<QPushButton*>())
        if (button->text() == text) {
            QTest::mouseClick(button, Qt::LeftButton);
            return true;
        }
    dialog->reject();
    return false;
}

// Closes a message box with its OK button; false, and the box rejected, when it has none.
inline bool ClickOk(QMessageBox* box) {
    if (QAbstractButton* ok = box->button(QMessageBox::Ok)) {
        QTest::mouseClick(ok, Qt::LeftButton);
        return true;
    }
    box->reject();
    return false;
}

// While it lives, hands every modal dialog of type T (and of that object name, when one is
// given) that opens to answer, which runs inside that dialog's loop and should close it (an
// OK or cancel click).
template <typename T> class WhenModalOpens : public QObject {
public:
    explicit WhenModalOpens(std::function<void(T*)> answer, QString name = {})
        : answer_(std::move(answer)), name_(std::move(name)) {
        qApp->installEventFilter(this);
    }
    ~WhenModalOpens() override { qApp->removeEventFilter(this); }
    WhenModalOpens(const WhenModalOpens&) = delete;
    WhenModalOpens& operator=(const WhenModalOpens&) = delete;

    int Opened() const { return opened_; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show) return false;
        T* dialog = qobject_cast<T*>(watched);
        if (dialog == nullptr || !dialog->isWindow() || !dialog->isModal()) return false;
        if (!name_.isEmpty() && dialog->objectName() != name_) return false;
        ++opened_;
        WhenItsLoopRuns(dialog, [answer = answer_, dialog] { answer(dialog); });
        return false;
    }

private:
    std::function<void(T*)> answer_;
    QString name_;
    int opened_ = 0;
};

} // namespace sorowa::test
