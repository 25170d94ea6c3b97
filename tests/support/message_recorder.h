#pragma once
// Records the message boxes a test provokes instead of showing them, and checks at the
// end of the test that no window is left over.

#include "platform/ui/message_box.h"

#include <QList>
#include <functional>

namespace sorowa::test {

class MessageRecorder {
public:
    MessageRecorder();
    ~MessageRecorder();
    MessageRecorder(const MessageRecorder&) = delete;
    MessageRecorder& operator=(const MessageRecorder&) = delete;

    const QList<platform::MessageBoxRequest>& Messages() const { return messages_; }
    QStringList Texts() const;
    void Clear() { messages_.clear(); }
    // Runs while each message is "open", to look at the program as the user then sees it.
    void WhileOpen(std::function<void()> look) { whileOpen_ = std::move(look); }

private:
    QList<platform::MessageBoxRequest> messages_;
    std::function<void()> whileOpen_;
};

} // namespace sorowa::test
