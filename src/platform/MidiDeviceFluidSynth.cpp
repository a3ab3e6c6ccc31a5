#include "platform/MidiDeviceFluidSynth.h"

#include <fluidsynth.h>

#include <mutex>

namespace vozaro::platform {

namespace {

// Audio drivers tried in order: the sound server first (the desktop's usual
// output, and what PipeWire offers too), then ALSA's default device.
constexpr const char* kAudioDrivers[] = {"pulseaudio", "alsa"};
constexpr int kChannels = 16;
// Longer than the reverb's tail.
constexpr double kSessionSettleSeconds = 2.0;

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
    std::string soundFontPath;
    int sampleRate = 44100;

    ~Impl() {
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

void FluidSynthEngine::sendShortMessage(std::uint32_t message) noexcept {
    fluid_synth_t* synth = impl_->synth;
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

void FluidSynthEngine::reset() noexcept {
    for (int channel = 0; channel < kChannels; ++channel)
        fluid_synth_all_sounds_off(impl_->synth, channel);
}

void FluidSynthEngine::systemReset() noexcept { fluid_synth_system_reset(impl_->synth); }

int FluidSynthEngine::program(int channel) const noexcept {
    int soundFont = 0, bank = 0, preset = 0;
    if (fluid_synth_get_program(impl_->synth, channel, &soundFont, &bank, &preset) == FLUID_FAILED)
        return -1;
    return preset;
}

void FluidSynthEngine::setGain(float gain) noexcept { fluid_synth_set_gain(impl_->synth, gain); }
float FluidSynthEngine::gain() const noexcept { return fluid_synth_get_gain(impl_->synth); }

void FluidSynthEngine::render(std::int16_t* out, int frames) noexcept {
    fluid_synth_write_s16(impl_->synth, frames, out, 0, 2, out, 1, 2);
}

void FluidSynthEngine::discard(double seconds) noexcept {
    constexpr int kBlock = 1024;
    std::int16_t scratch[2 * kBlock];
    for (int left = static_cast<int>(seconds * impl_->sampleRate); left > 0; left -= kBlock)
        render(scratch, left < kBlock ? left : kBlock);
}

bool FluidSynthEngine::startAudio(std::string& why) {
    if (impl_->driver)
        return true;
    takeLogError();
    std::string reasons;
    for (const char* name : kAudioDrivers) {
        fluid_settings_setstr(impl_->settings, "audio.driver", name);
        impl_->driver = new_fluid_audio_driver(impl_->settings, impl_->synth);
        if (impl_->driver)
            return true;
        reasons += reasons.empty() ? "" : "; ";
        reasons += withLogError(name);
    }
    why = "no audio output could be opened (" + reasons + ")";
    return false;
}

void FluidSynthEngine::stopAudio() noexcept {
    if (impl_->driver) {
        delete_fluid_audio_driver(impl_->driver);
        impl_->driver = nullptr;
    }
}

bool FluidSynthEngine::audioRunning() const noexcept { return impl_->driver != nullptr; }

namespace {

// The process's one built-in synthesizer.  Never destroyed: handles may still
// be closed by the clean-up at process end, after static objects are gone.
struct SharedSynth {
    std::mutex mutex;
    std::unique_ptr<FluidSynthEngine> engine;  // loaded on the first open, then kept
    int openHandles = 0;                       // the audio output runs while > 0
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
        if (--shared.openHandles == 0) {
            engine_.reset();
            engine_.stopAudio();
        }
    }
    void sendShortMessage(std::uint32_t message) noexcept override { engine_.sendShortMessage(message); }
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
        // opened anew would be: the audio output stopped with the last close,
        // so what was still sounding then (the release of the last notes,
        // the reverb) is let die away unheard, not played now.
        shared.engine->systemReset();
        shared.engine->discard(kSessionSettleSeconds);
        shared.engine->setGain(builtinSynthGain());
        if (!shared.engine->startAudio(why))
            return nullptr;
    }
    ++shared.openHandles;
    return std::make_unique<BuiltinSynthHandle>(*shared.engine);
}

void applyBuiltinSynthGain() noexcept {
    SharedSynth& shared = sharedSynth();
    std::lock_guard lock(shared.mutex);
    if (shared.engine)
        shared.engine->setGain(builtinSynthGain());
}

}  // namespace vozaro::platform
