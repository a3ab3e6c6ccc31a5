// The sound server killed in the middle of a song and started again, for
// real: the built-in synthesizer's note is heard again, the microphone's
// buffers come again and the mixer answers again.  The test runs a server of
// its own, so that the other sound tests keep theirs.
#include <gtest/gtest.h>

#include "SoundServer.h"
#include "SpeakerRecording.h"
#include "WaveFixture.h"
#include "audio/AudioIO.h"
#include "audio/EventLoop.h"
#include "platform/devices/MidiDevices.h"
#include "platform/devices/MixerDevice.h"

#include <QTemporaryDir>

#include <algorithm>
#include <cstdlib>

using namespace vozaro;

namespace {

// The script's output for `command` on the server kept in `folder`; empty
// when it failed.
QString soundServer(const QString& folder, const QString& command) {
    qputenv("VOZARO_SOUND_DIR", folder.toUtf8());
    const QString out = test::runPulseTool(VOZARO_SOUND_SERVER_SCRIPT, {command});
    qunsetenv("VOZARO_SOUND_DIR");
    return out;
}

// The speakers heard at more than `level` RMS within seconds of listening.
bool heard(double level, int seconds) {
    test::SpeakerRecording recording;
    if (!recording.waitUntilRunning()) return false;
    std::this_thread::sleep_for(std::chrono::seconds(seconds));
    return test::measure(recording.stop()).loudest > level;
}

}  // namespace

TEST(SoundServerRestart, SoundMicrophoneAndMixerComeBackByThemselves) {
    if (const std::string missing = test::soundFontMissing(); !missing.empty()) GTEST_SKIP() << missing;
    test::ensureApplication();
    QTemporaryDir folder;
    const QString started = soundServer(folder.path(), "start").trimmed();
    if (!started.startsWith("PULSE_SERVER=")) GTEST_SKIP() << "no virtual sound server could be started";
    qputenv("PULSE_SERVER", started.mid(13).toUtf8());
    struct StopServer {
        QString folder;
        ~StopServer() { soundServer(folder, "stop"); }
    } stopServer{folder.path()};

    std::string why;
    auto synth = platform::openMidiOutputDevice(platform::kMidiMapper, &why);
    ASSERT_TRUE(synth) << why;
    synth->sendShortMessage(platform::packShortMessage(0xC0, 48, 0));  // strings hold the note
    synth->sendShortMessage(platform::packShortMessage(0x90, 60, 110));
    audio::TAudioIn microphone;
    int buffers = 0;
    std::int32_t peak = 0;
    microphone.OnBufferFilled = [&](void* data, std::int32_t& size) {
        peak = std::max(peak, audio::bufferPeak(static_cast<const std::int16_t*>(data), size / 2));
        return ++buffers, true;
    };
    microphone.StartCapture();
    ASSERT_TRUE(microphone.IsOpen()) << microphone.LastError();
    QObject window;
    std::unique_ptr<platform::MixerDevice> mixer;
    ASSERT_EQ(platform::openMixerDevice(0, &window, {}, mixer), platform::kMixerOk);
    platform::MixerControl master;
    ASSERT_EQ(mixer->getLineControlByType(0xFFFF0000u, platform::MIXERCONTROL_CONTROLTYPE_VOLUME, master),
              platform::kMixerOk);
    ASSERT_TRUE(heard(0.01, 1));
    ASSERT_TRUE(test::runUntil([&] { return buffers > 2; }));

    soundServer(folder.path(), "kill");
    test::drainEvents();
    test::runUntil([] { return false; }, 1000);  // a second without a server
    ASSERT_TRUE(soundServer(folder.path(), "start").startsWith("PULSE_SERVER="));
    // The tone played into the microphone now is heard by the capture.
    const QString wave = folder.filePath("tone.wav");
    test::writeFile(wave.toStdString(), test::waveBytes(test::tone(440, 1.0, 22050), 22050));
    peak = 0;
    EXPECT_TRUE(test::runUntil([&] {
        if (peak < 6000) test::runPulseTool("paplay", {"-d", "micfeed", wave});
        return peak >= 6000;
    }));
    EXPECT_TRUE(heard(0.01, 1));
    std::int32_t volume = -1;
    EXPECT_TRUE(test::runUntil([&] {
        return mixer->getControlValues(master.controlId, 1, 0, &volume) == platform::kMixerOk;
    }));
    microphone.StopNow();
    synth.reset();
}
