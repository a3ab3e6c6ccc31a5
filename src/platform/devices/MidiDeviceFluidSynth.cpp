#include "platform/devices/MidiDeviceFluidSynth.h"

#include "platform/devices/OutputClock.h"
#include "platform/PeriodicTimer.h"

#include <fluidsynth.h>

#include <pthread.h>
#include <sched.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace vozaro::platform {

namespace {

// FluidSynth's audio driver when no sound server answers.
constexpr const char* kAlsaDriver = "alsa";
// The stream writer's real-time priority, where the system grants one (as
// FluidSynth's own driver asks for).
constexpr int kAudioPriority = 60;
constexpr int kChannels = 16;
// Longer than the reverb's tail.
constexpr int kIdleSilenceSeconds = 2;
// Stop, Next and closing wait no longer than this for the stream's writer
// (a writer held inside a hung server is let go instead).
constexpr auto kWriterStopWait = std::chrono::milliseconds(100);

bool isNoteOn(std::uint32_t message) {
    return (message & 0xF0) == 0x90 && ((message >> 16) & 0x7F) != 0;
}

// FluidSynth reports through a global log; keep its last error as the reason
// of a failure instead of letting it print.
std::mutex logMutex;
std::string lastLogError;

void keepLogError(int level, const char* message, void*) {
    if (level > FLUID_ERR || !message)
        return;
    std::lock_guard lock(logMutex);
    lastLogError = message;
}

void routeFluidSynthLog() {
    static std::once_flag once;
    std::call_once(once, [] {
        fluid_set_log_function(FLUID_PANIC, keepLogError, nullptr);
        fluid_set_log_function(FLUID_ERR, keepLogError, nullptr);
        fluid_set_log_function(FLUID_WARN, nullptr, nullptr);
        fluid_set_log_function(FLUID_INFO, nullptr, nullptr);
        fluid_set_log_function(FLUID_DBG, nullptr, nullptr);
    });
}

std::string takeLogError() {
    std::lock_guard lock(logMutex);
    std::string text = std::move(lastLogError);
    lastLogError.clear();
    return text;
}

std::string withLogError(std::string what) {
    std::string detail = takeLogError();
    if (!detail.empty())
        what += ": " + detail;
    return what;
}

}  // namespace

std::vector<std::string> generalMidiSoundFontCandidates() {
    return {
        "/usr/share/sounds/sf2/default-GM.sf2",
        "/usr/share/sounds/sf3/default-GM.sf3",
        "/usr/share/sounds/sf2/FluidR3_GM.sf2",
        "/usr/share/sounds/sf2/TimGM6mb.sf2",
        "/usr/share/soundfonts/default.sf2",
        "/usr/share/soundfonts/FluidR3_GM.sf2",
    };
}

struct FluidSynthEngine::Impl {
    fluid_settings_t* settings = nullptr;
    fluid_synth_t* synth = nullptr;
    fluid_audio_driver_t* driver = nullptr;
    // The thread writing to the sound server's stream.  It owns the stream,
    // and opens it again after the server went away.  Each writer runs
    // while writerGeneration is the one it was started with; writersRunning
    // counts the threads not yet ended (one let go when stopping took too
    // long included), writerActive says the current one plays.
    std::thread streamWriter;
    std::atomic<std::uint64_t> writerGeneration{0};
    int writersRunning = 0;     // mutex
    bool writerActive = false;  // mutex
    std::condition_variable writerChanged;
    StreamOpener reopen;
    ReconnectWait reconnectWait;
    std::atomic<bool> idle{false};  // no handle open: see silentWhileIdle()
    int quietFrames = 0;            // writer thread
    // While the stream is lost: the time up to which the waiting messages
    // have been dealt with, on the clock of the due times.
    double lostUntilUs = 0;
    // What the output adds between a frame's anchor and its being heard.
    std::atomic<std::int64_t> outputDelayUs{0};
    std::string soundFontPath;
    int sampleRate = 44100;

