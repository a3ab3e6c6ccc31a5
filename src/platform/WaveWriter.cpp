#include "platform/WaveWriter.h"

#include <sndfile.h>

namespace vozaro::platform {

std::string writeWaveFile(const std::filesystem::path& path, const std::vector<float>& samples,
                          int frameRate, int channels) {
    SF_INFO info{};
    info.samplerate = frameRate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    if (!file)
        return sf_strerror(nullptr);
    // Full-scale floats map to full-scale integers; values beyond are clipped.
    sf_command(file, SFC_SET_CLIPPING, nullptr, SF_TRUE);
    const sf_count_t frames = static_cast<sf_count_t>(samples.size()) / channels;
    std::string error;
    if (sf_writef_float(file, samples.data(), frames) != frames)
        error = sf_strerror(file);
    if (sf_close(file) != 0 && error.empty())
        error = "the file could not be closed";
    return error;
}

}  // namespace vozaro::platform
