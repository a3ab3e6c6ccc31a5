// The sound card mixer as a tree of objects (mixer -> destination lines ->
// source lines, each line with its controls), with four operations that read
// and write the volume and the mute state of one line, and an event for
// changes made to the mixer by anybody, this program included.
//
// A line is addressed by a destination index (0 playback, 1 recording) and a
// connection index: -1 names the destination line itself, n >= 0 the n-th
// source of the destination in the order the sources were enumerated.
//
// Works on the mixer devices of platform/MixerDevice.h.  User-interface thread
// only; nothing here throws: missing devices, lines and controls make the
// operations return false or leave "not found" values.
#pragma once

#include "platform/devices/MixerDevice.h"

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vozaro::audio {

class TAudioMixer;

// An ordered list of untyped references.  With OnFreeItem set the list owns its
// items: Clear (and destruction) hands each of them to the handler.
class TPointerList {
public:
    using TFreeItemEvent = std::function<void(void* item)>;

    TPointerList() = default;
    ~TPointerList();
    TPointerList(const TPointerList&) = delete;
    TPointerList& operator=(const TPointerList&) = delete;

    int Add(void* item);
    // nullptr at or past the end.
    void* Get(int index) const;
    int Count() const { return static_cast<int>(Items_.size()); }
    void Clear();

    TFreeItemEvent OnFreeItem;

private:
    std::vector<void*> Items_;
};

// The controls of one line, in the order the device lists them.
class TMixerControls {
public:
    TMixerControls(platform::MixerDevice* device, const platform::MixerLine& line);
    int Count() const { return List_.Count(); }
    // nullptr past the end.
    const platform::MixerControl* Control(int index) const;

private:
    std::vector<platform::MixerControl> Block_;
    TPointerList List_;  // points into Block_, owns nothing
};

// One source line.
class TMixerConnection {
public:
    TMixerConnection(TAudioMixer* mixer, const platform::MixerLine& line);
    TAudioMixer* Mixer;
    platform::MixerLine Line;
    TMixerControls Controls;
};

// The source lines of one destination.  A source the device fails to
// describe is skipped, so positions can differ from the device's indexes.
class TMixerConnections {
public:
    TMixerConnections(TAudioMixer* mixer, const platform::MixerLine& destination);
    int Count() const { return List_.Count(); }
    TMixerConnection* Connection(int index) const;
    TAudioMixer* Mixer;

private:
    TPointerList List_;  // owns its TMixerConnection objects
};

// One destination line with its controls and sources.
class TMixerDestination {
public:
    TMixerDestination(TAudioMixer* mixer, const platform::MixerLine& line);
    ~TMixerDestination();
    TAudioMixer* Mixer;
    platform::MixerLine Line;
    std::unique_ptr<TMixerControls> Controls;
    std::unique_ptr<TMixerConnections> Connections;
};

// The destinations of a mixer; empty when built without one.
class TMixerDestinations {
public:
    explicit TMixerDestinations(TAudioMixer* mixer);
    int Count() const { return List_.Count(); }
    TMixerDestination* Destination(int index) const;

private:
    TPointerList List_;  // owns its TMixerDestination objects
};

// Mixer change event: (sender, mixer handle, line or control id).
using TMixerChangeEvent = std::function<void(QObject* sender, std::uintptr_t mixer, std::uint32_t id)>;

// What ReadLineVolume finds on a line; -1 and true for the "disabled" flags
// mean "not found".  When MuteIsSelection, Mute is 1 for a source that is
// selected for recording (the opposite of muted).
struct LineVolume {
    std::int32_t Left = -1;
    std::int32_t Right = -1;
    std::int32_t Mute = -1;
    bool Stereo = false;
    bool VolumeDisabled = true;
    bool MuteDisabled = true;
    bool MuteIsSelection = false;
};

class TAudioMixer : public QObject {
public:
    explicit TAudioMixer(QObject* parent = nullptr);
    ~TAudioMixer() override;

    // Published properties.
    std::int32_t MixerId() const { return MixerId_; }
    // Closes the open mixer and opens mixer `id`; an id out of range leaves the
    // open mixer as it is.
    void setMixerId(std::int32_t id);
    std::int32_t MixerCount() const { return MixerCount_; }
    std::uint32_t DriverVersion() const { return DriverVersion_; }
    const std::string& Manufacturer() const { return Manufacturer_; }
    std::uint16_t ProductId() const { return ProductId_; }
    std::uint32_t NumberOfLine() const { return NumberOfLine_; }
    const std::string& ProductName() const { return ProductName_; }
    std::uintptr_t MixerHandle() const { return MixerHandle_ ? MixerHandle_->handle() : 0; }
    const platform::MixerCaps& MixerCaps() const { return MixerCaps_; }
    // nullptr only between closing and reopening.
    TMixerDestinations* Destinations() const { return Destinations_.get(); }
    platform::MixerDevice* Device() const { return MixerHandle_.get(); }

    TMixerChangeEvent OnLineChange;
    TMixerChangeEvent OnControlChange;

    // The line operations: each returns whether the line was found (and, for
    // the mute operations, whether a mute state was found).
    bool ReadLineVolume(int destination, int connection, LineVolume& volume);
    // left -1 leaves the volume alone, right -1 means the same as left; mute -1
    // leaves the mute (or selection) alone, else 0 or 1.
    bool WriteLineVolume(int destination, int connection, std::int32_t left, std::int32_t right,
                         std::int32_t mute);
    bool ReadLineMute(int destination, int connection, bool& muted);
    bool WriteLineMute(int destination, int connection, bool muted);

private:
    struct ControlValues;
    struct FoundLine {
        TMixerDestination* destination = nullptr;
        const platform::MixerLine* line = nullptr;
        const TMixerControls* controls = nullptr;
        bool isSource = false;
    };

    void CloseMixer();
    void WindowProc(std::uint32_t message, std::uintptr_t mixer, std::uint32_t id);
    bool FindLine(int destination, int connection, FoundLine& found) const;
    bool ReadValues(const platform::MixerControl& control, const platform::MixerLine& line,
                    bool withItems, ControlValues& values) const;
    bool SendValues(const platform::MixerControl& control, const ControlValues& values) const;
    // The line's own mute control, asked of the device by type.
    bool LineMuteControl(const FoundLine& found, platform::MixerControl& control) const;
    // The first control of the line's destination of the kind asked for that
    // lists the line (a source) as an item: its values and the item's position.
    const platform::MixerControl* FindSelection(const FoundLine& found,
                                                bool (*kind)(const platform::MixerControl&),
                                                ControlValues& values, int& k) const;
    // Position of `source`'s item in the list control of `destination`, or -1.
    int FindSourceItem(const platform::MixerControl& control, const platform::MixerLine& destination,
                       const platform::MixerLine& source, ControlValues* values = nullptr) const;

    QObject* MessageWindow_;
    std::unique_ptr<TMixerDestinations> Destinations_;
    std::int32_t MixerCount_ = 0;
    std::unique_ptr<platform::MixerDevice> MixerHandle_;
    std::int32_t MixerId_ = -1;
    platform::MixerCaps MixerCaps_;
    std::uint32_t DriverVersion_ = 0;
    std::string Manufacturer_;
    std::uint16_t ProductId_ = 0;
    std::uint32_t NumberOfLine_ = 0;
    std::string ProductName_;
};

}  // namespace vozaro::audio
