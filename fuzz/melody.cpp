// Fuzzes finding a song's melody: the input, loaded as a Standard MIDI File,
// has its lyric syllables timed through its tempo map and its melody found.
// Whatever the notes (stray note-offs, notes never ended, notes out of
// range), every syllable gets a note of 0 to 127 or none, and a melody found
// is never the drum channel and coincides with 60 % of the syllables.
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <vector>

#include "midi/cmpMidiData.h"
#include "midi/cmpMidiIterator.h"
#include "karaoke/LyricTrack.h"
#include "karaoke/Melody.h"

using namespace vozaro;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    midi::TMidiData song;
    try {
        song.loadFromMemory(data, size);
    } catch (const std::exception&) {
        return 0;
    }
    const stage::LyricTrack lyrics = stage::findLyricTrack(song);
    midi::TMidiPosition position;
    position.setMidiData(&song);
    std::vector<std::int32_t> times;
    for (std::int32_t tick : lyrics.ticks) {
        position.SetPosition(tick);
        times.push_back(static_cast<std::int32_t>(position.Time()));
    }
    const stage::Melody melody = stage::findMelody(stage::songNotes(song), times);
    if (melody.notes.size() != times.size())
        std::abort();
    for (int note : melody.notes)
        if (note < -1 || note > 127)
            std::abort();
    if (melody.found() && (melody.channel == stage::kDrumChannel || melody.channel > 15 ||
                           melody.coinciding < 0.6 * static_cast<double>(times.size())))
        std::abort();
    return 0;
}
