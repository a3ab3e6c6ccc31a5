// Hand-made songs for the position, iterator and player tests: a Standard
// MIDI File built in memory, track by track, and loaded into a TMidiData.
#pragma once

#include "midi/cmpMidiData.h"

#include <cstdint>
#include <initializer_list>
#include <memory>
#include <vector>

namespace vozaro::test {

class TrackBuilder {
public:
    // Any event: a delta time and its bytes as they stand in the file.
    TrackBuilder& event(std::uint32_t delta, std::initializer_list<std::uint8_t> bytes) {
        varLen(delta);
        data_.insert(data_.end(), bytes);
        return *this;
    }
    TrackBuilder& meta(std::uint32_t delta, std::uint8_t type, std::vector<std::uint8_t> bytes) {
        varLen(delta);
        data_.push_back(0xFF);
        data_.push_back(type);
        varLen(static_cast<std::uint32_t>(bytes.size()));
        data_.insert(data_.end(), bytes.begin(), bytes.end());
        return *this;
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
    TrackBuilder& end(std::uint32_t delta = 0) { return meta(delta, 0x2F, {}); }

    const std::vector<std::uint8_t>& bytes() const { return data_; }

private:
    void varLen(std::uint32_t value) {
        std::uint8_t groups[5];
        int n = 0;
        do {
            groups[n++] = value & 0x7F;
            value >>= 7;
        } while (value != 0);
        while (n > 1)
            data_.push_back(static_cast<std::uint8_t>(groups[--n] | 0x80));
        data_.push_back(groups[0]);
    }
    std::vector<std::uint8_t> data_;
};

inline std::vector<std::uint8_t> buildSong(std::uint16_t ppqn, const std::vector<TrackBuilder>& tracks) {
    std::vector<std::uint8_t> file{'M', 'T', 'h', 'd', 0, 0, 0, 6, 0, 1};
    auto word = [&](std::uint32_t v) {
        file.push_back(static_cast<std::uint8_t>(v >> 8));
        file.push_back(static_cast<std::uint8_t>(v));
    };
    word(static_cast<std::uint32_t>(tracks.size()));
    word(ppqn);
    for (const auto& track : tracks) {
        const auto& bytes = track.bytes();
        auto size = static_cast<std::uint32_t>(bytes.size());
        file.insert(file.end(), {'M', 'T', 'r', 'k', static_cast<std::uint8_t>(size >> 24),
                                 static_cast<std::uint8_t>(size >> 16),
                                 static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size)});
        file.insert(file.end(), bytes.begin(), bytes.end());
    }
    return file;
}

inline std::unique_ptr<midi::TMidiData> loadSong(std::uint16_t ppqn, const std::vector<TrackBuilder>& tracks) {
    auto song = std::make_unique<midi::TMidiData>();
    auto bytes = buildSong(ppqn, tracks);
    song->loadFromMemory(bytes.data(), bytes.size());
    return song;
}

}  // namespace vozaro::test
