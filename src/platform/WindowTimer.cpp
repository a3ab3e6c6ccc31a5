#include "platform/WindowTimer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <utility>

#include "platform/PeriodicTimer.h"
#include "platform/MessageBox.h"

namespace vozaro::platform {

namespace {
WindowClock* installedClock = nullptr;
}

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
    if (WindowClock* clock = installedClock) {
        clock_ = clock;
        clock->add(*this);
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
    if (WindowClock* clock = std::exchange(clock_, nullptr))
        clock->remove(*this);
    if (qtimer_)
        qtimer_->stop();
}

bool WindowTimer::isActive() const { return clock_ || (qtimer_ && qtimer_->isActive()); }

void WindowTimer::fire() {
    if (!onTimer_)
        return;
    try {
        onTimer_();
    } catch (...) {
        reportUncaughtError(std::current_exception());
    }
}

// --- other clocks ----------------------------------------------------------------

WindowClock::~WindowClock() {
    if (installedClock == this)
        installedClock = nullptr;
}

void WindowClock::install(WindowClock* clock) { installedClock = clock; }

// --- waiting ---------------------------------------------------------------------

void waitWhile(const std::function<bool()>& busy) {
    if (WindowClock* clock = installedClock) {
        clock->waitWhile(busy);
        return;
    }
    while (busy())
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
}

TimerService& currentTimerService() {
    return installedClock ? installedClock->timerService() : systemTimerService();
}

}  // namespace vozaro::platform
