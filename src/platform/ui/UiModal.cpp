#include "platform/ui/UiModal.h"

#include <QDialog>

namespace vozaro::platform {

namespace {
ModalResponder& installed() {
    static ModalResponder responder;
    return responder;
}
}  // namespace

int execModal(QDialog& dialog) {
    if (ModalResponder responder = installed()) {
        // The responder's answer is the dialog's result, as a user's would be.
        int result = responder(dialog);
        dialog.setResult(result);
        return result;
    }
    return dialog.exec();
}

ScopedModalResponder::ScopedModalResponder(ModalResponder responder)
    : responder_(std::move(responder)), previous_(installed()) {
    installed() = [this](QDialog& dialog) {
        ++count_;
        return responder_(dialog);
    };
}

ScopedModalResponder::~ScopedModalResponder() { installed() = std::move(previous_); }

}  // namespace vozaro::platform
