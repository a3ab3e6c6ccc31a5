// Modal message boxes, captioned with the application title ("Vozaro").
//
// Engines and windows alike call showMessage(); what answers it is installed
// at start-up: the window system's boxes (installWindowMessageBoxes(), in the
// UI part of this layer) in the program, a responder in tests.  With nothing
// installed a message is dropped and answered with the safe default (Ok, No
// for a Yes/No question, Cancel for OK/Cancel), so library code never blocks
// on a missing screen.
#pragma once

#include <exception>
#include <functional>
#include <string>
#include <vector>

namespace vozaro::platform {

enum class MessageIcon { Error, Warning, Question, Information };
enum class MessageButtons { Ok, YesNo, OkCancel };  // Yes/No always defaults to No
enum class MessageResult { Ok, Yes, No, Cancel };

struct MessageRequest {
    std::string text;  // UTF-8
    MessageIcon icon;
    MessageButtons buttons;
};

using MessageResponder = std::function<MessageResult(const MessageRequest&)>;

// Shows a task-modal message and returns the user's answer.
MessageResult showMessage(const std::string& utf8Text, MessageIcon icon,
                          MessageButtons buttons = MessageButtons::Ok);

// The default error report: an error that no handler caught is shown as an
// error message with its text (an engine error's own English message), and
// the program goes on.  Called from a catch block, with the caught error.
void reportUncaughtError(std::exception_ptr error);

// Replaces whatever answers messages; returns the previous responder.  An empty
// responder restores the silent default.
MessageResponder setMessageResponder(MessageResponder responder);

}  // namespace vozaro::platform
