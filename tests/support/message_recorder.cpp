#include "support/message_recorder.h"

namespace sorowa::test {

MessageRecorder::MessageRecorder() {
    platform::SetMessageBoxHook([this](const platform::MessageBoxRequest& request) {
        messages_.append(request);
        if (whileOpen_) whileOpen_();
    });
}

MessageRecorder::~MessageRecorder() {
    platform::SetMessageBoxHook({});
}

QStringList MessageRecorder::Texts() const {
    QStringList texts;
    for (const auto& message : messages_)
        texts.append(message.text);
    return texts;
}

} // namespace sorowa::test
