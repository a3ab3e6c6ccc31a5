// The windows' clock in the tests' hands.  While a ScopedManualWindowClock
// exists, window timers fall due as the test advances it, and a waiting loop
// (waitWhile) advances it by itself, one millisecond per round, so that
// "pause 2000 ms" takes 2000 ms of test time and no real time.  Its players'
// timers run on a ManualTimerService, the same one the test may drive
// directly, so a song and the windows that follow it see one time.
//
// thread: user-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "platform/WindowTimer.h"

namespace vozaro::platform {

class ManualTimerService;

// Installs a manual clock for the windows for its lifetime (one at a time).
class ScopedManualWindowClock final : public WindowClock {
public:
    static constexpr std::uint64_t kMaxWaitMs = 30ull * 60 * 1000;

    explicit ScopedManualWindowClock(ManualTimerService& service);
    ~ScopedManualWindowClock() override;
    ScopedManualWindowClock(const ScopedManualWindowClock&) = delete;
    ScopedManualWindowClock& operator=(const ScopedManualWindowClock&) = delete;

    // Moves the clock forward one millisecond at a time.  At every step the
    // players' timers tick, the events they posted are delivered, and the
    // window timers that have fallen due run, earliest first.  A handler may
    // itself wait (waitWhile), which moves the clock on further.
    void advance(std::uint32_t ms);
    // Advances until busy() is false or maxMs have passed; true when busy()
    // ended.
    bool advanceWhile(const std::function<bool()>& busy, std::uint32_t maxMs);

    // Milliseconds since the clock was installed.
    std::uint64_t elapsed() const { return now_; }
    // Waits that lasted longer than kMaxWaitMs of this clock and were given
    // up (a test that would otherwise hang fails instead).
    int waitsGivenUp() const { return waitsGivenUp_; }
    ManualTimerService& service() { return service_; }

    void add(WindowTimer& timer) override;
    void remove(WindowTimer& timer) override;
    void waitWhile(const std::function<bool()>& busy) override;
    TimerService& timerService() override;

private:
    void step();

    struct Entry {
        WindowTimer* timer;
        std::uint64_t due;    // on this clock's time
        std::uint64_t order;  // start order, to fire equal due times in order
    };
    ManualTimerService& service_;
    std::uint64_t now_ = 0;
    std::uint64_t nextOrder_ = 0;
    int waitsGivenUp_ = 0;
    std::vector<Entry> timers_;
};

}  // namespace vozaro::platform
