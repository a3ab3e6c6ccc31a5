// The test double of the timer service: its clock stands still until a test
// advances it, and advancing it makes the due calls of every running timer on
// the advancing thread, in order.  Every failure the system may report can be
// switched on, and the periods asked for are counted.
#pragma once

#include "platform/PeriodicTimer.h"

#include <atomic>
#include <mutex>
#include <vector>

namespace vozaro::platform {

class ManualTimerService final : public TimerService {
public:
    ManualTimerService() = default;
    ~ManualTimerService() override;
    ManualTimerService(const ManualTimerService&) = delete;
    ManualTimerService& operator=(const ManualTimerService&) = delete;

    int minPeriod() const override { return minPeriod_.load(); }
    bool beginPeriod(int periodMs) override;
    void endPeriod(int periodMs) override;
    std::uint32_t nowMs() const override { return now_.load(); }
    // Counts the milliseconds advanced (setNow leaves it alone), plus the
    // lateness set below.
    std::uint64_t nowUs() const override { return advancedUs_.load() + latenessUs_.load(); }
    PriorityClass priorityClass() const override { return priority_.load(); }
    void setPriorityClass(PriorityClass priority) override { priority_.store(priority); }
    std::unique_ptr<PeriodicTimer> startPeriodic(int intervalMs, TimerCallback callback,
                                                 void* context) override;

    // Moves the clock forward one millisecond at a time, making every call
    // that falls due on the way.  Any one thread at a time, never from inside
    // one of its own callbacks.
    void advance(std::uint32_t ms);
    // Calls made from now on read the microsecond clock this much after
    // their due millisecond, as a timer thread woken late would.
    void setLatenessUs(std::uint32_t us) { latenessUs_.store(us); }
    // Sets the clock without making any call (to test wrapping).
    void setNow(std::uint32_t ms) { now_.store(ms); }

    void setMinPeriod(int ms) { minPeriod_.store(ms); }
    void setRefusePeriod(bool refuse) { refusePeriod_.store(refuse); }
    void setRefuseTimers(bool refuse) { refuseTimers_.store(refuse); }

    // Periods asked for and not yet given back.
    int periodsHeld() const { return periodsHeld_.load(); }
    int lastPeriodAsked() const { return lastPeriod_.load(); }
    // Timers started and not killed.
    int runningTimers() const;
    // Interval and priority class of the timer started last.
    int lastInterval() const { return lastInterval_.load(); }
    PriorityClass lastTimerPriority() const { return lastPriority_.load(); }

    struct Entry;

private:
    std::atomic<std::uint32_t> now_{0};
    std::atomic<std::uint64_t> advancedUs_{0};
    std::atomic<std::uint32_t> latenessUs_{0};
    std::atomic<int> minPeriod_{1};
    std::atomic<bool> refusePeriod_{false};
    std::atomic<bool> refuseTimers_{false};
    std::atomic<int> periodsHeld_{0};
    std::atomic<int> lastPeriod_{0};
    std::atomic<int> lastInterval_{0};
    std::atomic<PriorityClass> priority_{PriorityClass::Normal};
    std::atomic<PriorityClass> lastPriority_{PriorityClass::Normal};
    mutable std::mutex mutex_;  // guards entries_
    std::vector<std::shared_ptr<Entry>> entries_;
    std::vector<std::shared_ptr<Entry>> due_;  // the advancing thread's, kept to reuse
};

}  // namespace vozaro::platform
