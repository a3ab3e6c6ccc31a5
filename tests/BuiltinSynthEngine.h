// The built-in synthesizer's engine at full gain, rendering into memory, for
// the tests that listen to it.  Null when no General MIDI SoundFont loads;
// skipReason then says what to install.
#pragma once

#include <memory>
#include <string>

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

}  // namespace vozaro::test
