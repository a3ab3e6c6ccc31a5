// The configuration window on the virtual sound server: the test song loops
// on the built-in synthesizer and is heard, "Música MIDI" sets its level, and
// the level bar follows a tone played into the microphone.
#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QListWidget>
#include <QProcess>
#include <QProgressBar>

#include <algorithm>

#include "audio/EventLoop.h"
#include "stores/vozaro_colecao.h"
#include "controls/Slider.h"
#include "midi/SmfBytes.h"
#include "midi/cmpMidiPlayer.h"
#include "platform/devices/MidiDeviceFluidSynth.h"
#include "platform/devices/MidiDevices.h"
#include "platform/SettingsStore.h"
#include "support/MemorySettingsStore.h"
#include "settings/vozaro_config.h"
#include "sound/SoundServer.h"
#include "sound/SpeakerRecording.h"

using namespace vozaro::midi::fixtures;
using vozaro::test::kRate;
using vozaro::test::measure;
using vozaro::test::SpeakerRecording;
namespace platform = vozaro::platform;

namespace {

// Keeps the event loop running for ms milliseconds of real time.
void runFor(int ms) {
    QElapsedTimer elapsed;
    elapsed.start();
    vozaro::test::runUntil([&] { return elapsed.hasExpired(ms); }, ms + 5000);
}

// The loudest 100 ms of what the speakers play during ms milliseconds.
double loudestWhile(int ms) {
    SpeakerRecording recording;
    EXPECT_TRUE(recording.waitUntilRunning()) << "parec records nothing from speakers.monitor";
    runFor(ms);
    return measure(recording.stop()).loudest;
}

QByteArray sineBytes(int amplitude, double seconds) {
    QByteArray bytes;
    for (int i = 0; i < static_cast<int>(seconds * kRate); ++i) {
        const auto value = static_cast<std::int16_t>(std::lround(amplitude * std::sin(2 * M_PI * 441.0 * i / kRate)));
        bytes.append(static_cast<char>(value & 0xFF)).append(static_cast<char>((value >> 8) & 0xFF));
    }
    return bytes;
}

TEST(ConfigWindowSound, TheTestSongLoopsAtTheMidiVolumeAndTheLevelBarHearsTheMicrophone) {
    if (const std::string missing = vozaro::test::soundServerMissing(); !missing.empty())
        GTEST_SKIP() << missing;
    if (const std::string missing = vozaro::test::soundFontMissing(); !missing.empty())
        GTEST_SKIP() << missing;
    if (QCoreApplication::instance() && !qobject_cast<QApplication*>(QCoreApplication::instance()))
        GTEST_SKIP() << "needs a process of its own for the windows (ctest runs it so)";
    static int argc = 1;
    static char name[] = "vozaro-tests";
    static char* argv[] = {name, nullptr};
    static QApplication* app = QApplication::instance() ? nullptr : new QApplication(argc, argv);
    (void)app;

    auto previousStore = platform::installSettingsStore(std::make_unique<platform::MemorySettingsStore>());
    TempFolder folder("vozaro-config-sound");
    const auto previousFolder = vozaro::catalogue::programFolder();
    vozaro::catalogue::setProgramFolder(folder.path());
    // An organ chord for 400 ms of a song of one second (120 beats a minute).
    const Bytes chord = vlq(0) + Bytes{0xC0, 19} + vlq(0) + Bytes{0x90, 60, 120} + vlq(0) + Bytes{0x90, 64, 120} +
                        vlq(144) + Bytes{0x80, 60, 0} + vlq(0) + Bytes{0x80, 64, 0} + vlq(216) +
                        Bytes{0xB0, 7, 127} + endOfTrack();
    folder.file("config.mid", smf(0, 1, 180, track(meta(0, 0x51, {0x07, 0xA1, 0x20}) + chord)));
    platform::setBuiltinSynthMute(false);

    {
        TformConfig config;
        ASSERT_EQ(config.ListBox->count(), platform::midiOutputDeviceCount());
        ASSERT_GE(config.MidiLine, 0) << "the built-in synthesizer has a line of its own";
        config.MidiVolume->setValue(65535);
        SpeakerRecording recording;
        ASSERT_TRUE(recording.waitUntilRunning()) << "parec records nothing from speakers.monitor";
        config.show();
        runFor(4000);
        const std::vector<std::int16_t> heard = recording.stop();
        ASSERT_GT(heard.size(), static_cast<std::size_t>(kRate * 3));
        EXPECT_GT(measure(heard).loudest, 0.003);  // silence records as 0
        // Played once, the song would have died away long before the last
        // one and a half seconds of the recording.
        const std::vector<std::int16_t> end(heard.end() - kRate * 3 / 2, heard.end());
        EXPECT_GT(measure(end).loudest, 0.002) << "the test song did not start again";

        // A quarter of the volume.  On a busy machine the synthesizer's
        // output now and then drops out, so each level is the louder of two
        // takes.
        double loud = 0, quiet = 0;
        for (int take = 0; take < 2; ++take) {
            config.MidiVolume->setValue(65535);
            loud = std::max(loud, loudestWhile(2000));
            config.MidiVolume->setValue(16384);
            quiet = std::max(quiet, loudestWhile(2000));
        }
        EXPECT_GT(loud, 0.003);
        EXPECT_LT(quiet, loud * 0.6);
        EXPECT_GT(quiet, 0.0005);

        // The microphone: quiet first, then a tone at amplitude 12000.
        int highest = 0;
        QObject::connect(config.MicProgress, &QProgressBar::valueChanged,
                         [&](int value) { highest = std::max(highest, value); });
        runFor(500);
        EXPECT_LT(highest, 1000);
        QProcess player;
        player.start("pacat", {"--playback", "--device=micfeed", "--rate=22050", "--channels=1",
                               "--format=s16le", "--raw", "--latency-msec=20"});
        ASSERT_TRUE(player.waitForStarted(5000)) << "pacat did not start";
        player.write(sineBytes(12000, 1.5));
        player.closeWriteChannel();
        ASSERT_TRUE(vozaro::test::runUntil([&] { return player.state() == QProcess::NotRunning; }, 20000));
        runFor(300);
        // Unamplified; PipeWire resamples the feed, and its peaks came out
        // up to 9 % above the tone's.
        EXPECT_GE(highest, 11500);
        EXPECT_LE(highest, 13800);
        config.reject();
        EXPECT_FALSE(config.MidiPlayer->Play());
    }
    vozaro::catalogue::setProgramFolder(previousFolder);
    platform::installSettingsStore(std::move(previousStore));
}

}  // namespace
