// The output ports over the recording MIDI device.
#include <gtest/gtest.h>

#include "midi/cmpMidiOutput.h"
#include "support/RecordingMidiDevices.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <memory>

using namespace vozaro::midi;
using vozaro::platform::packShortMessage;
using vozaro::platform::RecordedMidiEvent;
using vozaro::platform::RecordingMidiDevices;
using vozaro::platform::ScopedMidiDevices;
using Kind = RecordedMidiEvent::Kind;
using Messages = std::vector<std::uint32_t>;

namespace {

TEventData event(std::uint8_t status, std::uint8_t data1, std::uint8_t data2 = 0) {
    return TEventData{status, data1, data2, 0, 0};
}

class OutputPortTest : public ::testing::Test {
protected:
    std::shared_ptr<RecordingMidiDevices> recorder = std::make_shared<RecordingMidiDevices>(3);
    ScopedMidiDevices devices{recorder};

    // A port on a device, active, that does not sleep when destroyed.
    std::unique_ptr<TMidiOutputPort> openPort(std::int32_t id) {
        auto port = std::make_unique<TMidiOutputPort>();
        port->setSysexLatency(0);
        port->setPortId(id);
        port->setActive(true);
        return port;
    }

    // The messages a call sends to a device.
    template <typename Action>
    Messages sentBy(int device, Action action) {
        const std::size_t before = recorder->messages(device).size();
        action();
        const Messages all = recorder->messages(device);
        return Messages(all.begin() + static_cast<std::ptrdiff_t>(before), all.end());
    }
};

}  // namespace

TEST_F(OutputPortTest, PortsOfOneDeviceShareItsHandleUntilTheLastCloses) {
    auto first = openPort(1);
    auto second = openPort(1);
    auto other = openPort(2);
    EXPECT_EQ(first->Handle(), second->Handle());
    EXPECT_EQ(first->PhysicalPort(), second->PhysicalPort());
    EXPECT_NE(first->Handle(), other->Handle());
    EXPECT_EQ(first->Slot(), 0);
    EXPECT_EQ(second->Slot(), 1);
    EXPECT_EQ(recorder->openHandles(1), 1);

    first->setActive(false);
    EXPECT_FALSE(first->Active());
    EXPECT_EQ(first->Handle(), nullptr);
    EXPECT_EQ(recorder->openHandles(1), 1);
    EXPECT_EQ(second->PhysicalPort()->Ports()[0], nullptr);

    // The freed slot is taken again before the list grows.
    first->setActive(true);
    EXPECT_EQ(first->Slot(), 0);

    first->setActive(false);
    second->setActive(false);
    EXPECT_EQ(recorder->openHandles(1), 0);
    const auto events = recorder->events();
    ASSERT_GE(events.size(), 2u);
    EXPECT_EQ(events[events.size() - 2].kind, Kind::Reset);  // silenced, then closed
    EXPECT_EQ(events.back().kind, Kind::Close);
    EXPECT_EQ(events.back().device, 1);
}

TEST_F(OutputPortTest, SendEventPacksTheFirstFourBytesAndDropsSystemMessages) {
    auto port = openPort(0);
    port->SendEvent(TEventData{0xE5, 0x12, 0x34, 0x56, 0x78});
    port->SendEvent(event(0xF0, 1, 2));
    port->SendEvent(event(0xFF, 0x2F));
    port->SendEvent(event(0xD2, 99));
    EXPECT_EQ(recorder->messages(0), (Messages{0x563412E5, 0x63D2}));
}

TEST_F(OutputPortTest, AllNotesOffSendsExactlyTheOutstandingNoteOffs) {
    auto port = openPort(0);
    port->SendEvent(event(0x90, 60, 100));
    port->SendEvent(event(0x90, 60, 100));
    port->SendEvent(event(0x80, 60, 64));
    port->SendEvent(event(0x9A, 38, 90));
    port->SendEvent(event(0x9A, 38, 0));  // velocity 0: a note off
    port->SendEvent(event(0x85, 70, 0));  // never switched on: sent, count stays 0
    port->SendEvent(event(0x9F, 127, 1));
    EXPECT_EQ(port->NoteCounts(0, 60), 1);
    EXPECT_EQ(port->NoteCounts(10, 38), 0);
    EXPECT_EQ(port->NoteCounts(5, 70), 0);
    EXPECT_EQ(recorder->messages(0).size(), 7u);

    EXPECT_EQ(sentBy(0, [&] { port->AllNotesOff(); }),
              (Messages{packShortMessage(0x80, 60, 0), packShortMessage(0x8F, 127, 0)}));
    EXPECT_EQ(port->NoteCounts(0, 60), 0);
    EXPECT_TRUE(sentBy(0, [&] { port->AllNotesOff(); }).empty());
}

