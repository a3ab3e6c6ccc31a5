// MIDI output ports.  A TMidiOutputPort is a logical port naming a MIDI output
// device by its PortId (every track of a playing song has its own).  Logical
// ports naming the same device share one TPhysicalOutputPort, which owns the
// open device: it is opened when the first logical port for its device
// becomes active and closed when the last one is deactivated.  The physical
// ports live in the process-wide registry PhysicalPorts.
//
// Messages go out exactly as stored in the song: no transposition, scaling or
// channel mapping.  Each logical port counts the notes it switched on, so
// silencing sends note offs for exactly those; each physical port remembers
// per channel the last value of every controller and the last program, so a
// controller reset sends only what differs from the defaults and a program
// change already in effect is skipped.
//
// Threads: activation, PortId and destruction on the user-interface thread,
// never while another thread sends through the same port.  SendEvent,
// AllNotesOff, ResetControllers and SetPatch may run on the player's timer
// thread and the user-interface thread at once: each physical port serialises
// them with a mutex, and none of them allocates or throws.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "midi/unitMidiTrackStream.h"
#include "platform/devices/MidiDevices.h"

namespace vozaro::midi {

// "Unable to open port": the device of a port could not be opened; reason()
// says why, in the device's own words.
class EMidiOutputPort : public std::runtime_error {
public:
    explicit EMidiOutputPort(const std::string& message, std::string reason = {})
        : std::runtime_error(message), reason_(std::move(reason)) {}
    const std::string& reason() const noexcept { return reason_; }

private:
    std::string reason_;
};

inline constexpr int kMidiChannels = 16;
inline constexpr int kMidiControllers = 128;
inline constexpr int kMidiNotes = 128;

// The controller values of a freshly opened device: all 0 except volume (7)
// 90, pan (10) 64, expression (11) 127 and effect depth (91) 40.
inline constexpr std::array<std::int32_t, kMidiControllers> DefaultControllerValues = [] {
    std::array<std::int32_t, kMidiControllers> values{};
    values[7] = 90;
    values[10] = 64;
    values[11] = 127;
    values[91] = 40;
    return values;
}();

class TMidiOutputPort;

// One open device shared by the logical ports naming it.  Created and
// destroyed by the logical ports (and the clean-up at process end) only.
class TPhysicalOutputPort {
public:
    TPhysicalOutputPort(const TPhysicalOutputPort&) = delete;
    TPhysicalOutputPort& operator=(const TPhysicalOutputPort&) = delete;

    // The open output device.
    vozaro::platform::MidiOutputDevice* Handle() const noexcept { return handle_.get(); }
    // The device id it was opened with.
    std::int32_t DeviceId() const noexcept { return deviceId_; }
    // Its index in PhysicalPorts.
    std::int32_t RegistrySlot() const noexcept { return registrySlot_; }
    // The logical ports using it, nullptr for a free slot; a port's Slot is
    // its index here.  User-interface thread.
    const std::vector<TMidiOutputPort*>& Ports() const noexcept { return ports_; }

    // Last program sent on a channel; 0 after opening.
    std::uint8_t Programs(int channel) const;
    // Last value sent for a controller of a channel; DefaultControllerValues
    // after opening.
    std::int32_t Controllers(int channel, int controller) const;

    // Puts every controller of every channel that differs from its default
    // back to it, one message each.  thread: any.
    void ResetControllers() noexcept;
    // Selects a program on a channel unless the channel already has it.
    // thread: any.
    void SetPatch(std::uint8_t program, std::uint8_t channel) noexcept;

private:
    friend class TMidiOutputPort;
    friend struct PhysicalPortRegistry;

    // Registers, attaches the first port at slot 0, opens the device; throws
    // EMidiOutputPort, unregistered again, when the device does not open.
    // Called with the registry lock held.
    TPhysicalOutputPort(std::int32_t deviceId, TMidiOutputPort* firstPort);
    // Resets the device, gives it closeWait_ milliseconds for system
    // exclusive buffers, closes it, frees its registry slot and the registry
    // when that was the last.  Called with the registry lock held.
    ~TPhysicalOutputPort();

    std::int32_t attach(TMidiOutputPort* port);
    // Frees a slot; true when no port is attached any more.
    bool detach(std::int32_t slot);
    // Sends one packed message and updates the memories; mutex_ held.
    // With a due time the device places it at that time.
    void sendLocked(TMidiOutputPort& from, std::uint32_t message) noexcept;
    void sendLocked(TMidiOutputPort& from, std::uint32_t message, const std::uint64_t* dueUs) noexcept;
    void resetControllersLocked() noexcept;

