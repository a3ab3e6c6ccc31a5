// What the window tests share: one application object with the program's
// pictures, private data and configuration folders, and a way to answer the
// modal windows a handler opens.
#pragma once

#include <QApplication>
#include <QDir>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>

inline void initVozaroResources() { Q_INIT_RESOURCE(vozaro); }

inline QApplication& testApplication() {
    static QApplication* app = [] {
        static QTemporaryDir home;
        qputenv("XDG_DATA_HOME", QDir(home.path()).filePath("data").toUtf8());
        qputenv("XDG_CONFIG_HOME", QDir(home.path()).filePath("config").toUtf8());
        static int argc = 1;
        static char name[] = "vozaro-tests";
        static char* argv[] = {name, nullptr};
        auto* application = new QApplication(argc, argv);
        QApplication::setApplicationName(QStringLiteral("Vozaro"));
        initVozaroResources();
        return application;
    }();
    return *app;
}

// Waits (in the event loop the handler runs) for the next modal window,
// hands it to inspect and closes it.  Call before the handler that opens it.
inline void closeNextModal(std::function<void(QWidget*)> inspect) {
    auto* poll = new QTimer;
    auto tries = std::make_shared<int>(0);
    QObject::connect(poll, &QTimer::timeout, [poll, tries, inspect] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal && ++*tries < 200)
            return;
        poll->stop();
        poll->deleteLater();
        inspect(modal);
        if (modal)
            modal->close();
    });
    poll->start(5);
}
