// A playback stream on the sound server that says when what is written to it
// will be heard.
//
// The built-in synthesizer writes its sound in periods.  The server keeps a
// buffer of several periods, so that the writer being held up for a few
// dozen milliseconds (a busy machine) leaves no gap in the sound, and it
// tells, from its own timing, how long a frame written now takes to be
// heard.  Knowing that for every period, the synthesizer places each event
// on the frame heard when the event is due, however the writer was held up.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>

namespace vozaro::platform {

class PlaybackStream {
public:
    virtual ~PlaybackStream() = default;
    // When, on the monotonic clock, the next frame written will be heard;
    // nullopt when the server cannot say at the moment.
    virtual std::optional<std::uint64_t> nextFrameHeardUs() noexcept = 0;
    // Writes `frames` interleaved stereo frames, waiting while the buffer
    // is full.  False once the stream has failed (the server went away).
    virtual bool write(const float* stereo, int frames) noexcept = 0;
    // After the writer paused for longer than the buffer: makes what is
    // written next heard at once.  Without it the server, which played on
    // in silence meanwhile, throws away as much of what comes next as the
    // pause lasted.  False when the stream cannot go on (the server went
    // away meanwhile).
    virtual bool resume() noexcept { return true; }
};

// A stereo float stream on the default sink of the sound server (PulseAudio,
// or PipeWire's PulseAudio service) whose buffer holds `periods` periods of
// periodFrames frames.  Null, with why saying so, when no server answers.
std::unique_ptr<PlaybackStream> openSoundServerStream(const std::string& name, int sampleRate, int periodFrames,
                                                      int periods, std::string& why);

}  // namespace vozaro::platform
