// The system back end of the timer service: one thread per periodic timer,
// sleeping with clock_nanosleep(TIMER_ABSTIME) until start + k x interval on
// the monotonic clock.
#include "platform/PeriodicTimer.h"

#include <pthread.h>
#include <sched.h>
#include <time.h>

#include <atomic>
#include <cerrno>
#include <system_error>
#include <thread>

namespace vozaro::platform {

namespace {

constexpr long kNanosPerSecond = 1'000'000'000L;
// The timer thread's SCHED_FIFO priority.  As the system timers of the
// desktop systems run their callbacks on a time-critical thread whatever the
// process's class, the timer thread asks for a real-time priority in the
// normal class too, a low one, so that a busy machine (a build, guests'
// phones searching) does not hold the song's ticks up; in the real-time
// class a higher one.  Both stay below the synthesizer's writer.
constexpr int kNormalClassPriority = 2;
constexpr int kRealtimePriority = 10;

void addNanos(timespec& t, long nanos) {
    t.tv_nsec += nanos;
    while (t.tv_nsec >= kNanosPerSecond) {
        t.tv_nsec -= kNanosPerSecond;
        ++t.tv_sec;
    }
}

bool earlier(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

// What the timer thread and its owner share; kept alive by both, so that a
// thread whose timer was killed from inside its own callback can finish
// after the timer object is gone.
struct TimerState {
    TimerCallback callback = nullptr;
    void* context = nullptr;
    long intervalNanos = 0;
    int priority = kNormalClassPriority;  // SCHED_FIFO
    std::atomic<bool> ready{false};  // set once the owner holds the thread
    std::atomic<bool> stop{false};
    std::atomic<std::thread::id> threadId{};
};

void runTimer(std::shared_ptr<TimerState> state) noexcept {
    state->ready.wait(false, std::memory_order_acquire);
    state->threadId.store(std::this_thread::get_id());
    sched_param param{};
    param.sched_priority = state->priority;
    pthread_setschedparam(pthread_self(), SCHED_FIFO, &param);  // refused: stay normal
    timespec next{};
    clock_gettime(CLOCK_MONOTONIC, &next);
    addNanos(next, state->intervalNanos);
    while (!state->stop.load(std::memory_order_acquire)) {
        int result = clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &next, nullptr);
        if (result == EINTR)
            continue;
        if (state->stop.load(std::memory_order_acquire))
            break;
        state->callback(state->context);
        addNanos(next, state->intervalNanos);
        // After a stall longer than one interval the missed calls are dropped
        // instead of being made back to back; the callback measures real time.
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        if (earlier(next, now)) {
            next = now;
            addNanos(next, state->intervalNanos);
        }
    }
}

class SystemTimer final : public PeriodicTimer {
public:
    explicit SystemTimer(std::shared_ptr<TimerState> state)
        : state_(std::move(state)), thread_(runTimer, state_) {
        state_->ready.store(true, std::memory_order_release);
        state_->ready.notify_one();
    }
    ~SystemTimer() override { kill(); }

    void kill() override {
        state_->stop.store(true, std::memory_order_release);
        if (!thread_.joinable())
            return;
        if (state_->threadId.load() == std::this_thread::get_id())
            thread_.detach();  // inside our own callback: the thread ends on its own
        else
            thread_.join();
    }

private:
    std::shared_ptr<TimerState> state_;
    std::thread thread_;
};

class SystemTimerService final : public TimerService {
public:
    int minPeriod() const override { return 1; }
    bool beginPeriod(int) override { return true; }
    void endPeriod(int) override {}

    std::uint32_t nowMs() const override {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        auto ms = static_cast<std::uint64_t>(now.tv_sec) * 1000u +
                  static_cast<std::uint64_t>(now.tv_nsec) / 1'000'000u;
        return static_cast<std::uint32_t>(ms);
    }

    std::uint64_t nowUs() const override { return monotonicMicros(); }

    PriorityClass priorityClass() const override { return priority_.load(); }
    void setPriorityClass(PriorityClass priority) override { priority_.store(priority); }

    std::unique_ptr<PeriodicTimer> startPeriodic(int intervalMs, TimerCallback callback,
                                                 void* context) override {
        if (intervalMs < 1 || callback == nullptr)
            return nullptr;
        auto state = std::make_shared<TimerState>();
        state->callback = callback;
        state->context = context;
        state->intervalNanos = static_cast<long>(intervalMs) * 1'000'000L;
        state->priority = priority_.load() == PriorityClass::Realtime ? kRealtimePriority : kNormalClassPriority;
        try {
            return std::make_unique<SystemTimer>(std::move(state));
        } catch (const std::system_error&) {
            return nullptr;
        }
    }

private:
    std::atomic<PriorityClass> priority_{PriorityClass::Normal};
};

}  // namespace

std::uint64_t monotonicMicros() noexcept {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::uint64_t>(now.tv_sec) * 1'000'000u + static_cast<std::uint64_t>(now.tv_nsec) / 1000u;
}

TimerService& systemTimerService() {
    static SystemTimerService service;
    return service;
}

}  // namespace vozaro::platform
