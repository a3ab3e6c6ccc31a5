#include "platform/devices/MixerTable.h"

#include <QMetaObject>

#include <algorithm>

namespace vozaro::platform {

namespace {
std::string cut(const std::string& text, std::size_t length) { return text.substr(0, length); }
}  // namespace

int MixerTable::getDevCaps(MixerCaps& out) {
    out = caps;
    out.destinations = static_cast<std::uint32_t>(destinations_.size());
    out.productName = cut(out.productName, kMixerProductNameLength);
    return kMixerOk;
}

int MixerTable::getLineInfoDestination(std::uint32_t destination, MixerLine& line) {
    if (destination >= destinations_.size()) return kMixerInvalidParam;
    line = destinations_[destination].line.info;
    return kMixerOk;
}

int MixerTable::getLineInfoSource(std::uint32_t destination, std::uint32_t source, MixerLine& line) {
    if (destination >= destinations_.size() || source >= destinations_[destination].sources.size())
        return kMixerInvalidParam;
    line = destinations_[destination].sources[source].info;
    return kMixerOk;
}

int MixerTable::getLineControlsAll(std::uint32_t lineId, std::uint32_t count,
                                   std::vector<MixerControl>& out) {
    const Line* line = findLine(lineId);
    if (!line) return kMixerInvalidLine;
    if (count != line->controls.size() || count == 0) return kMixerInvalidParam;
    out.clear();
    for (std::size_t index : line->controls) out.push_back(controls_[index].info);
    return kMixerOk;
}

int MixerTable::getLineControlByType(std::uint32_t lineId, std::uint32_t controlType,
                                     MixerControl& out) {
    const Line* line = findLine(lineId);
    if (!line) return kMixerInvalidLine;
    for (std::size_t index : line->controls) {
        if (controls_[index].info.controlType == controlType) {
            out = controls_[index].info;
            return kMixerOk;
        }
    }
    return kMixerInvalidControl;
}

std::uint32_t MixerTable::storedChannels(std::size_t index) const {
    const Control& c = controls_[index];
    return (c.info.flags & MIXERCONTROL_CONTROLF_UNIFORM) ? 1 : std::max<std::uint32_t>(c.lineChannels, 1);
}

std::uint32_t MixerTable::storedValues(std::size_t index) const {
    const Control& c = controls_[index];
    const std::uint32_t items =
        (c.info.flags & MIXERCONTROL_CONTROLF_MULTIPLE) ? std::max<std::uint32_t>(c.info.multipleItems, 1) : 1;
    return storedChannels(index) * items;
}

const MixerLine* MixerTable::lineOf(std::size_t index) const {
    const Line* line = findLine(controls_[index].lineId);
    return line ? &line->info : nullptr;
}

int MixerTable::checkShape(std::size_t index, std::uint32_t channels, std::uint32_t items) const {
    const Control& c = controls_[index];
    const std::uint32_t expectedItems =
        (c.info.flags & MIXERCONTROL_CONTROLF_MULTIPLE) ? c.info.multipleItems : 0;
    if (items != expectedItems) return kMixerInvalidParam;
    if (channels != 1 && channels != storedChannels(index)) return kMixerInvalidParam;
    return kMixerOk;
}

int MixerTable::getControlValues(std::uint32_t controlId, std::uint32_t channels,
                                 std::uint32_t items, std::int32_t* values) {
    const std::ptrdiff_t found = findControl(controlId);
    if (found < 0) return kMixerInvalidControl;
    const auto index = static_cast<std::size_t>(found);
    if (const int shape = checkShape(index, channels, items); shape != kMixerOk) return shape;
    std::vector<std::int32_t> full(storedValues(index));
    if (!readValues(index, full.data())) return kMixerError;
    const std::uint32_t stored = storedChannels(index);
    const std::uint32_t count = std::max<std::uint32_t>(items, 1);
    for (std::uint32_t item = 0; item < count; ++item)
        for (std::uint32_t channel = 0; channel < channels; ++channel)
            values[item * channels + channel] = full[item * stored + channel];
    return kMixerOk;
}

int MixerTable::getControlListTexts(std::uint32_t controlId, std::uint32_t channels,
                                    std::uint32_t items, MixerListText* texts) {
    const std::ptrdiff_t found = findControl(controlId);
    if (found < 0) return kMixerInvalidControl;
    const auto index = static_cast<std::size_t>(found);
    const Control& c = controls_[index];
    if ((c.info.controlType & MIXERCONTROL_CT_CLASS_MASK) != MIXERCONTROL_CT_CLASS_LIST)
        return kMixerInvalidParam;
    if (const int shape = checkShape(index, channels, items); shape != kMixerOk) return shape;
    for (std::uint32_t item = 0; item < items; ++item) {
        const std::uint32_t lineId = item < c.itemLines.size() ? c.itemLines[item] : 0;
        const Line* line = findLine(lineId);
        for (std::uint32_t channel = 0; channel < channels; ++channel) {
            MixerListText& text = texts[item * channels + channel];
            text.param1 = lineId;
            text.param2 = line ? line->info.componentType : 0;
            text.name = line ? line->info.name : std::string();
        }
    }
    return kMixerOk;
}

int MixerTable::setControlValues(std::uint32_t controlId, std::uint32_t channels,
                                 std::uint32_t items, const std::int32_t* values) {
    const std::ptrdiff_t found = findControl(controlId);
    if (found < 0) return kMixerInvalidControl;
    const auto index = static_cast<std::size_t>(found);
    if (const int shape = checkShape(index, channels, items); shape != kMixerOk) return shape;
    const std::uint32_t stored = storedChannels(index);
    const std::uint32_t count = std::max<std::uint32_t>(items, 1);
    std::vector<std::int32_t> full(storedValues(index));
    for (std::uint32_t item = 0; item < count; ++item)
        for (std::uint32_t channel = 0; channel < stored; ++channel)
            full[item * stored + channel] = values[item * channels + (channels == 1 ? 0 : channel)];
    return writeValues(index, full.data()) ? kMixerOk : kMixerError;
}

std::uint32_t MixerTable::addDestination(std::uint32_t componentType, std::uint32_t channels,
                                         const std::string& name) {
    const auto index = static_cast<std::uint32_t>(destinations_.size());
    Destination destination;
    MixerLine& line = destination.line.info;
    line.destination = index;
    line.lineId = destinationLineId(index);
    line.flags = MIXERLINE_LINEF_ACTIVE;
    line.componentType = componentType;
    line.channels = channels;
    line.shortName = cut(name, kMixerShortNameLength);
    line.name = cut(name, kMixerNameLength);
    destinations_.push_back(std::move(destination));
    return index;
}

std::uint32_t MixerTable::addSource(std::uint32_t destination, std::uint32_t componentType,
                                    std::uint32_t channels, const std::string& name) {
    Destination& owner = destinations_.at(destination);
    const auto index = static_cast<std::uint32_t>(owner.sources.size());
    Line source;
    MixerLine& line = source.info;
    line.destination = destination;
    line.source = index;
    line.lineId = sourceLineId(destination, index);
    line.flags = MIXERLINE_LINEF_ACTIVE | MIXERLINE_LINEF_SOURCE;
    line.componentType = componentType;
    line.channels = channels;
    line.shortName = cut(name, kMixerShortNameLength);
    line.name = cut(name, kMixerNameLength);
    owner.sources.push_back(std::move(source));
    owner.line.info.connections = static_cast<std::uint32_t>(owner.sources.size());
    return index;
}

std::size_t MixerTable::addControl(std::uint32_t lineId, std::uint32_t controlType, std::uint32_t flags,
                                   const std::string& name, std::vector<std::uint32_t> itemLines) {
    Line* line = findLine(lineId);
    const std::size_t index = controls_.size();
    Control control;
    control.info.controlId = static_cast<std::uint32_t>(index + 1);
    control.info.controlType = controlType;
    control.info.flags = flags;
    control.info.multipleItems = static_cast<std::uint32_t>(itemLines.size());
    control.info.shortName = cut(name, kMixerShortNameLength);
    control.info.name = cut(name, kMixerNameLength);
    control.info.minimum = 0;
    control.info.maximum = controlType == MIXERCONTROL_CONTROLTYPE_VOLUME ? 65535 : 1;
    control.lineId = lineId;
    control.lineChannels = line ? line->info.channels : 1;
    control.itemLines = std::move(itemLines);
    controls_.push_back(std::move(control));
    if (line) {
        line->controls.push_back(index);
        line->info.controls = static_cast<std::uint32_t>(line->controls.size());
    }
    return index;
}

void MixerTable::setNotify(QObject* window, MixerNotify notify) {
    window_ = window;
    notify_ = std::move(notify);
}

void MixerTable::postChange(std::uint32_t message, std::uint32_t id) {
    if (!notifies()) return;
    QMetaObject::invokeMethod(
        window_.data(), [notify = notify_, message, mixer = handle(), id] { notify(message, mixer, id); },
        Qt::QueuedConnection);
}

MixerTable::Line* MixerTable::findLine(std::uint32_t lineId) {
    return const_cast<Line*>(static_cast<const MixerTable*>(this)->findLine(lineId));
}

const MixerTable::Line* MixerTable::findLine(std::uint32_t lineId) const {
    for (const Destination& destination : destinations_) {
        if (destination.line.info.lineId == lineId) return &destination.line;
        for (const Line& source : destination.sources)
            if (source.info.lineId == lineId) return &source;
    }
    return nullptr;
}

std::ptrdiff_t MixerTable::findControl(std::uint32_t controlId) const {
    if (controlId == 0 || controlId > controls_.size()) return -1;
    return static_cast<std::ptrdiff_t>(controlId - 1);
}

}  // namespace vozaro::platform
