#include "karaoke/Melody.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <limits>

#include "midi/cmpMidiData.h"
#include "midi/cmpMidiIterator.h"

namespace vozaro::stage {

namespace {

using vozaro::midi::TMidiTrackStream;

struct NoteEvent {
    std::int64_t tick;
    bool on;
    std::uint8_t channel;
    std::uint8_t note;
};

std::int32_t clampMs(std::int64_t ms) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(ms, 0, std::numeric_limits<std::int32_t>::max()));
}

}  // namespace

std::vector<SongNote> songNotes(vozaro::midi::TMidiData& song) {
    std::vector<NoteEvent> events;
    for (std::int32_t t = 0; t < song.TrackCount(); ++t) {
        const TMidiTrackStream& track = *song.Tracks(t);
        for (std::int32_t i = 0; i < track.EventCount(); ++i) {
            const auto* event = track.Event(i);
            const std::uint8_t kind = event->Message.Status & 0xF0;
            if (kind != 0x80 && kind != 0x90)
                continue;
            const std::uint8_t note = event->Message.Data1;
            if (note > 127)
                continue;
            const bool on = kind == 0x90 && event->Message.Data2 > 0;
            events.push_back({event->Time, on, static_cast<std::uint8_t>(event->Message.Status & 0x0F), note});
        }
    }
    // At one tick a note ends before the next one starts.
    std::stable_sort(events.begin(), events.end(), [](const NoteEvent& a, const NoteEvent& b) {
        return a.tick != b.tick ? a.tick < b.tick : (!a.on && b.on);
    });

    vozaro::midi::TMidiPosition position;
    position.setMidiData(&song);
    std::vector<SongNote> notes;
    // Index into notes of the sounding note per channel and note number
    // (the latest one when a note is struck again before it ended).
    std::array<std::array<std::int32_t, 128>, 16> sounding;
    for (auto& channel : sounding)
        channel.fill(-1);
    for (const NoteEvent& e : events) {
        position.SetPosition(e.tick);
        const std::int32_t ms = clampMs(position.Time());
        std::int32_t& open = sounding[e.channel][e.note];
        if (e.on) {
            if (open >= 0)
                notes[open].endMs = ms;
            open = static_cast<std::int32_t>(notes.size());
            notes.push_back({ms, -1, e.channel, e.note});
        } else if (open >= 0) {
            notes[open].endMs = ms;
            open = -1;
        }
    }
    const std::int32_t end = notes.empty() ? 0 : clampMs(position.Time());
    for (SongNote& n : notes)
        if (n.endMs < 0)
            n.endMs = end;
    return notes;
}

Melody findMelody(const std::vector<SongNote>& notes, const std::vector<std::int32_t>& syllableMs) {
    Melody melody;
    melody.notes.assign(syllableMs.size(), -1);
    if (syllableMs.empty())
        return melody;

    // Per channel, the note starts in time order.
    std::array<std::vector<const SongNote*>, 16> byChannel;
    for (const SongNote& n : notes)
        if (n.channel != kDrumChannel)
            byChannel[n.channel].push_back(&n);
    for (auto& list : byChannel)
        std::stable_sort(list.begin(), list.end(),
                         [](const SongNote* a, const SongNote* b) { return a->startMs < b->startMs; });

    // The note of a channel starting nearest t within the window; among
    // notes equally near, the highest (a chord's top voice).
    auto nearestStart = [](const std::vector<const SongNote*>& list, std::int32_t t) -> const SongNote* {
        const std::int64_t from = std::int64_t{t} - kCoincidenceMs;
        auto it = std::lower_bound(list.begin(), list.end(), from,
                                   [](const SongNote* n, std::int64_t v) { return n->startMs < v; });
        const SongNote* best = nullptr;
        std::int64_t bestDistance = 0;
        for (; it != list.end() && (*it)->startMs <= std::int64_t{t} + kCoincidenceMs; ++it) {
            const std::int64_t distance = std::llabs(std::int64_t{(*it)->startMs} - t);
            if (!best || distance < bestDistance || (distance == bestDistance && (*it)->note > best->note)) {
                best = *it;
                bestDistance = distance;
            }
        }
        return best;
    };

    int bestChannel = -1;
    std::int32_t bestCount = 0;
    for (int channel = 0; channel < 16; ++channel) {
        const auto& list = byChannel[channel];
        if (list.empty())
            continue;
        std::int32_t count = 0;
        for (std::int32_t t : syllableMs)
            if (nearestStart(list, t))
                ++count;
        if (count > bestCount) {
            bestCount = count;
            bestChannel = channel;
        }
    }
    if (bestChannel < 0 || static_cast<double>(bestCount) < kMinimumShare * static_cast<double>(syllableMs.size()))
        return melody;

    melody.channel = bestChannel;
    melody.coinciding = bestCount;
    const auto& list = byChannel[bestChannel];
    for (std::size_t k = 0; k < syllableMs.size(); ++k) {
        const std::int32_t t = syllableMs[k];
        if (const SongNote* n = nearestStart(list, t)) {
            melody.notes[k] = n->note;
            continue;
        }
        // Sounding at t: the one started last before it.
        auto it = std::upper_bound(list.begin(), list.end(), t,
                                   [](std::int64_t v, const SongNote* n) { return v < n->startMs; });
        while (it != list.begin()) {
            --it;
            if ((*it)->endMs > t) {
                melody.notes[k] = (*it)->note;
                break;
            }
        }
    }
    return melody;
}

int transposedNote(int note, int key) { return std::clamp(note + key, 0, 127); }

double foldedPitch(double sungNote, int melodyNote) {
    if (!std::isfinite(sungNote))
        return sungNote;
    double distance = std::fmod(sungNote - melodyNote, 12.0);
    if (distance <= -6.0)
        distance += 12.0;
    else if (distance > 6.0)
        distance -= 12.0;
    return melodyNote + distance;
}

bool inTune(double sungNote, int melodyNote) {
    return std::isfinite(sungNote) && std::abs(foldedPitch(sungNote, melodyNote) - melodyNote) <= 1.0;
}

}  // namespace vozaro::stage
