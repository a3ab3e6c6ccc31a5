// The song source format of the songs that come with Vozaro, and its
// compiler to karaoke MIDI files (".kar").
//
// A source is UTF-8 text, one statement per line; a line whose first
// non-blank character is '#' is a comment.
//
//   title: Ciranda, Cirandinha      the title as sung (catalogue and "@T")
//   performer: Cantiga de roda      performer or category (catalogue, "@T")
//   style: march                    the accompaniment: march, waltz, baiao,
//                                   ballad (see SongSource.cpp)
//   melody: 74                      General MIDI programs, numbered 1 to 128
//   bass: 33                        as instrument lists number them; bass and
//   harmony: 25                     harmony default to the style's own
//   meter: 3/4                      time signature (2/4, 3/4 or 4/4); in the
//                                   body only at a bar line
//   tempo: 112                      quarter notes per minute; in the body it
//                                   changes the tempo from that point on
//   define NAME: TOKENS             a phrase of notes, used as $NAME
//   verse                           the next lyric line starts a verse ("\")
//   notes: TOKENS                   the melody, in order; without a lyrics
//                                   line after it the notes are instrumental
//   lyrics: WORDS                   the syllables of the notes line above
//
// Note tokens: a pitch (c d e f g a b, then # or b, then the octave; middle C
// is c4) or the rest r, optionally followed by ':' and a duration (1 whole,
// 2 half, 4 quarter, 8 eighth, 16 sixteenth, each with an optional '.' for a
// dotted note); without one the previous duration holds.  A '~' after a note
// ties it to the next note of the same pitch, which then takes no syllable.
// '|' is a bar line: the compiler checks that it falls on one.  [Am] sets the
// chord from that point on ([-] for none); chords are a root (C, F#, Bb ...)
// and a kind: none (major), m, 7, m7, maj7, 6, m6, dim, dim7, aug, sus4,
// optionally "/E" for another bass note.
//
// Lyrics: words separated by blanks, syllables inside a word by '-' ("--"
// keeps a hyphen on screen: "ga-to--to" is sung "ga", "to-", "to"); every
// note of the notes line above takes one syllable in order (rests and tied
// continuations take none).  A '_' inside a word is a blank kept inside one
// syllable ("ta_e" sung as one note); a lone '_' is a note without a syllable.
// Each lyrics line is one line on the screen.
//
// The compiled file: format 1, 480 ticks per quarter note; track 0 the tempo
// map, time signatures and karaoke identification; track 1 "Words" with
// "@LPORT", "@T" title and performer and one text event per syllable (in
// Windows-1252, "\" before a verse, "/" before every other line, a blank
// after the last syllable of a word inside a line), each at the tick of its
// note; then melody (channel 1), bass (channel 2), harmony (channel 3) and
// drums (channel 10).
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace vozaro::content {

// A mistake in a source: what() is "line N: what is wrong".
class SourceError : public std::runtime_error {
public:
    SourceError(int line, const std::string& message);
    int line() const noexcept { return line_; }

private:
    int line_;
};

struct CompiledSong {
    std::string title;      // UTF-8
    std::string performer;  // UTF-8
    std::vector<std::uint8_t> midi;  // the Standard MIDI File
    int syllables = 0;
};

constexpr int kTicksPerQuarter = 480;

// Compiles a source; throws SourceError.
CompiledSong compileSong(std::string_view source);

// The file name a bundled song is kept under: its title with characters that
// cannot stand in a file name left out, then ".kar".
std::string songFileName(const std::string& title);

}  // namespace vozaro::content
