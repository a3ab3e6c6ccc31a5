// The built-in General MIDI synthesizer: FluidSynth with a GM SoundFont.
//
// FluidSynthEngine is one synthesizer with its SoundFont loaded.  It renders
// into memory on request (tests) or plays through the default audio output
// with FluidSynth's own audio driver.  BuiltinSynthesizer is the device set
// of the one built-in device: every open of it shares one engine per process,
// loaded on the first open and kept until the process ends, and its audio
// output runs while at least one handle is open.
#pragma once

#include "platform/MidiDevices.h"

#include <cstdint>
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

    // A short message as packShortMessage() builds it.  System messages
    // (status 0xF0 and above) are ignored.  thread: any.
    void sendShortMessage(std::uint32_t message) noexcept;
    // Silences every voice on all 16 channels at once; programs stay.
    void reset() noexcept;
    // Programs, controllers and voices back to the state after loading.
    void systemReset() noexcept;
    // The program selected on a channel (0..15).
    int program(int channel) const noexcept;

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
    void stopAudio() noexcept;
    bool audioRunning() const noexcept;

private:
    struct Impl;
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

// Applies builtinSynthGain() to the built-in engine when it is loaded.
void applyBuiltinSynthGain() noexcept;

}  // namespace vozaro::platform
