// Timing of the player on the system timer, and the cost of one timer tick.
//
// BM_Lateness: a dense 16-track song (19 s) played at 100 % to a recording
// device, once on an idle machine and once with a thread keeping another core
// busy, and busy again with BoostPriority (SCHED_FIFO where permitted).  For every event sent: lateness = when it was sent -
// when the song's tempo map says it is due (start + its time in
// milliseconds).  Counters in microseconds: p50, p99, max; and "floor_p99",
// the lateness against the moment its position can first be passed (one tick
// of the song later: an event exactly at the position waits for the next
// move), which is the timer's own share.
//
// BM_LatenessUnderSearches: the same while guests search the catalogue by
// phone (see there).
//
// BM_Drift/75, /100, /150: the same song at that speed; "end_drift_us" is the
// song time at the last tick minus the real time since the start scaled by the
// speed, "max_lag_us" the largest difference seen by sampling every 10 ms from
// another thread (it includes up to one timer period since the last tick).
//
// BM_TickIdle, BM_Tick16Due: one tick (ManualTimerService advanced by one 4 ms
// period) with nothing due, and with one event due on each of 16 tracks;
// BM_ManualServiceOnly is the cost of advancing the manual service with an
// empty timer, to subtract.
#include "midi/cmpMidiPlayer.h"
#include "support/ManualTimerService.h"
#include "support/RecordingMidiDevices.h"
#include "../tests/midi/PlayerTestSongs.h"
#include "PhoneGuests.h"

#include <QCoreApplication>

#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>
#include <time.h>
#include <vector>

using namespace vozaro::midi;
using vozaro::test::TrackBuilder;

namespace {

constexpr std::uint16_t kDensePPQN = 480;

std::int64_t monotonicNanos() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t{t.tv_sec} * 1'000'000'000 + t.tv_nsec;
}

struct TempoSegment {
    std::int64_t tick;
    double msPerQuarter;
};

// 15 instrument tracks with a note every eighth and a controller every
// sixteenth, each track offset a little from the others; the tempo changes
// from 500 to 400 to 600 ms per quarter.  19.2 s long.
struct DenseSong {
    std::unique_ptr<TMidiData> song;
    std::vector<TempoSegment> tempoMap{{0, 500}, {16 * kDensePPQN, 400}, {32 * kDensePPQN, 600}};

    DenseSong() {
        std::vector<TrackBuilder> tracks;
        tracks.push_back(TrackBuilder()
                             .tempo(0, 500000)
                             .tempo(16 * kDensePPQN, 400000)
                             .tempo(16 * kDensePPQN, 600000)
                             .end(8 * kDensePPQN));
        const std::uint32_t sixteenth = kDensePPQN / 4;
        for (std::uint8_t track = 1; track < 16; ++track) {
            std::uint8_t ch = static_cast<std::uint8_t>(track - 1);
            TrackBuilder t;
            t.event(track * 7u, {static_cast<std::uint8_t>(0xC0 | ch), track});
            for (int step = 0; step < 40 * 4; step += 2) {
                t.event(0, {static_cast<std::uint8_t>(0x90 | ch), static_cast<std::uint8_t>(40 + step % 40), 90});
                t.event(sixteenth, {static_cast<std::uint8_t>(0xB0 | ch), 1, static_cast<std::uint8_t>(step % 128)});
                t.event(sixteenth, {static_cast<std::uint8_t>(0x80 | ch), static_cast<std::uint8_t>(40 + step % 40), 0});
            }
            tracks.push_back(t.end(0));
        }
        song = vozaro::test::loadSong(kDensePPQN, tracks);
    }

    double dueMs(std::int64_t tick) const {
        double ms = 0;
        for (std::size_t i = 0; i < tempoMap.size(); ++i) {
            std::int64_t end = i + 1 < tempoMap.size() ? tempoMap[i + 1].tick : INT64_MAX;
            std::int64_t upTo = std::min(tick, end);
            if (upTo <= tempoMap[i].tick)
                break;
            ms += static_cast<double>(upTo - tempoMap[i].tick) * tempoMap[i].msPerQuarter / kDensePPQN;
        }
        return ms;
    }
};

// One play of a song on the system timer, recording when each event left.
struct TimedPlay {
    struct Sent {
        std::int32_t port;
        std::int64_t nanos;
    };
    std::vector<Sent> sent;
    std::atomic<std::size_t> count{0};
    std::atomic<bool> stopped{false};
    std::int64_t originNanos = 0;
    std::int64_t endNanos = 0;
    std::int64_t endSongMs = 0;
    double maxLagMs = 0;

