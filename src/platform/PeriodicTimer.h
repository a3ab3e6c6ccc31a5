// The multimedia timer service: a periodic timer that calls back on a thread
// of its own, the system millisecond clock, the timer resolution and the
// priority class used while a timer runs.
//
// Two back ends: the system one (a thread waking at absolute times
// start + k x period on the monotonic clock, so that it does not drift) and
// ManualTimerService (tests/support/ManualTimerService.h), whose clock and ticks a test advances.
#pragma once

#include <cstdint>
#include <memory>

namespace vozaro::platform {

// Called on the timer's thread at every period.  Must not throw.
using TimerCallback = void (*)(void* context) noexcept;

// The priority class a timer thread is started with.  Realtime maps to
// SCHED_FIFO where the system permits it and is silently normal elsewhere.
enum class PriorityClass { Normal, Realtime };

// A running periodic timer.  Killing it (or destroying it) stops the calls:
// from any other thread it waits until a call in progress has returned; from
// inside its own callback it returns at once, and the thread ends as soon as
// that callback returns, touching nothing outside the timer's own state.
class PeriodicTimer {
public:
    virtual ~PeriodicTimer() = default;
    virtual void kill() = 0;
};

class TimerService {
public:
    virtual ~TimerService() = default;

    // Finest period in milliseconds the service offers.
    virtual int minPeriod() const = 0;
    // Asks for a timer resolution of the given milliseconds while a timer
    // runs; false when refused.  Every granted request is given back with
    // endPeriod.
    virtual bool beginPeriod(int periodMs) = 0;
    virtual void endPeriod(int periodMs) = 0;

    // The millisecond clock: monotonic, as an unsigned count that wraps.
    // Any thread.
    virtual std::uint32_t nowMs() const = 0;
    // The same clock in microseconds, for placing events finer than a
    // millisecond: monotonic, counted from an unspecified start, not wrapping
    // in practice.  Any thread.
    virtual std::uint64_t nowUs() const = 0;

    // Priority class for timers started from now on.  Any thread.
    virtual PriorityClass priorityClass() const = 0;
    virtual void setPriorityClass(PriorityClass priority) = 0;

    // Starts calling callback(context) every intervalMs milliseconds, the
    // first call one interval from now.  nullptr when no timer can be made.
    virtual std::unique_ptr<PeriodicTimer> startPeriodic(int intervalMs,
                                                         TimerCallback callback,
                                                         void* context) = 0;
};

// The system's monotonic clock in microseconds: the clock of the system
// timer service's nowUs(), which devices that keep time of their own (the
// built-in synthesizer) map their sample clock to.
std::uint64_t monotonicMicros() noexcept;

// The system's timer service, shared by the whole process.
TimerService& systemTimerService();

}  // namespace vozaro::platform
