#include "karaoke/LyricTrack.h"

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

// The text of a lyric meta event (type 5), or nothing for any other event.
std::optional<std::string_view> lyricOf(const TMidiTrackStream& track, std::int32_t index) {
    const auto* event = track.Event(index);
    if (event == nullptr || event->Message.Status != 0xFF || event->Length < 1)
        return std::nullopt;
    const std::uint8_t* data = track.payload(event);
    if (data == nullptr || data[0] != 0x05)
        return std::nullopt;
    return textOf(track, index);
}

bool isControl(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte < 0x20 || byte == 0x7F;
}
bool isLineMark(char c) { return c == '\r' || c == '\n'; }

// Whether a text shows anything: a character that is neither a control
// character nor a space.
bool isVisible(std::string_view text) {
    for (const char c : text)
        if (!isControl(c) && c != ' ')
            return true;
    return false;
}

// The track the lyric-event reading takes: the most lyric events, the first
// on a tie, track 0 included; -1 when it has fewer than kMinLyricEvents with
// visible text.
constexpr int kMinLyricEvents = 10;

std::int32_t lyricEventTrack(const vozaro::midi::TMidiData& song) {
    std::int32_t best = -1;
    std::int32_t bestCount = 0;
    for (std::int32_t t = 0; t < song.TrackCount(); ++t) {
        const TMidiTrackStream& track = *song.Tracks(t);
        std::int32_t count = 0;
        for (std::int32_t i = 0; i < track.EventCount(); ++i)
            count += lyricOf(track, i).has_value();
        if (count > bestCount) {
            best = t;
            bestCount = count;
        }
    }
    if (best < 0)
        return -1;
    const TMidiTrackStream& track = *song.Tracks(best);
    int visible = 0;
    for (std::int32_t i = 0; i < track.EventCount(); ++i) {
        const auto text = lyricOf(track, i);
        visible += text && isVisible(*text);
    }
    return visible >= kMinLyricEvents ? best : -1;
}

// Line marks gathered for one syllable.
struct Marks {
    bool line = false;       // a "\r" was seen
    bool paragraph = false;  // a "\n" was seen
    void add(char c) { (c == '\n' ? paragraph : line) = true; }
};

// Reads the lyric events of a track as syllables: carriage returns and line
// feeds around a text become this program's "/" and "\" line breaks.
void readLyricEvents(const TMidiTrackStream& track, LyricTrack& result) {
    Marks pending;  // marks for the next syllable
    for (std::int32_t i = 0; i < track.EventCount(); ++i) {
        const auto lyric = lyricOf(track, i);
        if (!lyric || (!lyric->empty() && lyric->front() == '@'))
            continue;
        std::string_view text = *lyric;
        Marks mine = pending;
        while (!text.empty() && isLineMark(text.front())) {
            mine.add(text.front());
            text.remove_prefix(1);
        }
        Marks next;
        while (!text.empty() && isLineMark(text.back())) {
            next.add(text.back());
            text.remove_suffix(1);
        }
        std::string syllable;
        for (const char c : text)
            if (!isControl(c))
                syllable += c;
        if (syllable.empty()) {
            // Nothing to show: its marks, before and after, fall to the next syllable.
            pending = mine;
            pending.line |= next.line;
            pending.paragraph |= next.paragraph;
            continue;
        }
        if (result.syllables.empty() || mine.paragraph)
            syllable.insert(0, 1, '\\');
        else if (mine.line)
            syllable.insert(0, 1, '/');
        result.syllables.push_back(std::move(syllable));
        result.ticks.push_back(track.Event(i)->Time);
        pending = next;
    }
}

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
    const std::int32_t t = lyricEventTrack(song);
    if (t >= 0) {
        readLyricEvents(*song.Tracks(t), result);
        if (!result.syllables.empty())
            result.track = t;
    }
    return result;
}

bool songFileHasLyrics(const std::string& path) {
    vozaro::midi::TMidiData song;
    song.setFileName(path);
    song.setActive(true);
    return !findLyricTrack(song).syllables.empty();
}

}  // namespace vozaro::stage