TEST_F(OutputPortTest, EachPortSilencesOnlyItsOwnNotes) {
    auto melody = openPort(0);
    auto drums = openPort(0);
    melody->SendEvent(event(0x90, 64, 100));
    drums->SendEvent(event(0x99, 36, 100));
    drums->SendEvent(event(0x99, 36, 100));
    EXPECT_EQ(sentBy(0, [&] { melody->AllNotesOff(); }), (Messages{packShortMessage(0x80, 64, 0)}));
    EXPECT_EQ(sentBy(0, [&] { drums->AllNotesOff(); }),
              (Messages{packShortMessage(0x89, 36, 0), packShortMessage(0x89, 36, 0)}));
}

TEST_F(OutputPortTest, AllNotesOffReleasesTheSustainPedalOnlyWhereItIsHeld) {
    auto port = openPort(0);
    auto other = openPort(0);
    other->SendEvent(event(0xB3, 64, 127));  // the pedal is the device's, whoever pressed it
    port->SendEvent(event(0xB5, 64, 0));
    EXPECT_EQ(sentBy(0, [&] { port->AllNotesOff(); }), (Messages{packShortMessage(0xB3, 64, 0)}));
    EXPECT_EQ(port->PhysicalPort()->Controllers(3, 64), 0);
    EXPECT_TRUE(sentBy(0, [&] { port->AllNotesOff(); }).empty());
}

TEST_F(OutputPortTest, ResetControllersSendsOnlyWhatDiffersFromTheDefaults) {
    auto port = openPort(0);
    EXPECT_TRUE(sentBy(0, [&] { port->ResetControllers(); }).empty());

    port->SendEvent(event(0xB0, 7, 100));
    EXPECT_EQ(port->PhysicalPort()->Controllers(0, 7), 100);
    EXPECT_EQ(sentBy(0, [&] { port->ResetControllers(); }), (Messages{packShortMessage(0xB0, 7, 90)}));

    port->SendEvent(event(0xB9, 91, 0));
    port->SendEvent(event(0xB2, 1, 5));
    port->SendEvent(event(0xB2, 10, 64));  // already the default
    port->SendEvent(event(0x92, 60, 100));
    EXPECT_EQ(sentBy(0, [&] { port->ResetControllers(); }),
              (Messages{packShortMessage(0xB2, 1, 0), packShortMessage(0xB9, 91, 40)}));
    EXPECT_EQ(port->NoteCounts(2, 60), 1);
}

TEST_F(OutputPortTest, SetPatchSkipsTheProgramTheChannelAlreadyHas) {
    auto port = openPort(0);
    auto other = openPort(0);
    EXPECT_TRUE(sentBy(0, [&] { port->SetPatch(0, 4); }).empty());
    EXPECT_EQ(sentBy(0, [&] { port->SetPatch(25, 4); }), (Messages{packShortMessage(0xC4, 25, 0)}));
    EXPECT_TRUE(sentBy(0, [&] { other->SetPatch(25, 4); }).empty());
    other->SendEvent(event(0xC4, 30));
    EXPECT_EQ(port->PhysicalPort()->Programs(4), 30);
    EXPECT_TRUE(sentBy(0, [&] { port->SetPatch(30, 4); }).empty());
    EXPECT_TRUE(sentBy(0, [&] { port->SetPatch(1, 16); }).empty());  // no such channel
}

TEST_F(OutputPortTest, AMissingOrFailingDeviceLeavesThePortInactive) {
    TMidiOutputPort port;
    port.setSysexLatency(0);
    port.setPortId(7);
    try {
        port.setActive(true);
        FAIL() << "device 7 opened";
    } catch (const EMidiOutputPort& error) {
        EXPECT_STREQ(error.what(), "Unable to open port");
    }
    EXPECT_FALSE(port.Active());
    EXPECT_EQ(PhysicalPorts(), nullptr);

    recorder->setOpenFails(2, true);
    auto open = openPort(0);
    port.setPortId(2);
    EXPECT_THROW(port.setActive(true), EMidiOutputPort);
    EXPECT_FALSE(port.Active());
    ASSERT_NE(PhysicalPorts(), nullptr);
    EXPECT_EQ(std::count(PhysicalPorts()->begin(), PhysicalPorts()->end(), nullptr), 1);
    EXPECT_EQ((*PhysicalPorts())[0], open->PhysicalPort());

    // A port that failed to open sends nothing and remembers nothing.
    port.SendEvent(event(0x90, 60, 100));
    port.AllNotesOff();
    port.ResetControllers();
    port.SetPatch(5, 0);
    EXPECT_EQ(port.NoteCounts(0, 60), 0);
    EXPECT_TRUE(recorder->messages(2).empty());
}

