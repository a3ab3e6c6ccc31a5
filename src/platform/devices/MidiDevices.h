// MIDI output devices: the external ports of the system and, always last, the
// built-in General MIDI synthesizer.
//
// Devices are numbered 0 to n - 1 in the order the configuration window lists
// them: first the writable ports of the ALSA sequencer (never our own), then
// the built-in synthesizer.  Device -1, the MIDI mapper, is the last device,
// so on the system's devices it is the built-in synthesizer.  Tests replace
// the whole list with a recording device set (tests/support/RecordingMidiDevices.h).
//
// Nothing here throws: a device that cannot be opened gives a null handle and
// a readable reason.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace vozaro::platform {

// The device id that stands for the MIDI mapper.
inline constexpr int kMidiMapper = -1;
// Device names are cut to this many characters.
inline constexpr std::size_t kMidiDeviceNameLength = 31;

// Packs a short message as it goes over the wire: status in the lowest byte,
// then the first and the second data byte.
constexpr std::uint32_t packShortMessage(std::uint8_t status, std::uint8_t data1, std::uint8_t data2) {
    return std::uint32_t{status} | std::uint32_t{data1} << 8 | std::uint32_t{data2} << 16;
}

// An open MIDI output device; destroying it closes the device.
//
// thread: any thread may call; callers serialise the calls on one handle (the
// MIDI ports hold a mutex around them).  Neither call allocates or throws.
class MidiOutputDevice {
public:
    virtual ~MidiOutputDevice() = default;
    // Sends one channel or short system message packed by packShortMessage().
    virtual void sendShortMessage(std::uint32_t message) noexcept = 0;
    // Sends a message the song wants heard at dueUs on the system's
    // monotonic clock (monotonicMicros(), or the player's timer service in
    // tests).  A device with a sample clock of its own (the built-in
    // synthesizer) plays it exactly latencyUs() after that time; any other
    // device sends it at once, as sendShortMessage does.
    virtual void sendShortMessageAt(std::uint32_t message, std::uint64_t dueUs) noexcept {
        (void)dueUs;
        sendShortMessage(message);
    }
    // The fixed delay between an event's due time and its sound that this
    // device adds; 0 for devices that send at once.
    virtual std::int64_t latencyUs() const noexcept { return 0; }
    // Silences every sounding note on all 16 channels without changing
    // programs.  Anything still waiting for its time on the device is
    // dropped (note-ons) or takes effect at once (everything else), and so it
    // is before a message sent with sendShortMessage.
    virtual void reset() noexcept = 0;
    // Gives system exclusive buffers still with the device `ms` milliseconds
    // to finish before it is closed: one wait, taken once per device when its
    // last port lets go of it.  The system's devices sleep; the recording
    // double notes the wait instead.
    virtual void waitForSystemExclusive(int ms) noexcept;
};

// A family of devices behind one back end.
class MidiDeviceSet {
public:
    virtual ~MidiDeviceSet() = default;
    virtual int deviceCount() = 0;
    // UTF-8, not yet cut; empty when the index is not a device.
    virtual std::string deviceName(int index) = 0;
    // A null handle when the device cannot be opened; why then says what failed.
    virtual std::unique_ptr<MidiOutputDevice> openDevice(int index, std::string& why) = 0;
};

// The devices the program sees (the system's, or the installed ones).
int midiOutputDeviceCount();
// The name of device id, cut to kMidiDeviceNameLength characters; empty when
// there is no such device.
std::string midiOutputDeviceName(int id);
// Opens device id (kMidiMapper: the last device).  Null when it cannot be
// opened; why, when given, then gets the reason.
std::unique_ptr<MidiOutputDevice> openMidiOutputDevice(int id, std::string* why = nullptr);

// Replaces the device list for the whole process and returns the previous
// replacement; null restores the system's devices.  Handles already open stay
// valid.
std::shared_ptr<MidiDeviceSet> installMidiDevices(std::shared_ptr<MidiDeviceSet> devices);

// Installs a device list for its lifetime (tests).
class ScopedMidiDevices {
public:
    explicit ScopedMidiDevices(std::shared_ptr<MidiDeviceSet> devices)
        : previous_(installMidiDevices(std::move(devices))) {}
    ~ScopedMidiDevices() { installMidiDevices(std::move(previous_)); }
    ScopedMidiDevices(const ScopedMidiDevices&) = delete;
    ScopedMidiDevices& operator=(const ScopedMidiDevices&) = delete;

private:
    std::shared_ptr<MidiDeviceSet> previous_;
};

// Volume and mute of the built-in synthesizer as the mixer shows them (its
// line on the playback side).  Volume runs 0..65535 like every mixer volume.
// The values are kept even while no synthesizer exists and apply when one is
// created; while one exists they change its gain at once.  Any thread.
void setBuiltinSynthVolume(std::uint16_t volume);
std::uint16_t builtinSynthVolume();
void setBuiltinSynthMute(bool mute);
bool builtinSynthMute();
// The synthesizer gain the volume and mute above stand for: 0 when muted,
// otherwise proportional to the volume, kBuiltinSynthFullGain at 65535.
float builtinSynthGain();
inline constexpr float kBuiltinSynthFullGain = 0.2f;

}  // namespace vozaro::platform
