#include <gtest/gtest.h>

#include "platform/devices/MidiDeviceFluidSynth.h"
#include "support/RecordingMidiDevices.h"
#include "platform/devices/MidiDevices.h"

using namespace vozaro::platform;
using Kind = RecordedMidiEvent::Kind;

namespace {

// One device with a given name, for the name rules.
class NamedDevice final : public MidiDeviceSet {
public:
    explicit NamedDevice(std::string name) : name_(std::move(name)) {}
    int deviceCount() override { return 1; }
    std::string deviceName(int index) override { return index == 0 ? name_ : ""; }
    std::unique_ptr<MidiOutputDevice> openDevice(int, std::string& why) override {
        why = "never opens";
        return nullptr;
    }

private:
    std::string name_;
};

}  // namespace

TEST(MidiDevices, SystemListEndsWithTheBuiltinSynthesizer) {
    const int count = midiOutputDeviceCount();
    ASSERT_GE(count, 1);
    EXPECT_EQ(midiOutputDeviceName(count - 1), kBuiltinSynthName);
    EXPECT_EQ(midiOutputDeviceName(count), "");
    EXPECT_EQ(midiOutputDeviceName(-1), "");
}

TEST(MidiDevices, InstalledDevicesReplaceTheSystemsForTheirLifetime) {
    const int systemCount = midiOutputDeviceCount();
    {
        ScopedMidiDevices devices(std::make_shared<RecordingMidiDevices>(3));
        EXPECT_EQ(midiOutputDeviceCount(), 3);
        EXPECT_EQ(midiOutputDeviceName(0), "Gravador MIDI 1");
        EXPECT_EQ(midiOutputDeviceName(2), "Gravador MIDI 3");
    }
    EXPECT_EQ(midiOutputDeviceCount(), systemCount);
}

TEST(MidiDevices, NamesAreCutAfter31CharactersNotInsideOne) {
    // 30 ASCII characters, then "ção" (the ç and the ã take two bytes each).
    const std::string prefix(30, 'x');
    ScopedMidiDevices devices(std::make_shared<NamedDevice>(prefix + "\xC3\xA7\xC3\xA3o"));
    EXPECT_EQ(midiOutputDeviceName(0), prefix + "\xC3\xA7");
    ScopedMidiDevices shortName(std::make_shared<NamedDevice>("Porta"));
    EXPECT_EQ(midiOutputDeviceName(0), "Porta");
}

TEST(MidiDevices, MapperOpensTheLastDeviceAndMissingDevicesFailWithAReason) {
    auto recorder = std::make_shared<RecordingMidiDevices>(2);
    ScopedMidiDevices devices(recorder);
    auto mapper = openMidiOutputDevice(kMidiMapper);
    ASSERT_TRUE(mapper);
    EXPECT_EQ(recorder->openHandles(1), 1);
    EXPECT_EQ(recorder->openHandles(0), 0);

    std::string why;
    EXPECT_FALSE(openMidiOutputDevice(2, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_FALSE(openMidiOutputDevice(-2));

    recorder->setOpenFails(0, true);
    why.clear();
    EXPECT_FALSE(openMidiOutputDevice(0, &why));
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(recorder->openHandles(0), 0);

    ScopedMidiDevices none(std::make_shared<RecordingMidiDevices>(0));
    EXPECT_FALSE(openMidiOutputDevice(kMidiMapper, &why));
}

TEST(MidiDevices, RecorderKeepsOpenSendResetCloseInOrderWithItsClock) {
    std::int64_t now = 100;
    auto recorder = std::make_shared<RecordingMidiDevices>(2, [&now] { return now++; });
    ScopedMidiDevices devices(recorder);
    {
        auto device = openMidiOutputDevice(1);
        ASSERT_TRUE(device);
        device->sendShortMessage(packShortMessage(0x90, 60, 100));
        device->reset();
    }
    const std::vector<RecordedMidiEvent> expected = {
        {Kind::Open, 1, 0, 100},
        {Kind::Message, 1, 0x643C90, 101},
        {Kind::Reset, 1, 0, 102},
        {Kind::Close, 1, 0, 103},
    };
    EXPECT_EQ(recorder->events(), expected);
    EXPECT_EQ(recorder->messages(1), std::vector<std::uint32_t>{0x643C90});
    EXPECT_TRUE(recorder->messages(0).empty());
    EXPECT_EQ(recorder->openHandles(1), 0);
}

TEST(MidiDevices, RecorderBeyondItsCapacityCountsButKeepsNoMore) {
    auto recorder = std::make_shared<RecordingMidiDevices>(1, RecordingMidiDevices::Clock{}, 3);
    std::string why;
    auto device = recorder->openDevice(0, why);
    for (int i = 0; i < 5; ++i)
        device->sendShortMessage(packShortMessage(0x90, i, 1));
    EXPECT_EQ(recorder->entryCount(), 6u);
    EXPECT_EQ(recorder->messages(0), (std::vector<std::uint32_t>{0x10090, 0x10190}));
    recorder->clear();
    EXPECT_EQ(recorder->entryCount(), 0u);
    device->sendShortMessage(packShortMessage(0x80, 1, 0));
    EXPECT_EQ(recorder->messages(0), std::vector<std::uint32_t>{0x180});
}

TEST(MidiDevices, HandleOutlivingItsInstallationStillRecordsItsClose) {
    std::weak_ptr<RecordingMidiDevices> watch;
    std::unique_ptr<MidiOutputDevice> device;
    {
        auto recorder = std::make_shared<RecordingMidiDevices>(1);
        watch = recorder;
        ScopedMidiDevices devices(recorder);
        device = openMidiOutputDevice(0);
    }
    ASSERT_FALSE(watch.expired());
    EXPECT_EQ(watch.lock()->openHandles(0), 1);
    device.reset();
    EXPECT_TRUE(watch.expired());
}

TEST(MidiDevices, SynthGainFollowsVolumeAndMute) {
    const auto volume = builtinSynthVolume();
    const bool mute = builtinSynthMute();
    setBuiltinSynthMute(false);
    setBuiltinSynthVolume(65535);
    EXPECT_FLOAT_EQ(builtinSynthGain(), kBuiltinSynthFullGain);
    setBuiltinSynthVolume(0);
    EXPECT_FLOAT_EQ(builtinSynthGain(), 0.0f);
    setBuiltinSynthVolume(32768);
    EXPECT_NEAR(builtinSynthGain(), kBuiltinSynthFullGain / 2, 1e-4);
    setBuiltinSynthMute(true);
    EXPECT_EQ(builtinSynthVolume(), 32768);
    EXPECT_FLOAT_EQ(builtinSynthGain(), 0.0f);
    setBuiltinSynthVolume(volume);
    setBuiltinSynthMute(mute);
}
