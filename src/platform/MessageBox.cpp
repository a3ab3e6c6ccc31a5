#include "platform/MessageBox.h"

#include <mutex>
#include <utility>

namespace vozaro::platform {

namespace {
std::mutex responderMutex;
MessageResponder& currentResponder() {
    static MessageResponder responder;
    return responder;
}
}  // namespace

MessageResult showMessage(const std::string& utf8Text, MessageIcon icon, MessageButtons buttons) {
    MessageResponder responder;
    {
        std::lock_guard lock(responderMutex);
        responder = currentResponder();
    }
    if (!responder) {
        switch (buttons) {
        case MessageButtons::YesNo: return MessageResult::No;
        case MessageButtons::OkCancel: return MessageResult::Cancel;
        case MessageButtons::Ok: break;
        }
        return MessageResult::Ok;
    }
    return responder(MessageRequest{utf8Text, icon, buttons});
}

void reportUncaughtError(std::exception_ptr error) {
    try {
        std::rethrow_exception(std::move(error));
    } catch (const std::exception& e) {
        showMessage(e.what(), MessageIcon::Error);
    } catch (...) {
        showMessage("Erro inesperado.", MessageIcon::Error);
    }
}

MessageResponder setMessageResponder(MessageResponder responder) {
    std::lock_guard lock(responderMutex);
    return std::exchange(currentResponder(), std::move(responder));
}

}  // namespace vozaro::platform
