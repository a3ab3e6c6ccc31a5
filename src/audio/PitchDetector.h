// The pitch of the microphone: aubio's YIN (its fast, FFT-computed form,
// "yinfast"; its "yinfft" gives no confidence here) over the last kWindow
// samples, advanced by each buffer as it arrives (a hop of one buffer), so a
// window of about 93 ms at 22050 Hz reaches down to a low male voice.
//
// Owns its analysis memory, made once: feeding allocates nothing.
//
// thread: the thread the buffers arrive on (the user-interface thread); never
// the player's timer thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vozaro::audio {

struct HeardPitch {
    double note = 0;        // a fractional MIDI note number (69: A 440 Hz); 0: none heard
    double confidence = 0;  // 0 to 1: how periodic the window was
    // A pitch worth judging: confident enough to be a voice or an instrument.
    bool heard() const;
};

class PitchDetector {
public:
    static constexpr int kWindow = 2048;
    // Below this confidence a window is taken as noise (measured on sines and
    // harmonic tones from 80 Hz to 1 kHz, which stay above 0.9 once the
    // window is filled).
    static constexpr double kMinimumConfidence = 0.7;

    explicit PitchDetector(int sampleRate = 22050, int hop = 512);
    ~PitchDetector();
    PitchDetector(const PitchDetector&) = delete;
    PitchDetector& operator=(const PitchDetector&) = delete;

    // Feeds signed 16-bit mono samples, any count: each full hop gives a new
    // pitch.  Returns the last pitch.
    const HeardPitch& feed(const std::int16_t* samples, std::size_t count);
    const HeardPitch& last() const { return last_; }
    // Forgets what was heard (a new song): the window starts silent.
    void reset();

    int sampleRate() const { return sampleRate_; }
    int hop() const { return hop_; }

private:
    struct Aubio;
    void rebuild();

    const int sampleRate_;
    const int hop_;
    std::unique_ptr<Aubio> aubio_;
    std::size_t filled_ = 0;  // samples of the current hop gathered so far
    HeardPitch last_;
};

}  // namespace vozaro::audio
