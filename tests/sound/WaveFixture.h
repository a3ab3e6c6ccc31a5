// Wave files written by hand for the sound tests: 16-bit PCM, mono.
#pragma once

#include <cmath>
#include <cstdint>
#include <fstream>
#include <numbers>
#include <string>
#include <vector>

namespace vozaro::test {

inline std::vector<char> waveBytes(const std::vector<std::int16_t>& samples, std::uint32_t rate) {
    std::vector<char> bytes;
    auto put32 = [&](std::uint32_t v) {
        for (int i = 0; i < 4; ++i) bytes.push_back(static_cast<char>(v >> (8 * i)));
    };
    auto put16 = [&](std::uint16_t v) {
        bytes.push_back(static_cast<char>(v));
        bytes.push_back(static_cast<char>(v >> 8));
    };
    auto tag = [&](const char* t) { bytes.insert(bytes.end(), t, t + 4); };
    const std::uint32_t data = static_cast<std::uint32_t>(samples.size() * 2);
    tag("RIFF"); put32(36 + data); tag("WAVE");
    tag("fmt "); put32(16); put16(1); put16(1); put32(rate); put32(rate * 2); put16(2); put16(16);
    tag("data"); put32(data);
    for (std::int16_t s : samples) put16(static_cast<std::uint16_t>(s));
    return bytes;
}

inline std::vector<std::int16_t> tone(double hertz, double seconds, std::uint32_t rate, int amplitude = 12000) {
    std::vector<std::int16_t> samples(static_cast<std::size_t>(seconds * rate));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * hertz * double(i) / rate)));
    return samples;
}

inline void writeFile(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

}  // namespace vozaro::test
