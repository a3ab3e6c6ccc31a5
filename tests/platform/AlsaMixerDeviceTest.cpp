// The ALSA mixer back end where the card cannot be reached: the built-in
// synthesizer's line is still there.
#include "platform/devices/MidiDevices.h"
#include "platform/devices/MixerDevice.h"

#include <gtest/gtest.h>

using namespace vozaro::platform;

TEST(AlsaMixerDevice, WithoutACardOnlyTheSynthesizerLineIsThere) {
    auto system = createAlsaMixerSystem("vozaro-no-such-card");
    ASSERT_EQ(system->deviceCount(), 1);
    std::unique_ptr<MixerDevice> device;
    EXPECT_EQ(system->open(1, nullptr, {}, device), kMixerBadDeviceId);
    ASSERT_EQ(system->open(0, nullptr, {}, device), kMixerOk);

    MixerCaps caps;
    ASSERT_EQ(device->getDevCaps(caps), kMixerOk);
    EXPECT_EQ(caps.destinations, 2u);
    MixerLine playback, recording, synth;
    ASSERT_EQ(device->getLineInfoDestination(0, playback), kMixerOk);
    ASSERT_EQ(device->getLineInfoDestination(1, recording), kMixerOk);
    EXPECT_EQ(playback.componentType, MIXERLINE_COMPONENTTYPE_DST_SPEAKERS);
    EXPECT_EQ(playback.controls, 0u);
    EXPECT_EQ(recording.connections, 0u);
    ASSERT_EQ(playback.connections, 1u);
    ASSERT_EQ(device->getLineInfoSource(0, 0, synth), kMixerOk);
    EXPECT_EQ(synth.componentType, MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER);
    EXPECT_NE(synth.flags & MIXERLINE_LINEF_SOURCE, 0u);

    std::vector<MixerControl> controls;
    ASSERT_EQ(device->getLineControlsAll(synth.lineId, synth.controls, controls), kMixerOk);
    ASSERT_EQ(controls.size(), 2u);
    EXPECT_EQ(controls[0].controlType, MIXERCONTROL_CONTROLTYPE_VOLUME);
    EXPECT_EQ(controls[1].controlType, MIXERCONTROL_CONTROLTYPE_MUTE);

    const std::uint16_t volume = builtinSynthVolume();
    const bool mute = builtinSynthMute();
    // A uniform control takes one value for all channels.
    const std::int32_t stereo[] = {40000, 1};
    EXPECT_EQ(device->setControlValues(controls[0].controlId, 2, 0, stereo), kMixerInvalidParam);
    ASSERT_EQ(device->setControlValues(controls[0].controlId, 1, 0, stereo), kMixerOk);
    EXPECT_EQ(builtinSynthVolume(), 40000);
    const std::int32_t on = 1;
    ASSERT_EQ(device->setControlValues(controls[1].controlId, 1, 0, &on), kMixerOk);
    EXPECT_TRUE(builtinSynthMute());
    std::int32_t read[2] = {-1, -1};
    EXPECT_EQ(device->getControlValues(controls[0].controlId, 2, 0, read), kMixerInvalidParam);
    ASSERT_EQ(device->getControlValues(controls[0].controlId, 1, 0, read), kMixerOk);
    EXPECT_EQ(read[0], 40000);
    const std::int32_t tooLoud = 70000;
    ASSERT_EQ(device->setControlValues(controls[0].controlId, 1, 0, &tooLoud), kMixerOk);
    EXPECT_EQ(builtinSynthVolume(), 65535);
    setBuiltinSynthVolume(volume);
    setBuiltinSynthMute(mute);
}

#ifdef VOZARO_ALSA_TEST_CARD

#include "audio/AMixer.h"

#include "audio/EventLoop.h"
#include "support/ManualTimerService.h"
#include "support/ScopedManualWindowClock.h"
#include "platform/WindowTimer.h"

#include <QTemporaryDir>

#include <dlfcn.h>

#include <alsa/asoundlib.h>

#include <cstdlib>
#include <fstream>

