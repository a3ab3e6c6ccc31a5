// A mixer laid out as a table of lines and controls: the part of a mixer
// device the back ends share.  A back end describes its lines and controls once
// when it opens, and reads and writes the values of one control at a time in
// their full layout (every channel the control stores, every item); the table
// answers the queries, checks the channel and item counts the caller passes
// and converts between "all channels at once" and per-channel values.
#pragma once

#include "platform/devices/MixerDevice.h"

#include <QPointer>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace vozaro::platform {

class MixerTable : public MixerDevice {
public:
    int getDevCaps(MixerCaps& caps) override;
    int getLineInfoDestination(std::uint32_t destination, MixerLine& line) override;
    int getLineInfoSource(std::uint32_t destination, std::uint32_t source, MixerLine& line) override;
    int getLineControlsAll(std::uint32_t lineId, std::uint32_t count,
                           std::vector<MixerControl>& controls) override;
    int getLineControlByType(std::uint32_t lineId, std::uint32_t controlType,
                             MixerControl& control) override;
    int getControlValues(std::uint32_t controlId, std::uint32_t channels, std::uint32_t items,
                         std::int32_t* values) override;
    int getControlListTexts(std::uint32_t controlId, std::uint32_t channels, std::uint32_t items,
                            MixerListText* texts) override;
    int setControlValues(std::uint32_t controlId, std::uint32_t channels, std::uint32_t items,
                         const std::int32_t* values) override;

    // Building the table.  Line ids: 0xFFFF0000 + d for destination d,
    // (d << 16) + s for source s of destination d.  Control ids count from 1.
    std::uint32_t addDestination(std::uint32_t componentType, std::uint32_t channels, const std::string& name);
    std::uint32_t addSource(std::uint32_t destination, std::uint32_t componentType,
                            std::uint32_t channels, const std::string& name);
    // Returns the control's index in the table.  A list control's items name
    // the lines `itemLines`.
    std::size_t addControl(std::uint32_t lineId, std::uint32_t controlType, std::uint32_t flags,
                           const std::string& name, std::vector<std::uint32_t> itemLines = {});

    static std::uint32_t destinationLineId(std::uint32_t destination) { return 0xFFFF0000u + destination; }
    static std::uint32_t sourceLineId(std::uint32_t destination, std::uint32_t source) {
        return (destination << 16) + source;
    }

    std::size_t controlCount() const { return controls_.size(); }
    const MixerControl& control(std::size_t index) const { return controls_[index].info; }
    // How many values a control stores: channels (1 when uniform) x items.
    std::uint32_t storedChannels(std::size_t index) const;
    std::uint32_t storedValues(std::size_t index) const;
    // The line a control belongs to.
    const MixerLine* lineOf(std::size_t index) const;
    std::size_t destinationCount() const { return destinations_.size(); }
    std::size_t sourceCount(std::uint32_t destination) const {
        return destination < destinations_.size() ? destinations_[destination].sources.size() : 0;
    }

    // Reports to the window given at open.
    void setNotify(QObject* window, MixerNotify notify);
    bool notifies() const { return !window_.isNull() && notify_ != nullptr; }
    void postChange(std::uint32_t message, std::uint32_t id);

    MixerCaps caps;

protected:
    // The full values of control `index` (storedValues of them).
    virtual bool readValues(std::size_t index, std::int32_t* values) = 0;
    virtual bool writeValues(std::size_t index, const std::int32_t* values) = 0;

private:
    struct Line {
        MixerLine info;
        std::vector<std::size_t> controls;
    };
    struct Destination {
        Line line;
        std::vector<Line> sources;
    };
    struct Control {
        MixerControl info;
        std::uint32_t lineId = 0;
        std::uint32_t lineChannels = 1;
        std::vector<std::uint32_t> itemLines;
    };

    Line* findLine(std::uint32_t lineId);
    const Line* findLine(std::uint32_t lineId) const;
    std::ptrdiff_t findControl(std::uint32_t controlId) const;
    int checkShape(std::size_t index, std::uint32_t channels, std::uint32_t items) const;

    std::vector<Destination> destinations_;
    std::vector<Control> controls_;
    QPointer<QObject> window_;
    MixerNotify notify_;
};

}  // namespace vozaro::platform
