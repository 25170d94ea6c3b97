#pragma once
// Records the message boxes a test provokes instead of showing them, and checks at the
// end of the test that no window is left over.

#include "platform/message_box.h"

#include <QList>

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

private:
    QList<platform::MessageBoxRequest> messages_;
};

} // namespace sorowa::test
