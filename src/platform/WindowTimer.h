// Window timers and waiting loops: the clock of the windows.
//
// A WindowTimer calls its handler on the user-interface thread when its
// interval has passed, once or repeatedly.  waitWhile() is the program's
// "let pending window messages be processed until ..." loop.
//
// Two clocks drive them.  Normally a WindowTimer is a QTimer and waitWhile()
// processes the event loop.  While a ScopedManualWindowClock exists, both run
// on the test's clock instead: the window timers fall due as the test
// advances that clock, and a waiting loop advances it by itself, one
// millisecond per round, so that "pause 2000 ms" takes 2000 ms of test time
// and no real time.  The manual clock is a ManualTimerService, the same one
// that the players' periodic timers run on (currentTimerService()), so a song
// and the windows that follow it see one time.
//
// thread: user-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class QTimer;

namespace vozaro::platform {

class ManualTimerService;
class TimerService;

class WindowTimer {
public:
    explicit WindowTimer(std::function<void()> onTimer = {});
    ~WindowTimer();
    WindowTimer(const WindowTimer&) = delete;
    WindowTimer& operator=(const WindowTimer&) = delete;

    void setOnTimer(std::function<void()> onTimer) { onTimer_ = std::move(onTimer); }

    // Interval in milliseconds; changing it restarts a running timer.
    int interval() const { return interval_; }
    void setInterval(int ms);
    bool singleShot() const { return singleShot_; }
    void setSingleShot(bool singleShot) { singleShot_ = singleShot; }
    // A precise timer keeps to the millisecond; others may be moved by a few
    // per cent so that the system wakes less often.
    void setPrecise(bool precise) { precise_ = precise; }

    // Starts (or restarts) the timer: its handler runs interval() from now.
    // A single-shot timer is no longer active when its handler runs.
    void start();
    void start(int ms);
    void stop();
    bool isActive() const;

private:
    friend class ScopedManualWindowClock;
    void fire();

    std::function<void()> onTimer_;
    int interval_ = 0;
    bool singleShot_ = false;
    bool precise_ = false;
    std::unique_ptr<QTimer> qtimer_;  // the real clock's timer, made on first use
    bool manualActive_ = false;       // registered with the manual clock
    std::uint64_t manualDue_ = 0;     // on the manual clock's 64-bit time
    std::uint64_t manualOrder_ = 0;   // start order, to fire equal due times in order
};

// Processes window messages until busy() returns false.  On the manual
// clock each round advances the clock one millisecond; a wait that lasts
// longer than maxWaitMs of that clock gives up (a test that would otherwise
// hang fails instead), and the clock notes it in waitsGivenUp().
void waitWhile(const std::function<bool()>& busy);

// The timer service the windows' players use: the manual clock's service while
// one is installed, the system's otherwise.
TimerService& currentTimerService();

// Installs a manual clock for the windows for its lifetime (one at a time).
class ScopedManualWindowClock {
public:
    static constexpr std::uint64_t kMaxWaitMs = 30ull * 60 * 1000;

    explicit ScopedManualWindowClock(ManualTimerService& service);
    ~ScopedManualWindowClock();
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
    int waitsGivenUp() const { return waitsGivenUp_; }
    ManualTimerService& service() { return service_; }

private:
    friend class WindowTimer;
    friend void waitWhile(const std::function<bool()>& busy);
    void step();
    void add(WindowTimer* timer);
    void remove(WindowTimer* timer);

    ManualTimerService& service_;
    std::uint64_t now_ = 0;
    std::uint64_t nextOrder_ = 0;
    int waitsGivenUp_ = 0;
    struct Registry;
    std::unique_ptr<Registry> timers_;
};

}  // namespace vozaro::platform
