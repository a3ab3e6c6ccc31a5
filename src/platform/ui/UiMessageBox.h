// The window system's side of showMessage(): real QMessageBox dialogs.
#pragma once

#include <chrono>

namespace vozaro::platform {

// How long a box may stay unseen before it gives up (see below).
inline constexpr std::chrono::milliseconds kUnseenBoxWait{10000};

// Makes showMessage() open a task-modal QMessageBox captioned with the
// application title, owned by the active window, its text shown as plain
// text.  Nothing waits on a box that cannot be drawn: a message that needs
// no answer, raised while the process has no file descriptor to spare (a
// window made then may be created and never drawn), is answered OK at once
// and its box shown as soon as descriptors are free again; and a box the
// window system has not shown after `unseenWait` (a display that stopped
// answering) gives up with its safe answer (No, Cancel or OK).  Called once
// by the program entry after the application object exists.
void installWindowMessageBoxes(std::chrono::milliseconds unseenWait = kUnseenBoxWait);

}  // namespace vozaro::platform
