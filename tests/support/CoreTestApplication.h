// One application object for the tests that need Qt's event loop but no
// screen (the phone server, the engines), with private data and
// configuration folders.  A test executable uses either this or the window
// tests' application, never both.
#pragma once

#include <QCoreApplication>
#include <QDir>
#include <QTemporaryDir>

// Private data and configuration folders for the whole test run, and the
// arguments of its application object.
inline void useTestHomeFolders() {
    static QTemporaryDir home;
    qputenv("XDG_DATA_HOME", QDir(home.path()).filePath("data").toUtf8());
    qputenv("XDG_CONFIG_HOME", QDir(home.path()).filePath("config").toUtf8());
}
struct TestArguments {
    int argc = 1;
    char name[16] = "vozaro-tests";
    char* argv[2] = {name, nullptr};
};
inline TestArguments& testArguments() {
    static TestArguments arguments;
    return arguments;
}

inline QCoreApplication& coreTestApplication() {
    static QCoreApplication* app = [] {
        useTestHomeFolders();
        auto* application = new QCoreApplication(testArguments().argc, testArguments().argv);
        QCoreApplication::setApplicationName(QStringLiteral("Vozaro"));
        return application;
    }();
    return *app;
}
