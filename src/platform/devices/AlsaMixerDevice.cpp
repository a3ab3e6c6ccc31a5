// The ALSA mixer of a card, laid out as a classic sound card mixer:
//
//   destination 0, playback: its line is "Master"; every other playback
//     element is a source, its component type taken from its name; last comes
//     the built-in synthesizer, whose volume and mute are the synthesizer's
//     gain (MidiDevices.h), so the accompaniment volume works on every
//     machine, even one without any ALSA mixer;
//   destination 1, recording: its line is "Capture"; every other capture
//     element is a source with its capture volume.  The destination has one
//     selection control, so that the microphone's item is always in the
//     control a selection writes: an enumerated capture source element (the
//     first that lists a microphone) becomes a MUX over its items, and then
//     the sources' own capture switches are their mutes; without one, the
//     sources with capture switches are chosen through one list control (a MUX
//     when the switches are exclusive, else a MIXER).  Where the card shows
//     only "Master" and "Capture" (a sound server), "Capture" becomes a
//     microphone source of destination 1 instead.
//
// Volumes are scaled between the element's range and 0..65535; a mute is an
// element switch turned off.  ALSA's failures are negative codes, turned into
// mixer results here.  Changes by anybody are reported through the mixer's poll
// descriptors, watched by the user-interface thread's event loop.
#include "platform/devices/AlsaMessages.h"
#include "platform/devices/MidiDevices.h"
#include "platform/devices/MixerTable.h"
#include "platform/WindowTimer.h"

