// The built-in synthesizer's engine at full gain, rendering into memory, for
// the tests that listen to it.  Null when no General MIDI SoundFont loads;
// skipReason then says what to install.  And where notes start in what it
// rendered.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "platform/MidiDeviceFluidSynth.h"

namespace vozaro::test {

inline std::unique_ptr<platform::FluidSynthEngine> fullGainEngine(std::string& skipReason) {
    std::string why;
    auto engine = platform::FluidSynthEngine::create({}, why);
    if (engine)
        engine->setGain(platform::kBuiltinSynthFullGain);
    else
        skipReason = "no General MIDI SoundFont (install timgm6mb-soundfont): " + why;
    return engine;
}

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
