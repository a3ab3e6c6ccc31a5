#include "platform/MidiDevices.h"

#include <atomic>

namespace vozaro::platform {

namespace {
std::atomic<std::uint16_t> synthVolume{65535};
std::atomic<bool> synthMute{false};
}  // namespace

void setBuiltinSynthVolume(std::uint16_t volume) { synthVolume.store(volume); }
std::uint16_t builtinSynthVolume() { return synthVolume.load(); }
void setBuiltinSynthMute(bool mute) { synthMute.store(mute); }
bool builtinSynthMute() { return synthMute.load(); }

}  // namespace vozaro::platform
