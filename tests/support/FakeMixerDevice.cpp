#include "support/FakeMixerDevice.h"

#include "platform/devices/MixerTable.h"

#include <algorithm>

namespace vozaro::platform {

class FakeMixerDevice final : public MixerTable {
public:
    explicit FakeMixerDevice(std::shared_ptr<FakeMixerCard> card) : card_(std::move(card)) {
        caps.manufacturerId = card_->manufacturerId;
        caps.productId = card_->productId;
        caps.driverVersion = card_->driverVersion;
        caps.productName = card_->productName;
        for (std::uint32_t d = 0; d < card_->destinations.size(); ++d) {
            const FakeMixerCard::Destination& destination = card_->destinations[d];
            addDestination(destination.line.componentType, destination.line.channels, destination.line.name);
            for (const FakeMixerCard::Line& source : destination.sources)
                addSource(d, source.componentType, source.channels, source.name);
        }
        for (std::uint32_t d = 0; d < card_->destinations.size(); ++d) {
            FakeMixerCard::Destination& destination = card_->destinations[d];
            addControls(d, destinationLineId(d), destination.line);
            for (std::uint32_t s = 0; s < destination.sources.size(); ++s)
                addControls(d, sourceLineId(d, s), destination.sources[s]);
        }
        card_->open_.push_back(this);
    }

    ~FakeMixerDevice() override { std::erase(card_->open_, this); }

    void reportChange(const FakeMixerCard::Control* changed) {
        for (std::size_t i = 0; i < bound_.size(); ++i)
            if (bound_[i] == changed) postChange(MM_MIXM_CONTROL_CHANGE, control(i).controlId);
    }

protected:
    bool readValues(std::size_t index, std::int32_t* values) override {
        const FakeMixerCard::Control& c = *bound_[index];
        if (c.failRead) return false;
        std::copy(c.values.begin(), c.values.end(), values);
        return true;
    }

    bool writeValues(std::size_t index, const std::int32_t* values) override {
        FakeMixerCard::Control& c = *bound_[index];
        if (c.failWrite) return false;
        std::copy(values, values + c.values.size(), c.values.begin());
        for (FakeMixerDevice* device : card_->open_) device->reportChange(&c);
        return true;
    }

private:
    void addControls(std::uint32_t destination, std::uint32_t lineId, FakeMixerCard::Line& line) {
        for (FakeMixerCard::Control& c : line.controls) {
            std::vector<std::uint32_t> items;
            for (std::uint32_t source : c.items) items.push_back(sourceLineId(destination, source));
            const std::size_t index = addControl(lineId, c.type, c.flags, c.name, std::move(items));
            c.values.resize(storedValues(index), 0);
            bound_.push_back(&c);
        }
    }

    std::shared_ptr<FakeMixerCard> card_;
    std::vector<FakeMixerCard::Control*> bound_;  // card control of each table control
};

FakeMixerCard::Control* FakeMixerCard::control(std::uint32_t destination, int connection,
                                               std::uint32_t type) {
    if (destination >= destinations.size()) return nullptr;
    Destination& d = destinations[destination];
    if (connection >= static_cast<int>(d.sources.size())) return nullptr;
    Line& line = connection < 0 ? d.line : d.sources[static_cast<std::size_t>(connection)];
    for (Control& c : line.controls)
        if (c.type == type) return &c;
    return nullptr;
}

void FakeMixerCard::change(std::uint32_t destination, int connection, std::uint32_t type,
                           std::vector<std::int32_t> values) {
    Control* c = control(destination, connection, type);
    if (!c) return;
    c->values = std::move(values);
    for (FakeMixerDevice* device : open_) device->reportChange(c);
}

namespace {

using Control = FakeMixerCard::Control;
using Line = FakeMixerCard::Line;

Control volume(std::int32_t left, std::int32_t right, std::uint32_t flags = 0) {
    return {MIXERCONTROL_CONTROLTYPE_VOLUME, flags, "Volume", {left, right}, {}};
}
Control monoVolume(std::int32_t value) {
    return {MIXERCONTROL_CONTROLTYPE_VOLUME, 0, "Volume", {value}, {}};
}
Control mute(bool muted) {
    return {MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM, "Mute", {muted ? 1 : 0}, {}};
}

std::shared_ptr<FakeMixerCard> soundCard(Control recordingSelection) {
    auto card = std::make_shared<FakeMixerCard>();
    FakeMixerCard::Destination playback;
    playback.line = {MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 2, "Volume Control",
                     {volume(50000, 50000), mute(false)}};
    playback.sources = {
        {MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, 2, "Wave", {volume(40000, 40000), mute(false)}},
        {MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER, 2, "SW Synth", {volume(45000, 45000), mute(false)}},
        {MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, 2, "CD Audio", {volume(30000, 30000), mute(true)}},
        {MIXERLINE_COMPONENTTYPE_SRC_LINE, 2, "Line In", {volume(30000, 30000), mute(true)}},
        {MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, 1, "Microphone", {monoVolume(20000), mute(true)}},
    };
    FakeMixerCard::Destination recording;
    recording.line = {MIXERLINE_COMPONENTTYPE_DST_WAVEIN, 2, "Recording Control",
                      {volume(60000, 60000), std::move(recordingSelection)}};
    recording.sources = {
        {MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, 2, "CD Audio", {volume(32000, 32000)}},
        {MIXERLINE_COMPONENTTYPE_SRC_LINE, 2, "Line In", {volume(32000, 32000)}},
        {MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, 1, "Microphone", {monoVolume(40000)}},
        {MIXERLINE_COMPONENTTYPE_SRC_ANALOG, 2, "Stereo Mix", {volume(32000, 32000)}},
    };
    card->destinations = {std::move(playback), std::move(recording)};
    return card;
}

}  // namespace

std::shared_ptr<FakeMixerCard> FakeMixerCard::typicalSoundCard() {
    return soundCard({MIXERCONTROL_CONTROLTYPE_MUX,
                      MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE,
                      "Recording Source", {0, 0, 1, 0}, {0, 1, 2, 3}});
}

std::shared_ptr<FakeMixerCard> FakeMixerCard::mixingSoundCard() {
    return soundCard({MIXERCONTROL_CONTROLTYPE_MIXER,
                      MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE,
                      "Recording Mixer", {0, 1, 1, 0}, {0, 1, 2, 3}});
}

int FakeMixerSystem::open(int id, QObject* window, MixerNotify notify,
                          std::unique_ptr<MixerDevice>& device) {
    if (id < 0 || id >= deviceCount()) return kMixerBadDeviceId;
    FakeMixerCard& card = *cards[static_cast<std::size_t>(id)];
    if (card.failOpens > 0) {
        --card.failOpens;
        return kMixerError;
    }
    auto opened = std::make_unique<FakeMixerDevice>(cards[static_cast<std::size_t>(id)]);
    if (window) {
        opened->setNotify(window, std::move(notify));
        ++card.opensWithReports;
    }
    ++card.opens;
    device = std::move(opened);
    return kMixerOk;
}

}  // namespace vozaro::platform
