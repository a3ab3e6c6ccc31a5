// The catalogue window's link to the stage window, in one place.
#include "catalogue/vozaro_album.h"
#include "stage/vozaro_main.h"

StageLink stageLinkOfProgram() {
    StageLink link;
    link.isKaraoke = [](const std::filesystem::path& file) {
        return formKaraoke && formKaraoke->CarregarMusica(QString::fromStdString(file.string()));
    };
    link.releaseCheckedSong = [] {
        if (formKaraoke)
            formKaraoke->releaseCheckedSong();
    };
    link.playNow = [](int32_t numero) {
        if (formKaraoke)
            formKaraoke->playNow(numero);
    };
    link.stopPlayer = [] {
        if (formKaraoke)
            formKaraoke->stopPlaying();
    };
    return link;
}
