// The configuration window on the fake mixer card, recording MIDI devices,
// the fake microphone and the test clock.
#include <gtest/gtest.h>

#include <stdexcept>

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLabel>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QTest>

#include "audio/AMixer.h"
#include "stores/vozaro_colecao.h"
#include "controls/Slider.h"
#include "midi/SmfBytes.h"
#include "midi/cmpMidiPlayer.h"
#include "midi/cmpTrackOutputs.h"
#include "support/FakeCaptureDevice.h"
#include "support/FakeHttpService.h"
#include "support/FakeMixerDevice.h"
#include "support/FakeMonitorDevice.h"
#include "support/ManualTimerService.h"
#include "support/ScopedManualWindowClock.h"
#include "platform/MessageBox.h"
#include "support/MessageRecorder.h"
#include "platform/ui/UiScreens.h"
#include "support/FakeScreenSet.h"
#include "support/RecordingMidiDevices.h"
#include "platform/SettingsStore.h"
#include "support/MemorySettingsStore.h"
#include "platform/WindowTimer.h"
#include "platform/ui/UiModal.h"
#include "settings/OptionsWindow.h"
#include "settings/WindowTestSupport.h"
#include "settings/vozaro_config.h"
#include "stage/vozaro_main.h"

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
    // minute (500 ms each).
    static Bytes song(int quarters) {
        const Bytes events = vlq(0) + Bytes{0xC0, 5} + vlq(0) + Bytes{0x90, 60, 100} +
                             vlq(static_cast<std::uint32_t>(180 * quarters)) + Bytes{0x80, 60, 0} +
                             endOfTrack();
        return smf(0, 1, 180, track(meta(0, 0x51, {0x07, 0xA1, 0x20}) + events));
    }
    // The program's "config.mid".
    void writeTestSong(int quarters) { folder.file("config.mid", song(quarters)); }

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

TEST_F(ConfigWindow, MutingTheMicrophoneSwitchesScoringOffWithOneWarning) {
    TformConfig config;
    ASSERT_TRUE(config.cbNota->isChecked());
    ASSERT_FALSE(config.cbMicMudo->isChecked());
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_EQ(mute(kMic), 0);

    config.cbMicMudo->click();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].icon, MessageIcon::Warning);
    EXPECT_EQ(messages.messages()[0].text,
              "A opção \"Dar nota para os cantores\" foi desligada automaticamente, uma vez que "
              "não é possível calcular as notas com o microfone do PC mudo.");
    EXPECT_FALSE(config.cbNota->isChecked());
    EXPECT_FALSE(config.cbNota->isEnabled());
    EXPECT_FALSE(config.Settings.DarNota);
    EXPECT_TRUE(config.Settings.MicMute);
    EXPECT_EQ(mute(kMic), 1);

    config.cbMicMudo->click();
    EXPECT_TRUE(config.cbNota->isEnabled());
    EXPECT_FALSE(config.cbNota->isChecked());
    EXPECT_EQ(mute(kMic), 0);
    // With scoring off, muting says nothing.
    config.cbMicMudo->click();
    EXPECT_EQ(messages.messages().size(), 1u);
}

TEST_F(ConfigWindow, AStoredMuteStartsQuietlyWithScoringOff) {
    WriteSettingBool("MicMute", true);
    WriteSettingBool("DarNota", true);
    TformConfig config;
    EXPECT_TRUE(messages.messages().empty());
    EXPECT_TRUE(config.cbMicMudo->isChecked());
    EXPECT_FALSE(config.cbNota->isChecked());
    EXPECT_FALSE(config.cbNota->isEnabled());
    EXPECT_EQ(mute(kMic), 1);
    EXPECT_FALSE(ReadSettingBool("DarNota", true));
}

