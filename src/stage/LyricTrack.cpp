#include "stage/LyricTrack.h"

#include <cstring>
#include <optional>
#include <string_view>

#include "midi/cmpMidiData.h"

namespace vozaro::stage {

namespace {

using vozaro::midi::TMidiTrackStream;

// The text of a text event, or nothing for any other event.
std::optional<std::string_view> textOf(const TMidiTrackStream& track, std::int32_t index) {
    const auto* event = track.Event(index);
    if (event == nullptr || event->Message.Status != 0xFF || event->Length < 1)
        return std::nullopt;
    const std::uint8_t* data = track.payload(event);
    if (data == nullptr || data[0] < 1 || data[0] > 15)
        return std::nullopt;
    const char* text = reinterpret_cast<const char*>(data + 1);
    const std::size_t length = event->Length - 1u;
    const void* zero = std::memchr(text, 0, length);
    return std::string_view(text, zero ? static_cast<const char*>(zero) - text : length);
}

bool hasTag(std::string_view text, std::string_view tag) { return text.substr(0, 2) == tag; }

// Index of the event after which the lyrics start, or -1.
std::int32_t startEvent(const TMidiTrackStream& track) {
    const auto first = textOf(track, 1);
    if (first && hasTag(*first, "@T"))
        return 1;
    for (std::int32_t i = 1; i < track.EventCount(); ++i) {
        const auto text = textOf(track, i);
        if (text && hasTag(*text, "@L"))
            return i;
    }
    return -1;
}

}  // namespace

LyricTrack findLyricTrack(const vozaro::midi::TMidiData& song) {
    LyricTrack result;
    for (std::int32_t t = 1; t < song.TrackCount(); ++t) {
        const TMidiTrackStream& track = *song.Tracks(t);
        const std::int32_t start = startEvent(track);
        if (start < 0)
            continue;
        for (std::int32_t i = start + 1; i < track.EventCount(); ++i) {
            const auto text = textOf(track, i);
            if (!text || (!text->empty() && text->front() == '@'))
                continue;
            result.syllables.emplace_back(*text);
            result.ticks.push_back(track.Event(i)->Time);
        }
        if (!result.syllables.empty()) {
            result.track = t;
            return result;
        }
    }
    return result;
}

}  // namespace vozaro::stage
