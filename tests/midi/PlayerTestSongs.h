// Hand-made songs for the position, iterator and player tests: a Standard
// MIDI File put together track by track and loaded into a TMidiData.
#pragma once

#include "midi/cmpMidiData.h"
#include "SmfBytes.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

namespace vozaro::test {

class TrackBuilder {
public:
    using Bytes = midi::fixtures::Bytes;

    // Any event: a delta time and its bytes as they stand in the file.
    TrackBuilder& event(std::uint32_t delta, std::initializer_list<std::uint8_t> bytes) {
        append(midi::fixtures::vlq(delta));
        data_.insert(data_.end(), bytes);
        return *this;
    }
    TrackBuilder& meta(std::uint32_t delta, std::uint8_t type, const Bytes& bytes) {
        return append(midi::fixtures::meta(delta, type, bytes));
    }
    TrackBuilder& tempo(std::uint32_t delta, std::uint32_t microsPerQuarter) {
        return meta(delta, 0x51, {static_cast<std::uint8_t>(microsPerQuarter >> 16),
                                  static_cast<std::uint8_t>(microsPerQuarter >> 8),
                                  static_cast<std::uint8_t>(microsPerQuarter)});
    }
    TrackBuilder& signature(std::uint32_t delta, std::uint8_t numerator, std::uint8_t denominatorPower) {
        return meta(delta, 0x58, {numerator, denominatorPower, 24, 8});
    }
    TrackBuilder& note(std::uint32_t delta, std::uint8_t channel, std::uint8_t key, std::uint32_t length) {
        event(delta, {static_cast<std::uint8_t>(0x90 | channel), key, 100});
        return event(length, {static_cast<std::uint8_t>(0x80 | channel), key, 0});
    }
    TrackBuilder& end(std::uint32_t delta = 0) { return append(midi::fixtures::endOfTrack(delta)); }

    const Bytes& bytes() const { return data_; }

private:
    TrackBuilder& append(const Bytes& bytes) {
        data_.insert(data_.end(), bytes.begin(), bytes.end());
        return *this;
    }
    Bytes data_;
};

inline midi::fixtures::Bytes buildSong(std::uint16_t ppqn, const std::vector<TrackBuilder>& tracks) {
    midi::fixtures::Bytes chunks;
    for (const auto& track : tracks) {
        auto chunk = midi::fixtures::track(track.bytes());
        chunks.insert(chunks.end(), chunk.begin(), chunk.end());
    }
    return midi::fixtures::smf(1, static_cast<std::uint16_t>(tracks.size()), ppqn, chunks);
}

inline std::unique_ptr<midi::TMidiData> loadSong(std::uint16_t ppqn, const std::vector<TrackBuilder>& tracks) {
    auto song = std::make_unique<midi::TMidiData>();
    auto bytes = buildSong(ppqn, tracks);
    song->loadFromMemory(bytes.data(), bytes.size());
    return song;
}

}  // namespace vozaro::test
