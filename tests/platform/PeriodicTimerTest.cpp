// The system periodic timer and its manual double.  No assertion depends on
// how long anything took: waits are for conditions, with a generous deadline
// that only guards against a hang.
#include "support/ManualTimerService.h"
#include "platform/PeriodicTimer.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

using namespace vozaro::platform;
using namespace std::chrono_literals;

namespace {

struct Counter {
    std::atomic<int> calls{0};
    std::atomic<std::thread::id> thread{};
    std::unique_ptr<PeriodicTimer> timer;  // for killing from inside
    std::atomic<bool> killInside{false};
    std::atomic<bool> killed{false};
    std::atomic<int> killedAt{0};

    static void tick(void* context) noexcept {
        auto* self = static_cast<Counter*>(context);
        self->thread.store(std::this_thread::get_id());
        int n = ++self->calls;
        if (self->killInside.load() && n >= 3 && !self->killed.load()) {
            self->timer->kill();
            self->killedAt.store(n);
            self->killed.store(true);
        }
    }
};

template <typename Pred>
bool waitFor(Pred pred) {
    auto deadline = std::chrono::steady_clock::now() + 10s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

}  // namespace

TEST(SystemTimer, CallsRepeatedlyOnItsOwnThreadUntilKilled) {
    Counter counter;
    auto timer = systemTimerService().startPeriodic(1, &Counter::tick, &counter);
    ASSERT_NE(timer, nullptr);
    ASSERT_TRUE(waitFor([&] { return counter.calls.load() >= 5; }));
    EXPECT_NE(counter.thread.load(), std::this_thread::get_id());
    timer->kill();
    int after = counter.calls.load();
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(counter.calls.load(), after);  // no call once kill has returned
}

TEST(SystemTimer, KilledFromInsideItsOwnCallbackWithoutDeadlock) {
    Counter counter;
    counter.timer = systemTimerService().startPeriodic(1, &Counter::tick, &counter);
    ASSERT_NE(counter.timer, nullptr);
    counter.killInside = true;  // only once the timer is stored
    ASSERT_TRUE(waitFor([&] { return counter.killed.load(); }));
    std::this_thread::sleep_for(20ms);
    EXPECT_EQ(counter.calls.load(), counter.killedAt.load());
    counter.timer.reset();  // destroying a timer killed from inside is harmless
}

TEST(SystemTimer, DestroyingRunningTimerStopsIt) {
    Counter counter;
    {
        auto timer = systemTimerService().startPeriodic(2, &Counter::tick, &counter);
        ASSERT_TRUE(waitFor([&] { return counter.calls.load() >= 1; }));
    }
    int after = counter.calls.load();
    std::this_thread::sleep_for(10ms);
    EXPECT_EQ(counter.calls.load(), after);
}

TEST(SystemTimer, RefusesNonsenseAndOffersMillisecondResolution) {
    Counter counter;
    EXPECT_EQ(systemTimerService().startPeriodic(0, &Counter::tick, &counter), nullptr);
    EXPECT_EQ(systemTimerService().startPeriodic(4, nullptr, &counter), nullptr);
    EXPECT_EQ(systemTimerService().minPeriod(), 1);
    EXPECT_TRUE(systemTimerService().beginPeriod(1));
    systemTimerService().endPeriod(1);
}

TEST(SystemTimer, RealtimeClassStillTicksWhereRefused) {
    Counter counter;
    auto& service = systemTimerService();
    service.setPriorityClass(PriorityClass::Realtime);
    auto timer = service.startPeriodic(1, &Counter::tick, &counter);
    service.setPriorityClass(PriorityClass::Normal);
    ASSERT_NE(timer, nullptr);
    EXPECT_TRUE(waitFor([&] { return counter.calls.load() >= 3; }));
}

TEST(SystemTimer, ClockAdvancesWithRealTime) {
    auto& service = systemTimerService();
    std::uint32_t before = service.nowMs();
    std::this_thread::sleep_for(30ms);
    std::uint32_t elapsed = service.nowMs() - before;
    EXPECT_GE(elapsed, 29u);  // a sleep never ends early; no upper bound asserted
}

TEST(ManualTimer, AdvancingMakesExactlyTheDueCalls) {
    ManualTimerService service;
    Counter four, six;
    auto a = service.startPeriodic(4, &Counter::tick, &four);
    auto b = service.startPeriodic(6, &Counter::tick, &six);
    service.advance(3);
    EXPECT_EQ(four.calls.load(), 0);
    service.advance(21);
    EXPECT_EQ(four.calls.load(), 6);
    EXPECT_EQ(six.calls.load(), 4);
    EXPECT_EQ(service.nowMs(), 24u);
    EXPECT_EQ(four.thread.load(), std::this_thread::get_id());
    a->kill();
    service.advance(12);
    EXPECT_EQ(four.calls.load(), 6);
    EXPECT_EQ(six.calls.load(), 6);
    EXPECT_EQ(service.runningTimers(), 1);
}

TEST(ManualTimer, KilledFromInsideItsCallback) {
    ManualTimerService service;
    Counter counter;
    counter.killInside = true;
    counter.timer = service.startPeriodic(1, &Counter::tick, &counter);
    service.advance(10);
    EXPECT_EQ(counter.calls.load(), 3);
    EXPECT_EQ(service.runningTimers(), 0);
}

TEST(ManualTimer, ReportsRefusalsAndCountsPeriods) {
    ManualTimerService service;
    Counter counter;
    EXPECT_TRUE(service.beginPeriod(1));
    EXPECT_EQ(service.periodsHeld(), 1);
    service.endPeriod(1);
    EXPECT_EQ(service.periodsHeld(), 0);
    service.setRefusePeriod(true);
    EXPECT_FALSE(service.beginPeriod(1));
    EXPECT_EQ(service.periodsHeld(), 0);
    service.setRefuseTimers(true);
    EXPECT_EQ(service.startPeriodic(4, &Counter::tick, &counter), nullptr);
    service.setNow(0xFFFFFFFEu);
    service.advance(3);
    EXPECT_EQ(service.nowMs(), 1u);
}

TEST(ManualTimer, KillFromAnotherThreadWaitsForTheCallInProgress) {
    ManualTimerService service;
    struct Slow {
        std::atomic<bool> inside{false};
        std::atomic<bool> release{false};
        std::atomic<bool> finished{false};
        static void tick(void* context) noexcept {
            auto* self = static_cast<Slow*>(context);
            self->inside = true;
            while (!self->release.load())
                std::this_thread::yield();
            self->finished = true;
        }
    } slow;
    auto timer = service.startPeriodic(1, &Slow::tick, &slow);
    std::thread ticker([&] { service.advance(1); });
    ASSERT_TRUE(waitFor([&] { return slow.inside.load(); }));
    std::thread releaser([&] {
        std::this_thread::sleep_for(5ms);
        slow.release = true;
    });
    timer->kill();
    EXPECT_TRUE(slow.finished.load());
    ticker.join();
    releaser.join();
}
