#include "support/RecordingMidiDevices.h"

#include <algorithm>
#include <chrono>

namespace vozaro::platform {

class RecordingMidiDevices::Handle final : public MidiOutputDevice {
public:
    Handle(RecordingMidiDevices& owner, int device) : owner_(owner), keeper_(owner.weak_from_this().lock()), device_(device) {}
    ~Handle() override {
        std::lock_guard lock(owner_.mutex_);
        --owner_.openHandles_[device_];
        owner_.record(RecordedMidiEvent::Kind::Close, device_, 0);
    }
    void sendShortMessage(std::uint32_t message) noexcept override {
        std::lock_guard lock(owner_.mutex_);
        owner_.record(RecordedMidiEvent::Kind::Message, device_, message);
    }
    void reset() noexcept override {
        std::lock_guard lock(owner_.mutex_);
        owner_.record(RecordedMidiEvent::Kind::Reset, device_, 0);
    }
    void waitForSystemExclusive(int ms) noexcept override {
        std::lock_guard lock(owner_.mutex_);
        owner_.record(RecordedMidiEvent::Kind::Wait, device_, static_cast<std::uint32_t>(ms));
    }

private:
    RecordingMidiDevices& owner_;
    // Keeps a shared recorder alive while a port still holds the handle, for
    // instance after a test has uninstalled it.
    const std::shared_ptr<RecordingMidiDevices> keeper_;
    const int device_;
};

RecordingMidiDevices::RecordingMidiDevices(int deviceCount, Clock clock, std::size_t capacity)
    : deviceCount_(deviceCount < 0 ? 0 : deviceCount),
      clock_(std::move(clock)),
      capacity_(capacity),
      openHandles_(deviceCount_, 0),
      openFails_(deviceCount_, false) {
    log_.reserve(capacity_);
}

std::string RecordingMidiDevices::deviceName(int index) {
    if (index < 0 || index >= deviceCount_)
        return {};
    return "Gravador MIDI " + std::to_string(index + 1);
}

std::unique_ptr<MidiOutputDevice> RecordingMidiDevices::openDevice(int index, std::string& why) {
    std::lock_guard lock(mutex_);
    if (index < 0 || index >= deviceCount_) {
        why = "no such recording device";
        return nullptr;
    }
    if (openFails_[index]) {
        why = "the recording device refuses to open";
        return nullptr;
    }
    ++openHandles_[index];
    record(RecordedMidiEvent::Kind::Open, index, 0);
    return std::make_unique<Handle>(*this, index);
}

void RecordingMidiDevices::setOpenFails(int index, bool fails) {
    std::lock_guard lock(mutex_);
    if (index >= 0 && index < deviceCount_)
        openFails_[index] = fails;
}

void RecordingMidiDevices::record(RecordedMidiEvent::Kind kind, int device, std::uint32_t message) {
    ++entryCount_;
    if (log_.size() >= capacity_)
        return;
    const std::int64_t time =
        clock_ ? clock_()
               : std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now().time_since_epoch())
                     .count();
    log_.push_back(RecordedMidiEvent{kind, device, message, time});
}

std::vector<RecordedMidiEvent> RecordingMidiDevices::events() const {
    std::lock_guard lock(mutex_);
    return log_;
}

std::vector<std::uint32_t> RecordingMidiDevices::messages(int device) const {
    std::lock_guard lock(mutex_);
    std::vector<std::uint32_t> result;
    for (const RecordedMidiEvent& event : log_) {
        if (event.kind == RecordedMidiEvent::Kind::Message && event.device == device)
            result.push_back(event.message);
    }
    return result;
}

int RecordingMidiDevices::waits(int device) const {
    std::lock_guard lock(mutex_);
    return static_cast<int>(std::count_if(log_.begin(), log_.end(), [device](const RecordedMidiEvent& event) {
        return event.kind == RecordedMidiEvent::Kind::Wait && event.device == device;
    }));
}

int RecordingMidiDevices::openHandles(int device) const {
    std::lock_guard lock(mutex_);
    return device >= 0 && device < deviceCount_ ? openHandles_[device] : 0;
}

std::size_t RecordingMidiDevices::entryCount() const {
    std::lock_guard lock(mutex_);
    return entryCount_;
}

void RecordingMidiDevices::clear() {
    std::lock_guard lock(mutex_);
    log_.clear();
    entryCount_ = 0;
}

}  // namespace vozaro::platform
