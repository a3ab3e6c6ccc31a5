// The microphone heard through the speakers: a path of its own on the sound
// server, beside the wave input that the level bar and the scoring read.
//
// A MonitorPath is one open path: a recording stream on the system's default
// input and a playback stream on the default output, with a small buffer
// each, run on a thread of the back end's own.  Every block recorded is
// handed to a MonitorProcessor, whose answer is played at once.  The path
// records only from a real input: when the default input is the monitor of
// an output (what the speakers play), opening fails, as playing it would
// make a loop.  It stays on the input it opened; when that input goes
// (a microphone unplugged) or the server goes, the path is lost, says so
// once to the processor, and stays silent until it is closed.
#pragma once

#include <functional>
#include <memory>
#include <string>

namespace vozaro::platform {

// What the path's sound thread calls.  thread: the path's own thread for
// process() and lost(); prepare() on the thread that opens the path.
class MonitorProcessor {
public:
    // Before the first block, with the path's sample rate (mono frames per
    // second); the processor may allocate here.
    virtual void prepare(int sampleRate) = 0;
    // `frames` mono samples of the microphone (-1..1) into as many for the
    // speakers.  Neither allocates nor waits.
    virtual void process(const float* in, float* out, int frames) noexcept = 0;
    // The path was lost; nothing more is processed.  Neither allocates
    // nor waits.
    virtual void lost() noexcept = 0;

protected:
    ~MonitorProcessor() = default;
};

class MonitorPath {
public:
    // Ends the path: once it returns no block is processed any more.
    // Never called on the path's own thread.
    virtual ~MonitorPath() = default;
    virtual int sampleRate() const noexcept = 0;
    // The input or the server went away.
    virtual bool lost() const noexcept = 0;
};

// Opens a path feeding `processor`, which must outlive it; null with a
// readable reason in `why` when there is no server or no input.
using MonitorOpener =
    std::function<std::unique_ptr<MonitorPath>(MonitorProcessor& processor, std::string& why)>;

// The sound server's path (PulseAudio, or PipeWire's PulseAudio service).
std::unique_ptr<MonitorPath> openSoundServerMonitor(MonitorProcessor& processor, std::string& why);

}  // namespace vozaro::platform
