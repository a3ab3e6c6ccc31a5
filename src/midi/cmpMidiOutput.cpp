#include "midi/cmpMidiOutput.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace vozaro::midi {

namespace {

constexpr const char* kUnableToOpenPort = "Unable to open port";

// Lists with free slots (nullptr), as the registry and the physical ports
// keep them: an entry takes the first free slot, else a new one at the end.
template <typename T>
std::int32_t takeSlot(std::vector<T*>& list, T* entry) {
    auto free = std::find(list.begin(), list.end(), nullptr);
    if (free == list.end())
        free = list.insert(list.end(), entry);
    *free = entry;
    return static_cast<std::int32_t>(free - list.begin());
}

template <typename T>
bool allSlotsFree(const std::vector<T*>& list) {
    return std::all_of(list.begin(), list.end(), [](const T* entry) { return entry == nullptr; });
}

}  // namespace

// The process-wide list of physical ports.  It exists while at least one
// physical port does; at process end every physical port still registered is
// destroyed, which resets and closes its device.
struct PhysicalPortRegistry {
    std::mutex mutex;
    std::unique_ptr<std::vector<TPhysicalOutputPort*>> ports;

    ~PhysicalPortRegistry() {
        std::lock_guard lock(mutex);
        while (ports) {
            TPhysicalOutputPort* physical = *std::find_if(ports->begin(), ports->end(), [](auto* p) { return p; });
            // Ports still attached become inactive rather than dangle.
            for (TMidiOutputPort* port : physical->ports_) {
                if (port)
                    port->physicalPort_.store(nullptr, std::memory_order_release);
            }
            delete physical;  // frees the list with the last one
        }
    }

    std::int32_t add(TPhysicalOutputPort* physical) {
        if (!ports)
            ports = std::make_unique<std::vector<TPhysicalOutputPort*>>();
        return takeSlot(*ports, physical);
    }

    void remove(std::int32_t slot) {
        if (!ports || slot < 0 || slot >= static_cast<std::int32_t>(ports->size()))
            return;
        (*ports)[static_cast<std::size_t>(slot)] = nullptr;
        if (allSlotsFree(*ports))
            ports.reset();
    }

    TPhysicalOutputPort* find(std::int32_t deviceId) const {
        if (ports) {
            for (TPhysicalOutputPort* physical : *ports) {
                if (physical && physical->DeviceId() == deviceId)
                    return physical;
            }
        }
        return nullptr;
    }
};

namespace {
PhysicalPortRegistry registry;
}  // namespace

const std::vector<TPhysicalOutputPort*>* PhysicalPorts() noexcept { return registry.ports.get(); }

// --- TPhysicalOutputPort -------------------------------------------------------

TPhysicalOutputPort::TPhysicalOutputPort(std::int32_t deviceId, TMidiOutputPort* firstPort) : deviceId_(deviceId) {
    ports_.push_back(firstPort);
    controllers_.fill(DefaultControllerValues);
    registrySlot_ = registry.add(this);
    std::string why;
    try {
        handle_ = vozaro::platform::openMidiOutputDevice(deviceId, &why);
    } catch (...) {
        registry.remove(registrySlot_);
        throw;
    }
    if (!handle_) {
        registry.remove(registrySlot_);
        throw EMidiOutputPort(kUnableToOpenPort, why);
    }
    firstPort->slot_ = 0;
}

TPhysicalOutputPort::~TPhysicalOutputPort() {
    {
        std::lock_guard lock(mutex_);
        handle_->reset();
        if (closeWait_ > 0)
            handle_->waitForSystemExclusive(closeWait_);
        handle_.reset();
    }
    registry.remove(registrySlot_);
}

std::int32_t TPhysicalOutputPort::attach(TMidiOutputPort* port) { return takeSlot(ports_, port); }

bool TPhysicalOutputPort::detach(std::int32_t slot) {
    if (slot >= 0 && slot < static_cast<std::int32_t>(ports_.size()))
        ports_[static_cast<std::size_t>(slot)] = nullptr;
    return allSlotsFree(ports_);
}

