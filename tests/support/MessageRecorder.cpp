#include "support/MessageRecorder.h"

namespace vozaro::platform {

ScopedMessageRecorder::ScopedMessageRecorder(MessageResult answer) : answer_(answer) {
    previous_ = setMessageResponder([this](const MessageRequest& request) {
        messages_.push_back(request);
        return answer_;
    });
}

ScopedMessageRecorder::~ScopedMessageRecorder() { setMessageResponder(std::move(previous_)); }

}  // namespace vozaro::platform