    void run(TMidiData& song, int percent, bool boost = false) {
        auto recorder = std::make_shared<vozaro::platform::RecordingMidiDevices>(1);
        vozaro::platform::ScopedMidiDevices devices(recorder);
        TTrackOutputs outputs;
        outputs.setMidiData(&song);
        outputs.setActive(true);
        std::size_t events = 0;
        for (std::int32_t t = 0; t < song.TrackCount(); ++t)
            events += static_cast<std::size_t>(song.Tracks(t)->EventCount());
        sent.assign(events, {});
        count = 0;
        outputs.OnEvent = [this](TMidiIterator*, std::int32_t port, const TEventData&) {
            std::size_t i = count.fetch_add(1);
            if (i < sent.size())
                sent[i] = {port, monotonicNanos()};
        };
        TMidiPlayer player;
        player.setTempoPercent(percent);
        player.setBoostPriority(boost);
        player.OnStop = [this](TMidiPlayer* sender) {
            endNanos = monotonicNanos();
            endSongMs = sender->Time();
            stopped = true;
        };
        player.setTrackOutputs(&outputs);
        // Start just after a millisecond begins, so that the player's
        // millisecond clock reads the same start as originNanos.
        while (monotonicNanos() % 1'000'000 > 100'000) {
        }
        originNanos = monotonicNanos() / 1'000'000 * 1'000'000;
        player.setPlay(true);
        while (!stopped.load()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            double real = static_cast<double>(monotonicNanos() - originNanos) / 1e6 * percent / 100;
            if (!stopped.load())
                maxLagMs = std::max(maxLagMs, std::abs(static_cast<double>(player.Time()) - real));
        }
        for (std::int32_t i = 0; i < outputs.Count(); ++i)
            outputs.Outputs(i)->Port()->setSysexLatency(0);
    }
};

double percentile(std::vector<double> values, double p) {
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1));
    return values[index];
}

// The lateness counters of one play of the dense song.
void reportLateness(benchmark::State& state, const DenseSong& dense, const TimedPlay& play) {
    // The events of each track were sent in record order: match them up.
    std::vector<std::int32_t> cursor(static_cast<std::size_t>(dense.song->TrackCount()), 0);
    std::vector<double> lateness, floorLateness;
    for (std::size_t i = 0; i < std::min(play.count.load(), play.sent.size()); ++i) {
        const auto& s = play.sent[i];
        const TMidiTrackStream& track = *dense.song->Tracks(s.port);
        std::int32_t& j = cursor[static_cast<std::size_t>(s.port)];
        while (track.Event(j)->Message.Status >= 0xF0)
            ++j;
        std::int64_t tick = track.Event(j++)->Time;
        double sentMs = static_cast<double>(s.nanos - play.originNanos) / 1e6;
        lateness.push_back(sentMs - dense.dueMs(tick));
        floorLateness.push_back(sentMs - dense.dueMs(tick + 1));
    }
    state.counters["events"] = static_cast<double>(lateness.size());
    state.counters["p50_us"] = percentile(lateness, 0.50) * 1000;
    state.counters["p99_us"] = percentile(lateness, 0.99) * 1000;
    state.counters["max_us"] = percentile(lateness, 1.0) * 1000;
    state.counters["min_us"] = percentile(lateness, 0.0) * 1000;
    state.counters["floor_p99_us"] = percentile(floorLateness, 0.99) * 1000;
}

