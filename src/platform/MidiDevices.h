// MIDI output devices: the external ports of the system and, always last, the
// built-in General MIDI synthesizer.
#pragma once

#include <cstdint>

namespace vozaro::platform {

// Volume and mute of the built-in synthesizer as the mixer shows them (its
// line on the playback side).  Volume runs 0..65535 like every mixer volume.
// The values are kept even while no synthesizer exists and apply when one is
// created.  Any thread.
void setBuiltinSynthVolume(std::uint16_t volume);
std::uint16_t builtinSynthVolume();
void setBuiltinSynthMute(bool mute);
bool builtinSynthMute();

}  // namespace vozaro::platform
