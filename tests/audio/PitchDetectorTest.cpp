#include "audio/PitchDetector.h"

#include "audio/Tones.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <iostream>
#include <string>
#include <random>
#include <vector>

using vozaro::audio::HeardPitch;
using vozaro::audio::PitchDetector;
using vozaro::test::noteOfHertz;
using vozaro::test::toneSamples;

namespace {

constexpr std::size_t kBuffer = 512;  // one microphone buffer at 22050 Hz

// The pitch after every buffer of a signal fed buffer by buffer.
std::vector<HeardPitch> pitches(PitchDetector& detector, const std::vector<std::int16_t>& signal,
                                std::size_t buffer = kBuffer) {
    std::vector<HeardPitch> result;
    for (std::size_t at = 0; at + buffer <= signal.size(); at += buffer)
        result.push_back(detector.feed(signal.data() + at, buffer));
    return result;
}

struct ToneCase {
    double hertz;
    int harmonics;  // 1: a sine; more: a voice-like tone
};

void PrintTo(const ToneCase& c, std::ostream* out) { *out << c.hertz << " Hz x" << c.harmonics; }

class PitchAccuracy : public ::testing::TestWithParam<ToneCase> {};

// Every frame once the window holds the tone is detected, within 20 cents.
TEST_P(PitchAccuracy, DetectsTheToneWithin20Cents) {
    const ToneCase c = GetParam();
    PitchDetector detector;
    const auto heard = pitches(detector, toneSamples(c.hertz, 22050, c.harmonics));
    const std::size_t settled = PitchDetector::kWindow / kBuffer;  // the window is full from here
    ASSERT_GT(heard.size(), settled + 10);
    const double expected = noteOfHertz(c.hertz);
    std::size_t detected = 0;
    double worst = 0;
    for (std::size_t k = settled; k < heard.size(); ++k) {
        if (!heard[k].heard())
            continue;
        ++detected;
        worst = std::max(worst, std::abs(heard[k].note - expected) * 100);
    }
    EXPECT_EQ(detected, heard.size() - settled) << "frames without a confident pitch";
    EXPECT_LE(worst, 20.0) << "cents off at " << c.hertz << " Hz";
    RecordProperty("worst_cents", std::to_string(worst));
    std::cout << c.hertz << " Hz, " << c.harmonics << " partials: worst " << worst << " cents\n";
}

INSTANTIATE_TEST_SUITE_P(SinesAndVoices, PitchAccuracy,
                         ::testing::Values(ToneCase{80, 1}, ToneCase{98, 1}, ToneCase{147, 1}, ToneCase{220, 1},
                                           ToneCase{330, 1}, ToneCase{440, 1}, ToneCase{660, 1},
                                           ToneCase{1000, 1}, ToneCase{80, 8}, ToneCase{110, 8},
                                           ToneCase{165, 6}, ToneCase{262, 6}, ToneCase{392, 5},
                                           ToneCase{523, 4}, ToneCase{784, 3}, ToneCase{1000, 3}));

TEST(PitchDetector, SilenceAndNoiseGiveNoPitch) {
    PitchDetector detector;
    for (const HeardPitch& p : pitches(detector, std::vector<std::int16_t>(22050, 0)))
        EXPECT_FALSE(p.heard());

    std::mt19937 random(7);
    std::uniform_int_distribution<int> sample(-8000, 8000);
    std::vector<std::int16_t> noise(22050);
    for (auto& s : noise)
        s = static_cast<std::int16_t>(sample(random));
    const auto heard = pitches(detector, noise);
    const auto confident = std::count_if(heard.begin(), heard.end(), [](const HeardPitch& p) { return p.heard(); });
    EXPECT_LE(confident, static_cast<long>(heard.size() / 10)) << "white noise taken for a tone";
}

// Buffers of other sizes are gathered into hops; a new pitch is taken up.
TEST(PitchDetector, FollowsAChangeWhateverTheBufferSize) {
    for (std::size_t buffer : {std::size_t{100}, std::size_t{512}, std::size_t{1300}}) {
        PitchDetector detector;
        pitches(detector, toneSamples(220, 11025), buffer);
        EXPECT_NEAR(detector.last().note, 57.0, 0.2) << buffer;
        pitches(detector, toneSamples(330, 11025), buffer);
        EXPECT_NEAR(detector.last().note, noteOfHertz(330), 0.2) << buffer;
        detector.reset();
        EXPECT_FALSE(detector.last().heard());
        EXPECT_EQ(detector.last().note, 0);
    }
}

TEST(PitchDetector, NullBufferChangesNothing) {
    PitchDetector detector;
    pitches(detector, toneSamples(440, 8192));
    const HeardPitch before = detector.last();
    detector.feed(nullptr, 512);
    EXPECT_EQ(detector.last().note, before.note);
}

}  // namespace
