// Recording MIDI devices installed for a test's lifetime (ids 0 and 1).
#pragma once

namespace vozaro::test {

struct RecordingDevices {};

}  // namespace vozaro::test
