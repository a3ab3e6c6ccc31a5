// What the window tests share: one application object with the program's
// pictures, private data and configuration folders, and a way to answer the
// modal windows a handler opens.
#pragma once

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <QWidget>

#include "platform/ui/UiApplication.h"
#include "support/CoreTestApplication.h"

inline void initVozaroResources() { Q_INIT_RESOURCE(vozaro); }

inline QApplication& testApplication() {
    static QApplication* app = [] {
        useTestHomeFolders();
        auto* application = new vozaro::platform::VozaroApplication(testArguments().argc, testArguments().argv);
        QApplication::setApplicationName(QStringLiteral("Vozaro"));
        initVozaroResources();
        return application;
    }();
    return *app;
}

// Closes the modal windows that open during its lifetime (in the event loop
// of the handler that opened them) and remembers the first one.
class ModalCloser {
public:
    ModalCloser() {
        QObject::connect(&poll_, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (!modal)
                return;
            if (!first_)
                first_ = modal;
            modal->close();
        });
        poll_.start(5);
    }
    QWidget* first() const { return first_; }

private:
    QTimer poll_;
    QWidget* first_ = nullptr;
};
