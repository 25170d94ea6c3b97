#pragma once
// The general error display: an error that escapes an event handler ends that handler and
// is shown in an error box (program title as caption, error icon, one OK button); the
// program carries on.

#include <QApplication>
#include <exception>

namespace sorowa::platform {

// The text shown for an error message: "." is added when the last character comes after
// "." in character order, so texts that already end in "." or "!" are left alone.
QString ErrorDisplayText(const QString& message);

// Shows the error box for the error.
void ShowException(const std::exception& error);
// Shows the error box for the exception currently being handled (call inside catch).
void ShowCurrentException();

// Runs handler; an error it raises goes to the general error display.
template <typename Handler> void RunHandler(Handler&& handler) {
    try {
        handler();
    } catch (...) {
        ShowCurrentException();
    }
}

// The application object: errors escaping any event handler reach the error display.
class TApplication : public QApplication {
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* event) override;
};

} // namespace sorowa::platform