    struct Waiting {
        std::uint64_t us;  // when its frame is heard (rendered, on FluidSynth's driver)
        std::uint32_t message;
    };
    // Guards the waiting messages, the sample clock and its mapping; held
    // while messages are applied, never while FluidSynth renders.
    mutable std::mutex mutex;
    std::array<Waiting, kQueueCapacity> waiting{};
    int waitingCount = 0;
    std::int64_t frames = 0;  // the sample clock: frames rendered
    // The mapping while FluidSynth's driver runs.
    OutputClock outputClock{44100};
    // The mapping while a stream runs (set by it every period), or while no
    // output runs.
    std::uint64_t renderAnchorUs = 0;
    std::int64_t renderAnchorFrame = 0;

    double nominalUsPerFrame() const { return 1e6 / sampleRate; }

    void apply(std::uint32_t message) noexcept;

    // Everything waiting but its note-ons, at once; mutex held.
    void flushWaiting() noexcept {
        for (int i = 0; i < waitingCount; ++i)
            if (!isNoteOn(waiting[static_cast<std::size_t>(i)].message))
                apply(waiting[static_cast<std::size_t>(i)].message);
        waitingCount = 0;
    }

    // Applies, in the order they were sent, the messages due before
    // limitUs; mutex held.
    void applyDue(double limitUs) noexcept {
        int kept = 0;
        for (int i = 0; i < waitingCount; ++i) {
            const Waiting entry = waiting[static_cast<std::size_t>(i)];
            if (static_cast<double>(entry.us) < limitUs)
                apply(entry.message);
            else
                waiting[static_cast<std::size_t>(kept++)] = entry;
        }
        waitingCount = kept;
    }

    // While nothing is heard (the stream was lost): the messages due before
    // limitUs take effect, except their note-ons, which would start late,
    // all at once; mutex held.  Programs, controllers and note-offs so
    // stay as the song has them.
    void passOverdue(double limitUs) noexcept {
        int kept = 0;
        for (int i = 0; i < waitingCount; ++i) {
            const Waiting entry = waiting[static_cast<std::size_t>(i)];
            if (static_cast<double>(entry.us) >= limitUs)
                waiting[static_cast<std::size_t>(kept++)] = entry;
            else if (!isNoteOn(entry.message))
                apply(entry.message);
        }
        waitingCount = kept;
    }

    // When `frame` is rendered, on the clock of the due times: by the audio
    // output's requests once it has asked for frames (the line, and how late
    // the request being rendered came), else by the anchor; mutex held.
    double usOfFrame(std::int64_t frame) const noexcept {
        if (outputClock.valid())
            return outputClock.usOfFrame(frame) + outputClock.latenessUs();
        return static_cast<double>(renderAnchorUs) +
               static_cast<double>(frame - renderAnchorFrame) * nominalUsPerFrame();
    }

    // The audio output asks for the frames from `frames` on at nowUs.
    void noteRequest(double nowUs) noexcept {
        std::lock_guard lock(mutex);
        outputClock.noteRequest(nowUs, frames);
    }

    // Renders `count` frames in pieces that end on block boundaries,
    // applying before each block the messages due in it (those whose frame
    // is nearer to its start than to the next block's); write(offset, n)
    // renders n frames at offset into the caller's buffer.
    template <typename Write>
    void renderFrames(int count, Write write) noexcept {
        for (int done = 0; done < count;) {
            int piece;
            {
                std::lock_guard lock(mutex);
                const int inBlock = static_cast<int>(frames % kBlockFrames);
                if (inBlock == 0 && waitingCount > 0)
                    applyDue(usOfFrame(frames + kBlockFrames / 2));
                piece = std::min(count - done, kBlockFrames - inBlock);
                frames += piece;
            }
            write(done, piece);
            done += piece;
        }
    }