TEST_F(ConfigWindow, MissingLinesDisableTheirControlsAndAreNeverWritten) {
    auto& sources = card->destinations[0].sources;
    sources.erase(sources.begin() + kMic);
    sources.erase(sources.begin() + kSynth);
    WriteSettingBool("MicMute", true);
    TformConfig config;
    EXPECT_EQ(config.MicLine, -1);
    EXPECT_EQ(config.MidiLine, -1);
    config.show();
    for (QWidget* control : std::initializer_list<QWidget*>{config.MicVolume, config.cbMicMudo,
                                                            config.MidiVolume, config.cbMidiMudo})
        EXPECT_FALSE(control->isEnabled()) << control->objectName().toStdString();
    EXPECT_TRUE(config.Volume->isEnabled());
    EXPECT_FALSE(config.cbMicMudo->isChecked());
    EXPECT_TRUE(config.cbNota->isEnabled());
    config.MicVolume->setValue(100);
    config.MidiVolume->setValue(200);
    config.RestoreMixerState();
    EXPECT_EQ(mute(-1), 0);  // the master line stays as it was
    EXPECT_EQ(volume(-1), (std::vector<std::int32_t>{50000, 50000}));
    config.reject();
}

TEST_F(ConfigWindow, AMicrophoneWithoutAMuteIsNeverShownMuted) {
    card->destinations[0].sources[kMic].controls.pop_back();  // a volume only
    for (const bool storedMute : {false, true}) {
        SCOPED_TRACE(storedMute);
        WriteSettingBool("MicMute", storedMute);
        TformConfig config;
        config.show();
        EXPECT_TRUE(messages.messages().empty());
        EXPECT_FALSE(config.cbMicMudo->isChecked());
        EXPECT_FALSE(config.cbMicMudo->isEnabled());
        EXPECT_TRUE(config.cbNota->isEnabled());
        EXPECT_EQ(config.cbNota->isChecked(), !storedMute);
        config.bOk->click();
        EXPECT_FALSE(ReadSettingBool("MicMute", true));
    }
}

TEST_F(ConfigWindow, OpeningMirrorsTheMixerWithoutWritingAndTheBalanceStaysUntilMoved) {
    volume(kSynth) = {30000, 50000};
    TformConfig config;
    config.show();
    EXPECT_EQ(config.MidiVolume->value(), 50000);
    EXPECT_EQ(config.Volume->value(), 50000);
    EXPECT_EQ(config.MicVolume->value(), 20000);
    EXPECT_TRUE(config.cbMidiMudo->isEnabled());
    clock.advance(10);
    EXPECT_EQ(volume(kSynth), (std::vector<std::int32_t>{30000, 50000}));

    // Another program changes the master line: the window follows.
    card->change(0, -1, MIXERCONTROL_CONTROLTYPE_VOLUME, {1000, 2000});
    card->change(0, -1, MIXERCONTROL_CONTROLTYPE_MUTE, {1});
    clock.advance(10);
    EXPECT_EQ(config.Volume->value(), 2000);
    EXPECT_TRUE(config.cbMudo->isChecked());
    EXPECT_EQ(volume(-1), (std::vector<std::int32_t>{1000, 2000}));

    config.MidiVolume->setValue(40000);
    EXPECT_EQ(volume(kSynth), (std::vector<std::int32_t>{40000, 40000}));
    config.cbMidiMudo->click();
    EXPECT_EQ(mute(kSynth), 1);
    config.MidiVolume->setValue(41000);
    EXPECT_EQ(mute(kSynth), 1);
    clock.advance(10);
    EXPECT_EQ(config.MidiVolume->value(), 41000);
    config.reject();
}

TEST_F(ConfigWindow, TheNoiseMeasurementKeepsTheLoudestBufferPlusAMargin) {
    struct Case {
        std::vector<std::int16_t> peaks;  // one buffer each, then silence
        int level;
    };
    const Case cases[] = {{{300}, 1800},
                          {{3000, 4000}, 4500},
                          {{32000}, 32768},
                          {{317}, 1817},
                          {{-2000, 500}, 3500}};
    TformConfig config;
    config.show();
    for (const Case& c : cases) {
        std::vector<std::int16_t> samples;
        for (std::int16_t peak : c.peaks) {
            samples.insert(samples.end(), 512, 0);
            samples[samples.size() - 100] = peak;
        }
        capture.control().setSamples(samples);
        config.Button1->click();
        EXPECT_EQ(config.MicSlider->value(), c.level);
        EXPECT_FALSE(config.Calibrating);
        EXPECT_TRUE(config.isEnabled());
    }
    ASSERT_EQ(messages.messages().size(), std::size(cases));
    EXPECT_EQ(messages.messages()[0].buttons, MessageButtons::OkCancel);
    // Cancelling the question measures nothing.
    messages.setAnswer(MessageResult::Cancel);
    config.Button1->click();
    EXPECT_EQ(config.MicSlider->value(), cases[std::size(cases) - 1].level);
    // The level bar shows the latest buffer.
    capture.control().setSamples(std::vector<std::int16_t>(512, 1234), true);
    clock.advance(5);
    EXPECT_EQ(config.MicProgress->value(), 1234);
    config.reject();
}

