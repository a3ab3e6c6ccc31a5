// The window system's side of showMessage(): real QMessageBox dialogs.
#pragma once

namespace vozaro::platform {

// Makes showMessage() open a task-modal QMessageBox captioned with the
// application title, owned by the active window.  Called once by the program
// entry after the application object exists.
void installWindowMessageBoxes();

}  // namespace vozaro::platform