TEST_F(OutputPortTest, TheMapperOpensTheLastDevice) {
    auto port = openPort(-1);
    EXPECT_EQ(recorder->openHandles(2), 1);
    port->SendEvent(event(0x90, 60, 1));
    EXPECT_EQ(recorder->messages(2).size(), 1u);
}

TEST_F(OutputPortTest, ChangingPortIdMovesAnActivePortAfterSilencingTheOldDevice) {
    auto port = openPort(0);
    port->SendEvent(event(0x91, 62, 80));
    port->SendEvent(event(0xB1, 7, 100));
    port->setPortId(1);
    EXPECT_TRUE(port->Active());
    EXPECT_EQ(port->PortId(), 1);
    EXPECT_EQ(recorder->openHandles(0), 0);
    EXPECT_EQ(recorder->openHandles(1), 1);
    const Messages old = recorder->messages(0);
    ASSERT_EQ(old.size(), 4u);
    EXPECT_EQ(old[2], packShortMessage(0x81, 62, 0));
    EXPECT_EQ(old[3], packShortMessage(0xB1, 7, 90));

    TMidiOutputPort idle;
    idle.setSysexLatency(0);
    idle.setPortId(2);
    EXPECT_FALSE(idle.Active());
    EXPECT_EQ(recorder->openHandles(2), 0);
}

TEST_F(OutputPortTest, TheRegistryReusesSlotsAndIsFreedWithItsLastPort) {
    EXPECT_EQ(PhysicalPorts(), nullptr);
    auto a = openPort(0);
    auto b = openPort(1);
    ASSERT_NE(PhysicalPorts(), nullptr);
    EXPECT_EQ(b->PhysicalPort()->RegistrySlot(), 1);
    a->setActive(false);
    EXPECT_EQ((*PhysicalPorts())[0], nullptr);
    auto c = openPort(2);
    EXPECT_EQ(c->PhysicalPort()->RegistrySlot(), 0);
    EXPECT_EQ(c->PhysicalPort()->DeviceId(), 2);
    b.reset();
    c.reset();
    EXPECT_EQ(PhysicalPorts(), nullptr);
}

TEST_F(OutputPortTest, DataBytesFromTheDamagedSongAreSentButNotRemembered) {
    auto port = openPort(0);
    port->SendEvent(event(0x90, 0xC0, 100));
    port->SendEvent(event(0xB0, 0x90, 100));
    port->SendEvent(event(0xC0, 0x85));
    EXPECT_EQ(recorder->messages(0).size(), 3u);
    EXPECT_TRUE(sentBy(0, [&] { port->AllNotesOff(); port->ResetControllers(); }).empty());
    EXPECT_EQ(port->PhysicalPort()->Programs(0), 0);
}

// The only wall-clock check here is a lower bound, which sleeping guarantees.
TEST_F(OutputPortTest, DestroyingAPortTakesAtLeastItsSysexLatency) {
    auto port = std::make_unique<TMidiOutputPort>();
    EXPECT_EQ(port->SysexLatency(), 50);
    port->setSysexLatency(30);
    const auto start = std::chrono::steady_clock::now();
    port.reset();
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(30));
}

// A device that notes its close in a file, to see the clean-up at process end
// from outside the process.
namespace {
class FileNotingDevices final : public vozaro::platform::MidiDeviceSet {
public:
    explicit FileNotingDevices(std::string path) : path_(std::move(path)) {}
    int deviceCount() override { return 1; }
    std::string deviceName(int) override { return "nota"; }
    std::unique_ptr<vozaro::platform::MidiOutputDevice> openDevice(int, std::string&) override {
        struct Device final : vozaro::platform::MidiOutputDevice {
            std::string path;
            std::string log;
            void sendShortMessage(std::uint32_t) noexcept override { log += "send "; }
            void reset() noexcept override { log += "reset "; }
            ~Device() override { std::ofstream(path) << log << "close"; }
        };
        auto device = std::make_unique<Device>();
        device->path = path_;
        return device;
    }

private:
    std::string path_;
};
}  // namespace

TEST(OutputPortEnd, PortsStillOpenAtProcessEndAreResetAndClosed) {
    const std::string path = ::testing::TempDir() + "vozaro-port-end.txt";
    std::remove(path.c_str());
    EXPECT_EXIT(
        {
            vozaro::platform::installMidiDevices(std::make_shared<FileNotingDevices>(path));
            auto* port = new TMidiOutputPort;  // never destroyed
            port->setActive(true);
            port->SendEvent(event(0x90, 60, 100));
            std::exit(0);
        },
        ::testing::ExitedWithCode(0), "");
    std::ifstream file(path);
    std::string text((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    EXPECT_EQ(text, "send reset close");
    std::remove(path.c_str());
}
