// The sound server's playback stream through PulseAudio's simple interface:
// its own thread talks to the server, so the calls here only wait while the
// buffer is full or for the server's timing.
#include "platform/devices/PlaybackStream.h"

#include "platform/PeriodicTimer.h"

#include <pulse/error.h>
#include <pulse/simple.h>

#include <string>
#include <utility>

namespace vozaro::platform {

namespace {

constexpr std::uint32_t kStereoFloatBytes = 2 * sizeof(float);

// The stream's settings, kept to open it again.
struct StreamSettings {
    std::string name;
    pa_sample_spec spec;
    pa_buffer_attr buffer;

    pa_simple* open(int& error) const {
        return pa_simple_new(nullptr, "Vozaro", PA_STREAM_PLAYBACK, nullptr, name.c_str(), &spec, nullptr, &buffer,
                             &error);
    }
};

class SoundServerStream final : public PlaybackStream {
public:
    SoundServerStream(pa_simple* stream, StreamSettings settings) : stream_(stream), settings_(std::move(settings)) {}
    ~SoundServerStream() override { close(); }
    SoundServerStream(const SoundServerStream&) = delete;
    SoundServerStream& operator=(const SoundServerStream&) = delete;

    std::optional<std::uint64_t> nextFrameHeardUs() noexcept override {
        if (!stream_)
            return std::nullopt;
        const std::uint64_t now = monotonicMicros();
        int error = 0;
        const pa_usec_t latency = pa_simple_get_latency(stream_, &error);
        if (latency == static_cast<pa_usec_t>(-1))
            return std::nullopt;
        return now + latency;
    }

    bool write(const float* stereo, int frames) noexcept override {
        int error = 0;
        return stream_ &&
               pa_simple_write(stream_, stereo, static_cast<std::size_t>(frames) * kStereoFloatBytes, &error) >= 0;
    }

    // A stream left without data for long does not take up again cleanly
    // (after a flush the server kept what was written without playing it):
    // it is opened anew, which costs a few milliseconds.
    bool resume() noexcept override {
        close();
        int error = 0;
        stream_ = settings_.open(error);
        return stream_ != nullptr;
    }

private:
    void close() noexcept {
        if (stream_)
            pa_simple_free(stream_);
        stream_ = nullptr;
    }

    pa_simple* stream_;
    StreamSettings settings_;
};

}  // namespace

std::unique_ptr<PlaybackStream> openSoundServerStream(const std::string& name, int sampleRate, int periodFrames,
                                                      int periods, std::string& why) {
    const pa_sample_spec spec{PA_SAMPLE_FLOAT32LE, static_cast<std::uint32_t>(sampleRate), 2};
    pa_buffer_attr buffer{};
    buffer.maxlength = static_cast<std::uint32_t>(-1);
    buffer.tlength = static_cast<std::uint32_t>(periodFrames * periods) * kStereoFloatBytes;
    // No pre-buffering: the stream plays from the first period written, and
    // when the writer is held up for longer than the buffer, the server
    // keeps playing (silence), drops what comes too late and plays the rest
    // when it was meant to be heard, instead of waiting to fill the buffer
    // again and so putting off, unsaid, everything that follows.
    buffer.prebuf = 0;
    buffer.minreq = static_cast<std::uint32_t>(periodFrames) * kStereoFloatBytes;
    buffer.fragsize = static_cast<std::uint32_t>(-1);
    StreamSettings settings{name, spec, buffer};
    int error = 0;
    pa_simple* stream = settings.open(error);
    if (!stream) {
        why = std::string("the sound server: ") + pa_strerror(error);
        return nullptr;
    }
    return std::make_unique<SoundServerStream>(stream, std::move(settings));
}

}  // namespace vozaro::platform
