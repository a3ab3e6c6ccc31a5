// The configuration window's link to the stage window, in one place.
#include <QProgressBar>
#include <QSignalBlocker>

#include "controls/Slider.h"
#include "settings/OptionsWindow.h"
#include "settings/vozaro_config.h"
#include "stage/vozaro_main.h"

ConfigStageLink configStageLinkOfProgram() {
    ConfigStageLink link;
    link.stopPlayer = [] {
        if (formKaraoke)
            formKaraoke->stopPlaying();
    };
    link.switchMidiDevice = [](int port) {
        if (formKaraoke)
            formKaraoke->switchMidiDevice(port);
    };
    // The slider's own change handler would write the value back to the
    // mixer, so it is set without raising it.
    link.showMidiVolume = [](int volume) {
        if (formKaraoke && formKaraoke->VolMidi) {
            const QSignalBlocker blocker(formKaraoke->VolMidi);
            formKaraoke->VolMidi->setValue(volume);
        }
    };
    link.setLevelFloor = [](int noiseLevel) {
        if (formKaraoke && formKaraoke->MicProgress)
            formKaraoke->MicProgress->setMinimum(noiseLevel);
    };
    return link;
}

namespace {

// Where the sound card plays the microphone through its own mixer line as
// well, the voice would be heard twice.
QString microphoneLineHint() {
    if (!formConfig || formConfig->MicLine < 0)
        return QString();
    return QStringLiteral("Esta placa de som também toca o microfone nas caixas (linha \"Microfone\" do mixer): "
                          "use uma das duas.");
}

}  // namespace

OptionsLink optionsLinkOfProgram() {
    OptionsLink link;
    link.settings = []() -> TKaraokeSettings* { return formConfig ? &formConfig->Settings : nullptr; };
    link.changed = [] {
        if (formKaraoke)
            formKaraoke->optionsChanged();
    };
    link.closed = [] {
        if (formKaraoke)
            formKaraoke->optionsClosed();
    };
    link.microphoneHint = microphoneLineHint;
    return link;
}
