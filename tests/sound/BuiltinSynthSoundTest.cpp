// End to end on the virtual sound server (scripts/sound-server.sh, started by
// ./test.sh): a note sent through an output port on the built-in synthesizer
// is found again in a recording of the speakers' monitor.
#include <gtest/gtest.h>

#include "midi/cmpMidiOutput.h"
#include "platform/devices/MidiDeviceFluidSynth.h"
#include "sound/SoundServer.h"
#include "sound/SpeakerRecording.h"

#include <chrono>
#include <cmath>
#include <functional>
#include <thread>
#include <vector>

using namespace vozaro::midi;
using namespace std::chrono_literals;
namespace platform = vozaro::platform;
using vozaro::test::kRate;
using vozaro::test::Levels;
using vozaro::test::measure;
using vozaro::test::SpeakerRecording;

namespace {

class BuiltinSynthSound : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string missing = vozaro::test::soundServerMissing(); !missing.empty())
            GTEST_SKIP() << missing;
        if (const std::string missing = vozaro::test::soundFontMissing(); !missing.empty())
            GTEST_SKIP() << missing;
        platform::setBuiltinSynthVolume(65535);
        platform::setBuiltinSynthMute(false);
    }

    void TearDown() override { platform::setBuiltinSynthMute(false); }

    // Plays a string note for a second through a port on the mapper (the
    // built-in synthesizer) while the speakers are recorded, silences it with
    // the port and returns what was recorded.  beforeNote runs once the port
    // is open.
    std::vector<std::int16_t> playNote(const std::function<void()>& beforeNote = [] {}) {
        SpeakerRecording recording;
        EXPECT_TRUE(recording.waitUntilRunning()) << "parec records nothing from speakers.monitor";
        TMidiOutputPort port;
        port.setSysexLatency(0);
        port.setPortId(platform::kMidiMapper);
        port.setActive(true);
        EXPECT_EQ(platform::midiOutputDeviceName(platform::midiOutputDeviceCount() - 1), platform::kBuiltinSynthName);
        // Played through the sound server's stream, whose buffer the latency holds.
        EXPECT_GT(port.LatencyUs(), platform::FluidSynthEngine::kLatencyUs);
        port.SetPatch(48, 0);
        beforeNote();
        port.SendEvent(TEventData{0x90, 60, 110, 0, 0});
        std::this_thread::sleep_for(1s);
        port.AllNotesOff();
        port.setActive(false);
        std::this_thread::sleep_for(1500ms);  // the reverb dies away
        return recording.stop();
    }
};

}  // namespace

// One test, so that nothing else plays into the speakers between the two
// recordings when tests run in parallel.
TEST_F(BuiltinSynthSound, ANoteThroughAPortIsHeardUntilSilencedAndTheMuteSilencesIt) {
    const std::vector<std::int16_t> heard = playNote();
    ASSERT_GT(heard.size(), static_cast<std::size_t>(kRate * 2)) << "parec recorded too little";
    const Levels levels = measure(heard);
    EXPECT_GT(levels.loudest, 0.003);  // silence records as 0
    EXPECT_LT(levels.last, levels.loudest / 100);

    // The mixer's mute reaches a synthesizer already playing.
    const std::vector<std::int16_t> muted = playNote([] { platform::setBuiltinSynthMute(true); });
    ASSERT_GT(muted.size(), static_cast<std::size_t>(kRate * 2)) << "parec recorded too little";
    EXPECT_LT(measure(muted).loudest, levels.loudest / 20);
}