    // Idle (no song plays) and nothing sounding, the reverb's tail included,
    // for kIdleSilenceSeconds: the writer then stops writing, and the
    // server plays silence, until the engine is no longer idle.  Writer
    // thread.
    bool silentWhileIdle() noexcept {
        if (!idle.load(std::memory_order_relaxed) || fluid_synth_get_active_voice_count(synth) > 0) {
            quietFrames = 0;
            return false;
        }
        if (quietFrames < kIdleSilenceSeconds * sampleRate) {
            quietFrames += kOutputPeriodFrames;
            return false;
        }
        return true;
    }

    bool writerStopped(std::uint64_t generation) const noexcept {
        return writerGeneration.load(std::memory_order_relaxed) != generation;
    }

    // The stream's writer: before each period, the server says when its
    // first frame will be heard, which anchors the sample clock; then the
    // period is rendered and written.  A stream that fails (the server went
    // away) is opened again every kReconnectMs, while the song's messages
    // go on taking effect at their time, note-ons aside.
    void writeStream(std::unique_ptr<PlaybackStream> stream, std::uint64_t generation) noexcept {
        std::vector<float> period(2 * static_cast<std::size_t>(kOutputPeriodFrames));
        while (!writerStopped(generation)) {
            if (!stream && !(stream = reconnect(generation)))
                break;
            if (const std::optional<std::uint64_t> heard = stream->nextFrameHeardUs()) {
                std::lock_guard lock(mutex);
                renderAnchorUs = *heard;
                renderAnchorFrame = frames;
            }
            if (silentWhileIdle()) {
                waitWhileIdle(generation);
                quietFrames = 0;
                // Resuming opens the stream anew: when the server went away
                // meanwhile, that was the first try, and reconnect() goes on.
                if (!stream->resume() && !streamLost(stream, static_cast<double>(monotonicMicros())))
                    break;
                continue;  // anchored anew
            }
            float* target = period.data();
            renderFrames(kOutputPeriodFrames, [this, target](int offset, int count) {
                fluid_synth_write_float(synth, count, target + 2 * offset, 0, 2, target + 2 * offset, 1, 2);
            });
            if (!stream->write(period.data(), kOutputPeriodFrames)) {
                double lostAtUs;
                {
                    std::lock_guard lock(mutex);
                    lostAtUs = usOfFrame(frames);
                }
                if (!streamLost(stream, lostAtUs))
                    break;
            }
        }
        stream.reset();
        std::lock_guard lock(mutex);
        if (!writerStopped(generation))
            writerActive = false;  // ended by itself
        --writersRunning;
        writerChanged.notify_all();
    }

    // The stream failed; nothing is heard from lostAtUs on.  False when it
    // cannot be opened again (no opener): the writer ends.
    bool streamLost(std::unique_ptr<PlaybackStream>& stream, double lostAtUs) noexcept {
        stream.reset();
        if (!reopen)
            return false;
        std::lock_guard lock(mutex);
        lostUntilUs = lostAtUs;
        return true;
    }

    // Until the engine is no longer idle or the writer is stopped.  The
    // sample clock stands still meanwhile: nothing waits for a frame.
    void waitWhileIdle(std::uint64_t generation) noexcept {
        std::unique_lock lock(mutex);
        writerChanged.wait(lock, [&] { return !idle.load(std::memory_order_relaxed) || writerStopped(generation); });
    }

    // Waits kReconnectMs and tries to open the stream again, until it opens
    // or the writer is stopped.
    std::unique_ptr<PlaybackStream> reconnect(std::uint64_t generation) noexcept {
        while (waitBeforeRetry(generation)) {
            std::string why;
            std::unique_ptr<PlaybackStream> stream = reopen(why);
            std::lock_guard lock(mutex);
            lostUntilUs += kReconnectMs * 1000.0;
            if (!stream) {
                passOverdue(lostUntilUs);
                continue;
            }
            // The song goes on from where it is when the new stream is heard.
            const std::optional<std::uint64_t> heard = stream->nextFrameHeardUs();
            renderAnchorUs = heard ? *heard : static_cast<std::uint64_t>(lostUntilUs);
            renderAnchorFrame = frames;
            passOverdue(static_cast<double>(renderAnchorUs));
            return stream;
        }
        return nullptr;
    }