std::uint8_t TPhysicalOutputPort::Programs(int channel) const {
    std::lock_guard lock(mutex_);
    return programs_.at(static_cast<std::size_t>(channel));
}

std::int32_t TPhysicalOutputPort::Controllers(int channel, int controller) const {
    std::lock_guard lock(mutex_);
    return controllers_.at(static_cast<std::size_t>(channel)).at(static_cast<std::size_t>(controller));
}

void TPhysicalOutputPort::sendLocked(TMidiOutputPort& from, std::uint32_t message) noexcept {
    sendLocked(from, message, nullptr);
}

void TPhysicalOutputPort::sendLocked(TMidiOutputPort& from, std::uint32_t message,
                                     const std::uint64_t* dueUs) noexcept {
    if (dueUs)
        handle_->sendShortMessageAt(message, *dueUs);
    else
        handle_->sendShortMessage(message);
    // The results of sending are not looked at: the memories follow what was
    // meant to arrive.  Data bytes from 0x80 up (a damaged song) are sent
    // but name no note or controller, so nothing is remembered for them.
    const std::uint8_t status = message & 0xFF;
    const std::uint8_t data1 = (message >> 8) & 0xFF;
    const std::uint8_t data2 = (message >> 16) & 0xFF;
    const std::size_t channel = status & 0x0F;
    if (data1 >= kMidiNotes)
        return;
    switch (status & 0xF0) {
    case 0x90:
        if (data2 != 0) {
            ++from.noteCounts_[channel][data1];
            break;
        }
        [[fallthrough]];
    case 0x80:
        if (from.noteCounts_[channel][data1] > 0)
            --from.noteCounts_[channel][data1];
        break;
    case 0xB0:
        controllers_[channel][data1] = data2;
        break;
    case 0xC0:
        programs_[channel] = data1;
        break;
    default:
        break;
    }
}

void TPhysicalOutputPort::resetControllersLocked() noexcept {
    for (std::uint8_t channel = 0; channel < kMidiChannels; ++channel) {
        for (std::uint8_t controller = 0; controller < kMidiControllers; ++controller) {
            const std::int32_t standard = DefaultControllerValues[controller];
            if (controllers_[channel][controller] != standard) {
                handle_->sendShortMessage(vozaro::platform::packShortMessage(
                    0xB0 | channel, controller, static_cast<std::uint8_t>(standard)));
                controllers_[channel][controller] = standard;
            }
        }
    }
}

void TPhysicalOutputPort::ResetControllers() noexcept {
    std::lock_guard lock(mutex_);
    resetControllersLocked();
}

void TPhysicalOutputPort::SetPatch(std::uint8_t program, std::uint8_t channel) noexcept {
    if (channel >= kMidiChannels)
        return;
    std::lock_guard lock(mutex_);
    if (programs_[channel] == program)
        return;
    handle_->sendShortMessage(vozaro::platform::packShortMessage(0xC0 | channel, program, 0));
    programs_[channel] = program;
}

// --- TMidiOutputPort -------------------------------------------------------------

TMidiOutputPort::~TMidiOutputPort() {
    // Nothing in this program hands system exclusive buffers to a device, so
    // the wait for them ends after its first step.
    if (Active()) {
        try {
            deactivate(sysexLatency_);
        } catch (...) {
            // Deactivating does not throw; nothing may leave a destructor.
        }
    } else if (sysexLatency_ > 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(sysexLatency_));
    }
}

void TMidiOutputPort::setPortId(std::int32_t value) {
    if (value == portId_)
        return;
    const bool wasActive = Active();
    setActive(false);
    portId_ = value;
    if (wasActive)
        setActive(true);
}

