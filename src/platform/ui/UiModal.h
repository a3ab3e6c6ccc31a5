// Modal dialogs: shown by the window system in the program, answered by a
// responder in tests.
//
// A window that opens a dialog of its own (the song-data dialog, the order
// chooser, the file-open and print dialogs) runs it through execModal()
// instead of QDialog::exec(); a test installs a ScopedModalResponder that is
// handed the dialog, may fill its controls as a user would, and returns the
// result in place of the user.  So no test ever blocks in a nested event
// loop.
//
// thread: user-interface thread only.
#pragma once

#include <functional>

class QDialog;

namespace vozaro::platform {

// The dialog's result (QDialog::Accepted or QDialog::Rejected).
int execModal(QDialog& dialog);

using ModalResponder = std::function<int(QDialog& dialog)>;

// Answers every execModal() during its lifetime; restores the previous
// responder afterwards.
class ScopedModalResponder {
public:
    explicit ScopedModalResponder(ModalResponder responder);
    ~ScopedModalResponder();
    ScopedModalResponder(const ScopedModalResponder&) = delete;
    ScopedModalResponder& operator=(const ScopedModalResponder&) = delete;

    int count() const { return count_; }

private:
    ModalResponder responder_;
    ModalResponder previous_;
    int count_ = 0;
};

}  // namespace vozaro::platform