    // False when the writer is to stop instead.
    bool waitBeforeRetry(std::uint64_t generation) noexcept {
        if (reconnectWait)
            return reconnectWait(kReconnectMs) && !writerStopped(generation);
        std::unique_lock lock(mutex);
        return !writerChanged.wait_for(lock, std::chrono::milliseconds(kReconnectMs),
                                       [&] { return writerStopped(generation); });
    }

    // Stops the writer, waiting kWriterStopWait for it at most.
    void stopStream() noexcept {
        bool ended = true;
        {
            std::unique_lock lock(mutex);
            writerGeneration.fetch_add(1);
            writerActive = false;
            writerChanged.notify_all();
            if (streamWriter.joinable())
                ended = writerChanged.wait_for(lock, kWriterStopWait, [this] { return writersRunning == 0; });
        }
        if (streamWriter.joinable()) {
            if (ended)
                streamWriter.join();
            else
                streamWriter.detach();  // held by the server; it ends by itself when the write returns
        }
        outputDelayUs = 0;
    }

    ~Impl() {
        stopStream();
        {
            // A writer let go still uses the synthesizer.
            std::unique_lock lock(mutex);
            writerChanged.wait(lock, [this] { return writersRunning == 0; });
        }
        if (driver)
            delete_fluid_audio_driver(driver);
        if (synth)
            delete_fluid_synth(synth);
        if (settings)
            delete_fluid_settings(settings);
    }
};

