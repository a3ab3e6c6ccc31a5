// End to end on the virtual sound server (scripts/sound-server.sh, started by
// ./test.sh): a note sent through an output port on the built-in synthesizer
// is found again in a recording of the speakers' monitor.
#include <gtest/gtest.h>

#include "midi/cmpMidiOutput.h"
#include "platform/MidiDeviceFluidSynth.h"
#include "sound/SoundServer.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace vozaro::midi;
using namespace std::chrono_literals;
namespace platform = vozaro::platform;

namespace {

constexpr int kRate = 22050;

// Records the speakers' monitor, mono 16-bit at kRate, with parec from the
// moment it is created until stop().
class SpeakerRecording {
public:
    SpeakerRecording() {
        int fds[2];
        if (::pipe(fds) != 0)
            return;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(fds[1], STDOUT_FILENO);
            ::close(fds[0]);
            ::close(fds[1]);
            const std::string rate = "--rate=" + std::to_string(kRate);
            ::execlp("parec", "parec", "-d", "speakers.monitor", rate.c_str(), "--channels=1", "--format=s16le",
                     "--raw", "--latency-msec=20", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(fds[1]);
        reader_ = std::thread([this, fd = fds[0]] {
            std::int16_t buffer[512];
            ssize_t got;
            while ((got = ::read(fd, buffer, sizeof buffer)) > 0) {
                std::lock_guard lock(mutex_);
                samples_.insert(samples_.end(), buffer, buffer + got / 2);
            }
            ::close(fd);
        });
    }

    ~SpeakerRecording() { stop(); }

    // Waits until the recorder delivers sound, at most a few seconds.
    bool waitUntilRunning() {
        for (int i = 0; i < 500; ++i) {
            {
                std::lock_guard lock(mutex_);
                if (samples_.size() >= kRate / 10)
                    return true;
            }
            std::this_thread::sleep_for(10ms);
        }
        return false;
    }

    std::vector<std::int16_t> stop() {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
        if (reader_.joinable())
            reader_.join();
        std::lock_guard lock(mutex_);
        return samples_;
    }

private:
    pid_t pid_ = -1;
    std::thread reader_;
    std::mutex mutex_;
    std::vector<std::int16_t> samples_;
};

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
        if (const std::string missing = vozaro::test::soundServerMissing(); !missing.empty())
            GTEST_SKIP() << missing;
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
        SpeakerRecording recording;
        EXPECT_TRUE(recording.waitUntilRunning()) << "parec records nothing from speakers.monitor";
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
