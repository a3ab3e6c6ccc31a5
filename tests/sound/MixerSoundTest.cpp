// The ALSA mixer back end on the virtual sound server: "Master" is the
// server's default sink, "Capture" its default source.
#include "audio/AMixer.h"
#include "platform/devices/MidiDevices.h"

#include "audio/EventLoop.h"
#include "sound/SoundServer.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

using namespace vozaro::platform;
using vozaro::audio::LineVolume;
using vozaro::audio::TAudioMixer;
using vozaro::test::runPulseTool;
using vozaro::test::runUntil;

namespace {

// The first raw volume pactl shows for a sink or source (0..65536).
int pulseVolume(const QString& what, const QString& name) {
    const QString text = runPulseTool("pactl", {"get-" + what + "-volume", name});
    const QRegularExpressionMatch match = QRegularExpression(R"(:\s*(\d+)\s*/)").match(text);
    return match.hasMatch() ? match.captured(1).toInt() : -1;
}

bool pulseMuted(const QString& what, const QString& name) {
    return runPulseTool("pactl", {"get-" + what + "-mute", name}).contains("yes");
}

class MixerSound : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string missing = vozaro::test::soundServerMissing(); !missing.empty())
            GTEST_SKIP() << missing;
        vozaro::test::ensureApplication();
        runPulseTool("pactl", {"set-sink-volume", "speakers", "65536"});
        runPulseTool("pactl", {"set-sink-mute", "speakers", "0"});
        runPulseTool("pactl", {"set-source-volume", "mic", "65536"});
        runPulseTool("pactl", {"set-source-mute", "mic", "0"});
    }
    void TearDown() override {
        runPulseTool("pactl", {"set-sink-volume", "speakers", "65536"});
        runPulseTool("pactl", {"set-sink-mute", "speakers", "0"});
        runPulseTool("pactl", {"set-source-mute", "mic", "0"});
    }

    ScopedMixerSystem alsa{createAlsaMixerSystem("default")};
};

TEST_F(MixerSound, ListsTheServerAsMasterCaptureAndTheSynthesizer) {
    TAudioMixer mixer;
    ASSERT_EQ(mixer.MixerId(), 0);
    EXPECT_EQ(mixer.ProductName(), "PulseAudio");
    EXPECT_EQ(mixer.Manufacturer(), "0 = Unknown");
    ASSERT_EQ(mixer.Destinations()->Count(), 2);
    const auto* playback = mixer.Destinations()->Destination(0);
    EXPECT_EQ(playback->Line.name, "Master");
    ASSERT_EQ(playback->Connections->Count(), 1);
    EXPECT_EQ(playback->Connections->Connection(0)->Line.componentType, MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER);
    const auto* recording = mixer.Destinations()->Destination(1);
    ASSERT_EQ(recording->Connections->Count(), 1);
    EXPECT_EQ(recording->Connections->Connection(0)->Line.componentType, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);

    LineVolume v;
    ASSERT_TRUE(mixer.ReadLineVolume(0, -1, v));
    EXPECT_EQ(v.Left, 65535);
    EXPECT_EQ(v.Right, 65535);
    EXPECT_TRUE(v.Stereo);
    EXPECT_EQ(v.Mute, 0);
    EXPECT_FALSE(v.VolumeDisabled);
    ASSERT_TRUE(mixer.ReadLineVolume(1, 0, v));
    EXPECT_EQ(v.Left, 65535);
    EXPECT_EQ(v.Mute, 0);
    EXPECT_FALSE(v.MuteIsSelection);
}

TEST_F(MixerSound, WritesReachTheServer) {
    TAudioMixer mixer;
    ASSERT_TRUE(mixer.WriteLineVolume(0, -1, 16384, 16384, 1));
    EXPECT_NEAR(pulseVolume("sink", "speakers"), 16384, 2);
    EXPECT_TRUE(pulseMuted("sink", "speakers"));
    ASSERT_TRUE(mixer.WriteLineMute(0, -1, false));
    EXPECT_FALSE(pulseMuted("sink", "speakers"));

    ASSERT_TRUE(mixer.WriteLineMute(1, 0, true));
    EXPECT_TRUE(pulseMuted("source", "mic"));
    bool muted = false;
    ASSERT_TRUE(mixer.ReadLineMute(1, 0, muted));
    EXPECT_TRUE(muted);
}

TEST_F(MixerSound, ChangesByAnotherProgramAreReported) {
    TAudioMixer mixer;
    int reports = 0;
    mixer.OnControlChange = [&](QObject*, std::uintptr_t handle, std::uint32_t) {
        EXPECT_EQ(handle, mixer.MixerHandle());
        ++reports;
    };
    runPulseTool("pactl", {"set-sink-volume", "speakers", "32768"});
    ASSERT_TRUE(runUntil([&] { return reports > 0; })) << "no change reported";
    LineVolume v;
    ASSERT_TRUE(mixer.ReadLineVolume(0, -1, v));
    EXPECT_NEAR(v.Left, 32768, 2);
}

TEST_F(MixerSound, TheSynthesizerLineDrivesTheSynthesizerGain) {
    const std::uint16_t volume = builtinSynthVolume();
    const bool mute = builtinSynthMute();
    TAudioMixer mixer;
    int reports = 0;
    mixer.OnControlChange = [&](QObject*, std::uintptr_t, std::uint32_t) { ++reports; };
    ASSERT_TRUE(mixer.WriteLineVolume(0, 0, 30000, 30000, 1));
    EXPECT_EQ(builtinSynthVolume(), 30000);
    EXPECT_TRUE(builtinSynthMute());
    LineVolume v;
    ASSERT_TRUE(mixer.ReadLineVolume(0, 0, v));
    EXPECT_EQ(v.Left, 30000);
    EXPECT_EQ(v.Mute, 1);
    EXPECT_FALSE(v.Stereo);
    ASSERT_TRUE(runUntil([&] { return reports >= 2; }));
    setBuiltinSynthVolume(volume);
    setBuiltinSynthMute(mute);
}

}  // namespace