using vozaro::audio::LineVolume;
using vozaro::audio::TAudioMixer;

namespace {

// A classic sound card seen through ALSA: the test card plugin, named
// "vozarotest" in an ALSA configuration added for the test.
class AlsaTestCard : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.isValid());
        const std::string config = folder.filePath("vozarotest.conf").toStdString();
        std::ofstream(config) << "ctl.vozarotest { type vozarotest }\n"
                              << "ctl.vozarolaptop { type vozarotest laptop true }\n"
                              << "ctl.vozarodying { type vozarotest dying true }\n"
                              << "ctl_type.vozarotest { lib \"" VOZARO_ALSA_TEST_CARD "\" }\n";
        if (const char* previous = std::getenv("ALSA_CONFIG_PATH")) previous_ = previous;
        const std::string path = "/usr/share/alsa/alsa.conf:" + config;
        ::setenv("ALSA_CONFIG_PATH", path.c_str(), 1);
    }
    void TearDown() override {
        if (previous_.empty())
            ::unsetenv("ALSA_CONFIG_PATH");
        else
            ::setenv("ALSA_CONFIG_PATH", previous_.c_str(), 1);
    }

    static int sourceOfType(TAudioMixer& mixer, int destination, std::uint32_t type) {
        const auto* d = mixer.Destinations()->Destination(destination);
        int found = -1;
        for (int i = 0; d && i < d->Connections->Count(); ++i)
            if (d->Connections->Connection(i)->Line.componentType == type && found < 0) found = i;
        return found;
    }

    // The item each channel of the card's "Input Source" holds, read through
    // ALSA itself.
    static std::pair<unsigned, unsigned> inputSourceItems(const char* card) {
        std::pair<unsigned, unsigned> items{99, 99};
        snd_mixer_t* mixer = nullptr;
        if (snd_mixer_open(&mixer, 0) < 0) return items;
        snd_mixer_selem_id_t* id = nullptr;
        snd_mixer_selem_id_alloca(&id);
        snd_mixer_selem_id_set_name(id, "Input Source");
        if (snd_mixer_attach(mixer, card) >= 0 && snd_mixer_selem_register(mixer, nullptr, nullptr) >= 0 &&
            snd_mixer_load(mixer) >= 0) {
            if (snd_mixer_elem_t* elem = snd_mixer_find_selem(mixer, id)) {
                snd_mixer_selem_get_enum_item(elem, SND_MIXER_SCHN_FRONT_LEFT, &items.first);
                snd_mixer_selem_get_enum_item(elem, SND_MIXER_SCHN_FRONT_RIGHT, &items.second);
            }
        }
        snd_mixer_close(mixer);
        return items;
    }

    QTemporaryDir folder;
    std::string previous_;
    ScopedMixerSystem alsa{createAlsaMixerSystem("vozarotest")};
};

