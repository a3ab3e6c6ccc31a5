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
//
// When no track yields a syllable that way, the lyrics are read from the
// standard lyric events (meta type 5) of the track that holds the most of
// them (track 0 included, the first on a tie), provided at least 10 of them
// show text.  Each such event is a syllable at its time, "@" texts skipped;
// carriage returns and line feeds become line breaks: a text made only of
// them marks the next syllable, one at the start of a text marks that
// syllable and one at its end the next.  A syllable marked by any line feed
// starts a paragraph ("\"), else one marked by a carriage return a line
// ("/"); the first syllable starts a paragraph.  Other control characters are
// removed, and a text left empty gives no syllable.
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

// Reads the song file at `path` as the stage does (a RIFF MIDI file by its
// contents, else a Standard MIDI File) and tells whether it has lyric
// syllables: the stage's test of a karaoke file, without the stage.  Throws
// the MIDI engine's errors for a file it cannot read.
bool songFileHasLyrics(const std::string& path);

}  // namespace vozaro::stage
