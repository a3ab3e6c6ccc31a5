// External MIDI output ports: the writable ports of the ALSA sequencer, in
// the order RtMidi lists them, never the program's own.  A machine without a
// sequencer simply has none.
#pragma once

#include "platform/devices/MidiDevices.h"

namespace vozaro::platform {

// The sequencer client name the program's own ports carry.
inline constexpr const char* kSequencerClientName = "Vozaro";

class RtMidiOutputPorts final : public MidiDeviceSet {
public:
    int deviceCount() override;
    std::string deviceName(int index) override;
    std::unique_ptr<MidiOutputDevice> openDevice(int index, std::string& why) override;
};

}  // namespace vozaro::platform
