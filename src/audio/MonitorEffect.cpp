#include "audio/MonitorEffect.h"

#include <aubio/aubio.h>

#include <algorithm>
#include <cmath>

namespace vozaro::audio {

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr float kDampingHz = 3000.0f;
constexpr float kQuiet = 1e-3f;      // input RMS below which nothing howls
constexpr float kNarrow = 0.8f;      // share of the energy in one tone
constexpr float kGrown = 1.25f;      // a howl's growth over its run
constexpr float kHolding = 0.9f;     // the least a howl keeps from frame to frame
constexpr float kLeastGuard = 1e-3f;

// The analysis frame: the power of two nearest 20 ms.
std::size_t frameFor(int rate) {
    std::size_t n = 64;
    while (n * 2 <= static_cast<std::size_t>(rate) / 50 * 3 / 2)
        n *= 2;
    return n;
}

}  // namespace

struct MonitorEffect::Spectrum {
    explicit Spectrum(std::size_t size)
        : fft(new_aubio_fft(static_cast<uint_t>(size))),
          window(new_aubio_window(const_cast<char*>("hanningz"), static_cast<uint_t>(size))),
          in(new_fvec(static_cast<uint_t>(size))),
          out(new_cvec(static_cast<uint_t>(size))) {}
    ~Spectrum() {
        if (fft) del_aubio_fft(fft);
        if (window) del_fvec(window);
        if (in) del_fvec(in);
        if (out) del_cvec(out);
    }
    bool usable() const { return fft && window && in && out; }
    aubio_fft_t* fft;
    fvec_t* window;
    fvec_t* in;
    cvec_t* out;
};

MonitorEffect::MonitorEffect(int sampleRate)
    : rate_(std::max(sampleRate, 8000)),
      line_(static_cast<std::size_t>(rate_) * kEchoDelayMs / 1000),
      damping_(static_cast<float>(1.0 - std::exp(-2.0 * kPi * kDampingHz / rate_))),
      release_(static_cast<float>(1.0 - std::exp(-1000.0 / (kReleaseMs * rate_)))),
      spectrum_(std::make_unique<Spectrum>(frameFor(rate_))),
      frame_(frameFor(rate_)),
      guardStep_(static_cast<float>(1.0 - std::exp(-1000.0 / (10.0 * rate_)))) {
    const double frameSeconds = static_cast<double>(frame_.size()) / rate_;
    recoverStep_ = static_cast<float>(std::pow(10.0, kRecoverDbPerSecond * frameSeconds / 20.0));
    if (!spectrum_->usable())
        spectrum_.reset();
}

MonitorEffect::~MonitorEffect() = default;

float MonitorEffect::volumeGain(int percent) noexcept {
    const float v = static_cast<float>(std::clamp(percent, 0, 100)) / 50.0f;
    return v * v;
}

float MonitorEffect::echoMix(int percent) noexcept {
    return 0.7f * static_cast<float>(std::clamp(percent, 0, 100)) / 100.0f;
}

float MonitorEffect::echoFeedback(int percent) noexcept {
    return 0.65f * static_cast<float>(std::clamp(percent, 0, 100)) / 100.0f;
}

void MonitorEffect::process(const float* in, float* out, int frames) noexcept {
    const int echo = echo_.load();
    const float mix = echoMix(echo);
    const float feedback = echoFeedback(echo);
    // The volume glides over the block, so that moving its slider does not click.
    const float target = volumeGain(volume_.load());
    const float from = gain_ < 0.0f ? target : gain_;
    const float glide = frames > 0 ? (target - from) / static_cast<float>(frames) : 0.0f;
    for (int i = 0; i < frames; ++i) {
        const float x = std::isfinite(in[i]) ? in[i] : 0.0f;
        frame_[filled_++] = x;
        if (filled_ == frame_.size()) {
            analyse();
            filled_ = 0;
        }
        const float repeat = line_[at_];
        damped_ += damping_ * (repeat - damped_);
        line_[at_] = x + feedback * damped_;
        at_ = at_ + 1 == line_.size() ? 0 : at_ + 1;

        guard_ += guardStep_ * (guardTarget_ - guard_);
        float y = (x + mix * repeat) * (from + glide * static_cast<float>(i + 1)) * guard_;
        limit_ += release_ * (1.0f - limit_);
        const float size = std::fabs(y);
        if (size * limit_ > kCeiling)
            limit_ = kCeiling / size;
        y *= limit_;
        out[i] = std::clamp(y, -kCeiling, kCeiling);
    }
    gain_ = target;
}

// One analysis frame of the input: is one tone holding and growing in it?
void MonitorEffect::analyse() noexcept {
    if (!spectrum_)
        return;
    const std::size_t n = frame_.size();
    float energy = 0.0f;
    for (std::size_t i = 0; i < n; ++i) {
        spectrum_->in->data[i] = frame_[i] * spectrum_->window->data[i];
        energy += frame_[i] * frame_[i];
    }
    const float rms = std::sqrt(energy / static_cast<float>(n));
    int peak = -1;
    float share = 0.0f;
    float level = 0.0f;
    if (rms >= kQuiet) {
        aubio_fft_do(spectrum_->fft, spectrum_->in, spectrum_->out);
        const int bins = static_cast<int>(spectrum_->out->length);
        const smpl_t* norm = spectrum_->out->norm;
        float total = 0.0f;
        for (int k = 1; k < bins; ++k) {
            total += norm[k] * norm[k];
            if (peak < 0 || norm[k] > norm[peak])
                peak = k;
        }
        float around = 0.0f;
        for (int k = std::max(1, peak - 2); k <= std::min(bins - 1, peak + 2); ++k)
            around += norm[k] * norm[k];
        share = total > 0.0f ? around / total : 0.0f;
        level = norm[peak];
    }
    const bool tone = peak > 0 && share >= kNarrow;
    const bool same = tone && runBin_ >= 0 && std::abs(peak - runBin_) <= 1;

    if (cutting_) {
        // Down until the tone has gone, whatever its level does meanwhile.
        if (same) {
            guardTarget_ = std::max(guardTarget_ * 0.5f, kLeastGuard);
            runBin_ = peak;
            return;
        }
        cutting_ = false;
        runBin_ = -1;
        runFrames_ = 0;
    }
    if (same && level >= kHolding * runLast_) {
        // Growth counts from the run's second frame: the first may hold the
        // tone's onset, a part of a frame only.
        if (++runFrames_ == 2)
            runStart_ = level;
        runLast_ = level;
    } else {
        runBin_ = tone ? peak : -1;
        runFrames_ = tone ? 1 : 0;
        runStart_ = runLast_ = level;
    }
    if (tone)
        runBin_ = peak;
    const double held = static_cast<double>(runFrames_) * static_cast<double>(n) / rate_;
    if (held * 1000.0 >= kHowlMs && runLast_ >= kGrown * runStart_) {
        cutting_ = true;
        guardTarget_ = std::max(guardTarget_ * 0.5f, kLeastGuard);
        return;
    }
    guardTarget_ = std::min(1.0f, guardTarget_ * recoverStep_);
}

}  // namespace vozaro::audio