    std::unique_ptr<vozaro::platform::MidiOutputDevice> handle_;
    const std::int32_t deviceId_;
    std::int32_t registrySlot_ = -1;
    std::int32_t closeWait_ = 0;  // set by the port that closes the device
    std::vector<TMidiOutputPort*> ports_;
    mutable std::mutex mutex_;  // guards the device, the memories and the note counts of attached ports
    std::array<std::uint8_t, kMidiChannels> programs_{};
    std::array<std::array<std::int32_t, kMidiControllers>, kMidiChannels> controllers_;
};

// The registry of physical ports in slot order, nullptr for a free slot; null
// itself while no physical port exists.  User-interface thread.
const std::vector<TPhysicalOutputPort*>* PhysicalPorts() noexcept;

class TMidiOutputPort {
public:
    TMidiOutputPort() = default;
    // Deactivates, and waits SysexLatency milliseconds for system exclusive
    // buffers: through the device when this port is the last to let go of
    // it, so that closing the many ports of a song costs one wait per device
    // and not one per track; an inactive port sleeps it itself; a port whose
    // device stays open for other ports does not wait.
    ~TMidiOutputPort();
    TMidiOutputPort(const TMidiOutputPort&) = delete;
    TMidiOutputPort& operator=(const TMidiOutputPort&) = delete;

    // The device id (-1: the MIDI mapper).  Changing it moves an active port
    // to the new device: the old one gets its notes silenced and controllers
    // reset first.  May throw EMidiOutputPort, leaving the port inactive.
    std::int32_t PortId() const noexcept { return portId_; }
    void setPortId(std::int32_t value);

    // true while attached to a physical port.  Activating opens the device
    // unless another port already has it open, and throws EMidiOutputPort
    // "Unable to open port" when it cannot be opened (the port stays
    // inactive).  Deactivating silences this port's notes, resets the
    // device's controllers and closes the device with its last port.
    bool Active() const noexcept { return physicalPort_.load(std::memory_order_acquire) != nullptr; }
    void setActive(bool value);

    // Milliseconds slept per step while destruction waits for system
    // exclusive buffers; 50 by default.
    std::int32_t SysexLatency() const noexcept { return sysexLatency_; }
    void setSysexLatency(std::int32_t value) noexcept { sysexLatency_ = value; }

    TPhysicalOutputPort* PhysicalPort() const noexcept { return physicalPort_.load(std::memory_order_acquire); }
    // Its index in the physical port's list of attached ports.
    std::int32_t Slot() const noexcept { return slot_; }
    // The device handle while active, otherwise nullptr.
    vozaro::platform::MidiOutputDevice* Handle() const noexcept;
    // Note-ons sent through this port minus note-offs, never below 0.
    std::int32_t NoteCounts(int channel, int note) const;

    // Sends one channel message (its first four bytes, status lowest) and
    // remembers its effect.  Anything from status 0xF0 up, and anything on an
    // inactive port, is dropped.  thread: any; this is the player's timer
    // thread's call for every event.
    void SendEvent(const TEventData& message) noexcept;
    // The same for a message due at dueUs on the player's microsecond clock:
    // a device with a sample clock of its own plays it then, plus its fixed
    // latency; any other sends it at once.
    void SendEventAt(const TEventData& message, std::uint64_t dueUs) noexcept;
    // The fixed latency of the device while active (0 when inactive or
    // when the device sends at once).
    std::int64_t LatencyUs() const noexcept;
    // Sends a note off for every note this port has switched on, as many as
    // are outstanding, and releases a held sustain pedal.  thread: any.
    void AllNotesOff() noexcept;
    // TPhysicalOutputPort::ResetControllers of its device.  thread: any.
    void ResetControllers() noexcept;
    // TPhysicalOutputPort::SetPatch of its device.  thread: any.
    void SetPatch(std::uint8_t program, std::uint8_t channel) noexcept;

private:
    friend class TPhysicalOutputPort;
    friend struct PhysicalPortRegistry;

    void send(const TEventData& message, const std::uint64_t* dueUs) noexcept;
    // Deactivates; the device, when this port closes it, first waits
    // closeWait milliseconds for system exclusive buffers.
    void deactivate(std::int32_t closeWait);

    std::int32_t portId_ = 0;
    std::int32_t sysexLatency_ = 50;
    std::atomic<TPhysicalOutputPort*> physicalPort_{nullptr};
    std::int32_t slot_ = -1;
    // Guarded by the physical port's mutex while active.
    std::array<std::array<std::int32_t, kMidiNotes>, kMidiChannels> noteCounts_{};
};

}  // namespace vozaro::midi
