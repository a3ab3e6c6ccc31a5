// Program entry: creates the windows in their order and runs the event loop
// until the stage is closed.
#include <QApplication>

#include "platform/UiMessageBox.h"
#include "stage/vozaro_main.h"

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vozaro"));
    Q_INIT_RESOURCE(vozaro);
    vozaro::platform::installWindowMessageBoxes();

    TformKaraoke stage;
    stage.showMaximized();
    return app.exec();
}
