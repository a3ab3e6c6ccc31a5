// The configuration window on the fake mixer card, recording MIDI devices,
// the fake microphone and the test clock.
#include <gtest/gtest.h>

#include <QCheckBox>
#include <QComboBox>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "audio/AMixer.h"
#include "catalogue/vozaro_colecao.h"
#include "controls/Slider.h"
#include "midi/SmfBytes.h"
#include "midi/cmpMidiPlayer.h"
#include "midi/cmpTrackOutputs.h"
#include "platform/FakeCaptureDevice.h"
#include "platform/FakeMixerDevice.h"
#include "platform/ManualTimer.h"
#include "platform/MessageBox.h"
#include "platform/MidiDeviceRecording.h"
#include "platform/SettingsStore.h"
#include "platform/WindowTimer.h"
#include "settings/WindowTestSupport.h"
#include "settings/vozaro_config.h"

using namespace vozaro::platform;
using namespace vozaro::midi::fixtures;
using vozaro::audio::LineVolume;

namespace {

constexpr int kWave = 0, kSynth = 1, kMic = 4;               // playback sources
constexpr int kRecCd = 0, kRecLine = 1, kRecMic = 2, kRecMix = 3;  // recording sources

class ConfigWindow : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        previousStore = installSettingsStore(std::make_unique<MemorySettingsStore>());
        previousFolder = vozaro::catalogue::programFolder();
        vozaro::catalogue::setProgramFolder(folder.path());
    }
    void TearDown() override {
        vozaro::catalogue::setProgramFolder(previousFolder);
        installSettingsStore(std::move(previousStore));
    }

    void useCard(std::shared_ptr<FakeMixerCard> c) {
        card = std::move(c);
        mixers->cards = {card};
    }
    std::int32_t selection(int source) {
        return card->control(1, -1, card->destinations[1].line.controls[1].type)->values[source];
    }
    std::vector<std::int32_t>& values(int destination, int line, std::uint32_t type) {
        return card->control(destination, line, type)->values;
    }
    std::vector<std::int32_t>& volume(int line) { return values(0, line, MIXERCONTROL_CONTROLTYPE_VOLUME); }
    std::int32_t mute(int line) { return values(0, line, MIXERCONTROL_CONTROLTYPE_MUTE)[0]; }

    // A song of one note lasting `quarters` quarter notes at 120 beats a
    // minute (500 ms each), written as the program's "config.mid".
    void writeTestSong(int quarters) {
        const Bytes events = vlq(0) + Bytes{0xC0, 5} + vlq(0) + Bytes{0x90, 60, 100} +
                             vlq(static_cast<std::uint32_t>(180 * quarters)) + Bytes{0x80, 60, 0} +
                             endOfTrack();
        folder.file("config.mid", smf(0, 1, 180, track(meta(0, 0x51, {0x07, 0xA1, 0x20}) + events)));
    }

    TempFolder folder{"vozaro-config-window"};
    std::unique_ptr<SettingsStore> previousStore;
    std::filesystem::path previousFolder;
    std::shared_ptr<FakeMixerCard> card = FakeMixerCard::typicalSoundCard();
    std::shared_ptr<FakeMixerSystem> mixers = std::make_shared<FakeMixerSystem>(
        std::vector<std::shared_ptr<FakeMixerCard>>{card});
    ScopedMixerSystem mixerScope{mixers};
    std::shared_ptr<RecordingMidiDevices> midi = std::make_shared<RecordingMidiDevices>(2);
    ScopedMidiDevices midiScope{midi};
    ManualTimerService timers;
    ScopedManualWindowClock clock{timers};
    ScopedFakeCapture capture;
    ScopedMessageRecorder messages;
};

TEST_F(ConfigWindow, FindsTheLinesByTheirKind) {
    TformConfig config;
    EXPECT_EQ(config.MasterLine, -1);
    EXPECT_EQ(config.MidiLine, kSynth);
    EXPECT_EQ(config.MicLine, kMic);
    EXPECT_TRUE(config.SavedMicMute);  // the card's microphone starts muted
}

TEST_F(ConfigWindow, TheMicrophoneBecomesTheRecordingSourceAndTheStartStateIsGivenBack) {
    struct Case {
        const char* name;
        std::shared_ptr<FakeMixerCard> card;
        std::vector<std::int32_t> start;
    };
    // The MUX starts on "Line In", the MIXER on "Line In" and "Stereo Mix":
    // a microphone already selected would hide a restore that does nothing.
    const Case cases[] = {{"MUX", FakeMixerCard::typicalSoundCard(), {0, 1, 0, 0}},
                          {"MIXER", FakeMixerCard::mixingSoundCard(), {0, 1, 0, 1}}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        useCard(c.card);
        card->destinations[1].line.controls[1].values = c.start;
        TformConfig config;
        EXPECT_EQ(std::vector<std::int32_t>(config.SavedRecordingStates.begin(),
                                            config.SavedRecordingStates.begin() + 4),
                  c.start);
        for (int source : {kRecCd, kRecLine, kRecMic, kRecMix})
            EXPECT_EQ(selection(source), source == kRecMic ? 1 : 0) << source;
        // The stage selects again when a song starts, without saving.
        card->destinations[1].line.controls[1].values = {0, 0, 0, 1};
        config.SelectMicrophoneForRecording(false);
        EXPECT_EQ(selection(kRecMic), 1);
        EXPECT_EQ(selection(kRecMix), 0);
        EXPECT_EQ(config.SavedRecordingStates[kRecMix], c.start[kRecMix]);

        config.RestoreMixerState();
        EXPECT_EQ(card->destinations[1].line.controls[1].values, c.start);
        EXPECT_EQ(mute(kMic), 1);
    }
}

TEST_F(ConfigWindow, SourcesWithTheirOwnMuteAreUnmutedOnlyForTheMicrophone) {
    // Recording sources with mute controls of their own instead of a list.
    for (auto& source : card->destinations[1].sources)
        source.controls.push_back({MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM, "Mute", {1}, {}});
    card->destinations[1].line.controls.pop_back();
    TformConfig config;
    for (int source : {kRecCd, kRecLine, kRecMic, kRecMix})
        EXPECT_EQ(values(1, source, MIXERCONTROL_CONTROLTYPE_MUTE)[0], source == kRecMic ? 0 : 1);
    config.RestoreMixerState();
    EXPECT_EQ(values(1, kRecMic, MIXERCONTROL_CONTROLTYPE_MUTE)[0], 1);
}

}  // namespace
