// vozaro-mididump FILE
//
// Loads FILE as Vozaro loads a song (TMidiData: a plain Standard MIDI File,
// or a RIFF MIDI file when the name ends in .rmi/.riff) and prints what it
// holds, one line per item, fields separated by one space:
//
//   header FORMAT TRACKS DIVISION EXTRA
//       the header words as numbers; EXTRA the header bytes beyond six as
//       hex, "-" when none
//   track TRACK EVENTS NAME FIRSTPROGRAM FIRSTCHANNEL
//       per track: its number, record count, index of the name record (-1
//       when none), first program and first channel
//   TRACK INDEX TIME STATUS DATA LENGTH PARTNER
//       per record: track number, record index, absolute time in ticks,
//       status as two hex digits, DATA as hex ("-" when empty): for channel
//       messages Data1 and Data2, for system exclusive the data block, for
//       meta events the block (type byte first); Length as stored; the
//       partner's record index, -1 when unpaired
//
// On failure it prints "error: MESSAGE" on standard error and exits with 1.
#include <cstdio>
#include <exception>
#include <string>

#include "midi/cmpMidiData.h"

using namespace vozaro::midi;

namespace {

void printHex(const std::uint8_t* data, std::size_t n) {
    if (n == 0) {
        std::fputs("-", stdout);
        return;
    }
    for (std::size_t i = 0; i < n; ++i)
        std::printf("%02x", data[i]);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: vozaro-mididump FILE\n");
        return 2;
    }
    TMidiData song;
    song.setFileName(argv[1]);
    try {
        song.setActive(true);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "error: %s\n", e.what());
        return 1;
    }

    std::printf("header %u %u %u ", song.format(), song.headerTrackCount(), song.PPQN());
    printHex(song.headerExtra().data(), song.headerExtra().size());
    std::fputc('\n', stdout);
    for (std::int32_t t = 0; t < song.TrackCount(); ++t) {
        const TMidiTrackStream& track = *song.Tracks(t);
        const TTrackEvent* name = track.NameEvent();
        std::printf("track %d %d %d %u %u\n", t, track.EventCount(),
                    name != nullptr ? track.indexOf(name) : -1, track.FirstProgram(),
                    track.FirstChannel());
        for (std::int32_t i = 0; i < track.EventCount(); ++i) {
            const TTrackEvent* e = track.Event(i);
            std::printf("%d %d %d %02x ", t, i, e->Time, e->Message.Status);
            if (e->Message.hasData()) {
                const std::uint8_t* data = track.payload(e);
                printHex(data, data != nullptr ? e->Length : 0);
            } else if (e->Message.Status < 0xF0) {
                const bool two = StatusDataBytes[e->Message.Status >> 4] > 1;
                printHex(&e->Message.Data1, two ? 2 : 1);
            } else {
                printHex(nullptr, 0);
            }
            const TTrackEvent* partner = track.partnerOf(e);
            std::printf(" %u %d\n", e->Length, partner != nullptr ? track.indexOf(partner) : -1);
        }
    }
    return std::fflush(stdout) == 0 ? 0 : 1;
}
