// Messages recorded instead of shown, for tests.
#pragma once

#include <vector>

#include "platform/MessageBox.h"

namespace vozaro::platform {

// Records every message and answers with a fixed result; installs itself for
// its lifetime and restores the previous responder afterwards.
class ScopedMessageRecorder {
public:
    explicit ScopedMessageRecorder(MessageResult answer = MessageResult::Ok);
    ~ScopedMessageRecorder();
    ScopedMessageRecorder(const ScopedMessageRecorder&) = delete;
    ScopedMessageRecorder& operator=(const ScopedMessageRecorder&) = delete;

    void setAnswer(MessageResult answer) { answer_ = answer; }
    const std::vector<MessageRequest>& messages() const { return messages_; }
    void clear() { messages_.clear(); }

private:
    MessageResult answer_;
    std::vector<MessageRequest> messages_;
    MessageResponder previous_;
};

}  // namespace vozaro::platform
