// How long each waiting request waits: until it starts, supposing each next
// song is started as soon as the stage can start it.  That is what the song
// playing has left at its current speed, then the songs before it at 100 %
// (the speed goes back to normal at every stop), each followed by the pause
// between two songs (the evening's flow: half a second before the score,
// seven more while it is announced).
//
// Song lengths are read from the song files as requests join the queue (the
// catalogue stores none); a file that cannot be read counts as
// kUnknownLengthMs.
//
// thread: user-interface thread (reading a song reads the catalogue's file
// on its own, never through the open catalogue).
#pragma once

#include <QList>

#include <cstdint>
#include <vector>

#include "karaoke/RequestQueue.h"

namespace vozaro::midi {
class TMidiData;
}

namespace vozaro::stage {

// What the waits need of the stage now.
struct StageTimes {
    // Until the first request can start: the rest of the song playing at its
    // speed plus the pause after it, what is left of a pause under way, 0
    // when the stage is idle.
    std::int64_t untilFreeMs = 0;
    // From a song's end to the next one's start.
    std::int64_t pauseMs = 0;
};

// For each request, in queue order, the milliseconds until it starts.
std::vector<std::int64_t> waitsMs(const QList<Request>& queue, const StageTimes& stage);

// Whole minutes, rounded up (0 for no wait).
int waitMinutes(std::int64_t ms);

// The length at 100 % of an active song: the song time of its last event.
std::int64_t songLengthMs(midi::TMidiData& song);

// The length of a request's song from its file (the album's entry at its
// position, or the first carrying its number when the catalogue changed);
// kUnknownLengthMs when the entry or the file cannot be read.
std::int64_t requestedSongLengthMs(const Request& request);

}  // namespace vozaro::stage
