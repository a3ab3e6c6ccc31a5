#include "support/ScopedManualWindowClock.h"

#include <QCoreApplication>

#include <algorithm>

#include "support/ManualTimerService.h"

namespace vozaro::platform {

namespace {
std::uint64_t intervalOf(const WindowTimer& timer) { return static_cast<std::uint64_t>(std::max(timer.interval(), 1)); }
}  // namespace

ScopedManualWindowClock::ScopedManualWindowClock(ManualTimerService& service) : service_(service) { install(this); }

ScopedManualWindowClock::~ScopedManualWindowClock() {
    for (const Entry& entry : timers_)
        setActive(*entry.timer, nullptr);
    install(nullptr);
}

void ScopedManualWindowClock::add(WindowTimer& timer) {
    setActive(timer, this);
    timers_.push_back({&timer, now_ + intervalOf(timer), nextOrder_++});
}

void ScopedManualWindowClock::remove(WindowTimer& timer) {
    std::erase_if(timers_, [&timer](const Entry& entry) { return entry.timer == &timer; });
    setActive(timer, nullptr);
}

TimerService& ScopedManualWindowClock::timerService() { return service_; }

void ScopedManualWindowClock::step() {
    service_.advance(1);
    ++now_;
    if (QCoreApplication::instance())
        QCoreApplication::sendPostedEvents();
    // Handlers may start, stop or destroy timers and may wait themselves, so
    // the due timer is looked up afresh every time.
    for (;;) {
        auto due = timers_.end();
        for (auto it = timers_.begin(); it != timers_.end(); ++it) {
            if (it->due > now_)
                continue;
            if (due == timers_.end() || it->due < due->due || (it->due == due->due && it->order < due->order))
                due = it;
        }
        if (due == timers_.end())
            break;
        WindowTimer& timer = *due->timer;
        if (timer.singleShot()) {
            timers_.erase(due);
            setActive(timer, nullptr);
        } else {
            due->due = now_ + intervalOf(timer);
            due->order = nextOrder_++;
        }
        fire(timer);
    }
}

void ScopedManualWindowClock::advance(std::uint32_t ms) {
    const std::uint64_t target = now_ + ms;
    while (now_ < target)
        step();
}

bool ScopedManualWindowClock::advanceWhile(const std::function<bool()>& busy, std::uint32_t maxMs) {
    const std::uint64_t limit = now_ + maxMs;
    while (busy()) {
        if (now_ >= limit)
            return false;
        step();
    }
    return true;
}

void ScopedManualWindowClock::waitWhile(const std::function<bool()>& busy) {
    const std::uint64_t start = now_;
    while (busy()) {
        if (now_ - start >= kMaxWaitMs) {
            ++waitsGivenUp_;
            return;
        }
        step();
    }
}

}  // namespace vozaro::platform
