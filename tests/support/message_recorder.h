#pragma once
// Records the program's message boxes as they are really shown, closes each with its OK
// button as a user would, and checks at the end of the test that none is left open.

#include <QList>
#include <QMessageBox>
#include <QObject>
#include <QString>
#include <functional>

namespace sorowa::test {

// A message box as the user saw it.
struct ShownMessage {
    QString text;
    QString caption;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QWidget* parent = nullptr;
};

class MessageRecorder : public QObject {
public:
    MessageRecorder();
    ~MessageRecorder() override;
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    const QList<ShownMessage>& Messages() const { return messages_; }
    QStringList Texts() const;
    void Clear() { messages_.clear(); }
    // Runs while each box is open, to look at the program as the user then sees it.
    void WhileOpen(std::function<void()> look) { whileOpen_ = std::move(look); }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void Answer(QMessageBox* box);

    QList<ShownMessage> messages_;
    std::function<void()> whileOpen_;
};

} // namespace sorowa::test
