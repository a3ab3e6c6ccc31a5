// Program entry: creates the windows in their order and runs the event loop
// until the stage is closed.
#include <QApplication>
#include <memory>

#include "stores/FirstStart.h"
#include "catalogue/vozaro_album.h"
#include "stores/vozaro_colecao.h"
#include "catalogue/vozaro_editsong.h"
#include "catalogue/vozaro_order.h"
#include "platform/ContentFolder.h"
#include "platform/devices/MidiDeviceFluidSynth.h"
#include "platform/Paths.h"
#include "platform/ProcessLimits.h"
#include "platform/ui/UiApplication.h"
#include "platform/ui/UiMessageBox.h"
#include "settings/vozaro_config.h"
#include "settings/vozaro_creditos.h"
#include "settings/vozaro_inicio.h"
#include "stage/vozaro_main.h"

int main(int argc, char* argv[]) {
    // Guests' phones, song files and sound streams all take descriptors.
    vozaro::platform::raiseOpenFileLimit();
    vozaro::platform::VozaroApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Vozaro"));
    vozaro::platform::installPortugueseDialogTexts(app);
    Q_INIT_RESOURCE(vozaro);
    vozaro::platform::installWindowMessageBoxes();
    // The songs, pictures and sounds a new program folder starts with.
    vozaro::catalogue::setContentFolder(vozaro::platform::findContentFolder());
    // One Vozaro per program folder: a second one leaves before it touches
    // the catalogue.
    vozaro::catalogue::setProgramFolder(vozaro::platform::findProgramFolder());
    const auto catalogueLock = vozaro::catalogue::lockProgramFolder();
    if (!catalogueLock)
        return 1;

    // The stage checks the display and the catalogue while it is created,
    // before any other window exists; the configuration window, created last,
    // reads the settings before the stage is first shown.
    auto stage = std::make_unique<TformKaraoke>();
    if (!stage->created())
        return 1;
    auto inicio = std::make_unique<TformInicio>();
    auto musica = std::make_unique<TformMusica>();
    auto album = std::make_unique<TformAlbum>();
    auto creditos = std::make_unique<TformCreditos>();
    auto order = std::make_unique<TformOrder>();
    auto config = std::make_unique<TformConfig>();

    stage->show();
    const int result = app.exec();
    // The built-in synthesizer's sound plays for the whole evening: it ends
    // here, before the program's statics go.
    vozaro::platform::stopBuiltinSynthAudio();
    return result;
}
