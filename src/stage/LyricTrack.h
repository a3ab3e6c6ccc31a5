// Finding a karaoke song's lyrics among its tracks' text events.
//
// A text event is a meta event of a type from 1 to 15; its text is its data
// after the type byte, cut at the first zero byte; its tag is the first two
// characters of the text.  The lyric track is the first track after track 0
// that has a start event (an "@L" text event at index 1 or later, or any text
// event at index 1 when event 1 is tagged "@T"; event 0 is never examined)
// and at least one text after it that does not begin with "@".  Those texts,
// in event order, are the syllables: Windows-1252 bytes as the file holds
// them, a leading "/" or "\" (line break) kept.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace vozaro::midi {
class TMidiData;
}

namespace vozaro::stage {

struct LyricTrack {
    std::int32_t track = -1;                // -1 when the song has no lyrics
    std::vector<std::string> syllables;     // Windows-1252
    std::vector<std::int32_t> ticks;        // each syllable's event time in ticks
};

// Searches an active song.  Does not throw.
LyricTrack findLyricTrack(const vozaro::midi::TMidiData& song);

}  // namespace vozaro::stage