void TMidiOutputPort::setActive(bool value) {
    if (value == Active())
        return;
    if (value) {
        std::lock_guard lock(registry.mutex);
        TPhysicalOutputPort* physical = registry.find(portId_);
        if (physical)
            slot_ = physical->attach(this);
        else
            physical = new TPhysicalOutputPort(portId_, this);  // sets slot_ 0; throws when the device fails
        physicalPort_.store(physical, std::memory_order_release);
        return;
    }
    deactivate(0);
}

void TMidiOutputPort::deactivate(std::int32_t closeWait) {
    AllNotesOff();
    ResetControllers();
    std::lock_guard lock(registry.mutex);
    TPhysicalOutputPort* physical = physicalPort_.load(std::memory_order_acquire);
    if (!physical)
        return;  // the process-end clean-up came first
    if (physical->detach(slot_)) {
        physical->closeWait_ = closeWait;
        delete physical;
    }
    physicalPort_.store(nullptr, std::memory_order_release);
    slot_ = -1;
}

vozaro::platform::MidiOutputDevice* TMidiOutputPort::Handle() const noexcept {
    TPhysicalOutputPort* physical = PhysicalPort();
    return physical ? physical->Handle() : nullptr;
}

std::int32_t TMidiOutputPort::NoteCounts(int channel, int note) const {
    const auto& counts = noteCounts_.at(static_cast<std::size_t>(channel)).at(static_cast<std::size_t>(note));
    TPhysicalOutputPort* physical = PhysicalPort();
    if (!physical)
        return counts;
    std::lock_guard lock(physical->mutex_);
    return counts;
}

void TMidiOutputPort::SendEvent(const TEventData& message) noexcept { send(message, nullptr); }

void TMidiOutputPort::SendEventAt(const TEventData& message, std::uint64_t dueUs) noexcept {
    send(message, &dueUs);
}

std::int64_t TMidiOutputPort::LatencyUs() const noexcept {
    TPhysicalOutputPort* physical = PhysicalPort();
    if (!physical)
        return 0;
    std::lock_guard lock(physical->mutex_);
    return physical->handle_->latencyUs();
}

void TMidiOutputPort::send(const TEventData& message, const std::uint64_t* dueUs) noexcept {
    TPhysicalOutputPort* physical = PhysicalPort();
    const std::uint8_t status = message.Status;
    if (!physical || status >= 0xF0)
        return;
    // Data1 is read as one atomic byte: the user-interface thread rewrites
    // note numbers for a key change while the timer thread plays them.
    const std::uint32_t packed = std::uint32_t{status} | std::uint32_t{message.loadData1()} << 8 |
                                 std::uint32_t{message.Data2} << 16 | std::uint32_t{message.Data3} << 24;
    std::lock_guard lock(physical->mutex_);
    physical->sendLocked(*this, packed, dueUs);
}

void TMidiOutputPort::AllNotesOff() noexcept {
    TPhysicalOutputPort* physical = PhysicalPort();
    if (!physical)
        return;
    std::lock_guard lock(physical->mutex_);
    for (std::uint8_t channel = 0; channel < kMidiChannels; ++channel) {
        for (std::uint8_t note = 0; note < kMidiNotes; ++note) {
            while (noteCounts_[channel][note] > 0)
                physical->sendLocked(*this, vozaro::platform::packShortMessage(0x80 | channel, note, 0));
        }
    }
    for (std::uint8_t channel = 0; channel < kMidiChannels; ++channel) {
        if (physical->controllers_[channel][64] != DefaultControllerValues[64])
            physical->sendLocked(*this, vozaro::platform::packShortMessage(0xB0 | channel, 64, 0));
    }
}

void TMidiOutputPort::ResetControllers() noexcept {
    if (TPhysicalOutputPort* physical = PhysicalPort())
        physical->ResetControllers();
}

void TMidiOutputPort::SetPatch(std::uint8_t program, std::uint8_t channel) noexcept {
    if (TPhysicalOutputPort* physical = PhysicalPort())
        physical->SetPatch(program, channel);
}

}  // namespace vozaro::midi
