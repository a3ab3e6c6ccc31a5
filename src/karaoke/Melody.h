// The melody of a karaoke song: the channel whose notes are sung, found from
// how its note starts meet the lyric syllables, and the note each syllable
// is sung on.  Pitch scoring compares the singer with these notes.
//
// A channel's note coincides with a syllable when it starts within
// kCoincidenceMs of the syllable's time; a note that merely sounds then (a
// held chord) does not.  The melody is the channel (never the drum channel
// 10) with the most coinciding syllables, provided they are at least
// kMinimumShare of all syllables.  Each syllable keeps that channel's note
// starting nearest its time within the window, else the note sounding at its
// time, else none.
//
// Notes are those of the file (the untouched song); the key the host chooses
// moves them as the player moves the notes it sends (transposedNote).
//
// thread: user-interface thread (or any, on a song no other thread changes).
#pragma once

#include <cstdint>
#include <vector>

namespace vozaro::midi {
class TMidiData;
}

namespace vozaro::stage {

constexpr std::int32_t kCoincidenceMs = 60;
constexpr double kMinimumShare = 0.6;
constexpr int kDrumChannel = 9;

// A note of the song on its time line, in song milliseconds.
struct SongNote {
    std::int32_t startMs = 0;
    std::int32_t endMs = 0;  // its note-off (or the song's end when it has none)
    std::uint8_t channel = 0;  // 0 to 15
    std::uint8_t note = 0;     // 0 to 127
};

struct Melody {
    int channel = -1;          // 0 to 15; -1: no melody found
    std::int32_t coinciding = 0;  // syllables with a note of the channel starting at them
    std::vector<int> notes;    // per syllable: the note number it is sung on, -1 none
    bool found() const { return channel >= 0; }
};

// Every note of an active song (drums included) with its times through the
// song's tempo map, ordered by start.  Does not throw on a malformed song:
// unpaired note-ons end with the song, stray note-offs are ignored.
std::vector<SongNote> songNotes(vozaro::midi::TMidiData& song);

// The melody among `notes` for syllables at `syllableMs` (song time, in
// lyric order).
Melody findMelody(const std::vector<SongNote>& notes, const std::vector<std::int32_t>& syllableMs);

// A note moved by the host's key, kept within 0 to 127 as the player keeps it.
int transposedNote(int note, int key);

// A sung pitch (a fractional MIDI note number) moved by whole octaves into
// the octave around a melody note: within half an octave of it (more than 6
// semitones below, at most 6 above), so that a voice singing an octave or
// two below or above lands on the note.  Not finite stays not finite.
double foldedPitch(double sungNote, int melodyNote);

// Whether a sung pitch is in tune with a melody note: folded into its
// octave, at most one semitone away.
bool inTune(double sungNote, int melodyNote);

}  // namespace vozaro::stage
