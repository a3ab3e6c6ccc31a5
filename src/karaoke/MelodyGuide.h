// The melody as the singer sees it on the stage, without a screen: the notes
// of each lyric line, where they sit on a band of a given size, which line
// the band shows at a moment, and the singer's pitch folded next to them.
//
// A lyric line holds the melody's notes starting from kCoincidenceMs before
// its first syllable to kCoincidenceMs before the next line's first syllable
// (the song's end for the last line), as the melody's channel plays them:
// the notes a syllable is sung on and those between.  Its time span runs from
// its first syllable or note, whichever is earlier, to the end of its last
// note or its last syllable, whichever is later.
//
// On the band time runs from left to right over the line's span, and a note
// sits higher the higher it is, the key the host chose included (a higher
// key shows the bars higher).  The
// singer's pitch is folded into the octave of the note being sung, as the
// scoring folds it (foldedPitch).
//
// thread: user-interface thread only.
#pragma once

#include <QRect>
#include <QStringList>

#include <cstdint>
#include <vector>

#include "karaoke/Melody.h"

namespace vozaro::stage {

struct MelodyLine {
    int firstSyllable = 0;
    int lastSyllable = 0;
    std::int32_t startMs = 0;  // the span the band shows
    std::int32_t endMs = 0;
    std::vector<SongNote> notes;  // in the file's key, by start

    // The note being sung at `ms`: the one sounding then (the latest started),
    // else the last one ended before, else the first; null without notes.
    const SongNote* noteAt(std::int64_t ms) const;
};

// The first syllable of each lyric line: the first syllable and each one
// starting with a line break ("/" or "\").
std::vector<int> lyricLineStarts(const QStringList& syllables);

// The lines of a song whose melody was found among `songNotes` for syllables
// at `syllableMs`; none without a melody.
std::vector<MelodyLine> melodyLines(const std::vector<SongNote>& songNotes, const Melody& melody,
                                    const std::vector<std::int32_t>& syllableMs,
                                    const std::vector<int>& lineStarts);

// The line whose syllable `syllable` is, by its first syllable; -1 outside.
int lineOfSyllable(const std::vector<MelodyLine>& lines, int syllable);

// The line the band shows at `now`, from the lyric display's state: the line
// of the last highlighted syllable (`sung`, -1: none yet) while its notes
// sound; else the line of the next syllable once the stage shows it
// (`linesShown`, and it is among the syllables loaded into the lyric lines:
// up to `loaded`); else none (-1).
int bandLine(const std::vector<MelodyLine>& lines, int sung, int loaded, bool linesShown, std::int64_t now);

// Where a line sits on a band: time to x across `area`, pitch to y.
class BandLayout {
public:
    BandLayout() = default;
    // The notes moved by `key`.  The pitch shown spans the line's notes in
    // the file's key, at least an octave, with a semitone to spare above and
    // below, widened where the key takes a note beyond it: a key change moves
    // the bars up or down the band.
    BandLayout(const MelodyLine& line, int key, const QRect& area);

    const QRect& area() const { return area_; }
    int key() const { return key_; }
    // The column of a moment, kept within the band.
    int x(std::int64_t ms) const;
    // The row of the middle of a pitch (a note number in the key shown, or
    // a fractional sung pitch), kept within the band.
    int y(double note) const;
    // The bar of a note of the line (in the file's key).
    QRect bar(const SongNote& note) const;
    // Height of one semitone in pixels (at least 1, fractional).
    double semitone() const { return semitone_; }
    int lowestNote() const { return low_; }
    int highestNote() const { return high_; }

private:
    QRect area_;
    QRect inner_;  // the area less its margins: where bars and marks go
    int key_ = 0;
    int low_ = 0;
    int high_ = 0;
    std::int32_t startMs_ = 0;
    std::int32_t endMs_ = 1;
    double semitone_ = 1;
};

}  // namespace vozaro::stage
