#include "platform/devices/MidiDeviceRtMidi.h"

#include <alsa/asoundlib.h>
#include <rtmidi/RtMidi.h>

#include <optional>
#include <vector>

namespace vozaro::platform {

namespace {

// Installed before anything can fail, so that RtMidi reports to us instead of
// throwing (which must never happen on the player's timer thread) or printing.
void keepRtMidiError(RtMidiError::Type type, const std::string& text, void* userData) {
    if (userData && type != RtMidiError::WARNING && type != RtMidiError::DEBUG_WARNING)
        *static_cast<std::string*>(userData) = text;
}

// Whether the machine has an ALSA sequencer at all.  Asked first because
// RtMidi's constructor prints its failure before it throws.
bool sequencerPresent() {
    snd_seq_t* sequencer = nullptr;
    if (snd_seq_open(&sequencer, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0)
        return false;
    snd_seq_close(sequencer);
    return true;
}

// A sequencer client of our own, or nothing where the machine has no
// sequencer.
std::unique_ptr<RtMidiOut> openClient(std::string& why) {
    if (!sequencerPresent()) {
        why = "no ALSA sequencer";
        return nullptr;
    }
    try {
        auto client = std::make_unique<RtMidiOut>(RtMidi::LINUX_ALSA, kSequencerClientName);
        client->setErrorCallback(keepRtMidiError, nullptr);
        return client;
    } catch (const RtMidiError& error) {
        why = error.getMessage();
    } catch (const std::exception& error) {
        why = error.what();
    }
    return nullptr;
}

// The sequencer's port numbers of the ports we list, in order.
std::vector<unsigned> listedPorts(RtMidiOut& client) {
    const std::string ownPrefix = std::string(kSequencerClientName) + ":";
    std::vector<unsigned> ports;
    const unsigned count = client.getPortCount();
    for (unsigned port = 0; port < count; ++port) {
        if (client.getPortName(port).rfind(ownPrefix, 0) != 0)
            ports.push_back(port);
    }
    return ports;
}

class RtMidiHandle final : public MidiOutputDevice {
public:
    explicit RtMidiHandle(std::unique_ptr<RtMidiOut> client) : client_(std::move(client)) {}
    ~RtMidiHandle() override { client_->closePort(); }

    void sendShortMessage(std::uint32_t message) noexcept override {
        const unsigned char bytes[3] = {static_cast<unsigned char>(message), static_cast<unsigned char>(message >> 8),
                                        static_cast<unsigned char>(message >> 16)};
        const std::size_t size = messageSize(bytes[0]);
        if (size == 0)
            return;
        try {
            client_->sendMessage(bytes, size);
        } catch (...) {
            // The error callback is installed, so RtMidi does not throw; a
            // lost message is ignored like any failed send.
        }
    }

    void reset() noexcept override {
        // All Sound Off silences even notes held by the sustain pedal; All
        // Notes Off follows for devices that know only that one.
        for (std::uint8_t channel = 0; channel < 16; ++channel) {
            sendShortMessage(packShortMessage(0xB0 | channel, 120, 0));
            sendShortMessage(packShortMessage(0xB0 | channel, 123, 0));
        }
    }

private:
    static std::size_t messageSize(unsigned char status) {
        if (status < 0x80)
            return 0;
        if (status < 0xF0)
            return (status & 0xE0) == 0xC0 ? 2 : 3;  // 0xC0 and 0xD0 carry one data byte
        switch (status) {
        case 0xF1:
        case 0xF3:
            return 2;
        case 0xF2:
            return 3;
        case 0xF0:
        case 0xF7:
            return 0;  // system exclusive is never a short message
        default:
            return 1;
        }
    }

    std::unique_ptr<RtMidiOut> client_;
};

}  // namespace

int RtMidiOutputPorts::deviceCount() {
    std::string why;
    auto client = openClient(why);
    return client ? static_cast<int>(listedPorts(*client).size()) : 0;
}

std::string RtMidiOutputPorts::deviceName(int index) {
    std::string why;
    auto client = openClient(why);
    if (!client)
        return {};
    const std::vector<unsigned> ports = listedPorts(*client);
    if (index < 0 || index >= static_cast<int>(ports.size()))
        return {};
    return client->getPortName(ports[index]);
}

std::unique_ptr<MidiOutputDevice> RtMidiOutputPorts::openDevice(int index, std::string& why) {
    auto client = openClient(why);
    if (!client)
        return nullptr;
    const std::vector<unsigned> ports = listedPorts(*client);
    if (index < 0 || index >= static_cast<int>(ports.size())) {
        why = "no such MIDI output port";
        return nullptr;
    }
    std::string error;
    client->setErrorCallback(keepRtMidiError, &error);
    client->openPort(ports[index], kSequencerClientName);
    client->setErrorCallback(keepRtMidiError, nullptr);
    if (!client->isPortOpen()) {
        why = error.empty() ? "the MIDI output port could not be opened" : error;
        return nullptr;
    }
    return std::make_unique<RtMidiHandle>(std::move(client));
}

}  // namespace vozaro::platform
