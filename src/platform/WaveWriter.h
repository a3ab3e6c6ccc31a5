// Writes 16-bit PCM wave files (through libsndfile).
#pragma once

#include <filesystem>
#include <string>
#include <vector>

namespace vozaro::platform {

// Writes interleaved samples from -1.0 to 1.0 (clipped) as a 16-bit PCM
// ".wav" file.  Returns an empty text on success, else what went wrong.
std::string writeWaveFile(const std::filesystem::path& path, const std::vector<float>& samples,
                          int frameRate, int channels);

}  // namespace vozaro::platform
