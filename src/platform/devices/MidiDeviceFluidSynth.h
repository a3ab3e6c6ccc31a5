// The built-in General MIDI synthesizer: FluidSynth with a GM SoundFont.
//
// FluidSynthEngine is one synthesizer with its SoundFont loaded.  It renders
// into memory on request (tests) or plays through the default audio output.
// BuiltinSynthesizer is the device set of the one built-in device: every
// open of it shares one engine per process, loaded on the first open and
// kept until the process ends; its audio output opens with the first open
// that finds it closed and then stays open for the evening (a first open
// after the last close only resets programs and controllers).
//
// Timing: FluidSynth renders in blocks of kBlockFrames frames, and the
// engine counts the frames it has rendered: that count is its sample clock.
// A message sent with sendShortMessageAt waits in the engine until the block
// that holds its frame: the frame heard at its due time on the monotonic
// clock plus latencyUs().  The audio output is, first, a stream on the sound
// server (PlaybackStream) several periods deep, which says for every period
// when its first frame will be heard: latencyUs() then adds that buffer to
// kLatencyUs, and a writer held up for less than the buffer changes nothing
// that is heard.  Without a sound server it is ALSA's default device through
// FluidSynth's own driver, with a few milliseconds of buffer; the mapping
// then follows the times the output asks for frames (OutputClock).  While no
// output runs, a test sets the mapping with anchorRenderClock.  A message
// sent with sendShortMessage, reset() and systemReset() take effect at once:
// they first drop the note-ons still waiting and apply everything else
// waiting, so nothing already scheduled starts a note after them.
#pragma once

#include "platform/devices/MidiDevices.h"
#include "platform/devices/PlaybackStream.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace vozaro::platform {

// The name the configuration window lists for the built-in synthesizer.
inline constexpr const char* kBuiltinSynthName = "Sintetizador MIDI interno";

// The General MIDI SoundFonts looked for, in order of preference.
std::vector<std::string> generalMidiSoundFontCandidates();

class FluidSynthEngine {
public:
    // Loads the SoundFont at soundFontPath, or the first candidate that loads
    // when the path is empty.  Null when none loads; why then says so.
    static std::unique_ptr<FluidSynthEngine> create(const std::string& soundFontPath, std::string& why);
    ~FluidSynthEngine();
    FluidSynthEngine(const FluidSynthEngine&) = delete;
    FluidSynthEngine& operator=(const FluidSynthEngine&) = delete;

    const std::string& soundFontPath() const;
    int sampleRate() const;

    // Frames FluidSynth renders at a time: events start on a block.
    static constexpr int kBlockFrames = 64;
    // Frames the audio output takes at a time.
    static constexpr int kOutputPeriodFrames = 256;
    // Periods the sound server's buffer holds: 46 ms at 44.1 kHz.
    static constexpr int kServerPeriods = 8;
    // The fixed delay from an event's due time to its frame: one player tick
    // (4 ms), one output period (5.8 ms at 44.1 kHz; the frames of a period
    // are rendered at its start), one block, and room for the ticks' and the
    // output's lateness.
    static constexpr std::int64_t kLatencyUs = 14'000;
    // Messages waiting for their block at most; more are played at once.
    static constexpr int kQueueCapacity = 8192;

    // A short message as packShortMessage() builds it, at once.  System
    // messages (status 0xF0 and above) are ignored.  thread: any.
    void sendShortMessage(std::uint32_t message) noexcept;
    // The same message in the block holding its due time plus kLatencyUs on
    // the sample clock (at once when that block has been rendered already).
    // thread: any.
    void sendShortMessageAt(std::uint32_t message, std::uint64_t dueUs) noexcept;
    // From a message's due time to when it is heard: kLatencyUs, plus the
    // sound server's buffer while the output is a server stream.
    std::int64_t latencyUs() const noexcept;
    // While no audio output runs: the next frame rendered is the one heard
    // at us on the monotonic clock.
    void anchorRenderClock(std::uint64_t us) noexcept;
    // Frames rendered since the engine was created.
    std::int64_t framesRendered() const noexcept;
    // Messages waiting for their block.
    int waitingMessages() const noexcept;
    // Voices playing (also those dying away after their note-off).
    int activeVoices() const noexcept;
    // Voices started on a key of a channel that are still playing.  Only
    // while no audio output runs.
    int voicesOnKey(int channel, int key) const noexcept;
    // Silences every voice on all 16 channels at once; programs stay.
    void reset() noexcept;
    // Programs, controllers and voices back to the state after loading.
    void systemReset() noexcept;
    // The program selected on a channel (0..15).
    int program(int channel) const noexcept;

    // Idle, with nothing sounding for a while, the stream's writer stops
    // writing (the server plays silence) until the engine is no longer
    // idle.  The built-in device is idle while no handle is open.
    void setIdle(bool idle) noexcept;

    void setGain(float gain) noexcept;
    float gain() const noexcept;

    // Renders frames of interleaved stereo 16-bit samples into out, which
    // holds 2 * frames values.  Only while no audio output runs.
    void render(std::int16_t* out, int frames) noexcept;

    // Renders seconds of sound and throws it away: stopped voices and the
    // effects' tails die away while nobody listens.  Only while no audio
    // output runs.
    void discard(double seconds) noexcept;

    // Starts playing through the default audio output (the sound server, else
    // ALSA's default device).  False with a reason when no output opens.
    bool startAudio(std::string& why);
    // Opens the sound server's stream again; null, with why, while it
    // cannot.  Called on the stream's writer thread.
    using StreamOpener = std::function<std::unique_ptr<PlaybackStream>(std::string& why)>;
    // Waits `ms` before the next try to open the stream; false when the
    // writer is to end instead.  Tests pass their own; by default the writer
    // sleeps, woken early by stopAudio().
    using ReconnectWait = std::function<bool(int ms)>;
    // Time between two tries to open a lost stream again.
    static constexpr int kReconnectMs = 500;

    // Plays through `stream`, a sound server's stream opened with
    // kServerPeriods periods of kOutputPeriodFrames frames, from now on: a
    // thread renders a period at a time and writes it, until stopAudio().
    // When the stream fails (the server went away), `reopen` is tried every
    // kReconnectMs until a stream opens, and the sound goes on there at the
    // song's place: while none is heard, the messages still take effect at
    // their time, except the note-ons, so programs, controllers and notes
    // ended stay as the song has them.  Without `reopen` the writer ends
    // with the stream.
    void startAudio(std::unique_ptr<PlaybackStream> stream, StreamOpener reopen = {},
                    ReconnectWait wait = {}) noexcept;
    // Stops the audio output.  A stream's writer is waited for 100 ms at
    // most: one held up in a hung server is let go, and ends when the server
    // lets its write return.
    void stopAudio() noexcept;
    // The output plays, or its stream is being opened again.
    bool audioRunning() const noexcept;

    // The engine's state; public only for the audio output's callback.
    struct Impl;

private:
    explicit FluidSynthEngine(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};

// The device set holding only the built-in synthesizer.
class BuiltinSynthesizer final : public MidiDeviceSet {
public:
    int deviceCount() override { return 1; }
    std::string deviceName(int index) override;
    std::unique_ptr<MidiOutputDevice> openDevice(int index, std::string& why) override;
};

// Stops the built-in engine's audio output, which otherwise plays from the
// evening's first song to the end of the program (the program calls it as it
// ends, before its statics go).
void stopBuiltinSynthAudio() noexcept;

// Applies builtinSynthGain() to the built-in engine when it is loaded.
void applyBuiltinSynthGain() noexcept;

}  // namespace vozaro::platform
