// Recording MIDI devices (ids 0 and 1) installed for a test's lifetime, and
// a way to close the ports of track outputs without their usual wait.
#pragma once

#include "midi/cmpTrackOutputs.h"
#include "support/RecordingMidiDevices.h"

#include <memory>

namespace vozaro::test {

struct RecordingDevices {
    std::shared_ptr<platform::RecordingMidiDevices> recorder =
        std::make_shared<platform::RecordingMidiDevices>(2);
    platform::ScopedMidiDevices scope{recorder};
};

// No system exclusive buffers are ever queued in these tests: destroying a
// port need not sleep for them.
inline void closeWithoutWaiting(midi::TTrackOutputs& outputs) {
    for (std::int32_t i = 0; i < outputs.Count(); ++i)
        outputs.Outputs(i)->Port()->setSysexLatency(0);
    outputs.setActive(false);
}

}  // namespace vozaro::test
