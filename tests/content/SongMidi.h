// Reading a song back through the MIDI engine, for checking what the song
// compiler wrote.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "midi/cmpMidiData.h"

struct SongEvent {
    int track;
    std::int32_t tick;
    std::uint8_t status;
    std::uint8_t data1, data2;
    std::string text;  // meta events: the data after the type byte
    std::uint8_t metaType = 0;
};

inline std::vector<SongEvent> songEvents(const vozaro::midi::TMidiData& song) {
    std::vector<SongEvent> events;
    for (std::int32_t t = 0; t < song.TrackCount(); ++t) {
        const vozaro::midi::TMidiTrackStream& track = *song.Tracks(t);
        for (std::int32_t i = 0; i < track.EventCount(); ++i) {
            const auto* e = track.Event(i);
            SongEvent out{t, e->Time, e->Message.Status, e->Message.Data1, e->Message.Data2, {}};
            if (e->Message.Status == 0xFF && e->Length >= 1) {
                const std::uint8_t* data = track.payload(e);
                out.metaType = data[0];
                out.text.assign(reinterpret_cast<const char*>(data + 1), e->Length - 1u);
            }
            events.push_back(std::move(out));
        }
    }
    return events;
}

inline bool isNoteOn(const SongEvent& e) { return (e.status & 0xF0) == 0x90 && e.data2 > 0; }