TEST_F(ConfigWindow, CancelKeepsTheLiveChoicesButStoresNothing) {
    TformConfig config;
    config.show();
    config.MicSlider->setValue(5000);
    config.cbAutoNext->click();
    config.comboDark->setCurrentIndex(10);
    config.bCancel->click();
    EXPECT_FALSE(config.isVisible());
    EXPECT_EQ(config.Settings.NoiseLevel, 5000);
    EXPECT_FALSE(config.Settings.AutoNext);
    EXPECT_TRUE(config.Settings.autoNextSwitch);
    EXPECT_EQ(config.Settings.DarkLevel, 51);
    EXPECT_EQ(ReadSettingInt("NoiseLevel", 0), 2000);

    config.show();
    config.comboDark->setCurrentIndex(-1);  // no step chosen: the default
    config.bOk->click();
    EXPECT_EQ(config.result(), QDialog::Accepted);
    EXPECT_EQ(ReadSettingInt("NoiseLevel", 0), 5000);
    EXPECT_FALSE(ReadSettingBool("AutoNext", true));
    EXPECT_EQ(ReadSettingInt("DarkImg", -1), 4);
    EXPECT_EQ(config.Settings.DarkLevel, 51);
    EXPECT_FALSE(config.Settings.autoNextSwitch);
}

TEST_F(ConfigWindow, TheTestSongLoopsAndMovesToAnotherDeviceWhereItStopped) {
    writeTestSong(2);  // 1000 ms
    const std::uint32_t noteOn = packShortMessage(0x90, 60, 100);
    auto count = [&](int device, std::uint32_t message) {
        const auto sent = midi->messages(device);
        return std::count(sent.begin(), sent.end(), message);
    };
    TformConfig config;
    ASSERT_EQ(config.ListBox->currentRow(), 1);
    config.show();
    clock.advance(10);
    EXPECT_EQ(count(1, noteOn), 1);
    clock.advance(2090);
    EXPECT_EQ(count(1, noteOn), 3);  // at 0, 1000 and 2000 ms

    // Half-way through the note, to the other device: no new start, and the
    // song goes on from where it was.
    clock.advance(200);
    const std::int64_t before = config.MidiPlayer->Position();
    const QRect first = config.ListBox->visualItemRect(config.ListBox->item(0));
    QTest::mouseClick(config.ListBox->viewport(), Qt::LeftButton, {}, first.center());
    ASSERT_EQ(config.ListBox->currentRow(), 0);
    EXPECT_TRUE(config.MidiPlayer->Play());
    EXPECT_GE(config.MidiPlayer->Position(), before);
    EXPECT_EQ(count(0, noteOn), 0);
    EXPECT_EQ(count(0, packShortMessage(0xC0, 5, 0)), 1);  // the program on the way
    clock.advance(800);
    EXPECT_EQ(count(0, noteOn), 1);
    EXPECT_EQ(count(1, noteOn), 3);
    // The arrow keys choose too: back down to the second device.
    QTest::keyClick(config.ListBox, Qt::Key_Down);
    ASSERT_EQ(config.ListBox->currentRow(), 1);
    clock.advance(1000);
    EXPECT_EQ(count(1, noteOn), 4);
    EXPECT_EQ(count(0, noteOn), 1);
    // The choice reaches the store only with OK.
    EXPECT_EQ(ReadSettingInt("MIDIPort", -9), 1);

    config.reject();
    EXPECT_FALSE(config.MidiPlayer->Play());
    EXPECT_EQ(midi->openHandles(0), 0);
    clock.advance(2000);
    EXPECT_EQ(count(1, noteOn), 4);
}

TEST_F(ConfigWindow, ASongThatEndsAtOnceDoesNotSpin) {
    folder.file("config.mid", smf(0, 1, 180, track(endOfTrack())));
    TformConfig config;
    int starts = 0;
    config.MidiPlayer->OnPlay = [&](vozaro::midi::TMidiPlayer*) { ++starts; };
    config.show();
    clock.advance(3500);
    EXPECT_GE(starts, 3);
    EXPECT_LE(starts, 4);
    config.reject();
}