#include <QSocketNotifier>

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vozaro::platform {

namespace {

constexpr const char* kSynthName = "Built-in synthesizer";

bool nameHas(const std::string& name, const char* word) {
    std::string lower = name;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return lower.find(word) != std::string::npos;
}

std::uint32_t componentTypeOf(const std::string& name) {
    struct Match {
        const char* word;
        std::uint32_t type;
    };
    static const Match matches[] = {
        {"mic", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE},
        {"line", MIXERLINE_COMPONENTTYPE_SRC_LINE},
        {"cd", MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC},
        {"synth", MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER},
        {"midi", MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER},
        {"fm", MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER},
        {"phone", MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE},
        {"beep", MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER},
        {"pc speaker", MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER},
        {"iec958", MIXERLINE_COMPONENTTYPE_SRC_DIGITAL},
        {"spdif", MIXERLINE_COMPONENTTYPE_SRC_DIGITAL},
        {"digital", MIXERLINE_COMPONENTTYPE_SRC_DIGITAL},
        {"aux", MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY},
        {"video", MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY},
        {"pcm", MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT},
        {"wave", MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT},
        {"mix", MIXERLINE_COMPONENTTYPE_SRC_ANALOG},
    };
    for (const Match& match : matches)
        if (nameHas(name, match.word)) return match.type;
    return MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
}

std::int32_t toMixerVolume(long raw, long min, long max) {
    if (max <= min) return 0;
    const double scaled = double(std::clamp(raw, min, max) - min) * 65535.0 / double(max - min);
    return static_cast<std::int32_t>(std::lround(scaled));
}

long toAlsaVolume(std::int32_t value, long min, long max) {
    const double share = std::clamp(value, 0, 65535) / 65535.0;
    return min + std::lround(share * double(max - min));
}

class AlsaMixerDevice final : public MixerTable {
public:
    explicit AlsaMixerDevice(const std::string& card) : card_(card), retry_([this] { reconnect(); }) {
        retry_.setSingleShot(true);
        openDevices().push_back(this);
        caps.manufacturerId = 0;
        caps.productId = 0;
        caps.driverVersion = SND_LIB_VERSION;
        caps.productName = card;
        attach(card);
        build();
    }

    ~AlsaMixerDevice() override {
        std::erase(openDevices(), this);
        notifiers_.clear();
        if (mixer_) snd_mixer_close(mixer_);
    }

    // Watches the mixer for changes by anybody; the reports go to the window.
    void watch(QObject* window, MixerNotify notify) {
        setNotify(window, std::move(notify));
        watchDescriptors();
    }

protected:
    bool readValues(std::size_t index, std::int32_t* values) override {
        const Binding& b = bindings_[index];
        if (b.gone) return false;
        const std::uint32_t channels = storedChannels(index);
        switch (b.kind) {
        case Kind::PlaybackVolume:
        case Kind::CaptureVolume: {
            const bool playback = b.kind == Kind::PlaybackVolume;
            long min = 0, max = 0;
            if (!volumeRange(b, min, max)) return false;
            for (std::uint32_t c = 0; c < channels; ++c) {
                long raw = 0;
                const auto channel = channelAt(c);
                if ((playback ? snd_mixer_selem_get_playback_volume(b.elem, channel, &raw)
                              : snd_mixer_selem_get_capture_volume(b.elem, channel, &raw)) < 0)
                    return false;
                values[c] = toMixerVolume(raw, min, max);
            }
            return true;
        }
        case Kind::PlaybackMute:
        case Kind::CaptureMute: {
            int on = 0;
            if ((b.kind == Kind::PlaybackMute
                     ? snd_mixer_selem_get_playback_switch(b.elem, SND_MIXER_SCHN_FRONT_LEFT, &on)
                     : snd_mixer_selem_get_capture_switch(b.elem, SND_MIXER_SCHN_FRONT_LEFT, &on)) < 0)
                return false;
            values[0] = on ? 0 : 1;
            return true;
        }
        case Kind::CaptureSelect:
            for (std::size_t i = 0; i < b.items.size(); ++i) {
                int on = 0;
                if (snd_mixer_selem_get_capture_switch(b.items[i], SND_MIXER_SCHN_FRONT_LEFT, &on) < 0)
                    return false;
                values[i] = on ? 1 : 0;
            }
            return true;
        case Kind::EnumSelect: {
            unsigned selected = 0;
            if (snd_mixer_selem_get_enum_item(b.elem, SND_MIXER_SCHN_FRONT_LEFT, &selected) < 0) return false;
            for (std::size_t i = 0; i < b.enumItems.size(); ++i) values[i] = b.enumItems[i] == selected;
            return true;
        }
        case Kind::SynthVolume:
            values[0] = builtinSynthVolume();
            return true;
        case Kind::SynthMute:
            values[0] = builtinSynthMute() ? 1 : 0;
            return true;
        }
        return false;
    }

    bool writeValues(std::size_t index, const std::int32_t* values) override {
        const Binding& b = bindings_[index];
        if (b.gone) return false;
        const std::uint32_t channels = storedChannels(index);
        switch (b.kind) {
        case Kind::PlaybackVolume:
        case Kind::CaptureVolume: {
            const bool playback = b.kind == Kind::PlaybackVolume;
            long min = 0, max = 0;
            if (!volumeRange(b, min, max)) return false;
            if (channels == 1) {
                const long raw = toAlsaVolume(values[0], min, max);
                return (playback ? snd_mixer_selem_set_playback_volume_all(b.elem, raw)
                                 : snd_mixer_selem_set_capture_volume_all(b.elem, raw)) >= 0;
            }
            bool ok = true;
            for (std::uint32_t c = 0; c < 2; ++c) {
                const auto channel = channelAt(c);
                const long raw = toAlsaVolume(values[c], min, max);
                ok &= (playback ? snd_mixer_selem_set_playback_volume(b.elem, channel, raw)
                                : snd_mixer_selem_set_capture_volume(b.elem, channel, raw)) >= 0;
            }
            return ok;
        }
        case Kind::PlaybackMute:
            return snd_mixer_selem_set_playback_switch_all(b.elem, values[0] ? 0 : 1) >= 0;
        case Kind::CaptureMute:
            return snd_mixer_selem_set_capture_switch_all(b.elem, values[0] ? 0 : 1) >= 0;
        case Kind::CaptureSelect: {
            // Switches going off first, so that an exclusive group is never
            // asked to hold two sources at once.
            bool ok = true;
            for (int pass = 0; pass < 2; ++pass)
                for (std::size_t i = 0; i < b.items.size(); ++i)
                    if ((values[i] != 0) == (pass == 1))
                        ok &= snd_mixer_selem_set_capture_switch_all(b.items[i], pass) >= 0;
            return ok;
        }
        case Kind::EnumSelect:
            for (std::size_t i = 0; i < b.enumItems.size(); ++i)
                if (values[i] != 0) return selectEnumItem(b.elem, b.enumItems[i]);
            return true;
        case Kind::SynthVolume:
            setBuiltinSynthVolume(static_cast<std::uint16_t>(std::clamp(values[0], 0, 65535)));
            reportSynthChange(Kind::SynthVolume);
            return true;
        case Kind::SynthMute:
            setBuiltinSynthMute(values[0] != 0);
            reportSynthChange(Kind::SynthMute);
            return true;
        }
        return false;
    }

private:
    enum class Kind {
        PlaybackVolume,
        PlaybackMute,
        CaptureVolume,
        CaptureMute,
        CaptureSelect,  // capture switches of several elements, one item each
        EnumSelect,     // the items of an enumerated capture source
        SynthVolume,
        SynthMute,
    };
    // An element by its name and index, to find it again in a mixer
    // opened anew.
    struct ElementId {
        std::string name;
        unsigned index = 0;
    };
    struct Binding {
        Kind kind = Kind::SynthVolume;
        snd_mixer_elem_t* elem = nullptr;
        std::vector<snd_mixer_elem_t*> items;
        std::vector<unsigned> enumItems;
        bool gone = false;  // its element was removed, or the mixer lost: reads and writes fail
        std::vector<ElementId> ids;  // of elem, then of the items

        bool uses(snd_mixer_elem_t* element) const {
            return elem == element || std::find(items.begin(), items.end(), element) != items.end();
        }
    };
    static Binding on(Kind kind, snd_mixer_elem_t* elem = nullptr) {
        Binding binding;
        binding.kind = kind;
        binding.elem = elem;
        return binding;
    }

    // Every channel of the element records the item (a stereo source
    // element holds one choice per channel).
    static bool selectEnumItem(snd_mixer_elem_t* elem, unsigned item) {
        int channels = 0;
        for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c, ++channels)
            if (snd_mixer_selem_set_enum_item(elem, static_cast<snd_mixer_selem_channel_id_t>(c), item) < 0)
                break;
        return channels > 0;
    }

    static bool volumeRange(const Binding& b, long& min, long& max) {
        return (b.kind == Kind::PlaybackVolume ? snd_mixer_selem_get_playback_volume_range(b.elem, &min, &max)
                                               : snd_mixer_selem_get_capture_volume_range(b.elem, &min, &max)) >= 0;
    }

    static snd_mixer_selem_channel_id_t channelAt(std::uint32_t channel) {
        return channel == 0 ? SND_MIXER_SCHN_FRONT_LEFT : SND_MIXER_SCHN_FRONT_RIGHT;
    }

    static std::vector<AlsaMixerDevice*>& openDevices() {
        static std::vector<AlsaMixerDevice*> devices;
        return devices;
    }

    void attach(const std::string& card) {
        silenceAlsaMessages();
        if (snd_mixer_open(&mixer_, 0) < 0) {
            mixer_ = nullptr;
            return;
        }
        if (snd_mixer_attach(mixer_, card.c_str()) < 0 || snd_mixer_selem_register(mixer_, nullptr, nullptr) < 0 ||
            snd_mixer_load(mixer_) < 0) {
            snd_mixer_close(mixer_);
            mixer_ = nullptr;
            return;
        }
        snd_ctl_t* ctl = nullptr;
        if (snd_ctl_open(&ctl, card.c_str(), SND_CTL_NONBLOCK) >= 0) {
            snd_ctl_card_info_t* info = nullptr;
            if (snd_ctl_card_info_malloc(&info) >= 0) {
                if (snd_ctl_card_info(ctl, info) >= 0 && *snd_ctl_card_info_get_name(info))
                    caps.productName = snd_ctl_card_info_get_name(info);
                snd_ctl_card_info_free(info);
            }
            snd_ctl_close(ctl);
        }
    }

    static std::string nameOf(snd_mixer_elem_t* elem) {
        const char* name = snd_mixer_selem_get_name(elem);
        const unsigned index = snd_mixer_selem_get_index(elem);
        std::string text = name ? name : "";
        if (index > 0) text += " " + std::to_string(index);
        return text;
    }

    static bool isNamed(snd_mixer_elem_t* elem, const char* name) {
        const char* own = snd_mixer_selem_get_name(elem);
        return own && std::string(own) == name && snd_mixer_selem_get_index(elem) == 0;
    }

    static std::uint32_t playbackChannels(snd_mixer_elem_t* elem) {
        return snd_mixer_selem_is_playback_mono(elem) ? 1 : 2;
    }
    static std::uint32_t captureChannels(snd_mixer_elem_t* elem) {
        return snd_mixer_selem_is_capture_mono(elem) ? 1 : 2;
    }

    std::size_t bind(std::uint32_t lineId, std::uint32_t type, std::uint32_t flags, const std::string& name,
                     Binding binding, std::vector<std::uint32_t> itemLines = {}) {
        const std::size_t index = addControl(lineId, type, flags, name, std::move(itemLines));
        bindings_.resize(index + 1, on(Kind::SynthVolume));
        bindings_[index] = std::move(binding);
        Binding& bound = bindings_[index];
        if (bound.elem) bound.ids.push_back(idOf(bound.elem));
        for (snd_mixer_elem_t* item : bound.items) bound.ids.push_back(idOf(item));
        watchBinding(bound);
        return index;
    }

    void addPlaybackControls(std::uint32_t lineId, snd_mixer_elem_t* elem, const std::string& name) {
        if (snd_mixer_selem_has_playback_volume(elem)) {
            const bool joined = snd_mixer_selem_is_playback_mono(elem) ||
                                snd_mixer_selem_has_playback_volume_joined(elem);
            bind(lineId, MIXERCONTROL_CONTROLTYPE_VOLUME, joined ? MIXERCONTROL_CONTROLF_UNIFORM : 0,
                 name + " Volume", on(Kind::PlaybackVolume, elem));
        }
        if (snd_mixer_selem_has_playback_switch(elem))
            bind(lineId, MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM, name + " Mute",
                 on(Kind::PlaybackMute, elem));
    }

    void addCaptureVolume(std::uint32_t lineId, snd_mixer_elem_t* elem, const std::string& name) {
        if (!snd_mixer_selem_has_capture_volume(elem)) return;
        const bool joined =
            snd_mixer_selem_is_capture_mono(elem) || snd_mixer_selem_has_capture_volume_joined(elem);
        bind(lineId, MIXERCONTROL_CONTROLTYPE_VOLUME, joined ? MIXERCONTROL_CONTROLF_UNIFORM : 0,
             name + " Capture Volume", on(Kind::CaptureVolume, elem));
    }

    void build() {
        std::vector<snd_mixer_elem_t*> playback, capture, enums;
        snd_mixer_elem_t* master = nullptr;
        snd_mixer_elem_t* captureElem = nullptr;
        if (mixer_) {
            for (snd_mixer_elem_t* elem = snd_mixer_first_elem(mixer_); elem; elem = snd_mixer_elem_next(elem)) {
                if (!snd_mixer_selem_is_active(elem)) continue;
                if (snd_mixer_selem_is_enumerated(elem)) {
                    if (snd_mixer_selem_is_enum_capture(elem)) enums.push_back(elem);
                    continue;
                }
                if (snd_mixer_selem_has_playback_volume(elem) || snd_mixer_selem_has_playback_switch(elem)) {
                    if (!master && isNamed(elem, "Master"))
                        master = elem;
                    else
                        playback.push_back(elem);
                }
                if (snd_mixer_selem_has_capture_volume(elem) || snd_mixer_selem_has_capture_switch(elem)) {
                    if (!captureElem && isNamed(elem, "Capture"))
                        captureElem = elem;
                    else
                        capture.push_back(elem);
                }
            }
        }

        // Destination 0: playback.
        const std::uint32_t out = addDestination(MIXERLINE_COMPONENTTYPE_DST_SPEAKERS,
                                                 master ? playbackChannels(master) : 2, "Master");
        for (snd_mixer_elem_t* elem : playback)
            addSource(out, componentTypeOf(nameOf(elem)), playbackChannels(elem), nameOf(elem));
        const std::uint32_t synth = addSource(out, MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER, 2, kSynthName);

        // Destination 1: recording.
        const std::uint32_t in = addDestination(MIXERLINE_COMPONENTTYPE_DST_WAVEIN,
                                                captureElem ? captureChannels(captureElem) : 2, "Capture");
        for (snd_mixer_elem_t* elem : capture)
            addSource(in, componentTypeOf(nameOf(elem)), captureChannels(elem), nameOf(elem));
        struct EnumSource {
            snd_mixer_elem_t* elem;
            std::vector<std::uint32_t> lines;
            std::vector<unsigned> items;
        };
        std::vector<EnumSource> enumSources;
        for (snd_mixer_elem_t* elem : chooseCaptureSource(enums)) {
            EnumSource source{elem, {}, {}};
            for (const auto& [item, name] : enumItems(elem)) {
                source.lines.push_back(sourceLineId(in, findOrAddSource(in, name)));
                source.items.push_back(item);
            }
            if (!source.lines.empty()) enumSources.push_back(std::move(source));
        }
        const bool microphoneOnCapture = captureElem && capture.empty() && enumSources.empty();
        std::uint32_t microphone = 0;
        if (microphoneOnCapture)
            microphone = addSource(in, MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, captureChannels(captureElem),
                                   "Capture");

        // Controls, destination by destination, line by line.
        if (master) addPlaybackControls(destinationLineId(out), master, "Master");
        for (std::uint32_t i = 0; i < playback.size(); ++i)
            addPlaybackControls(sourceLineId(out, i), playback[i], nameOf(playback[i]));
        bind(sourceLineId(out, synth), MIXERCONTROL_CONTROLTYPE_VOLUME, MIXERCONTROL_CONTROLF_UNIFORM,
             "Synthesizer Volume", on(Kind::SynthVolume));
        bind(sourceLineId(out, synth), MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM,
             "Synthesizer Mute", on(Kind::SynthMute));

        const std::uint32_t captureLine = microphoneOnCapture ? sourceLineId(in, microphone) : destinationLineId(in);
        if (captureElem) {
            addCaptureVolume(captureLine, captureElem, "Capture");
            if (snd_mixer_selem_has_capture_switch(captureElem))
                bind(captureLine, MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM, "Capture Mute",
                     on(Kind::CaptureMute, captureElem));
        }
        Binding select = on(Kind::CaptureSelect);
        std::vector<std::uint32_t> selectLines;
        bool exclusive = false;
        for (std::uint32_t i = 0; i < capture.size() && enumSources.empty(); ++i) {
            if (!snd_mixer_selem_has_capture_switch(capture[i])) continue;
            select.items.push_back(capture[i]);
            selectLines.push_back(sourceLineId(in, i));
            exclusive |= snd_mixer_selem_has_capture_switch_exclusive(capture[i]) != 0;
        }
        if (!select.items.empty()) {
            bind(destinationLineId(in), exclusive ? MIXERCONTROL_CONTROLTYPE_MUX : MIXERCONTROL_CONTROLTYPE_MIXER,
                 MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE,
                 exclusive ? "Capture Source" : "Capture Mixer", std::move(select), std::move(selectLines));
        }
        for (EnumSource& source : enumSources) {
            Binding binding = on(Kind::EnumSelect, source.elem);
            binding.enumItems = source.items;
            bind(destinationLineId(in), MIXERCONTROL_CONTROLTYPE_MUX,
                 MIXERCONTROL_CONTROLF_UNIFORM | MIXERCONTROL_CONTROLF_MULTIPLE, nameOf(source.elem),
                 std::move(binding), source.lines);
        }
        for (std::uint32_t i = 0; i < capture.size(); ++i) {
            addCaptureVolume(sourceLineId(in, i), capture[i], nameOf(capture[i]));
            if (!enumSources.empty() && snd_mixer_selem_has_capture_switch(capture[i]))
                bind(sourceLineId(in, i), MIXERCONTROL_CONTROLTYPE_MUTE, MIXERCONTROL_CONTROLF_UNIFORM,
                     nameOf(capture[i]) + " Capture Mute", on(Kind::CaptureMute, capture[i]));
        }
    }

    static std::vector<std::pair<unsigned, std::string>> enumItems(snd_mixer_elem_t* elem) {
        std::vector<std::pair<unsigned, std::string>> items;
        const int count = snd_mixer_selem_get_enum_items(elem);
        for (int i = 0; i < count; ++i) {
            char text[64] = {};
            if (snd_mixer_selem_get_enum_item_name(elem, static_cast<unsigned>(i), sizeof text, text) >= 0)
                items.emplace_back(static_cast<unsigned>(i), text);
        }
        return items;
    }

    // The one enumerated capture source the recording destination chooses
    // through: the first that lists a microphone, else the first; none when
    // the card has none.
    static std::vector<snd_mixer_elem_t*> chooseCaptureSource(const std::vector<snd_mixer_elem_t*>& enums) {
        for (snd_mixer_elem_t* elem : enums)
            for (const auto& item : enumItems(elem))
                if (componentTypeOf(item.second) == MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE) return {elem};
        if (enums.empty()) return {};
        return {enums.front()};
    }

    std::uint32_t findOrAddSource(std::uint32_t destination, const std::string& name) {
        MixerLine line;
        for (std::uint32_t s = 0; s < sourceCount(destination); ++s)
            if (getLineInfoSource(destination, s, line) == kMixerOk && line.name == name) return s;
        return addSource(destination, componentTypeOf(name), 2, name);
    }

    static ElementId idOf(snd_mixer_elem_t* elem) {
        const char* name = snd_mixer_selem_get_name(elem);
        return {name ? name : "", snd_mixer_selem_get_index(elem)};
    }

    snd_mixer_elem_t* find(const ElementId& id) const {
        snd_mixer_selem_id_t* selem = nullptr;
        snd_mixer_selem_id_alloca(&selem);
        snd_mixer_selem_id_set_name(selem, id.name.c_str());
        snd_mixer_selem_id_set_index(selem, id.index);
        return snd_mixer_find_selem(mixer_, selem);
    }

    void watchBinding(const Binding& binding) {
        if (binding.elem) watchElement(binding.elem);
        for (snd_mixer_elem_t* item : binding.items) watchElement(item);
    }

    // The mixer's descriptors, watched by the event loop while it works.
    void watchDescriptors() {
        if (!mixer_ || !notifies()) return;
        const int count = snd_mixer_poll_descriptors_count(mixer_);
        if (count <= 0) return;
        std::vector<pollfd> fds(static_cast<std::size_t>(count));
        const int filled = snd_mixer_poll_descriptors(mixer_, fds.data(), static_cast<unsigned>(count));
        for (int i = 0; i < filled; ++i) {
            if (fds[i].fd < 0) continue;
            auto notifier = std::make_unique<QSocketNotifier>(fds[i].fd, QSocketNotifier::Read);
            QObject::connect(notifier.get(), &QSocketNotifier::activated, notifier.get(), [this] {
                if (mixer_ && snd_mixer_handle_events(mixer_) < 0) lose();
            });
            notifiers_.push_back(std::move(notifier));
        }
    }

    // The mixer failed (the sound server behind it went away): its
    // descriptors stay readable for good, so they are watched no more, and
    // the mixer is closed and opened again every kReconnectMs.  Its controls
    // fail meanwhile, the synthesizer's aside.
    void lose() {
        for (auto& notifier : notifiers_) {
            notifier->setEnabled(false);
            notifier.release()->deleteLater();  // this runs inside one of them
        }
        notifiers_.clear();
        // Closing reports every element removed: the bindings let go of
        // them first, keeping their names.
        for (Binding& b : bindings_) {
            if (b.ids.empty()) continue;
            b.elem = nullptr;
            b.items.clear();
            b.gone = true;
        }
        snd_mixer_close(mixer_);
        mixer_ = nullptr;
        retry_.start(kReconnectMs);
    }

    // Opens the card again and finds every element by its name; the window
    // hears that every control may have changed.
    void reconnect() {
        attach(card_);
        if (!mixer_) {
            retry_.start(kReconnectMs);
            return;
        }
        for (std::size_t i = 0; i < bindings_.size(); ++i) {
            Binding& b = bindings_[i];
            if (b.ids.empty()) continue;
            std::vector<snd_mixer_elem_t*> found;
            for (const ElementId& id : b.ids) found.push_back(find(id));
            if (std::find(found.begin(), found.end(), nullptr) != found.end()) continue;  // stays gone
            b.gone = false;
            if (b.kind == Kind::CaptureSelect) {
                b.items = std::move(found);
            } else {
                b.elem = found.front();
                b.items.assign(found.begin() + 1, found.end());
            }
            watchBinding(b);
            postChange(MM_MIXM_CONTROL_CHANGE, control(i).controlId);
        }
        watchDescriptors();
    }

    void watchElement(snd_mixer_elem_t* elem) {
        snd_mixer_elem_set_callback(elem, &AlsaMixerDevice::elementChanged);
        snd_mixer_elem_set_callback_private(elem, this);
    }

    static int elementChanged(snd_mixer_elem_t* elem, unsigned mask) {
        auto* self = static_cast<AlsaMixerDevice*>(snd_mixer_elem_get_callback_private(elem));
        if (!self) return 0;
        if (mask == SND_CTL_EVENT_MASK_REMOVE) {
            self->forget(elem);
            return 0;
        }
        if (mask & (SND_CTL_EVENT_MASK_VALUE | SND_CTL_EVENT_MASK_INFO)) self->reportElement(elem);
        return 0;
    }

    void reportElement(snd_mixer_elem_t* elem) {
        for (std::size_t i = 0; i < bindings_.size(); ++i)
            if (bindings_[i].uses(elem)) postChange(MM_MIXM_CONTROL_CHANGE, control(i).controlId);
    }

    // An element that went away must not be touched again: its controls fail
    // from now on.
    void forget(snd_mixer_elem_t* elem) {
        for (Binding& b : bindings_) {
            if (b.uses(elem)) {
                b = on(b.kind);
                b.gone = true;
            }
        }
    }

    // The synthesizer has no ALSA element: its changes are reported to every
    // open mixer here.
    static void reportSynthChange(Kind kind) {
        for (AlsaMixerDevice* device : openDevices())
            for (std::size_t i = 0; i < device->bindings_.size(); ++i)
                if (device->bindings_[i].kind == kind)
                    device->postChange(MM_MIXM_CONTROL_CHANGE, device->control(i).controlId);
    }

    static constexpr int kReconnectMs = 500;

    snd_mixer_t* mixer_ = nullptr;
    const std::string card_;
    std::vector<Binding> bindings_;
    std::vector<std::unique_ptr<QSocketNotifier>> notifiers_;
    WindowTimer retry_;
};

class AlsaMixerSystem final : public MixerSystem {
public:
    explicit AlsaMixerSystem(std::string card) : card_(std::move(card)) {}

    int deviceCount() override { return 1; }

    int open(int id, QObject* window, MixerNotify notify, std::unique_ptr<MixerDevice>& device) override {
        if (id != 0) return kMixerBadDeviceId;
        auto opened = std::make_unique<AlsaMixerDevice>(card_);
        if (window) opened->watch(window, std::move(notify));
        device = std::move(opened);
        return kMixerOk;
    }

private:
    std::string card_;
};

}  // namespace

std::shared_ptr<MixerSystem> createAlsaMixerSystem(std::string card) {
    return std::make_shared<AlsaMixerSystem>(std::move(card));
}

}  // namespace vozaro::platform