TEST_F(AlsaTestCard, PlaybackElementsAreSourcesOfDestinationZero) {
    TAudioMixer mixer;
    ASSERT_EQ(mixer.MixerId(), 0);
    EXPECT_EQ(mixer.ProductName(), "Vozaro Test Card");
    ASSERT_EQ(mixer.Destinations()->Count(), 2);
    const auto* playback = mixer.Destinations()->Destination(0);
    EXPECT_EQ(playback->Line.name, "Master");
    ASSERT_EQ(playback->Connections->Count(), 5);  // PCM, Line, CD, Mic and the synthesizer
    EXPECT_EQ(playback->Connections->Connection(4)->Line.componentType, MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER);
    EXPECT_GE(sourceOfType(mixer, 0, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT), 0);
    EXPECT_GE(sourceOfType(mixer, 0, MIXERLINE_COMPONENTTYPE_SRC_LINE), 0);
    EXPECT_GE(sourceOfType(mixer, 0, MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC), 0);
    const int mic = sourceOfType(mixer, 0, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    ASSERT_GE(mic, 0);

    LineVolume v;
    ASSERT_TRUE(mixer.ReadLineVolume(0, -1, v));
    EXPECT_EQ(v.Left, 65535);
    EXPECT_TRUE(v.Stereo);
    EXPECT_EQ(v.Mute, 0);
    ASSERT_TRUE(mixer.ReadLineVolume(0, mic, v));
    EXPECT_EQ(v.Left, 21140);  // 10 of 31
    EXPECT_EQ(v.Right, v.Left);
    EXPECT_FALSE(v.Stereo);
    EXPECT_EQ(v.Mute, 1);
}

TEST_F(AlsaTestCard, VolumesAndMutesAreWrittenToTheCard) {
    TAudioMixer writer;
    ASSERT_TRUE(writer.WriteLineVolume(0, -1, 32768, 0, -1));
    ASSERT_TRUE(writer.WriteLineMute(0, -1, true));

    TAudioMixer reader;
    LineVolume v;
    ASSERT_TRUE(reader.ReadLineVolume(0, -1, v));
    EXPECT_EQ(v.Left, 33825);  // 16 of 31, the nearest step
    EXPECT_EQ(v.Right, 0);
    EXPECT_EQ(v.Mute, 1);
    bool muted = false;
    ASSERT_TRUE(reader.ReadLineMute(0, -1, muted));
    EXPECT_TRUE(muted);
    ASSERT_TRUE(reader.WriteLineVolume(0, -1, 65535, -1, 0));
}

TEST_F(AlsaTestCard, TheCaptureSourceIsAMuxOfTheRecordingDestination) {
    TAudioMixer mixer;
    const auto* recording = mixer.Destinations()->Destination(1);
    ASSERT_NE(recording, nullptr);
    EXPECT_EQ(recording->Line.componentType, MIXERLINE_COMPONENTTYPE_DST_WAVEIN);
    ASSERT_EQ(recording->Connections->Count(), 3);
    const int mic = sourceOfType(mixer, 1, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    const int cd = sourceOfType(mixer, 1, MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC);
    ASSERT_GE(mic, 0);
    ASSERT_GE(cd, 0);

    LineVolume v;
    ASSERT_TRUE(mixer.ReadLineVolume(1, -1, v));
    EXPECT_EQ(v.Left, 65535);
    EXPECT_EQ(v.Mute, 0);
    ASSERT_TRUE(mixer.ReadLineVolume(1, mic, v));
    EXPECT_TRUE(v.MuteIsSelection);
    EXPECT_EQ(v.Mute, 1);
    ASSERT_TRUE(mixer.ReadLineVolume(1, cd, v));
    EXPECT_TRUE(v.MuteIsSelection);
    EXPECT_EQ(v.Mute, 0);

    ASSERT_TRUE(mixer.WriteLineVolume(1, cd, -1, -1, 1));
    TAudioMixer reader;
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(reader.ReadLineVolume(1, i, v));
        EXPECT_EQ(v.Mute, i == cd ? 1 : 0) << "source " << i;
    }
    ASSERT_TRUE(reader.WriteLineVolume(1, mic, -1, -1, 1));
}

TEST_F(AlsaTestCard, WithTwoConvertersTheMicrophoneIsChosenThroughTheInputSource) {
    ScopedMixerSystem laptop{createAlsaMixerSystem("vozarolaptop")};
    TAudioMixer mixer;
    const auto* recording = mixer.Destinations()->Destination(1);
    ASSERT_NE(recording, nullptr);
    ASSERT_EQ(recording->Connections->Count(), 4);  // "Capture 1", then Mic, Line and CD
    int lists = 0;
    for (int i = 0; i < recording->Controls->Count(); ++i)
        lists += (recording->Controls->Control(i)->controlType & MIXERCONTROL_CT_CLASS_MASK) ==
                 MIXERCONTROL_CT_CLASS_LIST;
    EXPECT_EQ(lists, 1);
    const int mic = sourceOfType(mixer, 1, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE);
    const int line = sourceOfType(mixer, 1, MIXERLINE_COMPONENTTYPE_SRC_LINE);
    ASSERT_GE(mic, 0);
    ASSERT_GE(line, 0);

    LineVolume v;
    ASSERT_TRUE(mixer.ReadLineVolume(1, mic, v));
    EXPECT_TRUE(v.MuteIsSelection);
    // The second converter's own capture switch is its mute.
    ASSERT_TRUE(mixer.ReadLineVolume(1, 0, v));
    EXPECT_FALSE(v.MuteIsSelection);
    EXPECT_EQ(v.Mute, 0);
    EXPECT_EQ(v.Left, 41610);  // 40 of 63

    ASSERT_TRUE(mixer.WriteLineMute(1, mic, true));
    TAudioMixer reader;
    ASSERT_TRUE(reader.ReadLineVolume(1, mic, v));
    EXPECT_EQ(v.Mute, 1);
    ASSERT_TRUE(reader.ReadLineVolume(1, line, v));
    EXPECT_EQ(v.Mute, 0);
    EXPECT_EQ(inputSourceItems("vozarolaptop"), (std::pair<unsigned, unsigned>{0, 0}));

    ASSERT_TRUE(mixer.WriteLineVolume(1, line, -1, -1, 1));
    EXPECT_EQ(inputSourceItems("vozarolaptop"), (std::pair<unsigned, unsigned>{1, 1}));
    ASSERT_TRUE(mixer.WriteLineMute(1, 0, true));
    TAudioMixer later;
    ASSERT_TRUE(later.ReadLineVolume(1, 0, v));
    EXPECT_EQ(v.Mute, 1);
    ASSERT_TRUE(mixer.WriteLineMute(1, 0, false));
}


// The card goes away as a sound server does: its descriptor stays readable
// for good while reading its events fails.  The mixer stops watching it at
// once instead of handling it in a loop, and opens the card again every
// 500 ms of the windows' clock; then the control works again and the
// window hears it changed.
TEST_F(AlsaTestCard, AMixerThatWentAwayIsNotWatchedAndIsOpenedAgain) {
    vozaro::test::ensureApplication();
    void* card = ::dlopen(VOZARO_ALSA_TEST_CARD, RTLD_NOW);  // the module alsa-lib loads
    ASSERT_NE(card, nullptr) << ::dlerror();
    auto setDead = reinterpret_cast<void (*)(int)>(::dlsym(card, "vozarotest_set_dead"));
    auto deadReads = reinterpret_cast<int (*)()>(::dlsym(card, "vozarotest_dead_reads"));
    ASSERT_TRUE(setDead && deadReads);
    vozaro::platform::ManualTimerService timers;
    vozaro::platform::ScopedManualWindowClock clock{timers};
    ScopedMixerSystem dying{createAlsaMixerSystem("vozarodying")};
    QObject window;
    int changes = 0;
    std::unique_ptr<MixerDevice> mixer;
    ASSERT_EQ(openMixerDevice(0, &window, [&](std::uint32_t, std::uintptr_t, std::uint32_t) { ++changes; }, mixer),
              kMixerOk);
    MixerControl master;
    ASSERT_EQ(mixer->getLineControlByType(0xFFFF0000u, MIXERCONTROL_CONTROLTYPE_VOLUME, master), kMixerOk);
    std::int32_t volume = 0;
    ASSERT_EQ(mixer->getControlValues(master.controlId, 1, 0, &volume), kMixerOk);

    setDead(1);
    const int readsBefore = deadReads();
    vozaro::test::drainEvents(50);
    EXPECT_EQ(deadReads() - readsBefore, 1);
    EXPECT_NE(mixer->getControlValues(master.controlId, 1, 0, &volume), kMixerOk);
    clock.advance(1000);  // still gone: tried twice, in vain
    setDead(0);
    changes = 0;
    clock.advance(499);
    EXPECT_EQ(changes, 0);
    clock.advance(1);
    vozaro::test::drainEvents();
    EXPECT_EQ(mixer->getControlValues(master.controlId, 1, 0, &volume), kMixerOk);
    EXPECT_EQ(volume, 65535);
    EXPECT_GT(changes, 0);
    mixer.reset();
    ::dlclose(card);
}

}  // namespace

#endif
