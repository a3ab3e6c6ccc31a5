// The program's application object.  An exception that escapes an event
// handler (an engine error no handler caught) reaches the default error
// report, a message box with its text, and the event loop goes on, instead
// of ending the program.
#pragma once

#include <QApplication>

namespace vozaro::platform {

class VozaroApplication : public QApplication {
public:
    VozaroApplication(int& argc, char** argv) : QApplication(argc, argv) {}
    bool notify(QObject* receiver, QEvent* event) override;
};

// Gives the window system's own dialogs (opening files, printing, its
// buttons) their Portuguese texts, from Qt's translations where installed;
// false when they are not, and the dialogs keep their English texts.
bool installPortugueseDialogTexts(QApplication& application);

}  // namespace vozaro::platform
