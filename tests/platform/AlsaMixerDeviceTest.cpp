// The ALSA mixer back end where the card cannot be reached: the built-in
// synthesizer's line is still there.
#include "platform/MidiDevices.h"
#include "platform/MixerDevice.h"

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
