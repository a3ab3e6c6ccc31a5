// The stage window's links to the configuration window and to the other
// windows it opens, in one place.
#include <QCheckBox>
#include <QDialog>

#include <algorithm>

#include "audio/AMixer.h"
#include "catalogue/vozaro_album.h"
#include "settings/OptionsWindow.h"
#include "settings/vozaro_config.h"
#include "settings/vozaro_creditos.h"
#include "settings/vozaro_inicio.h"
#include "stage/vozaro_main.h"

ConfigLink configLinkOfProgram() {
    ConfigLink link;
    link.settings = []() -> TKaraokeSettings* { return formConfig ? &formConfig->Settings : nullptr; };
    link.midiVolume = []() -> std::optional<int> {
        if (!formConfig || !formConfig->Mixer || formConfig->MidiLine < 0)
            return std::nullopt;
        vozaro::audio::LineVolume volume;
        if (!formConfig->Mixer->ReadLineVolume(0, formConfig->MidiLine, volume))
            return std::nullopt;
        return std::max(volume.Left, volume.Right);
    };
    link.setMidiVolume = [](int volume) {
        if (!formConfig || !formConfig->Mixer || formConfig->MidiLine < 0)
            return;
        const bool muted = formConfig->cbMidiMudo && formConfig->cbMidiMudo->isChecked();
        formConfig->IgnoreMixerEvents = true;
        formConfig->Mixer->WriteLineVolume(0, formConfig->MidiLine, volume, volume, muted ? 1 : 0);
        formConfig->IgnoreMixerEvents = false;
    };
    link.selectMicrophone = [] {
        if (!formConfig || !formConfig->Mixer)
            return;
        formConfig->QuietMuteChange = true;
        formConfig->SelectMicrophoneForRecording(false);
        formConfig->QuietMuteChange = false;
    };
    link.restoreMixerState = [] {
        if (formConfig)
            formConfig->RestoreMixerState();
    };
    link.showConfiguration = [] {
        return formConfig && formConfig->exec() == QDialog::Accepted && formConfig->saved();
    };
    return link;
}

WindowsLink windowsLinkOfProgram() {
    WindowsLink link;
    link.showCatalogue = [] {
        if (formAlbum)
            formAlbum->exec();
    };
    link.showCredits = [] {
        if (formCreditos)
            formCreditos->exec();
    };
    link.showStartScreen = [] {
        if (formInicio)
            formInicio->exec();
    };
    link.showMoreOptions = [] { showMoreOptions(formKaraoke); };
    link.logo = [] { return logoPicture(); };
    return link;
}
