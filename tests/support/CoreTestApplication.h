// One application object for the tests that need Qt's event loop but no
// screen (the phone server, the engines), with private data and
// configuration folders.  A test executable uses either this or the window
// tests' application, never both.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

inline QCoreApplication& coreTestApplication() {
    static QCoreApplication* app = [] {
        static QTemporaryDir home;
        qputenv("XDG_DATA_HOME", QDir(home.path()).filePath("data").toUtf8());
        qputenv("XDG_CONFIG_HOME", QDir(home.path()).filePath("config").toUtf8());
        static int argc = 1;
        static char name[] = "vozaro-tests";
        static char* argv[] = {name, nullptr};
        auto* application = new QCoreApplication(argc, argv);
        QCoreApplication::setApplicationName(QStringLiteral("Vozaro"));
        return application;
    }();
    return *app;
}
