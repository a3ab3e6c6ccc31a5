// End to end on the virtual sound server (scripts/sound-server.sh, started by
// ./test.sh): a note sent through an output port on the built-in synthesizer
// is found again in a recording of the speakers' monitor.
#include <gtest/gtest.h>

#include "midi/cmpMidiOutput.h"
#include "platform/MidiDeviceFluidSynth.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <future>
#include <thread>
#include <vector>

using namespace vozaro::midi;
using namespace std::chrono_literals;
namespace platform = vozaro::platform;

namespace {

constexpr int kRate = 22050;

// Records the speakers' monitor for a fixed time, mono 16-bit at kRate.
std::future<std::vector<std::int16_t>> recordSpeakers(double seconds) {
    return std::async(std::launch::async, [seconds] {
        const std::string command = "timeout " + std::to_string(seconds) +
                                    " parec -d speakers.monitor --rate=" + std::to_string(kRate) +
                                    " --channels=1 --format=s16le --raw --latency-msec=20 2>/dev/null";
        std::vector<std::int16_t> samples;
        if (FILE* pipe = popen(command.c_str(), "r")) {
            std::int16_t buffer[1024];
            std::size_t got;
            while ((got = std::fread(buffer, sizeof buffer[0], 1024, pipe)) > 0)
                samples.insert(samples.end(), buffer, buffer + got);
            pclose(pipe);
        }
        return samples;
    });
}

// The loudest 100 ms of a recording and the level of its last 300 ms, as RMS
// with full scale 1.
struct Levels {
    double loudest = 0;
    double last = 0;
};

Levels measure(const std::vector<std::int16_t>& samples) {
    auto rms = [&](std::size_t from, std::size_t count) {
        double sum = 0;
        for (std::size_t i = from; i < from + count; ++i)
            sum += double(samples[i]) * samples[i];
        return std::sqrt(sum / count) / 32768.0;
    };
    Levels levels;
    const std::size_t window = kRate / 10;
    for (std::size_t from = 0; from + window <= samples.size(); from += window / 2)
        levels.loudest = std::max(levels.loudest, rms(from, window));
    const std::size_t tail = kRate * 3 / 10;
    if (samples.size() >= tail)
        levels.last = rms(samples.size() - tail, tail);
    return levels;
}

class BuiltinSynthSound : public ::testing::Test {
protected:
    void SetUp() override {
        const char* server = std::getenv("PULSE_SERVER");
        if (!server || !*server)
            GTEST_SKIP() << "PULSE_SERVER is not set: no virtual sound server (scripts/sound-server.sh start)";
        if (std::system("timeout 5 pactl info >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "the sound server at " << server << " does not answer";
        bool soundFont = false;
        for (const std::string& path : platform::generalMidiSoundFontCandidates())
            soundFont = soundFont || std::filesystem::exists(path);
        if (!soundFont)
            GTEST_SKIP() << "no General MIDI SoundFont installed (timgm6mb-soundfont)";
        platform::setBuiltinSynthVolume(65535);
        platform::setBuiltinSynthMute(false);
    }

    void TearDown() override { platform::setBuiltinSynthMute(false); }

    // Plays a string note for a second through a port on the mapper (the
    // built-in synthesizer) while the speakers are recorded, silences it with
    // the port and returns what was recorded.  beforeNote runs once the port
    // is open.
    std::vector<std::int16_t> playNote(const std::function<void()>& beforeNote = [] {}) {
        auto recording = recordSpeakers(3.5);
        std::this_thread::sleep_for(500ms);  // the recorder connects
        TMidiOutputPort port;
        port.setSysexLatency(0);
        port.setPortId(platform::kMidiMapper);
        port.setActive(true);
        EXPECT_EQ(platform::midiOutputDeviceName(platform::midiOutputDeviceCount() - 1), platform::kBuiltinSynthName);
        port.SetPatch(48, 0);
        beforeNote();
        port.SendEvent(TEventData{0x90, 60, 110, 0, 0});
        std::this_thread::sleep_for(1s);
        port.AllNotesOff();
        port.setActive(false);
        return recording.get();
    }
};

}  // namespace

TEST_F(BuiltinSynthSound, ANoteThroughAPortIsHeardAndEndsWhenSilenced) {
    const std::vector<std::int16_t> samples = playNote();
    ASSERT_GT(samples.size(), static_cast<std::size_t>(kRate * 2)) << "parec recorded too little";
    const Levels levels = measure(samples);
    EXPECT_GT(levels.loudest, 0.01);
    EXPECT_LT(levels.last, levels.loudest / 100);
}

TEST_F(BuiltinSynthSound, TheMixerMuteSilencesTheSynthesizerAtOnce) {
    const std::vector<std::int16_t> samples = playNote([] { platform::setBuiltinSynthMute(true); });
    ASSERT_GT(samples.size(), static_cast<std::size_t>(kRate * 2)) << "parec recorded too little";
    EXPECT_LT(measure(samples).loudest, 0.001);
}
