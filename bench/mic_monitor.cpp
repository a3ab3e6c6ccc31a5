// Runs the microphone's way to the speakers on the sound server for a
// while, as the stage runs it, and says what it cost.
//
//   bench_mic_monitor SECONDS [VOLUME [ECHO]]
//
// Prints "ready" once the path carries sound (the script behind it,
// bench/mic_monitor.py, plays into the microphone from then on), then, at
// the end, the process's CPU time over the run as a share of one core, and
// how long ending the path took.
// Needs PULSE_SERVER (scripts/sound-server.sh start).
#include "audio/MicMonitor.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>

#include <sys/resource.h>

namespace {

double cpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
           static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s SECONDS [VOLUME [ECHO]]\n", argv[0]);
        return 2;
    }
    const double seconds = std::atof(argv[1]);
    const int volume = argc > 2 ? std::atoi(argv[2]) : 50;
    const int echo = argc > 3 ? std::atoi(argv[3]) : 0;
    auto owned = std::make_unique<vozaro::audio::MicMonitor>(vozaro::platform::openSoundServerMonitor);
    vozaro::audio::MicMonitor& monitor = *owned;
    monitor.apply(true, volume, echo);
    if (auto why = monitor.failureToTell(std::chrono::seconds(5))) {
        std::fprintf(stderr, "cannot monitor: %s\n", why->c_str());
        return 1;
    }
    for (int i = 0; i < 500 && !monitor.running(); ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (!monitor.running()) {
        std::fprintf(stderr, "the path did not open\n");
        return 1;
    }
    std::printf("ready\n");
    std::fflush(stdout);
    const double cpu0 = cpuSeconds();
    const auto wall0 = std::chrono::steady_clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall0).count();
    const double cpu = cpuSeconds() - cpu0;
    // The program closing: the monitor goes, and with it the path.
    const auto start = std::chrono::steady_clock::now();
    owned.reset();
    const double endMs = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    std::printf("cpu %.2f %% of one core over %.1f s; path ended %.1f ms after closing\n", 100.0 * cpu / wall,
                wall, endMs);
    return 0;
}
