// The built-in synthesizer's engine at full gain, rendering into memory, for
// the tests that listen to it: a fixture that skips, saying what to install,
// when no General MIDI SoundFont loads.  And where notes start in what it
// rendered.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/devices/MidiDeviceFluidSynth.h"

namespace vozaro::test {

class BuiltinSynthEngineTest : public ::testing::Test {
protected:
    // Derived fixtures call this first and stop when it skipped (no engine).
    void SetUp() override {
        std::string why;
        engine = platform::FluidSynthEngine::create({}, why);
        if (!engine)
            GTEST_SKIP() << "no General MIDI SoundFont (install timgm6mb-soundfont): " << why;
        engine->setGain(platform::kBuiltinSynthFullGain);
    }

    std::unique_ptr<platform::FluidSynthEngine> engine;
};

// Frames of interleaved stereo where the sound rises above threshold after
// at least quietFrames below it.
inline std::vector<std::int64_t> onsets(const std::vector<std::int16_t>& stereo, int threshold, int quietFrames) {
    std::vector<std::int64_t> found;
    int quiet = quietFrames;
    for (std::size_t frame = 0; 2 * frame < stereo.size(); ++frame) {
        const int level = std::max(std::abs(int{stereo[2 * frame]}), std::abs(int{stereo[2 * frame + 1]}));
        if (level > threshold) {
            if (quiet >= quietFrames)
                found.push_back(static_cast<std::int64_t>(frame));
            quiet = 0;
        } else {
            ++quiet;
        }
    }
    return found;
}

}  // namespace vozaro::test
