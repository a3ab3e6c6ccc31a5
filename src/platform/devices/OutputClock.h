// When the audio output will render a frame, learnt from when it asks for
// frames.
//
// An output that pulls audio asks for frame f no earlier than its buffer has
// room for it, so the times of its requests, less f frame lengths, are never
// below one line: the moments the buffer is full, after which every frame is
// heard a fixed time later.  The clock keeps that line as the earliest
// offset of the requests:
//   - a request below the line moves it down at once (the output's clock
//     runs fast, or the line was too high);
//   - a request near the line (within kTouchUs) confirms it;
//   - two or more requests in a row above the line, over at least
//     kShortestRunUs, move it up to their earliest.  A steady output's
//     requests lie on the line, so when several in a row do not, it has
//     fallen behind (its buffer ran dry and the sound server played silence
//     meanwhile) and is followed within a few milliseconds.  A server that
//     asks in bursts (16 requests every 20 ms, say, only the last of which
//     fills the buffer) has the requests of a burst come within a fraction
//     of a millisecond, so a burst is not taken for falling behind.
//
// Between those moves, a request that comes later than the line says when
// its own frames are rendered (latenessUs): with a steady output, the sound
// server has played silence meanwhile, and those frames are heard that much
// later.  With an output that asks in bursts, lateness says nothing (the
// first requests of every burst come late), so there it is 0.
//
// Not thread-safe: the owner serialises calls.
#pragma once

#include <cstdint>

namespace vozaro::platform {

class OutputClock {
public:
    explicit OutputClock(int sampleRate) : usPerFrame_(1e6 / sampleRate) {}

    static constexpr double kTouchUs = 500;
    static constexpr double kShortestRunUs = 4'000;

    // Forgets the line; the next request starts it afresh.
    void restart() noexcept { valid_ = false; }
    bool valid() const noexcept { return valid_; }

    // The output asks at nowUs for the frames from `frame` on.
    void noteRequest(double nowUs, std::int64_t frame) noexcept;

    // When the output asks for `frame`, by the line.  Only while valid().
    double usOfFrame(std::int64_t frame) const noexcept {
        return originUs_ + offsetUs_ + static_cast<double>(frame - originFrame_) * usPerFrame_;
    }
    // How much later than the line, beyond kTouchUs, the last request came
    // from a steady output: its frames are rendered that much later.
    double latenessUs() const noexcept { return latenessUs_; }

private:
    // Moves the line by a request's offset.
    void follow(double nowUs, double offset) noexcept;

    double usPerFrame_;
    bool valid_ = false;
    std::int64_t originFrame_ = 0;
    double originUs_ = 0;
    double offsetUs_ = 0;
    double latenessUs_ = 0;
    // The last request, and the share of requests lately that came within a
    // quarter of the frames asked before them (near 1 for a bursty output).
    double lastUs_ = 0;
    std::int64_t lastFrame_ = 0;
    double backToBack_ = 1;
    // The requests above the line since the last one on it.
    int run_ = 0;
    double runStartUs_ = 0;
    double runEarliest_ = 0;
};

}  // namespace vozaro::platform
