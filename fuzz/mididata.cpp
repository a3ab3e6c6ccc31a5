// Fuzzes song loading: the input is loaded as a plain Standard MIDI File from
// memory, and, written to a file with the ".rmi" extension, as a RIFF MIDI
// song through the RIFF reader.  Every refusal must be one of the engine's
// errors and leave the song inactive and empty; a loaded song is walked
// record by record.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <new>
#include <string>

#include "midi/cmpMidiData.h"
#include "midi/cmpRiffStream.h"
#include "karaoke/LyricTrack.h"

using namespace vozaro::midi;

namespace {

void walk(const TMidiData& song) {
    volatile std::uint32_t sum = 0;
    for (std::int32_t t = 0; t < song.TrackCount(); ++t) {
        const TMidiTrackStream& track = *song.Tracks(t);
        if (track.EventCount() < 1)
            std::abort();  // a loaded track always ends with its end-of-track record
        std::int32_t previous = 0;
        for (std::int32_t i = 0; i < track.EventCount(); ++i) {
            const TTrackEvent* e = track.Event(i);
            if (e->Time < previous)
                std::abort();
            previous = e->Time;
            if (const std::uint8_t* data = track.payload(e)) {
                for (std::uint16_t k = 0; k < e->Length; ++k)
                    sum = sum + data[k];
            }
            if (const TTrackEvent* partner = track.partnerOf(e)) {
                if (track.partnerOf(partner) != e)
                    std::abort();
            }
        }
        (void)track.FindEvent(previous / 2, feFirst);
    }
    // The lyrics, by the karaoke tags or the standard lyric events: one time
    // per syllable, in event order.
    const vozaro::stage::LyricTrack lyrics = vozaro::stage::findLyricTrack(song);
    if (lyrics.ticks.size() != lyrics.syllables.size() || (lyrics.track < 0) != lyrics.syllables.empty())
        std::abort();
    for (std::size_t k = 1; k < lyrics.ticks.size(); ++k)
        if (lyrics.ticks[k] < lyrics.ticks[k - 1])
            std::abort();
}

template <typename Load>
void tryLoad(TMidiData& song, Load load) {
    try {
        load();
        if (!song.Active())
            std::abort();
        walk(song);
    } catch (const EMidiData&) {
    } catch (const EMidiTrackStream&) {
    } catch (const EVirtualMemory&) {
    } catch (const StreamReadError&) {
    } catch (const RiffError&) {
    }
    if (!song.Active() && song.TrackCount() != 0)
        std::abort();
}

std::string riffPath() {
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir != nullptr ? dir : "/tmp") + "/fuzz_mididata_" + std::to_string(::getpid()) +
           ".rmi";
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    TMidiData song;
    tryLoad(song, [&] { song.loadFromMemory(data, size); });

    static const std::string path = riffPath();
    if (std::FILE* f = std::fopen(path.c_str(), "wb")) {
        std::fwrite(data, 1, size, f);
        std::fclose(f);
        TMidiData riff;
        riff.setFileName(path);
        tryLoad(riff, [&] { riff.setActive(true); });
        std::remove(path.c_str());
    }
    return 0;
}