FluidSynthEngine::FluidSynthEngine(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
FluidSynthEngine::~FluidSynthEngine() = default;

std::unique_ptr<FluidSynthEngine> FluidSynthEngine::create(const std::string& soundFontPath, std::string& why) {
    routeFluidSynthLog();
    takeLogError();
    auto impl = std::make_unique<Impl>();
    impl->settings = new_fluid_settings();
    if (!impl->settings) {
        why = withLogError("FluidSynth settings could not be created");
        return nullptr;
    }
    fluid_settings_setnum(impl->settings, "synth.gain", builtinSynthGain());
    double rate = 44100;
    fluid_settings_getnum(impl->settings, "synth.sample-rate", &rate);
    impl->sampleRate = static_cast<int>(rate);
    impl->outputClock = OutputClock(impl->sampleRate);
    impl->synth = new_fluid_synth(impl->settings);
    if (!impl->synth) {
        why = withLogError("the FluidSynth synthesizer could not be created");
        return nullptr;
    }
    const std::vector<std::string> candidates =
        soundFontPath.empty() ? generalMidiSoundFontCandidates() : std::vector<std::string>{soundFontPath};
    for (const std::string& path : candidates) {
        if (fluid_is_soundfont(path.c_str()) && fluid_synth_sfload(impl->synth, path.c_str(), 1) != FLUID_FAILED) {
            impl->soundFontPath = path;
            break;
        }
    }
    if (impl->soundFontPath.empty()) {
        why = withLogError(soundFontPath.empty() ? "no General MIDI SoundFont could be loaded"
                                                 : "the SoundFont " + soundFontPath + " could not be loaded");
        return nullptr;
    }
    return std::unique_ptr<FluidSynthEngine>(new FluidSynthEngine(std::move(impl)));
}

const std::string& FluidSynthEngine::soundFontPath() const { return impl_->soundFontPath; }
int FluidSynthEngine::sampleRate() const { return impl_->sampleRate; }

void FluidSynthEngine::Impl::apply(std::uint32_t message) noexcept {
    const int status = message & 0xFF;
    const int channel = status & 0x0F;
    const int data1 = (message >> 8) & 0x7F;
    const int data2 = (message >> 16) & 0x7F;
    switch (status & 0xF0) {
    case 0x80:
        fluid_synth_noteoff(synth, channel, data1);
        break;
    case 0x90:
        if (data2 == 0)
            fluid_synth_noteoff(synth, channel, data1);
        else
            fluid_synth_noteon(synth, channel, data1, data2);
        break;
    case 0xA0:
        fluid_synth_key_pressure(synth, channel, data1, data2);
        break;
    case 0xB0:
        fluid_synth_cc(synth, channel, data1, data2);
        break;
    case 0xC0:
        fluid_synth_program_change(synth, channel, data1);
        break;
    case 0xD0:
        fluid_synth_channel_pressure(synth, channel, data1);
        break;
    case 0xE0:
        fluid_synth_pitch_bend(synth, channel, data1 | data2 << 7);
        break;
    default:
        break;  // system messages mean nothing to the synthesizer
    }
}

void FluidSynthEngine::sendShortMessage(std::uint32_t message) noexcept {
    std::lock_guard lock(impl_->mutex);
    impl_->flushWaiting();
    impl_->apply(message);
}

void FluidSynthEngine::sendShortMessageAt(std::uint32_t message, std::uint64_t dueUs) noexcept {
    Impl& impl = *impl_;
    std::lock_guard lock(impl.mutex);
    if (impl.waitingCount == kQueueCapacity) {
        impl.apply(message);  // late rather than lost
        return;
    }
    const std::uint64_t heardUs = dueUs + kLatencyUs + impl.outputDelayUs.load(std::memory_order_relaxed);
    impl.waiting[static_cast<std::size_t>(impl.waitingCount++)] = {heardUs, message};
}

std::int64_t FluidSynthEngine::latencyUs() const noexcept {
    return kLatencyUs + impl_->outputDelayUs.load(std::memory_order_relaxed);
}

void FluidSynthEngine::anchorRenderClock(std::uint64_t us) noexcept {
    std::lock_guard lock(impl_->mutex);
    impl_->renderAnchorUs = us;
    impl_->renderAnchorFrame = impl_->frames;
}

std::int64_t FluidSynthEngine::framesRendered() const noexcept {
    std::lock_guard lock(impl_->mutex);
    return impl_->frames;
}

int FluidSynthEngine::waitingMessages() const noexcept {
    std::lock_guard lock(impl_->mutex);
    return impl_->waitingCount;
}

int FluidSynthEngine::activeVoices() const noexcept { return fluid_synth_get_active_voice_count(impl_->synth); }

int FluidSynthEngine::voicesOnKey(int channel, int key) const noexcept {
    constexpr int kMostVoices = 256;
    fluid_voice_t* voices[kMostVoices];
    fluid_synth_get_voicelist(impl_->synth, voices, kMostVoices, -1);
    int count = 0;
    for (int i = 0; i < kMostVoices && voices[i] != nullptr; ++i) {
        if (fluid_voice_is_playing(voices[i]) && fluid_voice_get_channel(voices[i]) == channel &&
            fluid_voice_get_key(voices[i]) == key)
            ++count;
    }
    return count;
}

void FluidSynthEngine::reset() noexcept {
    std::lock_guard lock(impl_->mutex);
    impl_->flushWaiting();
    for (int channel = 0; channel < kChannels; ++channel)
        fluid_synth_all_sounds_off(impl_->synth, channel);
}

void FluidSynthEngine::systemReset() noexcept {
    std::lock_guard lock(impl_->mutex);
    impl_->waitingCount = 0;
    fluid_synth_system_reset(impl_->synth);
}

int FluidSynthEngine::program(int channel) const noexcept {
    int soundFont = 0, bank = 0, preset = 0;
    if (fluid_synth_get_program(impl_->synth, channel, &soundFont, &bank, &preset) == FLUID_FAILED)
        return -1;
    return preset;
}

void FluidSynthEngine::setIdle(bool idle) noexcept {
    {
        std::lock_guard lock(impl_->mutex);
        impl_->idle.store(idle, std::memory_order_relaxed);
    }
    impl_->writerChanged.notify_all();
}

void FluidSynthEngine::setGain(float gain) noexcept { fluid_synth_set_gain(impl_->synth, gain); }
float FluidSynthEngine::gain() const noexcept { return fluid_synth_get_gain(impl_->synth); }

void FluidSynthEngine::render(std::int16_t* out, int frames) noexcept {
    fluid_synth_t* synth = impl_->synth;
    impl_->renderFrames(frames, [synth, out](int offset, int count) {
        fluid_synth_write_s16(synth, count, out + 2 * offset, 0, 2, out + 2 * offset, 1, 2);
    });
}

namespace {

// The audio output's request for `len` frames: the sample clock's mapping
// notes when it came, then the frames are rendered with the messages due in
// them.  Every other buffer the output hands over is silenced.
int renderForOutput(void* data, int len, int nfx, float* fx[], int nout, float* out[]) {
    auto& impl = *static_cast<FluidSynthEngine::Impl*>(data);
    impl.noteRequest(static_cast<double>(monotonicMicros()));
    for (int i = 0; i < nfx; ++i)
        std::fill_n(fx[i], len, 0.0f);
    for (int i = 2; i < nout; ++i)
        std::fill_n(out[i], len, 0.0f);
    if (nout < 2) {
        if (nout == 1)
            std::fill_n(out[0], len, 0.0f);
        return FLUID_OK;
    }
    fluid_synth_t* synth = impl.synth;
    float* left = out[0];
    float* right = out[1];
    impl.renderFrames(len, [synth, left, right](int offset, int count) {
        fluid_synth_write_float(synth, count, left + offset, 0, 1, right + offset, 0, 1);
    });
    return FLUID_OK;
}

}  // namespace

void FluidSynthEngine::discard(double seconds) noexcept {
    constexpr int kBlock = 1024;
    std::int16_t scratch[2 * kBlock];
    for (int left = static_cast<int>(seconds * impl_->sampleRate); left > 0; left -= kBlock)
        render(scratch, left < kBlock ? left : kBlock);
}

bool FluidSynthEngine::startAudio(std::string& why) {
    if (audioRunning())
        return true;
    std::string serverWhy;
    StreamOpener open = [rate = impl_->sampleRate](std::string& why) {
        return openSoundServerStream(kBuiltinSynthName, rate, kOutputPeriodFrames, kServerPeriods, why);
    };
    if (auto stream = open(serverWhy)) {
        startAudio(std::move(stream), std::move(open));
        return true;
    }
    takeLogError();
    fluid_settings_setstr(impl_->settings, "audio.driver", kAlsaDriver);
    // ALSA's buffer is the periods together: kept at 1024 frames.
    fluid_settings_setint(impl_->settings, "audio.period-size", kOutputPeriodFrames);
    fluid_settings_setint(impl_->settings, "audio.periods", 4);
    {
        std::lock_guard lock(impl_->mutex);
        impl_->outputClock.restart();
    }
    fluid_audio_driver_t* driver = new_fluid_audio_driver2(impl_->settings, renderForOutput, impl_.get());
    if (!driver) {
        why = "no audio output could be opened (" + serverWhy + "; " + withLogError(kAlsaDriver) + ")";
        return false;
    }
    std::lock_guard lock(impl_->mutex);
    impl_->driver = driver;
    return true;
}

void FluidSynthEngine::startAudio(std::unique_ptr<PlaybackStream> stream, StreamOpener reopen,
                                  ReconnectWait wait) noexcept {
    Impl& impl = *impl_;
    impl.stopStream();
    // The buffer holds up to all its periods, plus the server's own latency,
    // when a period is about to be written; one period more keeps every frame
    // heard no earlier than the messages due in it have been sent.
    impl.outputDelayUs = std::int64_t{kServerPeriods + 1} * kOutputPeriodFrames * 1'000'000 / impl.sampleRate;
    std::lock_guard lock(impl.mutex);
    impl.outputClock.restart();
    impl.reopen = std::move(reopen);
    impl.reconnectWait = std::move(wait);
    const std::uint64_t generation = impl.writerGeneration.load();
    try {
        impl.streamWriter = std::thread([&impl, generation, stream = std::move(stream)]() mutable {
            sched_param priority{};
            priority.sched_priority = kAudioPriority;
            pthread_setschedparam(pthread_self(), SCHED_FIFO, &priority);  // best effort
            impl.writeStream(std::move(stream), generation);
        });
        ++impl.writersRunning;
        impl.writerActive = true;
    } catch (const std::system_error&) {
        impl.outputDelayUs = 0;  // no thread to write: silent, and not running
    }
}

void FluidSynthEngine::stopAudio() noexcept {
    impl_->stopStream();
    fluid_audio_driver_t* driver = nullptr;
    {
        std::lock_guard lock(impl_->mutex);
        driver = std::exchange(impl_->driver, nullptr);
        impl_->outputClock.restart();
        impl_->renderAnchorFrame = impl_->frames;
        impl_->renderAnchorUs = monotonicMicros();
    }
    if (driver)
        delete_fluid_audio_driver(driver);
}

bool FluidSynthEngine::audioRunning() const noexcept {
    std::lock_guard lock(impl_->mutex);
    return impl_->driver != nullptr || impl_->writerActive;
}

namespace {

// The process's one built-in synthesizer.  Never destroyed: handles may still
// be closed by the clean-up at process end, after static objects are gone.
struct SharedSynth {
    std::mutex mutex;
    std::unique_ptr<FluidSynthEngine> engine;  // loaded on the first open, then kept
    int openHandles = 0;
};

SharedSynth& sharedSynth() {
    static SharedSynth* shared = new SharedSynth;
    return *shared;
}

class BuiltinSynthHandle final : public MidiOutputDevice {
public:
    explicit BuiltinSynthHandle(FluidSynthEngine& engine) : engine_(engine) {}
    ~BuiltinSynthHandle() override {
        SharedSynth& shared = sharedSynth();
        std::lock_guard lock(shared.mutex);
        // The audio output goes on: opening it again for every song would
        // cost its start, and the sound server's stream reconnects by itself.
        if (--shared.openHandles == 0) {
            engine_.reset();
            engine_.setIdle(true);
        }
    }
    void sendShortMessage(std::uint32_t message) noexcept override { engine_.sendShortMessage(message); }
    void sendShortMessageAt(std::uint32_t message, std::uint64_t dueUs) noexcept override {
        engine_.sendShortMessageAt(message, dueUs);
    }
    std::int64_t latencyUs() const noexcept override { return engine_.latencyUs(); }
    void reset() noexcept override { engine_.reset(); }

private:
    FluidSynthEngine& engine_;
};

}  // namespace

std::string BuiltinSynthesizer::deviceName(int index) { return index == 0 ? kBuiltinSynthName : ""; }

std::unique_ptr<MidiOutputDevice> BuiltinSynthesizer::openDevice(int index, std::string& why) {
    if (index != 0) {
        why = "no such device";
        return nullptr;
    }
    SharedSynth& shared = sharedSynth();
    std::lock_guard lock(shared.mutex);
    if (!shared.engine) {
        shared.engine = FluidSynthEngine::create({}, why);
        if (!shared.engine)
            return nullptr;
    }
    if (shared.openHandles == 0) {
        // A first open finds the synthesizer as freshly loaded, as a device
        // opened anew would be: programs and controllers at their defaults.
        // The audio output, opened by the evening's first song, stays open.
        shared.engine->systemReset();
        shared.engine->setIdle(false);
        shared.engine->setGain(builtinSynthGain());
        if (!shared.engine->startAudio(why))
            return nullptr;
    }
    ++shared.openHandles;
    return std::make_unique<BuiltinSynthHandle>(*shared.engine);
}

void stopBuiltinSynthAudio() noexcept {
    SharedSynth& shared = sharedSynth();
    std::lock_guard lock(shared.mutex);
    if (shared.engine)
        shared.engine->stopAudio();
}

void applyBuiltinSynthGain() noexcept {
    SharedSynth& shared = sharedSynth();
    std::lock_guard lock(shared.mutex);
    if (shared.engine)
        shared.engine->setGain(builtinSynthGain());
}

}  // namespace vozaro::platform
