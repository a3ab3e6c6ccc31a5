// Hand-made Standard MIDI File bytes for the reader tests.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <string>
#include <vector>

namespace vozaro::midi::fixtures {

using Bytes = std::vector<std::uint8_t>;

inline Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

inline Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

// A variable-length quantity.
inline Bytes vlq(std::uint32_t value) {
    Bytes out{static_cast<std::uint8_t>(value & 0x7F)};
    while (value >>= 7)
        out.insert(out.begin(), static_cast<std::uint8_t>((value & 0x7F) | 0x80));
    return out;
}

inline Bytes be32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v >> 24), static_cast<std::uint8_t>(v >> 16),
            static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}
inline Bytes le32(std::uint32_t v) {
    return {static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
            static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
}
inline Bytes be16(std::uint16_t v) {
    return {static_cast<std::uint8_t>(v >> 8), static_cast<std::uint8_t>(v)};
}

// A meta event with its delta time.
inline Bytes meta(std::uint32_t delta, std::uint8_t type, const Bytes& data) {
    return vlq(delta) + Bytes{0xFF, type} + vlq(static_cast<std::uint32_t>(data.size())) + data;
}
inline Bytes endOfTrack(std::uint32_t delta = 0) { return meta(delta, 0x2F, {}); }

// A system exclusive event (status 0xF0 or 0xF7) with its delta time.
inline Bytes sysex(std::uint32_t delta, std::uint8_t status, const Bytes& data) {
    return vlq(delta) + Bytes{status} + vlq(static_cast<std::uint32_t>(data.size())) + data;
}

// An "MTrk" chunk around the given event bytes.
inline Bytes track(const Bytes& events) { return text("MTrk") + be32(static_cast<std::uint32_t>(events.size())) + events; }

// A whole file: header (with optional extra header bytes) and the chunks.
inline Bytes smf(std::uint16_t format, std::uint16_t trackCount, std::uint16_t division,
                 const Bytes& chunks, const Bytes& headerExtra = {}) {
    return text("MThd") + be32(6 + static_cast<std::uint32_t>(headerExtra.size())) + be16(format) +
           be16(trackCount) + be16(division) + headerExtra + chunks;
}

// A RIFF "RMID" file holding the song in its "data" chunk after the chunks
// given in before.
inline Bytes rmid(const Bytes& song, const Bytes& before = {}) {
    Bytes data = text("data") + le32(static_cast<std::uint32_t>(song.size())) + song;
    if (song.size() % 2 != 0)
        data.push_back(0);
    Bytes body = text("RMID") + before + data;
    return text("RIFF") + le32(static_cast<std::uint32_t>(body.size())) + body;
}

inline void writeFile(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// A folder of its own under the system's temporary folder, removed with
// everything in it at the end.
class TempFolder {
public:
    explicit TempFolder(const std::string& name)
        : path_(std::filesystem::temp_directory_path() / (name + "-" + std::to_string(::getpid()))) {
        std::filesystem::create_directories(path_);
    }
    ~TempFolder() {
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::filesystem::path& path() const { return path_; }
    // Writes a file into the folder and returns its path.
    std::string file(const std::string& name, const Bytes& bytes) const {
        const std::string p = (path_ / name).string();
        writeFile(p, bytes);
        return p;
    }

private:
    std::filesystem::path path_;
};

}  // namespace vozaro::midi::fixtures
