// The stage window playing through the virtual sound server on the built-in
// synthesizer, with a settings store and a program folder of its own: the
// fixture of the sound tests that play songs through the stage.
#pragma once

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <functional>
#include <memory>

#include "stores/vozaro_colecao.h"
#include "platform/MessageBox.h"
#include "support/MessageRecorder.h"
#include "platform/devices/MidiDeviceFluidSynth.h"
#include "platform/devices/MidiDevices.h"
#include "platform/SettingsStore.h"
#include "support/MemorySettingsStore.h"
#include "settings/WindowTestSupport.h"
#include "sound/SoundServer.h"
#include "sound/SpeakerRecording.h"
#include "stage/vozaro_main.h"

namespace vozaro::test {

class StageOnSoundServer : public ::testing::Test {
protected:
    // Skips the test when the server or a SoundFont is missing; otherwise
    // makes and shows the stage.  Callers return when IsSkipped() or
    // HasFatalFailure().
    void makeStage() {
        if (const std::string missing = soundServerMissing(); !missing.empty())
            GTEST_SKIP() << missing;
        if (const std::string missing = soundFontMissing(); !missing.empty())
            GTEST_SKIP() << missing;
        testApplication();
        previousStore = platform::installSettingsStore(std::make_unique<platform::MemorySettingsStore>());
        platform::setBuiltinSynthVolume(65535);
        platform::setBuiltinSynthMute(false);
        stage = std::make_unique<TformKaraoke>();
        ASSERT_TRUE(stage->created());
        catalogue::setProgramFolder(folder.path().toStdString());
        stage->TrackOutputs.setDefaultOutputPort(platform::kMidiMapper);
        stage->resize(800, 600);
        stage->show();
    }
    void TearDown() override {
        if (stage) {
            stage->close();
            stage.reset();
        }
        if (previousStore)
            platform::installSettingsStore(std::move(previousStore));
    }
    static bool waitFor(const std::function<bool()>& pred, int maxMs) { return waitInRealTime(pred, maxMs); }

    platform::ScopedMessageRecorder messages;
    std::unique_ptr<platform::SettingsStore> previousStore;
    QTemporaryDir folder;
    std::unique_ptr<TformKaraoke> stage;
};

}  // namespace vozaro::test
