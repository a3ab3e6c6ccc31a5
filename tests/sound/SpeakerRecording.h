// Recording what the virtual sound server's speakers play (their monitor)
// with parec, and measuring its level; whether the built-in synthesizer can
// sound.
#pragma once

#include "platform/devices/MidiDeviceFluidSynth.h"

#include <chrono>
#include <cmath>
#include <filesystem>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

namespace vozaro::test {

using namespace std::chrono_literals;

inline constexpr int kRate = 22050;

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

inline Levels measure(const std::vector<std::int16_t>& samples) {
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

// Empty when a General MIDI SoundFont is installed, else why the built-in
// synthesizer cannot sound (for GTEST_SKIP).
inline std::string soundFontMissing() {
    for (const std::string& path : vozaro::platform::generalMidiSoundFontCandidates())
        if (std::filesystem::exists(path)) return {};
    return "no General MIDI SoundFont installed (timgm6mb-soundfont)";
}

}  // namespace vozaro::test
