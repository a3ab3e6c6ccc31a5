// The microphone heard through the virtual sound server's speakers, while
// the wave input (the level bar and the scoring) records the same
// microphone.
#include "audio/AudioIO.h"
#include "audio/MicMonitor.h"

#include "audio/EventLoop.h"
#include "sound/SoundServer.h"
#include "sound/SpeakerRecording.h"
#include "sound/WaveFixture.h"

#include <QProcess>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>

using vozaro::audio::bufferPeak;
using vozaro::audio::MicMonitor;
using vozaro::audio::TAudioIn;
using vozaro::test::runUntil;
using namespace std::chrono_literals;

namespace {

TEST(MicMonitorSound, TheMicrophoneIsHeardThroughTheSpeakersWhileTheLevelBarRecordsIt) {
    if (const std::string missing = vozaro::test::soundServerMissing(); !missing.empty())
        GTEST_SKIP() << missing;
    vozaro::test::ensureApplication();
    QTemporaryDir folder;
    const std::string tone = folder.filePath("tone.wav").toStdString();
    vozaro::test::writeFile(tone, vozaro::test::waveBytes(vozaro::test::tone(441, 1.5, 22050, 12000), 22050));

    TAudioIn input;
    input.setBufferSize(1024);
    input.setFrameRate(22050);
    int loudest = 0;
    input.OnBufferFilled = [&](void* data, std::int32_t& size) {
        loudest = std::max(loudest, bufferPeak(static_cast<const std::int16_t*>(data), size / 2));
        return true;
    };
    input.StartCapture();
    ASSERT_TRUE(input.IsOpen()) << input.LastError();

    MicMonitor monitor(vozaro::platform::openSoundServerMonitor);
    monitor.apply(true, 50, 0);
    ASSERT_EQ(monitor.failureToTell(5s), std::nullopt);
    ASSERT_TRUE(runUntil([&] { return monitor.running(); }, 5000));
    vozaro::test::SpeakerRecording speakers;
    ASSERT_TRUE(speakers.waitUntilRunning());
    // Played while the wave input's buffers go round in the event loop.
    QProcess singer;
    singer.start("paplay", {"-d", "micfeed", QString::fromStdString(tone)});
    ASSERT_TRUE(singer.waitForStarted(5000));
    ASSERT_TRUE(runUntil([&] { return singer.state() == QProcess::NotRunning; }, 20000));
    runUntil([] { return false; }, 300);  // the tail reaches the speakers
    // The tone, at its own level (volume 50 is unity): RMS 12000 / 32768 /
    // sqrt 2 = 0.26 on PulseAudio; PipeWire mixes the mono stream into the
    // mono recording 3 dB louder.
    const vozaro::test::Levels heard = vozaro::test::measure(speakers.stop());
    EXPECT_GT(heard.loudest, 0.22);
    EXPECT_LT(heard.loudest, 0.40);
    EXPECT_GE(loudest, 11000);  // the level bar's input heard it too

    // Switched off: the speakers stay silent.
    monitor.apply(false, 50, 0);
    ASSERT_TRUE(runUntil([&] { return !monitor.running(); }, 5000));
    vozaro::test::SpeakerRecording after;
    ASSERT_TRUE(after.waitUntilRunning());
    vozaro::test::runPulseTool("paplay", {"-d", "micfeed", QString::fromStdString(tone)});
    EXPECT_LT(vozaro::test::measure(after.stop()).loudest, 0.01);
    input.StopNow();
}

TEST(MicMonitorSound, WhatTheSpeakersPlayIsNoMicrophone) {
    if (const std::string missing = vozaro::test::soundServerMissing(); !missing.empty())
        GTEST_SKIP() << missing;
    vozaro::test::runPulseTool("pactl", {"set-default-source", "speakers.monitor"});
    MicMonitor monitor(vozaro::platform::openSoundServerMonitor);
    monitor.apply(true, 50, 0);
    const auto why = monitor.failureToTell(5s);
    vozaro::test::runPulseTool("pactl", {"set-default-source", "mic"});
    ASSERT_TRUE(why.has_value());
    EXPECT_EQ(why->rfind("no microphone", 0), 0u) << *why;
}

// A microphone unplugged and plugged in again: a source of its own that
// goes and comes back.
TEST(MicMonitorSound, AnUnpluggedMicrophoneStopsAndComesBackByItself) {
    if (const std::string missing = vozaro::test::soundServerMissing(); !missing.empty())
        GTEST_SKIP() << missing;
    vozaro::test::ensureApplication();
    auto plug = [] {
        const QString module = vozaro::test::runPulseTool(
            "pactl", {"load-module", "module-remap-source", "source_name=usbmic", "master=micfeed.monitor",
                      "channels=1"});
        vozaro::test::runPulseTool("pactl", {"set-default-source", "usbmic"});
        return module.trimmed();
    };
    QString module = plug();
    ASSERT_FALSE(module.isEmpty());
    MicMonitor monitor(vozaro::platform::openSoundServerMonitor);
    monitor.apply(true, 50, 0);
    EXPECT_EQ(monitor.failureToTell(5s), std::nullopt);
    EXPECT_TRUE(runUntil([&] { return monitor.running(); }, 5000));
    // Unplugged, with no other microphone to fall back on.
    vozaro::test::runPulseTool("pactl", {"set-default-source", "speakers.monitor"});
    vozaro::test::runPulseTool("pactl", {"unload-module", module});
    EXPECT_TRUE(runUntil([&] { return !monitor.running(); }, 5000));
    runUntil([] { return false; }, 2 * static_cast<int>(MicMonitor::kRetry.count()));
    EXPECT_FALSE(monitor.running());
    module = plug();
    EXPECT_TRUE(runUntil([&] { return monitor.running(); }, 5000));
    monitor.apply(false, 50, 0);
    vozaro::test::runPulseTool("pactl", {"unload-module", module});
    vozaro::test::runPulseTool("pactl", {"set-default-source", "mic"});
    EXPECT_EQ(monitor.failureToTell(0ms), std::nullopt);
}

}  // namespace
