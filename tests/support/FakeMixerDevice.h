// A mixer card for tests, with the semantics of the classic sound card mixers:
// a playback and a recording destination, sources with or without their own
// volume and mute, mono and uniform controls, disabled controls, and the
// recording source chosen through a MUX (exactly one source) or MIXER (any
// sources) list control on the recording destination.
//
// The card holds the values; every open of it reads and writes them, and a
// write is reported to every open that asked for reports, the writer's
// included.  User-interface thread.
#pragma once

#include "platform/devices/MixerDevice.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace vozaro::platform {

class FakeMixerDevice;

class FakeMixerCard {
public:
    struct Control {
        std::uint32_t type = MIXERCONTROL_CONTROLTYPE_VOLUME;
        std::uint32_t flags = 0;
        std::string name;
        // Stored values: (1 if uniform, else the line's channels) x items,
        // item by item; filled with zeros at open when empty.
        std::vector<std::int32_t> values;
        // A list control's items, as source indexes of its destination.
        std::vector<std::uint32_t> items;
        bool failRead = false;
        bool failWrite = false;
    };
    struct Line {
        std::uint32_t componentType = MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
        std::uint32_t channels = 2;
        std::string name;
        std::vector<Control> controls;
    };
    struct Destination {
        Line line;
        std::vector<Line> sources;
    };

    std::vector<Destination> destinations;
    std::string productName = "Placa de som de teste";
    std::uint16_t manufacturerId = 1;
    std::uint16_t productId = 100;
    std::uint32_t driverVersion = 0x0500;

    int failOpens = 0;  // that many opens fail, whatever their kind
    int opens = 0;      // successful opens
    int opensWithReports = 0;

    // The first control of `type` on a line (connection -1: the destination
    // itself); nullptr when there is none.
    Control* control(std::uint32_t destination, int connection, std::uint32_t type);
    // Changes a control's values as another program would, and reports it.
    void change(std::uint32_t destination, int connection, std::uint32_t type,
                std::vector<std::int32_t> values);

    // A card like the ones the program was made for:
    //   destination 0 "Volume Control" (speakers, stereo volume, mute) with
    //     0 "Wave", 1 "SW Synth" (synthesizer), 2 "CD Audio", 3 "Line In"
    //     (stereo volume and mute each) and 4 "Microphone" (mono volume, mute);
    //   destination 1 "Recording Control" (stereo volume and a uniform MUX of
    //     its four sources, "Microphone" selected) with 0 "CD Audio",
    //     1 "Line In", 2 "Microphone" (mono), 3 "Stereo Mix", volumes only.
    static std::shared_ptr<FakeMixerCard> typicalSoundCard();
    // The same card with a MIXER control instead of the MUX (any number of
    // sources recorded at once; "Microphone" and "Line In" selected).
    static std::shared_ptr<FakeMixerCard> mixingSoundCard();

private:
    friend class FakeMixerDevice;
    std::vector<FakeMixerDevice*> open_;
};

class FakeMixerSystem final : public MixerSystem {
public:
    explicit FakeMixerSystem(std::vector<std::shared_ptr<FakeMixerCard>> cards = {})
        : cards(std::move(cards)) {}
    int deviceCount() override { return static_cast<int>(cards.size()); }
    int open(int id, QObject* window, MixerNotify notify, std::unique_ptr<MixerDevice>& device) override;

    std::vector<std::shared_ptr<FakeMixerCard>> cards;
};

}  // namespace vozaro::platform
