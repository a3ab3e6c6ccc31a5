// What sending one event through an output port costs, beside what the device
// call alone costs, in the same run.  The port's own work (the mutex, the
// note count or controller memory) should cost less than the device call.
#include <benchmark/benchmark.h>

#include "midi/cmpMidiData.h"
#include "midi/cmpMidiOutput.h"
#include "midi/cmpTrackOutputs.h"
#include "platform/devices/MidiDeviceFluidSynth.h"
#include "support/RecordingMidiDevices.h"

#include <array>
#include <cstdio>
#include <fstream>
#include <string>

using namespace vozaro::midi;
namespace platform = vozaro::platform;

namespace {

constexpr std::size_t kCapacity = 1 << 16;

// A song-like mix: note on, controller, note off, on 16 channels.
std::array<TEventData, 48> songEvents() {
    std::array<TEventData, 48> events{};
    for (std::uint8_t i = 0; i < 16; ++i) {
        events[3 * i] = TEventData{static_cast<std::uint8_t>(0x90 | i), static_cast<std::uint8_t>(48 + i), 100, 0, 0};
        events[3 * i + 1] = TEventData{static_cast<std::uint8_t>(0xB0 | i), 7, static_cast<std::uint8_t>(80 + i), 0, 0};
        events[3 * i + 2] = TEventData{static_cast<std::uint8_t>(0x80 | i), static_cast<std::uint8_t>(48 + i), 0, 0, 0};
    }
    return events;
}

std::uint32_t packed(const TEventData& event) {
    return platform::packShortMessage(event.Status, event.Data1, event.Data2);
}

// The recorder's log is emptied, untimed, before it fills, so every timed
// send stores its message with its time.
void keepRoom(benchmark::State& state, platform::RecordingMidiDevices& recorder, std::size_t& sent) {
    if (++sent % (kCapacity - 1) == 0) {
        state.PauseTiming();
        recorder.clear();
        state.ResumeTiming();
    }
}

void DeviceSendAlone(benchmark::State& state) {
    auto recorder = std::make_shared<platform::RecordingMidiDevices>(1, platform::RecordingMidiDevices::Clock{}, kCapacity);
    std::string why;
    auto device = recorder->openDevice(0, why);
    const auto events = songEvents();
    std::array<std::uint32_t, events.size()> messages{};
    for (std::size_t i = 0; i < events.size(); ++i)
        messages[i] = packed(events[i]);
    std::size_t i = 0, sent = 0;
    for (auto _ : state) {
        device->sendShortMessage(messages[i]);
        i = (i + 1) % messages.size();
        keepRoom(state, *recorder, sent);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(DeviceSendAlone);

void PortSendEvent(benchmark::State& state) {
    auto recorder = std::make_shared<platform::RecordingMidiDevices>(1, platform::RecordingMidiDevices::Clock{}, kCapacity);
    platform::ScopedMidiDevices devices(recorder);
    TMidiOutputPort port;
    port.setSysexLatency(0);
    port.setActive(true);
    const auto events = songEvents();
    std::size_t i = 0, sent = 0;
    for (auto _ : state) {
        port.SendEvent(events[i]);
        i = (i + 1) % events.size();
        keepRoom(state, *recorder, sent);
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(PortSendEvent);

// The port's bookkeeping on its own: a device whose send does nothing.
class SilentDevices final : public platform::MidiDeviceSet {
public:
    int deviceCount() override { return 1; }
    std::string deviceName(int) override { return "silent"; }
    std::unique_ptr<platform::MidiOutputDevice> openDevice(int, std::string&) override {
        struct Device final : platform::MidiOutputDevice {
            void sendShortMessage(std::uint32_t message) noexcept override { benchmark::DoNotOptimize(message); }
            void reset() noexcept override {}
        };
        return std::make_unique<Device>();
    }
};

void PortBookkeepingAlone(benchmark::State& state) {
    platform::ScopedMidiDevices devices(std::make_shared<SilentDevices>());
    TMidiOutputPort port;
    port.setSysexLatency(0);
    port.setActive(true);
    const auto events = songEvents();
    std::size_t i = 0;
    for (auto _ : state) {
        port.SendEvent(events[i]);
        i = (i + 1) % events.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(PortBookkeepingAlone);

// For scale: the built-in synthesizer taking the same messages (no audio
// output; voices pile up to FluidSynth's polyphony limit and are stolen).
void BuiltinSynthSend(benchmark::State& state) {
    std::string why;
    auto engine = platform::FluidSynthEngine::create({}, why);
    if (!engine) {
        state.SkipWithError(("no SoundFont: " + why).c_str());
        return;
    }
    const auto events = songEvents();
    std::size_t i = 0;
    for (auto _ : state) {
        engine->sendShortMessage(packed(events[i]));
        i = (i + 1) % events.size();
    }
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BuiltinSynthSend);

// Closes the track outputs of the song at path, as a stop does, on one device
// whose close waits the default 50 ms for system exclusive buffers, as the
// system's devices do.  Reported in milliseconds per stop.
void stopSong(benchmark::State& state, const std::string& path) {
    platform::ScopedMidiDevices devices(std::make_shared<SilentDevices>());
    TMidiData song;
    song.setFileName(path);
    song.setActive(true);
    TTrackOutputs outputs;
    outputs.setMidiData(&song);
    for (auto _ : state) {
        state.PauseTiming();
        outputs.setActive(true);
        state.ResumeTiming();
        outputs.setActive(false);
    }
    state.counters["tracks"] = song.TrackCount();
}

// What a stop costs the stage with a real 34-track song.
void StopA34TrackSong(benchmark::State& state) {
    const std::string path =
        std::string(VOZARO_CORPUS_DIR) + "/files/kar/msc__BRITNEY_SPEARS_Baby_One_More_Time.kar";
    if (!std::ifstream(path)) {
        state.SkipWithError(("corpus song not found: " + path).c_str());
        return;
    }
    stopSong(state, path);
}
BENCHMARK(StopA34TrackSong)->Unit(benchmark::kMillisecond)->Iterations(5);

// ... and with a hostile file of 10,000 empty tracks (about 80 KB).
void StopA10000TrackSong(benchmark::State& state) {
    const std::string path = "/tmp/vozaro-bench-10000-tracks.mid";
    {
        std::ofstream out(path, std::ios::binary);
        const char header[] = {'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1, 0x27, 0x10, 0, 96};
        out.write(header, sizeof header);
        const char track[] = {'M', 'T', 'r', 'k', 0, 0, 0, 4, 0, char(0xFF), 0x2F, 0};
        for (int i = 0; i < 10000; ++i)
            out.write(track, sizeof track);
    }
    stopSong(state, path);
    std::remove(path.c_str());
}
BENCHMARK(StopA10000TrackSong)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
