// What the microphone's way to the speakers does to the voice, on buffers:
// an echo (a delay line with feedback and damping) mixed with the dry voice,
// the volume, a howl guard and a limiter.
//
//   - The echo repeats the voice kEchoDelayMs later, first at echoMix() of
//     its level, then each repeat echoFeedback() of the one before and
//     duller (a low-pass in the feedback); below 0.7 even at 100, so it
//     always dies away.
//   - The howl guard listens to the input: a microphone near a speaker
//     makes a loop, and a loop that gains makes one narrow tone that keeps
//     growing.  When one tone holds nearly all the input's energy and
//     has held and grown for kHowlMs, the path's gain halves at every
//     analysis frame until the tone has died, then comes back slowly
//     (kRecoverDbPerSecond).
//   - The limiter keeps every sample within kCeiling: instant gain
//     reduction, released over about kReleaseMs.
//
// setVolume()/setEcho() may be called from any thread while process() runs;
// process() runs on one thread, never allocates, never waits.
#pragma once

#include <atomic>
#include <memory>
#include <vector>

namespace vozaro::audio {

class MonitorEffect {
public:
    static constexpr int kEchoDelayMs = 150;
    static constexpr int kHowlMs = 300;
    static constexpr double kRecoverDbPerSecond = 10.0;
    static constexpr double kReleaseMs = 80.0;
    static constexpr float kCeiling = 0.98f;

    // Allocates every buffer for `sampleRate`.
    explicit MonitorEffect(int sampleRate);
    ~MonitorEffect();
    MonitorEffect(const MonitorEffect&) = delete;
    MonitorEffect& operator=(const MonitorEffect&) = delete;

    // 0..100, as stored: 50 leaves the voice's level as it is, 100 is four
    // times it, 0 silent.
    void setVolume(int percent) noexcept { volume_.store(percent); }
    // 0..100: 0 is no echo.
    void setEcho(int percent) noexcept { echo_.store(percent); }

    static float volumeGain(int percent) noexcept;
    static float echoMix(int percent) noexcept;
    static float echoFeedback(int percent) noexcept;

    void process(const float* in, float* out, int frames) noexcept;

    // The howl guard's gain now (1: not cutting).
    float guardGain() const noexcept { return guard_; }
    int sampleRate() const noexcept { return rate_; }

private:
    void analyse() noexcept;

    struct Spectrum;

    int rate_;
    std::atomic<int> volume_{50};
    std::atomic<int> echo_{30};
    float gain_ = -1.0f;  // the volume gain reached; negative before the first block

    // Echo.
    std::vector<float> line_;
    std::size_t at_ = 0;
    float damped_ = 0.0f;
    float damping_;

    // Limiter.
    float limit_ = 1.0f;
    float release_;

    // Howl guard.
    std::unique_ptr<Spectrum> spectrum_;
    std::vector<float> frame_;
    std::size_t filled_ = 0;
    int runBin_ = -1;
    int runFrames_ = 0;
    float runStart_ = 0.0f;
    float runLast_ = 0.0f;
    bool cutting_ = false;
    float guard_ = 1.0f;
    float guardTarget_ = 1.0f;
    float guardStep_;
    float recoverStep_;
};

}  // namespace vozaro::audio
