#include "audio/AMixer.h"

#include <array>

namespace vozaro::audio {

using namespace vozaro::platform;

namespace {

// Room for the values of one control: channels x items of them at most.
constexpr std::uint32_t kMaxValues = 101;

bool hasFlag(const MixerControl& control, std::uint32_t flag) { return (control.flags & flag) != 0; }

bool isListClass(const MixerControl& control) {
    return (control.controlType & MIXERCONTROL_CT_CLASS_MASK) == MIXERCONTROL_CT_CLASS_LIST;
}

bool isSelection(const MixerControl& control) {
    return control.controlType == MIXERCONTROL_CONTROLTYPE_MIXER ||
           control.controlType == MIXERCONTROL_CONTROLTYPE_MUX;
}

}  // namespace

// ---------------------------------------------------------------------------
// TPointerList

TPointerList::~TPointerList() { Clear(); }

int TPointerList::Add(void* item) {
    Items_.push_back(item);
    return static_cast<int>(Items_.size()) - 1;
}

void* TPointerList::Get(int index) const {
    return index >= 0 && index < Count() ? Items_[static_cast<std::size_t>(index)] : nullptr;
}

void TPointerList::Clear() {
    if (OnFreeItem)
        for (void* item : Items_) OnFreeItem(item);
    Items_.clear();
}

// ---------------------------------------------------------------------------
// The tree

TMixerControls::TMixerControls(MixerDevice* device, const MixerLine& line) {
    if (!device || device->getLineControlsAll(line.lineId, line.controls, Block_) != kMixerOk) {
        Block_.clear();
        return;
    }
    for (MixerControl& control : Block_) List_.Add(&control);
}

const MixerControl* TMixerControls::Control(int index) const {
    return static_cast<const MixerControl*>(List_.Get(index));
}

TMixerConnection::TMixerConnection(TAudioMixer* mixer, const MixerLine& line)
    : Mixer(mixer), Line(line), Controls(mixer->Device(), line) {}

TMixerConnections::TMixerConnections(TAudioMixer* mixer, const MixerLine& destination) : Mixer(mixer) {
    List_.OnFreeItem = [](void* item) { delete static_cast<TMixerConnection*>(item); };
    MixerDevice* device = mixer->Device();
    if (!device) return;
    for (std::uint32_t source = 0; source < destination.connections; ++source) {
        MixerLine line;
        if (device->getLineInfoSource(destination.destination, source, line) == kMixerOk)
            List_.Add(new TMixerConnection(mixer, line));
    }
}

TMixerConnection* TMixerConnections::Connection(int index) const {
    return static_cast<TMixerConnection*>(List_.Get(index));
}

TMixerDestination::TMixerDestination(TAudioMixer* mixer, const MixerLine& line)
    : Mixer(mixer), Line(line) {
    Connections = std::make_unique<TMixerConnections>(mixer, Line);
    Controls = std::make_unique<TMixerControls>(mixer->Device(), Line);
}

TMixerDestination::~TMixerDestination() {
    Controls.reset();
    Connections.reset();
}

TMixerDestinations::TMixerDestinations(TAudioMixer* mixer) {
    List_.OnFreeItem = [](void* item) { delete static_cast<TMixerDestination*>(item); };
    MixerDevice* device = mixer ? mixer->Device() : nullptr;
    if (!device) return;
    for (std::uint32_t index = 0; index < mixer->MixerCaps().destinations; ++index) {
        MixerLine line;
        if (device->getLineInfoDestination(index, line) == kMixerOk)
            List_.Add(new TMixerDestination(mixer, line));
    }
}

TMixerDestination* TMixerDestinations::Destination(int index) const {
    return static_cast<TMixerDestination*>(List_.Get(index));
}

// ---------------------------------------------------------------------------
// TAudioMixer

struct TAudioMixer::ControlValues {
    std::uint32_t channels = 0;
    std::uint32_t items = 0;
    std::array<std::int32_t, kMaxValues> values{};
};

TAudioMixer::TAudioMixer(QObject* parent) : QObject(parent), MessageWindow_(new QObject(this)) {
    MixerCount_ = mixerDeviceCount();
    MixerId_ = -1;
    if (MixerCount_ >= 1)
        setMixerId(0);
    else
        Destinations_ = std::make_unique<TMixerDestinations>(nullptr);
}

TAudioMixer::~TAudioMixer() {
    CloseMixer();
    delete MessageWindow_;
}

void TAudioMixer::CloseMixer() {
    if (MixerId_ >= 0) {
        MixerHandle_.reset();
        MixerId_ = -1;
    }
    Destinations_.reset();
}

void TAudioMixer::setMixerId(std::int32_t id) {
    if (id < 0 || id >= MixerCount_) return;
    CloseMixer();
    // Reports come back to the message window, queued on this thread.
    auto notify = [this](std::uint32_t message, std::uintptr_t mixer, std::uint32_t lineOrControl) {
        WindowProc(message, mixer, lineOrControl);
    };
    std::unique_ptr<MixerDevice> device;
    if (openMixerDevice(id, MessageWindow_, notify, device) != kMixerOk &&
        openMixerDevice(id, MessageWindow_, notify, device) != kMixerOk &&
        openMixerDevice(id, nullptr, {}, device) != kMixerOk) {
        MixerId_ = -1;
        Destinations_ = std::make_unique<TMixerDestinations>(nullptr);
        return;
    }
    MixerHandle_ = std::move(device);
    MixerId_ = id;
    MixerCaps_ = platform::MixerCaps{};
    MixerHandle_->getDevCaps(MixerCaps_);
    Manufacturer_ = MixerCaps_.manufacturerId == 1
                        ? std::string("Microsoft")
                        : std::to_string(MixerCaps_.manufacturerId) + " = Unknown";
    DriverVersion_ = MixerCaps_.driverVersion;
    ProductId_ = MixerCaps_.productId;
    ProductName_ = MixerCaps_.productName;
    NumberOfLine_ = MixerCaps_.destinations;
    Destinations_ = std::make_unique<TMixerDestinations>(this);
}

void TAudioMixer::WindowProc(std::uint32_t message, std::uintptr_t mixer, std::uint32_t id) {
    if (message == MM_MIXM_LINE_CHANGE) {
        if (OnLineChange) OnLineChange(this, mixer, id);
    } else if (message == MM_MIXM_CONTROL_CHANGE) {
        if (OnControlChange) OnControlChange(this, mixer, id);
    }
}

bool TAudioMixer::FindLine(int destination, int connection, FoundLine& found) const {
    if (!Destinations_) return false;
    TMixerDestination* d = Destinations_->Destination(destination);
    if (!d) return false;
    found.destination = d;
    if (connection == -1) {
        found.line = &d->Line;
        found.controls = d->Controls.get();
        found.isSource = false;
        return true;
    }
    TMixerConnection* c = d->Connections->Connection(connection);
    if (!c) return false;
    found.line = &c->Line;
    found.controls = &c->Controls;
    found.isSource = true;
    return true;
}

bool TAudioMixer::ReadValues(const MixerControl& control, const MixerLine& line, bool withItems,
                             ControlValues& values) const {
    if (!MixerHandle_) return false;
    values.channels = hasFlag(control, MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : line.channels;
    values.items = withItems && hasFlag(control, MIXERCONTROL_CONTROLF_MULTIPLE) ? control.multipleItems : 0;
    const std::uint64_t count = std::uint64_t{values.channels} * (values.items ? values.items : 1);
    if (count == 0 || count > kMaxValues) return false;
    return MixerHandle_->getControlValues(control.controlId, values.channels, values.items,
                                          values.values.data()) == kMixerOk;
}

bool TAudioMixer::SendValues(const MixerControl& control, const ControlValues& values) const {
    return MixerHandle_ && MixerHandle_->setControlValues(control.controlId, values.channels, values.items,
                                                          values.values.data()) == kMixerOk;
}

int TAudioMixer::FindSourceItem(const MixerControl& control, const MixerLine& destination,
                                const MixerLine& source, ControlValues* out) const {
    ControlValues values;
    if (!ReadValues(control, destination, true, values)) return -1;
    const std::uint32_t texts = values.channels * values.items;
    if (texts == 0) return -1;
    std::array<MixerListText, kMaxValues> list;
    if (MixerHandle_->getControlListTexts(control.controlId, values.channels, values.items, list.data()) !=
        kMixerOk)
        return -1;
    for (std::uint32_t k = values.channels - 1; k < values.items; k += values.channels) {
        if (list[k].param1 == source.lineId) {
            if (out) *out = values;
            return static_cast<int>(k);
        }
    }
    return -1;
}

const MixerControl* TAudioMixer::FindSelection(const FoundLine& found, bool (*kind)(const MixerControl&),
                                               ControlValues& values, int& k) const {
    const TMixerControls& controls = *found.destination->Controls;
    for (int i = 0; i < controls.Count(); ++i) {
        const MixerControl& control = *controls.Control(i);
        if (!kind(control)) continue;
        k = FindSourceItem(control, found.destination->Line, *found.line, &values);
        if (k >= 0) return &control;
    }
    return nullptr;
}

bool TAudioMixer::ReadLineVolume(int destination, int connection, LineVolume& volume) {
    volume = LineVolume{};
    FoundLine found;
    if (!FindLine(destination, connection, found)) return false;

    for (int i = 0; i < found.controls->Count() && (volume.Left == -1 || volume.Mute == -1); ++i) {
        const MixerControl& control = *found.controls->Control(i);
        const bool isVolume = control.controlType == MIXERCONTROL_CONTROLTYPE_VOLUME;
        const bool isMute = control.controlType == MIXERCONTROL_CONTROLTYPE_MUTE;
        if ((!isVolume && !isMute) || hasFlag(control, MIXERCONTROL_CONTROLF_MULTIPLE)) continue;
        ControlValues values;
        if (!ReadValues(control, *found.line, false, values)) continue;
        if (isVolume && volume.Left == -1) {
            volume.VolumeDisabled = hasFlag(control, MIXERCONTROL_CONTROLF_DISABLED);
            volume.Left = values.values[0];
            if (values.channels > 1) {
                volume.Right = values.values[1];
                volume.Stereo = true;
            } else {
                volume.Right = volume.Left;
            }
        } else if (isMute && volume.Mute == -1) {
            volume.MuteDisabled = hasFlag(control, MIXERCONTROL_CONTROLF_DISABLED);
            volume.Mute = values.values[0] != 0 ? 1 : 0;
        }
    }

    if (volume.Mute == -1 && found.isSource) {
        ControlValues values;
        int k = -1;
        if (const MixerControl* list = FindSelection(found, isListClass, values, k)) {
            volume.Mute = values.values[static_cast<std::size_t>(k)];
            volume.MuteDisabled = hasFlag(*list, MIXERCONTROL_CONTROLF_DISABLED);
            volume.MuteIsSelection = true;
        }
    }
    return true;
}

bool TAudioMixer::WriteLineVolume(int destination, int connection, std::int32_t left, std::int32_t right,
                                  std::int32_t mute) {
    FoundLine found;
    if (!FindLine(destination, connection, found)) return false;

    bool volumeToWrite = left != -1;
    bool muteToWrite = mute != -1;
    for (int i = 0; i < found.controls->Count() && (volumeToWrite || muteToWrite); ++i) {
        const MixerControl& control = *found.controls->Control(i);
        const bool isVolume = control.controlType == MIXERCONTROL_CONTROLTYPE_VOLUME && volumeToWrite;
        const bool isMute = control.controlType == MIXERCONTROL_CONTROLTYPE_MUTE && muteToWrite;
        if ((!isVolume && !isMute) || hasFlag(control, MIXERCONTROL_CONTROLF_MULTIPLE)) continue;
        ControlValues values;
        values.channels = hasFlag(control, MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : found.line->channels;
        if (values.channels == 0 || values.channels > kMaxValues) continue;
        if (isVolume) {
            // Channels past the second take the left value on even and the
            // right one on odd positions.
            const std::int32_t second = right == -1 ? left : right;
            for (std::uint32_t c = 0; c < values.channels; ++c) values.values[c] = c % 2 ? second : left;
            volumeToWrite = false;
        } else {
            for (std::uint32_t c = 0; c < values.channels; ++c) values.values[c] = mute;
            muteToWrite = false;
        }
        SendValues(control, values);
    }

    if (muteToWrite && found.isSource) {
        const TMixerControls& controls = *found.destination->Controls;
        for (int i = 0; i < controls.Count(); ++i) {
            const MixerControl& control = *controls.Control(i);
            if (!isSelection(control)) continue;
            // Only the first selection control is tried.
            ControlValues values;
            if (ReadValues(control, found.destination->Line, true, values)) {
                if (control.controlType == MIXERCONTROL_CONTROLTYPE_MUX) values.values.fill(0);
                const int k = FindSourceItem(control, found.destination->Line, *found.line);
                if (k >= 0) {
                    values.values[static_cast<std::size_t>(k)] = mute;
                    SendValues(control, values);
                }
            }
            break;
        }
    }
    return true;
}

bool TAudioMixer::LineMuteControl(const FoundLine& found, MixerControl& control) const {
    return MixerHandle_ && MixerHandle_->getLineControlByType(found.line->lineId, MIXERCONTROL_CONTROLTYPE_MUTE,
                                                              control) == kMixerOk;
}

bool TAudioMixer::ReadLineMute(int destination, int connection, bool& muted) {
    muted = false;
    FoundLine found;
    if (!FindLine(destination, connection, found)) return false;

    MixerControl control;
    if (LineMuteControl(found, control)) {
        std::int32_t value = 0;
        if (MixerHandle_->getControlValues(control.controlId, 1, 0, &value) != kMixerOk) return false;
        muted = value == 1;
        return true;
    }
    if (!found.isSource) return false;
    ControlValues values;
    int k = -1;
    if (!FindSelection(found, isSelection, values, k)) return false;
    muted = values.values[static_cast<std::size_t>(k)] != 0;
    return true;
}

bool TAudioMixer::WriteLineMute(int destination, int connection, bool muted) {
    FoundLine found;
    if (!FindLine(destination, connection, found)) return false;

    MixerControl control;
    if (LineMuteControl(found, control)) {
        const std::int32_t value = muted ? 1 : 0;
        return MixerHandle_->setControlValues(control.controlId, 1, 0, &value) == kMixerOk;
    }
    if (!found.isSource) return false;
    const TMixerControls& controls = *found.destination->Controls;
    for (int i = 0; i < controls.Count(); ++i) {
        const MixerControl& list = *controls.Control(i);
        if (!isSelection(list)) continue;
        ControlValues values;
        if (!ReadValues(list, found.destination->Line, true, values)) continue;
        if (list.controlType == MIXERCONTROL_CONTROLTYPE_MUX) values.values.fill(0);
        if (muted) {
            const int k = FindSourceItem(list, found.destination->Line, *found.line);
            if (k >= 0) values.values[static_cast<std::size_t>(k)] = 1;
        }
        if (SendValues(list, values)) return true;
    }
    return false;
}

}  // namespace vozaro::audio
