#include "settings/vozaro_config.h"

#include <QCoreApplication>

#include "platform/MidiDevices.h"
#include "controls/WindowLook.h"

TformConfig* formConfig = nullptr;

TformConfig::TformConfig(QWidget* parent) : QDialog(parent) {
    formConfig = this;
    setAttribute(Qt::WA_QuitOnClose, false);
    setFixedSize(592, 398);
    paintBlack(*this);
    FormCreate();
}

TformConfig::~TformConfig() {
    if (formConfig == this)
        formConfig = nullptr;
}

void TformConfig::FormCreate() {
    setWindowTitle(QCoreApplication::applicationName());
    loadKaraokeSettings(Settings);
    Settings.MIDIPort = chooseMidiPort(Settings.MIDIPort, vozaro::platform::midiOutputDeviceCount());
    ApplySettings();
}

void TformConfig::ApplySettings() { saveKaraokeSettings(Settings); }
