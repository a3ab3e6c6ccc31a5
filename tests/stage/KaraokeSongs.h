// Karaoke songs made by hand for the stage tests: text events, a lyric
// track and a song with one tempo in which a tick is a millisecond.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "stores/vozaro_colecao.h"
#include "midi/SmfBytes.h"

namespace vozaro::test {

namespace fx = vozaro::midi::fixtures;
using fx::operator+;

// A text event of the given meta type.
inline fx::Bytes textEvent(std::uint32_t delta, const std::string& text, std::uint8_t type = 0x01) {
    return fx::meta(delta, type, fx::Bytes(text.begin(), text.end()));
}

// A format 1 song: track 0 holds one tempo of 1 000 000 µs per quarter at
// 1000 ticks per quarter (a tick is a millisecond), then the given tracks.
inline fx::Bytes song(const std::vector<fx::Bytes>& tracks) {
    fx::Bytes chunks = fx::track(fx::meta(0, 0x51, {0x0F, 0x42, 0x40}) + fx::endOfTrack());
    for (const fx::Bytes& events : tracks)
        chunks = chunks + fx::track(events + fx::endOfTrack());
    return fx::smf(1, static_cast<std::uint16_t>(tracks.size() + 1), 1000, chunks);
}

// A lyric track "@L" at event 1, then each syllable as a lyric event at its time in ms.
inline fx::Bytes lyricTrack(const std::vector<std::pair<int, std::string>>& syllables) {
    fx::Bytes events = textEvent(0, "Words", 0x03) + textEvent(0, "@LENGL");
    int at = 0;
    for (const auto& [ms, text] : syllables) {
        events = events + textEvent(static_cast<std::uint32_t>(ms - at), text, 0x05);
        at = ms;
    }
    return events;
}

// A note-on now and its note-off `length` ms later on channel 1.
inline fx::Bytes channel1Note(std::uint32_t delta, std::uint8_t note, std::uint32_t length) {
    return fx::vlq(delta) + fx::Bytes{0x91, note, 90} + fx::vlq(length) + fx::Bytes{0x81, note, 0};
}

// A song with known melody notes: two lines, "Do re mi" at 1000, 1500, 2000
// ms and "Fa sol" at 3000, 3600; the voice on channel 1 (notes 60 from 1000
// to 1400, 62 from 1500 to 1900, 64 from 2000 to 2300, a passing 65 from
// 2400 to 2600, 67 from 3000 to 3500, 72 from 3600 to 5000) and a chord on
// channel 2 that is not the melody.  `shift` moves everything later.
inline fx::Bytes songWithKnownNotes(int shift = 0) {
    const auto at = [&](int ms) { return static_cast<std::uint32_t>(ms + shift); };
    const fx::Bytes voice = channel1Note(at(1000), 60, 400) + channel1Note(100, 62, 400) + channel1Note(100, 64, 300) +
                            channel1Note(100, 65, 200) + channel1Note(400, 67, 500) + channel1Note(100, 72, 1400);
    const fx::Bytes chord = fx::vlq(at(900)) + fx::Bytes{0x92, 48, 80} + fx::vlq(0) + fx::Bytes{0x92, 55, 80} +
                            fx::vlq(4000) + fx::Bytes{0x82, 48, 0} + fx::vlq(0) + fx::Bytes{0x82, 55, 0};
    return song({lyricTrack({{1000 + shift, "Do"}, {1500 + shift, "re"}, {2000 + shift, "mi"}, {3000 + shift, "/Fa"},
                             {3600 + shift, "sol"}}),
                 voice, chord});
}

// Appends a catalogue entry under the next free number (the song file is the
// caller's); returns the number.
inline std::int32_t catalogueEntry(const std::string& performer, const std::string& title,
                                   const std::string& file) {
    EXPECT_TRUE(AbrirAlbum());
    const std::int32_t numero = ProximoNumero();
    RegistroAtual = TRegistroAlbum{performer, title, file, numero};
    GravarRegistro(ContarMusicas());
    FecharAlbum();
    return numero;
}

// Catalogue entries by "Grupo" with the titles given (Windows-1252), under
// the next free numbers, all on one song file "a.kar" of two syllables and a
// note of 4 s.  The album is written first: it makes the songs' folder.
inline void catalogueOfShortSongs(const std::vector<std::string>& titles) {
    for (const std::string& title : titles)
        catalogueEntry("Grupo", title, "a.kar");
    fx::writeFile((catalogue::songsFolder() / "a.kar").string(),
                  song({lyricTrack({{100, "Can"}, {300, "ta"}}),
                        fx::vlq(0) + fx::Bytes{0x90, 60, 100} + fx::vlq(4000) + fx::Bytes{0x80, 60, 0}}));
}

}  // namespace vozaro::test