TEST_F(ConfigWindow, ADeviceThatCannotBeOpenedStopsTheTestSongWithTheError) {
    writeTestSong(2);
    midi->setOpenFails(0, true);
    TformConfig config;
    config.show();
    const QRect first = config.ListBox->visualItemRect(config.ListBox->item(0));
    QTest::mouseClick(config.ListBox->viewport(), Qt::LeftButton, {}, first.center());
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Unable to open port");
    EXPECT_EQ(messages.messages()[0].icon, MessageIcon::Error);
    EXPECT_FALSE(config.MidiPlayer->Play());
    clock.advance(2000);
    EXPECT_FALSE(config.MidiPlayer->Play());
    // Back to a working device, the music comes back.
    const QRect second = config.ListBox->visualItemRect(config.ListBox->item(1));
    QTest::mouseClick(config.ListBox->viewport(), Qt::LeftButton, {}, second.center());
    EXPECT_TRUE(config.MidiPlayer->Play());
    // The stop of the stopped player left no mark behind: the end still loops.
    clock.advance(1100);
    EXPECT_TRUE(config.MidiPlayer->Play());
    EXPECT_EQ(config.MidiPlayerTag.load(), 0);
    config.reject();
}

TEST_F(ConfigWindow, TheStageStopsForTheWindowAndPlaysOnTheDeviceChosenWithOk) {
    TformKaraoke stage;
    vozaro::catalogue::setProgramFolder(folder.path());
    const Bytes bytes = song(8);
    stage.MidiData.loadFromMemory(bytes.data(), bytes.size());
    stage.TrackOutputs.setActive(true);
    TformConfig config;
    EXPECT_EQ(stage.TrackOutputs.DefaultOutputPort(), 1);
    EXPECT_EQ(stage.MicProgress->minimum(), 2000);
    stage.MidiPlayer.setPlay(true);
    volume(kSynth) = {30000, 50000};
    config.show();
    EXPECT_FALSE(stage.MidiPlayer.Play());
    // The stage's accompaniment slider shows the MIDI line, writing nothing.
    EXPECT_EQ(stage.VolMidi->value(), 50000);
    EXPECT_EQ(volume(kSynth), (std::vector<std::int32_t>{30000, 50000}));

    // A device that cannot be opened: the message, nothing stored, and the
    // stage keeps the device it had (its stop released the song: load it
    // again, so that its outputs are open).
    stage.MidiData.loadFromMemory(bytes.data(), bytes.size());
    stage.TrackOutputs.setActive(true);
    midi->setOpenFails(0, true);
    config.ListBox->setCurrentRow(0);
    config.MicSlider->setValue(3000);
    config.bOk->click();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Erro ao escolher porta MIDI.");
    EXPECT_EQ(messages.messages()[0].icon, MessageIcon::Error);
    EXPECT_EQ(ReadSettingInt("MIDIPort", -9), 1);
    EXPECT_EQ(ReadSettingInt("NoiseLevel", 0), 2000);
    EXPECT_EQ(stage.MicProgress->minimum(), 2000);
    EXPECT_EQ(config.Settings.MIDIPort, 0);  // the live choice stays
    EXPECT_EQ(stage.TrackOutputs.DefaultOutputPort(), 1);
    EXPECT_TRUE(stage.TrackOutputs.Active());
    EXPECT_EQ(midi->openHandles(1), 1);

    midi->setOpenFails(0, false);
    config.show();
    config.bOk->click();
    EXPECT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(ReadSettingInt("MIDIPort", -9), 0);
    EXPECT_EQ(ReadSettingInt("NoiseLevel", 0), 3000);
    EXPECT_EQ(stage.MicProgress->minimum(), 3000);
    EXPECT_EQ(stage.TrackOutputs.DefaultOutputPort(), 0);
    EXPECT_EQ(midi->openHandles(0), 1);
    EXPECT_EQ(midi->openHandles(1), 0);
}

