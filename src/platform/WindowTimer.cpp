#include "platform/WindowTimer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <vector>

#include "platform/ManualTimer.h"
#include "platform/MessageBox.h"

namespace vozaro::platform {

namespace {
ScopedManualWindowClock* manualClock = nullptr;
}

struct ScopedManualWindowClock::Registry {
    std::vector<WindowTimer*> timers;
};

// --- WindowTimer ---------------------------------------------------------------

WindowTimer::WindowTimer(std::function<void()> onTimer) : onTimer_(std::move(onTimer)) {}

WindowTimer::~WindowTimer() { stop(); }

void WindowTimer::setInterval(int ms) {
    interval_ = std::max(ms, 0);
    if (isActive())
        start();
}

void WindowTimer::start(int ms) {
    interval_ = std::max(ms, 0);
    start();
}

void WindowTimer::start() {
    stop();
    if (manualClock) {
        manualClock->add(this);
        return;
    }
    if (!qtimer_) {
        qtimer_ = std::make_unique<QTimer>();
        QObject::connect(qtimer_.get(), &QTimer::timeout, [this] { fire(); });
    }
    qtimer_->setSingleShot(singleShot_);
    qtimer_->setTimerType(precise_ ? Qt::PreciseTimer : Qt::CoarseTimer);
    qtimer_->start(interval_);
}

void WindowTimer::stop() {
    if (manualActive_ && manualClock)
        manualClock->remove(this);
    manualActive_ = false;
    if (qtimer_)
        qtimer_->stop();
}

bool WindowTimer::isActive() const { return manualActive_ || (qtimer_ && qtimer_->isActive()); }

void WindowTimer::fire() {
    if (!onTimer_)
        return;
    try {
        onTimer_();
    } catch (...) {
        reportUncaughtError(std::current_exception());
    }
}

// --- the manual clock ------------------------------------------------------------

ScopedManualWindowClock::ScopedManualWindowClock(ManualTimerService& service)
    : service_(service), timers_(std::make_unique<Registry>()) {
    manualClock = this;
}

ScopedManualWindowClock::~ScopedManualWindowClock() {
    for (WindowTimer* timer : timers_->timers)
        timer->manualActive_ = false;
    if (manualClock == this)
        manualClock = nullptr;
}

void ScopedManualWindowClock::add(WindowTimer* timer) {
    timer->manualActive_ = true;
    timer->manualDue_ = now_ + static_cast<std::uint64_t>(std::max(timer->interval_, 1));
    timer->manualOrder_ = nextOrder_++;
    timers_->timers.push_back(timer);
}

void ScopedManualWindowClock::remove(WindowTimer* timer) {
    auto& timers = timers_->timers;
    timers.erase(std::remove(timers.begin(), timers.end(), timer), timers.end());
    timer->manualActive_ = false;
}

void ScopedManualWindowClock::step() {
    service_.advance(1);
    ++now_;
    if (QCoreApplication::instance())
        QCoreApplication::sendPostedEvents();
    // Handlers may start, stop or destroy timers and may wait themselves, so
    // the due timer is looked up afresh every time.
    for (;;) {
        auto& timers = timers_->timers;
        auto due = timers.end();
        for (auto it = timers.begin(); it != timers.end(); ++it) {
            if ((*it)->manualDue_ > now_)
                continue;
            if (due == timers.end() || (*it)->manualDue_ < (*due)->manualDue_ ||
                ((*it)->manualDue_ == (*due)->manualDue_ &&
                 (*it)->manualOrder_ < (*due)->manualOrder_))
                due = it;
        }
        if (due == timers.end())
            break;
        WindowTimer* timer = *due;
        if (timer->singleShot_) {
            timers.erase(due);
            timer->manualActive_ = false;
        } else {
            timer->manualDue_ = now_ + static_cast<std::uint64_t>(std::max(timer->interval_, 1));
            timer->manualOrder_ = nextOrder_++;
        }
        timer->fire();
    }
}

void ScopedManualWindowClock::advance(std::uint32_t ms) {
    const std::uint64_t target = now_ + ms;
    while (now_ < target)
        step();
}

bool ScopedManualWindowClock::advanceWhile(const std::function<bool()>& busy,
                                           std::uint32_t maxMs) {
    const std::uint64_t limit = now_ + maxMs;
    while (busy()) {
        if (now_ >= limit)
            return false;
        step();
    }
    return true;
}

// --- waiting ---------------------------------------------------------------------

void waitWhile(const std::function<bool()>& busy) {
    if (ScopedManualWindowClock* clock = manualClock) {
        const std::uint64_t start = clock->now_;
        while (busy()) {
            if (clock->now_ - start >= ScopedManualWindowClock::kMaxWaitMs) {
                ++clock->waitsGivenUp_;
                return;
            }
            clock->step();
        }
        return;
    }
    while (busy())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

TimerService& currentTimerService() {
    return manualClock ? static_cast<TimerService&>(manualClock->service()) : systemTimerService();
}

}  // namespace vozaro::platform
