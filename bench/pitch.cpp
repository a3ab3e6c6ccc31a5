// The cost of hearing the singer's pitch: one microphone buffer (512 samples
// at 22050 Hz, 23.2 ms of sound) through the pitch detector.  The counter
// "core_percent" is the share of one core the detector takes while a song
// plays (CPU time per buffer / 23.2 ms, in percent); the target is under 2.
#include <benchmark/benchmark.h>

#include "../tests/audio/Tones.h"
#include "audio/PitchDetector.h"

namespace {

constexpr int kRate = 22050;
constexpr std::size_t kBuffer = 512;

void feed(benchmark::State& state, int harmonics) {
    vozaro::audio::PitchDetector detector(kRate, static_cast<int>(kBuffer));
    const auto signal = vozaro::test::toneSamples(static_cast<double>(state.range(0)), kRate, harmonics);
    std::size_t at = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(detector.feed(signal.data() + at, kBuffer));
        at += kBuffer;
        if (at + kBuffer > signal.size())
            at = 0;
    }
    const double bufferSeconds = static_cast<double>(kBuffer) / kRate;
    // CPU time over sound time, in percent.
    state.counters["core_percent"] = benchmark::Counter(static_cast<double>(state.iterations()) * bufferSeconds / 100,
                                                        benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

void BM_PitchPerBufferSine(benchmark::State& state) { feed(state, 1); }
void BM_PitchPerBufferVoice(benchmark::State& state) { feed(state, 6); }

BENCHMARK(BM_PitchPerBufferSine)->Arg(110)->Arg(440)->Arg(1000);
BENCHMARK(BM_PitchPerBufferVoice)->Arg(110)->Arg(440);

}  // namespace

BENCHMARK_MAIN();
