// Sound card mixers, in the concepts of the classic multimedia mixer: a mixer
// has destination lines (0 playback, 1 recording), each destination has source
// lines, and every line has controls (volume, mute, and list controls whose
// items name source lines: the recording source selection).  Control values
// are 32-bit integers; volumes run 0 to 65535 whatever the hardware's range.
//
// Back ends: the ALSA mixer of a card (AlsaMixerDevice.cpp), always with one
// more playback source, the built-in synthesizer; and a fake card for tests
// (tests/support/FakeMixerDevice.h).  Everything here is called on the user-interface
// thread, and change notifications arrive there as queued events.
#pragma once

#include <QObject>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vozaro::platform {

// Component types of lines.
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_UNDEFINED = 0x0000;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 0x0004;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 0x0007;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED = 0x1000;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_DIGITAL = 0x1001;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x1002;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER = 0x1004;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC = 0x1005;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE = 0x1006;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER = 0x1007;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT = 0x1008;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY = 0x1009;
inline constexpr std::uint32_t MIXERLINE_COMPONENTTYPE_SRC_ANALOG = 0x100A;

// Line flags.
inline constexpr std::uint32_t MIXERLINE_LINEF_ACTIVE = 0x00000001;
inline constexpr std::uint32_t MIXERLINE_LINEF_SOURCE = 0x80000000;

// Control flags.
inline constexpr std::uint32_t MIXERCONTROL_CONTROLF_UNIFORM = 0x00000001;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLF_MULTIPLE = 0x00000002;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLF_DISABLED = 0x80000000;

// Control types and classes.
inline constexpr std::uint32_t MIXERCONTROL_CT_CLASS_MASK = 0xF0000000;
inline constexpr std::uint32_t MIXERCONTROL_CT_CLASS_LIST = 0x70000000;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MUTE = 0x20010002;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MIXER = 0x71010001;
inline constexpr std::uint32_t MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001;

// Change notifications.
inline constexpr std::uint32_t MM_MIXM_LINE_CHANGE = 0x3D0;
inline constexpr std::uint32_t MM_MIXM_CONTROL_CHANGE = 0x3D1;

// Results.
inline constexpr int kMixerOk = 0;
inline constexpr int kMixerError = 1;
inline constexpr int kMixerBadDeviceId = 2;
inline constexpr int kMixerInvalidParam = 11;
inline constexpr int kMixerInvalidLine = 1024;
inline constexpr int kMixerInvalidControl = 1025;
inline constexpr int kMixerInvalidValue = 1026;

// Texts are cut to these lengths, as the classic records hold them.
inline constexpr std::size_t kMixerShortNameLength = 15;
inline constexpr std::size_t kMixerNameLength = 63;
inline constexpr std::size_t kMixerProductNameLength = 31;

struct MixerCaps {
    std::uint16_t manufacturerId = 0;
    std::uint16_t productId = 0;
    std::uint32_t driverVersion = 0;
    std::string productName;
    std::uint32_t support = 0;
    std::uint32_t destinations = 0;
};

struct MixerLine {
    std::uint32_t destination = 0;  // index of the destination (of a source: its own)
    std::uint32_t source = 0;       // index of a source within its destination
    std::uint32_t lineId = 0;
    std::uint32_t flags = 0;
    std::uint32_t componentType = 0;
    std::uint32_t channels = 0;
    std::uint32_t connections = 0;  // sources of a destination
    std::uint32_t controls = 0;
    std::string shortName;
    std::string name;
};

struct MixerControl {
    std::uint32_t controlId = 0;
    std::uint32_t controlType = 0;
    std::uint32_t flags = 0;
    std::uint32_t multipleItems = 0;  // items of a list control
    std::string shortName;
    std::string name;
    std::int32_t minimum = 0;
    std::int32_t maximum = 0;
};

// One item of a list control; param1 is the line id of the source it names.
struct MixerListText {
    std::uint32_t param1 = 0;
    std::uint32_t param2 = 0;
    std::string name;
};

// A change report: (MM_MIXM_LINE_CHANGE or MM_MIXM_CONTROL_CHANGE, the handle
// of the reporting mixer, the line or control id).
using MixerNotify = std::function<void(std::uint32_t message, std::uintptr_t mixer, std::uint32_t id)>;

// One open mixer; destroying it closes it.
//
// Control values travel as `channels` x `items` 32-bit values (`items` 0 for a
// control that is not a list: then `channels` values), item by item with the
// channels of one item side by side.  `channels` is 1 for a uniform control and
// may be 1 for any control (all channels at once), else the line's channel
// count; `items` must be the control's item count for a list control.
class MixerDevice {
public:
    virtual ~MixerDevice() = default;

    // The value change reports carry as the mixer handle.
    std::uintptr_t handle() const { return reinterpret_cast<std::uintptr_t>(this); }

    virtual int getDevCaps(MixerCaps& caps) = 0;
    virtual int getLineInfoDestination(std::uint32_t destination, MixerLine& line) = 0;
    virtual int getLineInfoSource(std::uint32_t destination, std::uint32_t source, MixerLine& line) = 0;
    // Every control of a line, in order; `count` is the line's control count.
    virtual int getLineControlsAll(std::uint32_t lineId, std::uint32_t count,
                                   std::vector<MixerControl>& controls) = 0;
    // The first control of a line with the given type.
    virtual int getLineControlByType(std::uint32_t lineId, std::uint32_t controlType,
                                     MixerControl& control) = 0;
    virtual int getControlValues(std::uint32_t controlId, std::uint32_t channels,
                                 std::uint32_t items, std::int32_t* values) = 0;
    virtual int getControlListTexts(std::uint32_t controlId, std::uint32_t channels,
                                    std::uint32_t items, MixerListText* texts) = 0;
    virtual int setControlValues(std::uint32_t controlId, std::uint32_t channels,
                                 std::uint32_t items, const std::int32_t* values) = 0;
};

// The mixers of the machine.
class MixerSystem {
public:
    virtual ~MixerSystem() = default;
    virtual int deviceCount() = 0;
    // Opens mixer `id`.  With a window, changes are reported to `notify` as
    // queued events on the window's thread (dropped once the window has gone);
    // without one, nothing is reported.
    virtual int open(int id, QObject* window, MixerNotify notify,
                     std::unique_ptr<MixerDevice>& device) = 0;
};

// The mixers the program sees: the system's, or the installed ones.
int mixerDeviceCount();
int openMixerDevice(int id, QObject* window, MixerNotify notify, std::unique_ptr<MixerDevice>& device);

// Replaces the mixers for the whole process and returns the previous
// replacement; null restores the system's.
std::shared_ptr<MixerSystem> installMixerSystem(std::shared_ptr<MixerSystem> system);

// The ALSA mixer of `card` ("default" unless a test names another) as mixer 0,
// with the built-in synthesizer's line added to its playback side.
std::shared_ptr<MixerSystem> createAlsaMixerSystem(std::string card = "default");

// Installs mixers for its lifetime (tests).
class ScopedMixerSystem {
public:
    explicit ScopedMixerSystem(std::shared_ptr<MixerSystem> system)
        : previous_(installMixerSystem(std::move(system))) {}
    ~ScopedMixerSystem() { installMixerSystem(std::move(previous_)); }
    ScopedMixerSystem(const ScopedMixerSystem&) = delete;
    ScopedMixerSystem& operator=(const ScopedMixerSystem&) = delete;

private:
    std::shared_ptr<MixerSystem> previous_;
};

}  // namespace vozaro::platform
