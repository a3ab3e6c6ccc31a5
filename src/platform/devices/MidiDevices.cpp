#include "platform/devices/MidiDevices.h"

#include "platform/devices/MidiDeviceFluidSynth.h"
#include "platform/devices/MidiDeviceRtMidi.h"

#include <alsa/asoundlib.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <thread>
#include <utility>

namespace vozaro::platform {

void MidiOutputDevice::waitForSystemExclusive(int ms) noexcept {
    if (ms > 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

namespace {

std::atomic<std::uint16_t> synthVolume{65535};
std::atomic<bool> synthMute{false};

void ignoreAlsaError(const char*, int, const char*, int, const char*, ...) {}

// The system's devices: the external ports first, the built-in synthesizer
// last.  The external ports are listed afresh on every call, as they come and
// go with the devices plugged in.
class SystemMidiDevices final : public MidiDeviceSet {
public:
    SystemMidiDevices() {
        // alsa-lib prints its failures (no sequencer, no card) to standard
        // error; the callers here report them in their own way.
        snd_lib_error_set_handler(ignoreAlsaError);
    }
    int deviceCount() override { return external_.deviceCount() + builtin_.deviceCount(); }
    std::string deviceName(int index) override {
        const int external = external_.deviceCount();
        return index < external ? external_.deviceName(index) : builtin_.deviceName(index - external);
    }
    std::unique_ptr<MidiOutputDevice> openDevice(int index, std::string& why) override {
        const int external = external_.deviceCount();
        return index < external ? external_.openDevice(index, why) : builtin_.openDevice(index - external, why);
    }

private:
    RtMidiOutputPorts external_;
    BuiltinSynthesizer builtin_;
};

std::mutex devicesMutex;
std::shared_ptr<MidiDeviceSet> installedDevices;

std::shared_ptr<MidiDeviceSet> currentDevices() {
    std::lock_guard lock(devicesMutex);
    if (installedDevices)
        return installedDevices;
    static const std::shared_ptr<MidiDeviceSet> system = std::make_shared<SystemMidiDevices>();
    return system;
}

// Cuts UTF-8 text after kMidiDeviceNameLength characters.
std::string cutName(const std::string& name) {
    std::size_t characters = 0;
    for (std::size_t i = 0; i < name.size(); ++i) {
        const bool startsCharacter = (static_cast<unsigned char>(name[i]) & 0xC0) != 0x80;
        if (startsCharacter && ++characters > kMidiDeviceNameLength)
            return name.substr(0, i);
    }
    return name;
}

}  // namespace

int midiOutputDeviceCount() { return currentDevices()->deviceCount(); }

std::string midiOutputDeviceName(int id) {
    auto devices = currentDevices();
    if (id < 0 || id >= devices->deviceCount())
        return {};
    return cutName(devices->deviceName(id));
}

std::unique_ptr<MidiOutputDevice> openMidiOutputDevice(int id, std::string* why) {
    auto devices = currentDevices();
    std::string reason;
    std::unique_ptr<MidiOutputDevice> device;
    if (id == kMidiMapper)
        id = devices->deviceCount() - 1;
    if (id < 0)
        reason = "no MIDI output device";
    else
        device = devices->openDevice(id, reason);
    if (!device && why)
        *why = reason.empty() ? "the MIDI output device could not be opened" : reason;
    return device;
}

std::shared_ptr<MidiDeviceSet> installMidiDevices(std::shared_ptr<MidiDeviceSet> devices) {
    std::lock_guard lock(devicesMutex);
    return std::exchange(installedDevices, std::move(devices));
}

void setBuiltinSynthVolume(std::uint16_t volume) {
    synthVolume.store(volume);
    applyBuiltinSynthGain();
}
std::uint16_t builtinSynthVolume() { return synthVolume.load(); }

void setBuiltinSynthMute(bool mute) {
    synthMute.store(mute);
    applyBuiltinSynthGain();
}
bool builtinSynthMute() { return synthMute.load(); }

float builtinSynthGain() {
    if (synthMute.load())
        return 0.0f;
    return kBuiltinSynthFullGain * static_cast<float>(synthVolume.load()) / 65535.0f;
}

}  // namespace vozaro::platform
