// Test signals for pitch detection: a sine, and a voice-like tone (a
// fundamental with falling harmonics), as signed 16-bit samples.
#pragma once

#include <cmath>
#include <cstdint>
#include <numbers>
#include <vector>

namespace vozaro::test {

inline double hertzOfNote(double note) { return 440.0 * std::pow(2.0, (note - 69.0) / 12.0); }
inline double noteOfHertz(double hertz) { return 69.0 + 12.0 * std::log2(hertz / 440.0); }

// Keeps the phase across calls, so that a melody of tones has no clicks.
class ToneWriter {
public:
    explicit ToneWriter(int sampleRate = 22050) : rate_(sampleRate) {}
    // Appends `count` samples of a tone at `hertz` (0: silence) with
    // `harmonics` partials (1: a sine), partial k at amplitude 1/k, peaking
    // near `level` (of full scale).
    void append(std::vector<std::int16_t>& out, double hertz, std::size_t count, int harmonics = 1,
                double level = 0.5) {
        double norm = 0;
        for (int k = 1; k <= harmonics; ++k)
            norm += 1.0 / k;
        for (std::size_t i = 0; i < count; ++i) {
            double value = 0;
            if (hertz > 0) {
                for (int k = 1; k <= harmonics; ++k)
                    if (k * hertz < rate_ / 2.0)
                        value += std::sin(k * phase_) / k;
                phase_ += 2 * std::numbers::pi * hertz / rate_;
                if (phase_ > 2 * std::numbers::pi)
                    phase_ -= 2 * std::numbers::pi;
            }
            out.push_back(static_cast<std::int16_t>(std::lround(32767.0 * level * value / norm)));
        }
    }

private:
    int rate_;
    double phase_ = 0;
};

inline std::vector<std::int16_t> toneSamples(double hertz, std::size_t count, int harmonics = 1, int sampleRate = 22050) {
    std::vector<std::int16_t> out;
    out.reserve(count);
    ToneWriter(sampleRate).append(out, hertz, count, harmonics);
    return out;
}

}  // namespace vozaro::test