TEST_F(ConfigWindow, TheStageOpensTheWindowShowsANewDarkeningAndCancelKeepsAutoNext) {
    QImage white(64, 48, QImage::Format_RGB32);
    white.fill(Qt::white);
    std::filesystem::create_directories(folder.path() / "Imagens");
    ASSERT_TRUE(white.save(QString::fromStdString((folder.path() / "Imagens" / "branco.bmp").string())));
    card->destinations[1].line.controls[1].values = {0, 1, 0, 0};  // on "Line In"
    TformKaraoke stage;
    vozaro::catalogue::setProgramFolder(folder.path());
    TformConfig config;
    stage.show();
    auto level = [&] { return qRed(stage.FundoLimpo.pixel(stage.FundoLimpo.width() / 2, stage.FundoLimpo.height() / 2)); };
    EXPECT_EQ(level(), 255 - 51);

    // The window runs modally; these run inside it.
    QMetaObject::invokeMethod(
        &config, [&] { config.comboDark->setCurrentIndex(10); config.bOk->click(); }, Qt::QueuedConnection);
    stage.bConfigClick();
    EXPECT_EQ(level(), 255 - 128);

    QMetaObject::invokeMethod(
        &config, [&] { config.cbAutoNext->click(); config.bCancel->click(); }, Qt::QueuedConnection);
    stage.bConfigClick();
    EXPECT_FALSE(config.cbAutoNext->isChecked());
    EXPECT_TRUE(config.Settings.autoNextSwitch);

    // Closing the stage gives the card back its recording source and the
    // microphone its mute.
    EXPECT_EQ(selection(kRecMic), 1);
    EXPECT_EQ(mute(kMic), 0);
    stage.close();
    EXPECT_EQ(card->destinations[1].line.controls[1].values, (std::vector<std::int32_t>{0, 1, 0, 0}));
    EXPECT_EQ(mute(kMic), 1);
}

TEST_F(ConfigWindow, TheSingersScreenIsSwitchedOnOk) {
    TformKaraoke stage;
    auto screens = std::make_unique<vozaro::platform::FakeScreenSet>();
    screens->stageScreen = QStringLiteral("A");
    screens->list = {{QStringLiteral("A"), QRect(0, 0, 1024, 768), nullptr},
                     {QStringLiteral("B"), QRect(1024, 0, 1280, 1024), nullptr}};
    stage.singersScreens().setScreens(std::move(screens));
    vozaro::catalogue::setProgramFolder(folder.path());
    TformConfig config;
    stage.show();
    EXPECT_TRUE(config.cbTelaCantores->isChecked());  // on by default
    EXPECT_NE(stage.singersScreens().window(), nullptr);
    struct Step {
        bool click;
        QPushButton* TformConfig::*button;
        int stored;
        bool shown;
    };
    // The window keeps its boxes as left when cancelled, as it does for the
    // other settings.
    const Step steps[] = {
        {true, &TformConfig::bCancel, 1, true},  // cancelled: still as saved
        {false, &TformConfig::bOk, 0, false},
        {true, &TformConfig::bOk, 1, true},
        {true, &TformConfig::bOk, 0, false},
    };
    for (const Step& step : steps) {
        QMetaObject::invokeMethod(
            &config,
            [&] {
                if (step.click)
                    config.cbTelaCantores->click();
                (config.*step.button)->click();
            },
            Qt::QueuedConnection);
        stage.bConfigClick();
        EXPECT_EQ(ReadSettingInt("TelaCantores", -9), step.stored);
        EXPECT_EQ(stage.singersScreens().window() != nullptr, step.shown);
    }
    stage.close();
    EXPECT_EQ(stage.singersScreens().window(), nullptr);
}

