// The voice's echo, limiter and howl guard, on buffers.
#include <gtest/gtest.h>

#include "audio/MonitorEffect.h"

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

using vozaro::audio::MonitorEffect;

namespace {

constexpr int kRate = 48000;
constexpr int kDelay = kRate * MonitorEffect::kEchoDelayMs / 1000;
constexpr double kPi = 3.14159265358979323846;

std::vector<float> run(MonitorEffect& effect, const std::vector<float>& in, int block = 256) {
    std::vector<float> out(in.size());
    for (std::size_t at = 0; at < in.size(); at += block) {
        const int n = static_cast<int>(std::min<std::size_t>(block, in.size() - at));
        effect.process(in.data() + at, out.data() + at, n);
    }
    return out;
}

float peakIn(const std::vector<float>& v, std::size_t from, std::size_t to) {
    float peak = 0.0f;
    for (std::size_t i = from; i < std::min(to, v.size()); ++i)
        peak = std::max(peak, std::fabs(v[i]));
    return peak;
}

TEST(MonitorEffect, AClickComesBackEveryDelayQuieterEachTimeAndOnlyWithEcho) {
    for (const int echo : {0, 30, 60, 100}) {
        SCOPED_TRACE(echo);
        MonitorEffect effect(kRate);
        effect.setVolume(50);
        effect.setEcho(echo);
        std::vector<float> in(kRate * 2, 0.0f);
        in[10] = 0.5f;
        const std::vector<float> out = run(effect, in);
        EXPECT_FLOAT_EQ(out[10], 0.5f);  // the dry voice, as it came
        // Nothing between the repeats; each repeat at its time, fainter than
        // the one before, by less than 0.7 after the first.
        float before = out[10];
        for (int k = 1; k <= 4; ++k) {
            const std::size_t at = 10 + static_cast<std::size_t>(k) * kDelay;
            EXPECT_LT(peakIn(out, at - kDelay + 50, at - 50), 1e-4f) << k;
            const float repeat = peakIn(out, at, at + 50);
            if (echo == 0) {
                EXPECT_EQ(repeat, 0.0f) << k;
                continue;
            }
            EXPECT_GT(repeat, 0.0f) << k;
            EXPECT_LT(repeat, before) << k;
            if (k > 1) {
                EXPECT_LT(repeat, 0.7f * before) << k;
            }
            before = repeat;
        }
    }
}

TEST(MonitorEffect, NoSampleGoesPastFullScaleAndQuietVoicesPassUntouched) {
    for (const float amplitude : {0.05f, 0.9f, 4.0f}) {
        SCOPED_TRACE(amplitude);
        MonitorEffect effect(kRate);
        effect.setVolume(100);
        effect.setEcho(100);
        std::vector<float> in(kRate);
        for (int i = 0; i < kRate; ++i)
            in[static_cast<std::size_t>(i)] = amplitude * static_cast<float>(std::sin(2 * kPi * 300 * i / kRate));
        const std::vector<float> out = run(effect, in);
        EXPECT_LE(peakIn(out, 0, out.size()), MonitorEffect::kCeiling);
        if (amplitude < 0.1f) {  // four times louder, with echo: still below full scale
            for (int i = 0; i < kDelay; ++i)
                ASSERT_FLOAT_EQ(out[static_cast<std::size_t>(i)], 4.0f * in[static_cast<std::size_t>(i)]) << i;
        }
    }
}

// A microphone near a speaker: what the path plays comes back into it a
// block later through a room that rings at 1 kHz, with `loopGain` at the
// ring; `seconds` of it, then the loop is broken for `after` seconds.
struct Loop {
    std::vector<float> out;
    float leastGuard = 1.0f;
    float lastGuard = 1.0f;
};

Loop runLoop(double loopGain, double seconds, double after) {
    MonitorEffect effect(kRate);
    effect.setVolume(50);
    effect.setEcho(0);
    // A resonator at 1 kHz with unit gain at its peak.
    const double r = 0.995, w = 2 * kPi * 1000 / kRate;
    const double a1 = 2 * r * std::cos(w), a2 = -r * r, g = (1 - r) * std::sqrt(1 - 2 * r * std::cos(2 * w) + r * r);
    double y1 = 0, y2 = 0;
    std::mt19937 random(7);
    std::normal_distribution<float> noise(0.0f, 0.002f);
    constexpr int kBlock = 128;
    std::vector<float> in(kBlock), out(kBlock, 0.0f);
    Loop loop;
    const int blocks = static_cast<int>((seconds + after) * kRate / kBlock);
    for (int b = 0; b < blocks; ++b) {
        const bool closed = b * kBlock < seconds * kRate;
        for (int i = 0; i < kBlock; ++i) {
            const double y = g * out[static_cast<std::size_t>(i)] + a1 * y1 + a2 * y2;
            y2 = y1;
            y1 = y;
            in[static_cast<std::size_t>(i)] = noise(random) + (closed ? static_cast<float>(loopGain * y) : 0.0f);
        }
        effect.process(in.data(), out.data(), kBlock);
        loop.out.insert(loop.out.end(), out.begin(), out.end());
        loop.leastGuard = std::min(loop.leastGuard, effect.guardGain());
    }
    loop.lastGuard = effect.guardGain();
    return loop;
}

float rms(const std::vector<float>& v, std::size_t from, std::size_t count) {
    double sum = 0;
    for (std::size_t i = from; i < from + count; ++i)
        sum += static_cast<double>(v[i]) * v[i];
    return static_cast<float>(std::sqrt(sum / static_cast<double>(count)));
}

TEST(MonitorEffect, AGrowingToneInALoopIsCutUntilItDiesAndTheGainComesBackAfter) {
    const Loop howl = runLoop(1.5, 3.0, 6.0);
    EXPECT_LT(howl.leastGuard, 0.25f);
    // It grew near full scale, then died: within a second of the first loud
    // 20 ms frame, a frame a hundred times quieter.
    const std::size_t frame = kRate / 50;
    std::size_t loud = 0;
    while (loud + frame <= howl.out.size() && rms(howl.out, loud, frame) < 0.3f)
        loud += frame;
    ASSERT_LT(loud, 3u * kRate);
    bool died = false;
    for (std::size_t at = loud; at < loud + kRate; at += frame)
        died = died || rms(howl.out, at, frame) < 0.003f;
    EXPECT_TRUE(died);
    EXPECT_GT(howl.lastGuard, 0.99f);  // back, slowly, once the loop was broken

    // A loop that loses, and a steady tone: nothing is cut.
    EXPECT_EQ(runLoop(0.5, 3.0, 0.0).leastGuard, 1.0f);
    MonitorEffect effect(kRate);
    std::vector<float> tone(3 * kRate);
    for (int i = 0; i < 3 * kRate; ++i)
        tone[static_cast<std::size_t>(i)] = 0.3f * static_cast<float>(std::sin(2 * kPi * 440 * i / kRate));
    run(effect, tone);
    EXPECT_EQ(effect.guardGain(), 1.0f);
}

}  // namespace
