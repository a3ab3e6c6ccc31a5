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

inline void initVozaroResources() { Q_INIT_RESOURCE(vozaro); }

inline QApplication& testApplication() {
    static QApplication* app = [] {
        static QTemporaryDir home;
        qputenv("XDG_DATA_HOME", QDir(home.path()).filePath("data").toUtf8());
        qputenv("XDG_CONFIG_HOME", QDir(home.path()).filePath("config").toUtf8());
        static int argc = 1;
        static char name[] = "vozaro-tests";
        static char* argv[] = {name, nullptr};
        auto* application = new vozaro::platform::VozaroApplication(argc, argv);
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
