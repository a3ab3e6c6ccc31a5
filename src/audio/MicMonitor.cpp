#include "audio/MicMonitor.h"

#include <utility>

namespace vozaro::audio {

MicMonitor::MicMonitor(platform::MonitorOpener opener, std::chrono::milliseconds retry)
    : opener_(std::move(opener)), retry_(retry), worker_([this] { work(); }) {}

MicMonitor::~MicMonitor() {
    {
        const std::lock_guard lock(mutex_);
        quit_ = true;
    }
    wake_.notify_all();
    worker_.join();
}

void MicMonitor::apply(bool on, int volume, int echo) {
    volume_.store(volume);
    echo_.store(echo);
    {
        const std::lock_guard lock(mutex_);
        if (on == wanted_)
            return;
        wanted_ = on;
        if (on) {
            ++session_;
            firstDone_ = false;
            told_ = false;
            failure_.clear();
        }
    }
    wake_.notify_all();
}

std::optional<std::string> MicMonitor::failureToTell(std::chrono::milliseconds wait) {
    std::unique_lock lock(mutex_);
    outcome_.wait_for(lock, wait, [this] { return !wanted_ || firstDone_; });
    if (!wanted_ || !firstDone_ || told_ || failure_.empty())
        return std::nullopt;
    told_ = true;
    return failure_;
}

void MicMonitor::work() {
    std::unique_ptr<platform::MonitorPath> path;
    unsigned pathSession = 0;  // the switching on the open path belongs to
    std::unique_lock lock(mutex_);
    auto closePath = [&] {
        running_.store(false);
        auto closing = std::move(path);
        lock.unlock();
        closing.reset();
        lock.lock();
    };
    while (!quit_) {
        if (!wanted_) {
            if (path)
                closePath();
            wake_.wait(lock, [this] { return quit_ || wanted_; });
            continue;
        }
        if (path && !path->lost() && !lostSeen_) {
            // Switched off and on again before the worker saw it: the path
            // that runs is the new session's first outcome.
            if (pathSession != session_) {
                pathSession = session_;
                firstDone_ = true;
                failure_.clear();
                outcome_.notify_all();
            }
            wake_.wait(lock, [this, pathSession] {
                return quit_ || !wanted_ || lostSeen_ || pathSession != session_;
            });
            continue;
        }
        if (path)
            closePath();
        lostSeen_ = false;
        const unsigned session = session_;
        lock.unlock();
        std::string why;
        auto opened = opener_(*this, why);
        lock.lock();
        path = std::move(opened);
        pathSession = session;
        running_.store(path != nullptr);
        if (session == session_ && !firstDone_) {
            firstDone_ = true;
            failure_ = path ? std::string() : (why.empty() ? std::string("unknown failure") : why);
            outcome_.notify_all();
        }
        if (!path)
            wake_.wait_for(lock, retry_, [this, session] { return quit_ || !wanted_ || session != session_; });
    }
    if (path)
        closePath();
}

void MicMonitor::prepare(int sampleRate) { effect_ = std::make_unique<MonitorEffect>(sampleRate); }

void MicMonitor::process(const float* in, float* out, int frames) noexcept {
    effect_->setVolume(volume_.load());
    effect_->setEcho(echo_.load());
    effect_->process(in, out, frames);
}

void MicMonitor::lost() noexcept {
    running_.store(false);
    {
        const std::lock_guard lock(mutex_);
        lostSeen_ = true;
    }
    wake_.notify_all();
}

}  // namespace vozaro::audio
