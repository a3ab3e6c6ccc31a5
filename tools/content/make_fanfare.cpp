// Synthesizes "nota.wav", the fanfare played when a singer's score is
// announced: a brass flourish rising G-C-E-G and a held C major chord, about
// two seconds, 44 100 Hz stereo, with a little room added.
// Usage: make_fanfare OUTPUT.wav
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <vector>

#include "platform/WaveWriter.h"

namespace {

constexpr int kRate = 44100;
constexpr double kPi = 3.14159265358979323846;

double frequency(int midiNote) { return 440.0 * std::pow(2.0, (midiNote - 69) / 12.0); }

// One brass note: a harmonic series whose upper partials open up with the
// attack and close again as the note fades, with a late vibrato.
void brass(std::vector<double>& out, double start, double length, int note, double level, double pan,
           std::vector<double>& right) {
    const double f = frequency(note);
    const int first = static_cast<int>(start * kRate);
    const int count = static_cast<int>((length + 0.25) * kRate);
    double phase = 0.0;
    for (int i = 0; i < count && first + i < static_cast<int>(out.size()); ++i) {
        const double t = static_cast<double>(i) / kRate;
        // Attack, a slight fall to the sustain, and a release that starts
        // from wherever the note has got to, so nothing jumps (a jump clicks).
        const double held = std::min(t, length);
        double env = std::min(1.0, t / 0.025) * (0.85 + 0.15 * std::exp(-held * 12.0));
        const double opening = std::exp(-held * 1.5) * 0.6 + 0.4;
        if (t > length)
            env *= std::exp(-(t - length) * 22.0);
        const double brightness = 0.25 + 0.75 * env * opening;
        const double vibrato = t > 0.3 ? 0.004 * std::sin(2 * kPi * 5.5 * t) * std::min(1.0, (t - 0.3) * 3) : 0.0;
        phase += 2 * kPi * f * (1.0 + vibrato) / kRate;
        double sample = 0.0;
        for (int k = 1; k <= 14 && k * f < kRate / 2.2; ++k)
            sample += std::sin(k * phase) * std::pow(brightness, k - 1) / k;
        sample *= env * level;
        out[first + i] += sample * (1.0 - pan);
        right[first + i] += sample * pan;
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_fanfare OUTPUT.wav\n");
        return 2;
    }
    const double total = 2.2;
    std::vector<double> left(static_cast<std::size_t>(total * kRate)), right(left.size());
    // The flourish: three quick notes and a longer fourth, then the chord.
    const struct { double start, length; int note; } notes[] = {
        {0.00, 0.11, 67}, {0.13, 0.11, 72}, {0.26, 0.11, 76}, {0.39, 0.30, 79},
        {0.72, 0.10, 76}, {0.84, 1.00, 79}, {0.84, 1.00, 76}, {0.84, 1.00, 72}, {0.84, 1.00, 60}};
    int voice = 0;
    for (const auto& n : notes)
        brass(left, n.start, n.length, n.note, n.note < 64 ? 0.30 : 0.22, 0.35 + 0.1 * (voice++ % 4), right);

    // A small room: a few feedback echoes, different in each ear.
    for (auto [channel, delays] : {std::pair{&left, std::vector<int>{1557, 2617, 3491}},
                                   std::pair{&right, std::vector<int>{1789, 2903, 3331}}}) {
        std::vector<double> wet(channel->size());
        for (int d : delays)
            for (std::size_t i = d; i < wet.size(); ++i)
                wet[i] += 0.22 * ((*channel)[i - d] + wet[i - d] * 0.45);
        for (std::size_t i = 0; i < wet.size(); ++i)
            (*channel)[i] += wet[i] * 0.35;
    }

    // Fade out the tail and bring the peak to -12 dB: about as loud as the
    // built-in synthesizer's songs, a little above them.
    double peak = 1e-9;
    for (std::size_t i = 0; i < left.size(); ++i)
        peak = std::max({peak, std::abs(left[i]), std::abs(right[i])});
    const double gain = 0.25 / peak;
    std::vector<float> samples(left.size() * 2);
    for (std::size_t i = 0; i < left.size(); ++i) {
        const double t = static_cast<double>(i) / kRate;
        const double fade = t > total - 0.3 ? (total - t) / 0.3 : 1.0;
        samples[2 * i] = static_cast<float>(left[i] * gain * fade);
        samples[2 * i + 1] = static_cast<float>(right[i] * gain * fade);
    }
    const std::string error = vozaro::platform::writeWaveFile(argv[1], samples, kRate, 2);
    if (!error.empty()) {
        std::fprintf(stderr, "make_fanfare: %s: %s\n", argv[1], error.c_str());
        return 1;
    }
    return 0;
}
