// The test double of the MIDI output devices: a set of devices that keep
// every message with the time it arrived, and every open, reset, wait for
// system exclusive buffers (without sleeping) and close.
//
// Install it for the whole process with ScopedMidiDevices:
//     auto recorder = std::make_shared<RecordingMidiDevices>(2);
//     ScopedMidiDevices devices(recorder);
// Device ids 0 and 1 (and -1, the last) then open recording devices.
//
// Recording never allocates: the log has a fixed capacity, and entries beyond
// it are counted but not kept.
#pragma once

#include "platform/devices/MidiDevices.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

namespace vozaro::platform {

struct RecordedMidiEvent {
    enum class Kind : std::uint8_t { Open, Message, Reset, Wait, Close };
    Kind kind;
    int device;
    std::uint32_t message;  // Message: packed as packShortMessage() packs it; Wait: milliseconds
    std::int64_t time;      // the recorder's clock when it arrived
    bool operator==(const RecordedMidiEvent&) const = default;
};

class RecordingMidiDevices final : public MidiDeviceSet,
                                   public std::enable_shared_from_this<RecordingMidiDevices> {
public:
    // The time of an entry; by default nanoseconds of the steady clock.  A
    // test with a clock of its own passes it here (called under the
    // recorder's lock, on whatever thread sends).
    using Clock = std::function<std::int64_t()>;

    explicit RecordingMidiDevices(int deviceCount = 1, Clock clock = {}, std::size_t capacity = 1 << 16);

    int deviceCount() override { return deviceCount_; }
    // "Gravador MIDI 1", "Gravador MIDI 2", ...
    std::string deviceName(int index) override;
    std::unique_ptr<MidiOutputDevice> openDevice(int index, std::string& why) override;

    // Makes opening a device fail (a device that is gone or busy).
    void setOpenFails(int index, bool fails);

    std::vector<RecordedMidiEvent> events() const;
    // The messages sent to one device, in order, without their times.
    std::vector<std::uint32_t> messages(int device) const;
    // The waits for system exclusive buffers a device was given.
    int waits(int device) const;
    // Handles of the device open right now.
    int openHandles(int device) const;
    // Every entry, kept or not, since the last clear().
    std::size_t entryCount() const;
    void clear();

private:
    class Handle;
    void record(RecordedMidiEvent::Kind kind, int device, std::uint32_t message);

    const int deviceCount_;
    const Clock clock_;
    const std::size_t capacity_;
    mutable std::mutex mutex_;
    std::vector<RecordedMidiEvent> log_;
    std::size_t entryCount_ = 0;
    std::vector<int> openHandles_;
    std::vector<bool> openFails_;
};

}  // namespace vozaro::platform
