// Window timers and waiting loops: the clock of the windows.
//
// A WindowTimer calls its handler on the user-interface thread when its
// interval has passed, once or repeatedly.  waitWhile() is the program's
// "let pending window messages be processed until ..." loop.
//
// Two clocks drive them.  Normally a WindowTimer is a QTimer and waitWhile()
// processes the event loop.  While another WindowClock is installed (the
// tests' manual clock, tests/support/ScopedManualWindowClock.h), both run on that
// clock instead.
//
// thread: user-interface thread only.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>

class QTimer;

namespace vozaro::platform {

class TimerService;
class WindowClock;

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
    friend class WindowClock;
    void fire();

    std::function<void()> onTimer_;
    int interval_ = 0;
    bool singleShot_ = false;
    bool precise_ = false;
    std::unique_ptr<QTimer> qtimer_;  // the real clock's timer, made on first use
    WindowClock* clock_ = nullptr;    // the installed clock it runs on, while active there
};

// Processes window messages until busy() returns false; on an installed
// clock, waits as that clock waits.
void waitWhile(const std::function<bool()>& busy);

// The timer service the windows' players use: the installed clock's service
// while one is installed, the system's otherwise.
TimerService& currentTimerService();

// A clock that stands in for the real one while it is installed (one at a
// time): window timers are handed to it when started and taken back when
// stopped, and waiting loops and the players' timers run on it.
class WindowClock {
public:
    virtual ~WindowClock();

    // A timer started (it falls due timer.interval() from now) and stopped.
    virtual void add(WindowTimer& timer) = 0;
    virtual void remove(WindowTimer& timer) = 0;
    // waitWhile() on this clock.
    virtual void waitWhile(const std::function<bool()>& busy) = 0;
    virtual TimerService& timerService() = 0;

protected:
    // Makes this clock the installed one, or (null) the real clock again;
    // the timers still on the clock leaving are no longer active.
    static void install(WindowClock* clock);
    // Marks a timer as running on `clock` (null: no longer).
    static void setActive(WindowTimer& timer, WindowClock* clock) { timer.clock_ = clock; }
    // Runs the timer's handler: the timer has fallen due.
    static void fire(WindowTimer& timer) { timer.fire(); }
};

}  // namespace vozaro::platform
