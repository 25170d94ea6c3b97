#pragma once
// The program's three kinds of message box: a plain message, a warning, and the general
// error display. Every box is modal over all windows of the program and has one OK button.

#include <QString>

class QWidget;

namespace sorowa::platform {

enum class MessageIcon { None, Stop, Error };

struct MessageBoxRequest {
    QString text;
    QString caption;
    MessageIcon icon = MessageIcon::None;
    QWidget* parent = nullptr;
};

// The program title shown as the caption of plain messages and error boxes.
QString ApplicationTitle();
void SetApplicationTitle(const QString& title);

void ShowMessageBox(const MessageBoxRequest& request);

// Plain message: program title as caption, no icon.
void ShowMessage(const QString& text, QWidget* parent = nullptr);
// Warning: caption "警告" and the given icon.
void ShowWarning(const QString& text, MessageIcon icon, QWidget* parent = nullptr);

} // namespace sorowa::platform