void BM_Lateness(benchmark::State& state) {
    DenseSong dense;
    std::atomic<bool> busy{state.range(0) != 0};
    std::thread spinner([&] {
        while (busy.load()) {
        }
    });
    TimedPlay play;
    for (auto _ : state)
        play.run(*dense.song, 100, state.range(1) != 0);
    busy = false;
    spinner.join();
    reportLateness(state, dense, play);
}
BENCHMARK(BM_Lateness)->ArgNames({"busy", "boost"})->Args({0, 0})->Args({1, 0})->Args({1, 1})->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// BM_LatenessUnderSearches: the dense song played while 20 phones, each from
// an address of its own, search a catalogue of 99,999 songs in a loop, and
// 300 connections (from 38 addresses) each send half a request and wait,
// through the program's web server on 127.0.0.1 (on its own thread, the
// queue's side on this one).  The player's lateness as in BM_Lateness;
// searches: those answered, search_p50_ms and search_p99_ms as the phones
// saw them, refused: those refused for the rate (5 a second per address).
void BM_LatenessUnderSearches(benchmark::State& state) {
    vozaro::bench::PhoneGuests guests;
    if (guests.port() == 0) {
        state.SkipWithError("no free port on 127.0.0.1");
        return;
    }
    DenseSong dense;
    TimedPlay play;
    for (auto _ : state) {
        std::atomic<bool> played{false};
        guests.come();
        std::thread player([&] {
            play.run(*dense.song, 100);
            played = true;
        });
        while (!played.load())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        guests.leave();
        player.join();
    }
    std::vector<double> all;
    int refused = 0;
    for (const auto& phone : guests.searches()) {
        all.insert(all.end(), phone.ms.begin(), phone.ms.end());
        refused += phone.refused;
    }
    reportLateness(state, dense, play);
    state.counters["searches"] = static_cast<double>(all.size());
    state.counters["refused"] = refused;
    state.counters["search_p50_ms"] = percentile(all, 0.50);
    state.counters["search_p99_ms"] = percentile(all, 0.99);
}
BENCHMARK(BM_LatenessUnderSearches)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_Drift(benchmark::State& state) {
    DenseSong dense;
    int percent = static_cast<int>(state.range(0));
    TimedPlay play;
    for (auto _ : state)
        play.run(*dense.song, percent);
    double real = static_cast<double>(play.endNanos - play.originNanos) / 1e6 * percent / 100;
    state.counters["song_ms"] = static_cast<double>(play.endSongMs);
    state.counters["end_drift_us"] = (static_cast<double>(play.endSongMs) - real) * 1000;
    state.counters["max_lag_us"] = play.maxLagMs * 1000;
}
BENCHMARK(BM_Drift)->ArgName("percent")->Arg(75)->Arg(100)->Arg(150)->Iterations(1)->Unit(benchmark::kMillisecond)->UseRealTime();

// A song whose song ticks are 4 ms long (96 per quarter at 384 ms), so every
// 4 ms timer tick passes exactly one song tick.
std::unique_ptr<TMidiData> tickSong(int tracks, bool eventsEveryTick) {
    std::vector<TrackBuilder> builders{TrackBuilder().tempo(0, 384000).end(90000)};
    for (int t = 1; t < tracks; ++t) {
        TrackBuilder b;
        auto status = static_cast<std::uint8_t>(0xB0 | (t % 16));
        if (eventsEveryTick) {
            for (int tick = 0; tick < 90000; ++tick)
                b.event(tick == 0 ? 0 : 1, {status, 1, static_cast<std::uint8_t>(tick % 128)});
        } else {
            b.event(90000, {status, 1, 0});
        }
        builders.push_back(b.end(0));
    }
    return vozaro::test::loadSong(96, builders);
}

void tickBenchmark(benchmark::State& state, int tracks, bool due) {
    auto recorder = std::make_shared<vozaro::platform::RecordingMidiDevices>(1);
    vozaro::platform::ScopedMidiDevices devices(recorder);
    auto song = tickSong(tracks, due);
    TTrackOutputs outputs;
    outputs.setMidiData(song.get());
    outputs.setActive(true);
    vozaro::platform::ManualTimerService timers;
    TMidiPlayer player(timers);
    player.setStopAtEnd(false);
    player.setTrackOutputs(&outputs);
    player.setPlay(true);
    timers.advance(4);
    for (auto _ : state) {
        timers.advance(4);
        if (player.Position() >= 89990) {
            state.PauseTiming();
            player.setPosition(0);
            recorder->clear();
            state.ResumeTiming();
        }
    }
    player.Stop();
    for (std::int32_t i = 0; i < outputs.Count(); ++i)
        outputs.Outputs(i)->Port()->setSysexLatency(0);
}

void BM_TickIdle(benchmark::State& state) { tickBenchmark(state, 17, false); }
BENCHMARK(BM_TickIdle);

void BM_Tick16Due(benchmark::State& state) { tickBenchmark(state, 17, true); }
BENCHMARK(BM_Tick16Due);

void noop(void*) noexcept {}

void BM_ManualServiceOnly(benchmark::State& state) {
    vozaro::platform::ManualTimerService timers;
    auto timer = timers.startPeriodic(4, &noop, nullptr);
    for (auto _ : state)
        timers.advance(4);
}
BENCHMARK(BM_ManualServiceOnly);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);  // the web server's event loop
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