TEST_F(ConfigWindow, PhoneRequestsAreSwitchedInFreeSpaceAndStartOnOk) {
    TformKaraoke stage;
    stage.makePhoneServer = [](HttpHandler handler) {
        return std::make_unique<FakeHttpService>(std::move(handler), std::set<int>{});
    };
    stage.networkAddress = [] { return QStringLiteral("10.1.1.5"); };
    vozaro::catalogue::setProgramFolder(folder.path());
    TformConfig config;
    stage.show();
    EXPECT_EQ(stage.phoneServer(), nullptr);  // off by default
    EXPECT_EQ(ReadSettingInt("Celular", -9), 0);
    EXPECT_EQ(ReadSettingInt("PortaCelular", -9), 8080);

    // The boxes added to the window and their texts sit where no other
    // control is.
    const std::pair<QCheckBox*, QString> added[] = {
        {config.cbCelular, QStringLiteral("Pedidos pelo celular")},
        {config.cbTelaCantores, QStringLiteral("Tela para os cantores")},
    };
    for (const auto& [checkBox, text] : added) {
        EXPECT_EQ(checkBox->text(), text);
        const QRect box(checkBox->mapTo(&config, QPoint(0, 0)), checkBox->size());
        EXPECT_TRUE(config.rect().contains(box));
        EXPECT_LE(checkBox->sizeHint().width(), box.width()) << text.toStdString();
        for (QWidget* other : config.findChildren<QWidget*>()) {
            if (other == checkBox || other->isAncestorOf(checkBox) || !other->isVisibleTo(&config) ||
                other->parentWidget() == checkBox)
                continue;
            const QRect place(other->mapTo(&config, QPoint(0, 0)), other->size());
            EXPECT_FALSE(place.intersects(box)) << text.toStdString() << " / " << other->objectName().toStdString();
        }
    }

    QMetaObject::invokeMethod(
        &config, [&] { config.cbCelular->click(); config.bCancel->click(); }, Qt::QueuedConnection);
    stage.bConfigClick();
    EXPECT_EQ(ReadSettingInt("Celular", -9), 0);
    EXPECT_EQ(stage.phoneServer(), nullptr);

    QMetaObject::invokeMethod(&config, [&] { config.bOk->click(); }, Qt::QueuedConnection);
    stage.bConfigClick();
    EXPECT_EQ(ReadSettingInt("Celular", -9), 1);
    ASSERT_NE(stage.phoneServer(), nullptr);
    EXPECT_EQ(stage.phoneServer()->port(), 8080);
    EXPECT_TRUE(stage.phoneUrl().startsWith(QStringLiteral("http://10.1.1.5:8080/?c=")));
    EXPECT_FALSE(stage.phoneInviteRect().isEmpty());

    QMetaObject::invokeMethod(
        &config, [&] { config.cbCelular->click(); config.bOk->click(); }, Qt::QueuedConnection);
    stage.bConfigClick();
    EXPECT_EQ(ReadSettingInt("Celular", -9), 0);
    EXPECT_TRUE(stage.phoneUrl().isEmpty());
    EXPECT_TRUE(stage.phoneInviteRect().isEmpty());
    stage.close();
}

// However the window closes, automatic next ends as the saved settings say.
// OK with a device that cannot be opened saves nothing: the switch is what it
// was before the window opened.
TEST_F(ConfigWindow, AfterTheWindowAutomaticNextIsWhatTheSettingsSaved) {
    struct Case {
        const char* name;
        int device;
        bool autoNext;  // as the host leaves the box
        bool ok;        // OK, else Cancel
        bool saves;
        bool expected;
    };
    const Case cases[] = {
        {"OK with a device that cannot be opened", 0, false, true, false, true},
        {"Cancel after switching it off", 1, false, false, false, true},
        {"OK after switching it off", 1, false, true, true, false},
        {"OK with a device that cannot be opened, switched on", 0, true, true, false, false},
        {"OK after switching it on again", 1, true, true, true, true},
    };
    midi->setOpenFails(0, true);
    TformKaraoke stage;
    vozaro::catalogue::setProgramFolder(folder.path());
    TformConfig config;
    ASSERT_EQ(config.ListBox->currentRow(), 1);
    // The stage reopens its outputs on the chosen device only while they are
    // active, and the window stops the stage's song when it opens; the
    // stage's link fails here as it does when they are.
    const auto switchDevice = config.stage.switchMidiDevice;
    config.stage.switchMidiDevice = [&](int port) {
        if (port == 0)
            throw std::runtime_error("Unable to open port");
        switchDevice(port);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        // The window runs modally; this runs inside it.
        QMetaObject::invokeMethod(
            &config,
            [&] {
                config.ListBox->setCurrentRow(c.device);
                config.cbAutoNext->setChecked(c.autoNext);
                (c.ok ? config.bOk : config.bCancel)->click();
            },
            Qt::QueuedConnection);
        messages.clear();
        stage.bConfigClick();
        if (!c.saves && c.ok) {
            ASSERT_FALSE(messages.messages().empty());
            EXPECT_EQ(messages.messages().back().text, "Erro ao escolher porta MIDI.");
        }
        EXPECT_EQ(config.saved(), c.saves);
        EXPECT_EQ(config.Settings.autoNextSwitch, c.expected);
        EXPECT_EQ(ReadSettingInt("MIDIPort", -9), 1);  // a failing choice is never stored
    }
    stage.close();
}

}  // namespace

