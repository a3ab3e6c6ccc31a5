// vozaro-play --list
// vozaro-play FILE [PERCENT] [--device N]
//
// --list prints the MIDI output devices, one name per line, in device order
// (the built-in synthesizer last).
//
// FILE is loaded as Vozaro loads a song and played through TMidiPlayer on
// device N (default -1: the built-in synthesizer) at PERCENT % speed
// (default 100).  The song time is printed once a second as "mm:ss.mmm"; the
// program ends when the player stops at the end of the song, or at Ctrl-C.
//
// On failure it prints "error: MESSAGE" on standard error and exits with 1.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <thread>

#include "midi/cmpMidiData.h"
#include "midi/cmpMidiPlayer.h"
#include "midi/cmpTrackOutputs.h"
#include "platform/devices/MidiDevices.h"

using namespace vozaro::midi;

namespace {

std::atomic<bool> interrupted{false};

void onInterrupt(int) { interrupted.store(true); }

int usage() {
    std::fputs("usage: vozaro-play --list\n"
               "       vozaro-play FILE [PERCENT] [--device N]\n",
               stderr);
    return 2;
}

bool parseInt(const char* text, int& value) {
    char* end = nullptr;
    long parsed = std::strtol(text, &end, 10);
    if (end == text || *end != '\0' || parsed < -1000000 || parsed > 1000000)
        return false;
    value = static_cast<int>(parsed);
    return true;
}

void printTime(std::int64_t ms) {
    std::printf("%02lld:%02lld.%03lld\n", static_cast<long long>(ms / 60000),
                static_cast<long long>(ms / 1000 % 60), static_cast<long long>(ms % 1000));
    std::fflush(stdout);
}

int listDevices() {
    int count = vozaro::platform::midiOutputDeviceCount();
    for (int id = 0; id < count; ++id)
        std::printf("%s\n", vozaro::platform::midiOutputDeviceName(id).c_str());
    return 0;
}

int play(const std::string& fileName, int percent, int device) {
    TMidiData song;
    song.setFileName(fileName);
    song.setActive(true);

    TTrackOutputs outputs;
    outputs.setDefaultOutputPort(device);
    outputs.setMidiData(&song);
    outputs.setActive(true);

    std::atomic<bool> stopped{false};
    TMidiPlayer player;
    player.setTempoPercent(percent);
    player.OnStop = [&](TMidiPlayer*) { stopped.store(true); };  // any thread
    player.setTrackOutputs(&outputs);
    player.Rewind();
    player.setPlay(true);

    std::signal(SIGINT, onInterrupt);
    std::signal(SIGTERM, onInterrupt);
    auto nextPrint = std::chrono::steady_clock::now();
    while (!stopped.load()) {
        if (interrupted.load()) {
            player.Stop();
            break;
        }
        if (std::chrono::steady_clock::now() >= nextPrint) {
            printTime(player.Time());
            nextPrint += std::chrono::seconds(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    printTime(player.Time());
    player.setTrackOutputs(nullptr);
    outputs.setActive(false);  // silences and closes the device
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--list")
        return listDevices();
    std::string fileName;
    int percent = 100;
    int device = vozaro::platform::kMidiMapper;
    bool havePercent = false;
    for (int i = 1; i < argc; ++i) {
        std::string arg = argv[i];
        if (arg == "--device") {
            if (++i >= argc || !parseInt(argv[i], device))
                return usage();
        } else if (fileName.empty()) {
            fileName = arg;
        } else if (!havePercent && parseInt(argv[i], percent) && percent > 0) {
            havePercent = true;
        } else {
            return usage();
        }
    }
    if (fileName.empty())
        return usage();
    try {
        return play(fileName, percent, device);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }
}