namespace {

// "Avaliar afinação": below "Dar nota para os cantores", clear of every other
// control, enabled only while scoring is on, stored as "AfinacaoNota".
TEST_F(ConfigWindow, PitchScoringFollowsScoringAndIsStored) {
    {
        TformConfig config;
        config.show();
        ASSERT_NE(config.cbAfinacao, nullptr);
        EXPECT_EQ(config.cbAfinacao->text(), QStringLiteral("Avaliar afinação"));
        EXPECT_TRUE(config.cbAfinacao->isChecked());
        EXPECT_TRUE(config.cbAfinacao->isEnabled());
        EXPECT_TRUE(config.Settings.AfinacaoNota);
        const QRect box = config.cbAfinacao->geometry();
        EXPECT_GE(box.top(), config.cbNota->geometry().bottom());
        EXPECT_LE(box.right(), config.cbAfinacao->parentWidget()->contentsRect().right());
        for (QObject* child : config.cbAfinacao->parentWidget()->children()) {
            auto* other = qobject_cast<QWidget*>(child);
            if (other && other != config.cbAfinacao) {
                EXPECT_FALSE(box.intersects(other->geometry())) << other->objectName().toStdString();
            }
        }

        config.cbNota->click();
        EXPECT_FALSE(config.cbAfinacao->isEnabled());
        config.cbNota->click();
        EXPECT_TRUE(config.cbAfinacao->isEnabled());
        config.cbMicMudo->click();  // scoring goes off with its warning
        EXPECT_FALSE(config.cbAfinacao->isEnabled());
        config.cbMicMudo->click();
        EXPECT_FALSE(config.cbAfinacao->isEnabled());  // scoring stays off
        config.cbNota->click();
        EXPECT_TRUE(config.cbAfinacao->isEnabled());

        config.cbAfinacao->click();
        EXPECT_FALSE(config.Settings.AfinacaoNota);
        config.bOk->click();
        EXPECT_FALSE(ReadSettingBool("AfinacaoNota", true));
        EXPECT_TRUE(ReadSettingBool("DarNota", false));
    }
    TformConfig again;
    EXPECT_FALSE(again.cbAfinacao->isChecked());
    EXPECT_FALSE(again.Settings.AfinacaoNota);
    // Stored with scoring off: kept, but disabled.
    WriteSettingBool("AfinacaoNota", true);
    WriteSettingBool("DarNota", false);
    TformConfig third;
    EXPECT_TRUE(third.cbAfinacao->isChecked());
    EXPECT_FALSE(third.cbAfinacao->isEnabled());
}

// The window of more options opens from the configuration window and from the
// stage's adjustments panel, where the song plays on.  Its controls overlap
// nothing, neither do the buttons that open it, and a change is live and
// stored at once.
TEST_F(ConfigWindow, MoreOptionsOpenFromBothWindowsWithoutStoppingTheSongAndStoreAtOnce) {
    const auto overlapFree = [](const QWidget& window, const QWidget& control) {
        const QRect box = control.geometry();
        EXPECT_TRUE(window.rect().contains(box)) << control.objectName().toStdString();
        for (QObject* child : window.children()) {
            const auto* other = qobject_cast<QWidget*>(child);
            if (other && other != &control && other->isVisibleTo(&window)) {
                EXPECT_FALSE(box.intersects(other->geometry()))
                    << control.objectName().toStdString() << " / " << other->objectName().toStdString();
            }
        }
    };
    TformKaraoke stage;
    stage.openMicMonitor = std::make_shared<FakeMonitorSystem>()->opener();
    const Bytes bytes = song(8);
    stage.MidiData.loadFromMemory(bytes.data(), bytes.size());
    stage.TrackOutputs.setActive(true);
    stage.MidiPlayer.setPlay(true);
    TformConfig config;
    int opened = 0;
    const vozaro::platform::ScopedModalResponder responder([&](QDialog& dialog) {
        auto* options = dynamic_cast<OptionsWindow*>(&dialog);
        if (!options)
            return int(QDialog::Rejected);
        ++opened;
        EXPECT_EQ(options->windowTitle(), QStringLiteral("Mais opções"));
        for (QWidget* control : options->findChildren<QWidget*>(Qt::FindDirectChildrenOnly))
            if (control->isVisibleTo(options))
                overlapFree(*options, *control);
        // The live settings of the configuration window follow at once.
        options->cbRetornoMic->click();
        options->VolumeMelodia->setValue(40);
        EXPECT_EQ(&options->settings(), &config.Settings);
        const QString before = options->lSenha->text();
        options->bNovaSenha->click();
        EXPECT_TRUE(options->lSenha->text().startsWith(QStringLiteral("Senha do anfitrião: ")));
        EXPECT_EQ(options->lSenha->text().size(), before.size());
        return int(QDialog::Accepted);
    });
    stage.bMaisOpcoes->click();
    EXPECT_TRUE(stage.MidiPlayer.Play());
    overlapFree(*stage.panelMelodia, *stage.bMaisOpcoes);
    EXPECT_TRUE(config.Settings.RetornoMic);
    EXPECT_EQ(ReadSettingInt("VolumeMelodia", -1), 40);
    EXPECT_EQ(ReadSettingInt("SenhaAnfitriao", -1), config.Settings.SenhaAnfitriao);

    config.show();
    overlapFree(config, *config.bMaisOpcoes);
    config.bMaisOpcoes->click();
    EXPECT_EQ(opened, 2);
    EXPECT_FALSE(config.Settings.RetornoMic);  // clicked off again
    EXPECT_EQ(ReadSettingBool("RetornoMic", true), false);
    config.reject();
}

// The window's box and sliders reach the stage's microphone path at once;
// a path that cannot start is told once, when the window closes, and
// starts by itself once it can.
TEST_F(ConfigWindow, TheMicrophoneThroughTheSpeakersFollowsTheWindowAndSaysOnceWhyItCannot) {
    auto system = std::make_shared<FakeMonitorSystem>();
    system->setInput(false, "no sound server");
    TformKaraoke stage;
    stage.openMicMonitor = system->opener();
    TformConfig config;
    std::function<void(OptionsWindow&)> change;
    const vozaro::platform::ScopedModalResponder responder([&](QDialog& dialog) {
        if (auto* options = dynamic_cast<OptionsWindow*>(&dialog)) {
            change(*options);
            options->bFechar->click();
        }
        return int(QDialog::Accepted);
    });
    auto eventually = [](const std::function<bool()>& done) {
        for (int i = 0; i < 1000 && !done(); ++i)
            QTest::qWait(5);
        return done();
    };
    change = [](OptionsWindow& options) { options.cbRetornoMic->click(); };
    stage.bMaisOpcoes->click();
    ASSERT_EQ(messages.messages().size(), 1u);
    EXPECT_EQ(messages.messages()[0].text, "Não foi possível ouvir o microfone nas caixas (no sound server).");
    EXPECT_TRUE(config.Settings.RetornoMic);  // the box stays set
    change = [](OptionsWindow& options) { options.VolumeRetorno->setValue(80); };
    stage.bMaisOpcoes->click();
    EXPECT_EQ(messages.messages().size(), 1u);
    system->setInput(true);
    ASSERT_TRUE(eventually([&] { return stage.micMonitor()->running(); }));
    std::vector<float> in(64, 0.0f), out;
    in[0] = 0.25f;
    ASSERT_TRUE(system->feed(in, out));
    EXPECT_FLOAT_EQ(out[0], 0.25f * 1.6f * 1.6f);  // "VolumeRetorno" 80
    change = [](OptionsWindow& options) { options.cbRetornoMic->click(); };
    stage.bMaisOpcoes->click();
    EXPECT_TRUE(eventually([&] { return !system->open(); }));
    EXPECT_EQ(messages.messages().size(), 1u);
}

TEST_F(ConfigWindow, TheHintUnderTheMicrophoneSlidersNamesTheCardsOwnMicrophoneLine) {
    for (const bool line : {true, false}) {
        SCOPED_TRACE(line);
        if (!line)
            card->destinations[0].sources.erase(card->destinations[0].sources.begin() + kMic);
        TformConfig config;
        OptionsWindow options(optionsLinkOfProgram());
        EXPECT_EQ(options.lRetornoDica->text().contains(QStringLiteral("Microfone")), line);
        EXPECT_EQ(options.lRetornoDica->text().isEmpty(), !line);
    }
}

}  // namespace
