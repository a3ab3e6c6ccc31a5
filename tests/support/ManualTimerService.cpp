#include "support/ManualTimerService.h"

#include <thread>

namespace vozaro::platform {

struct ManualTimerService::Entry {
    TimerCallback callback = nullptr;
    void* context = nullptr;
    std::uint32_t interval = 1;
    std::uint32_t sinceLast = 0;        // advancing thread only
    std::atomic<bool> alive{true};
    std::mutex calling;                 // held while the callback runs
    std::atomic<std::thread::id> caller{};
};

namespace {

class ManualTimer final : public PeriodicTimer {
public:
    explicit ManualTimer(std::shared_ptr<ManualTimerService::Entry> entry)
        : entry_(std::move(entry)) {}
    ~ManualTimer() override { kill(); }

    void kill() override {
        entry_->alive.store(false);
        // Like the system timer: from another thread wait for a call in
        // progress, from inside the callback return at once.
        if (entry_->caller.load() != std::this_thread::get_id()) {
            std::lock_guard wait(entry_->calling);
        }
    }

private:
    std::shared_ptr<ManualTimerService::Entry> entry_;
};

}  // namespace

ManualTimerService::~ManualTimerService() = default;

bool ManualTimerService::beginPeriod(int periodMs) {
    lastPeriod_.store(periodMs);
    if (refusePeriod_.load())
        return false;
    ++periodsHeld_;
    return true;
}

void ManualTimerService::endPeriod(int) { --periodsHeld_; }

std::unique_ptr<PeriodicTimer> ManualTimerService::startPeriodic(int intervalMs,
                                                                 TimerCallback callback,
                                                                 void* context) {
    if (refuseTimers_.load() || intervalMs < 1 || callback == nullptr)
        return nullptr;
    auto entry = std::make_shared<Entry>();
    entry->callback = callback;
    entry->context = context;
    entry->interval = static_cast<std::uint32_t>(intervalMs);
    lastInterval_.store(intervalMs);
    lastPriority_.store(priority_.load());
    std::lock_guard lock(mutex_);
    std::erase_if(entries_, [](const auto& e) { return !e->alive.load(); });
    entries_.push_back(entry);
    return std::make_unique<ManualTimer>(std::move(entry));
}

int ManualTimerService::runningTimers() const {
    std::lock_guard lock(mutex_);
    int count = 0;
    for (const auto& entry : entries_)
        count += entry->alive.load() ? 1 : 0;
    return count;
}

void ManualTimerService::advance(std::uint32_t ms) {
    for (std::uint32_t i = 0; i < ms; ++i) {
        now_.fetch_add(1);
        advancedUs_.fetch_add(1000);
        due_.clear();
        {
            std::lock_guard lock(mutex_);
            for (const auto& entry : entries_) {
                if (entry->alive.load() && ++entry->sinceLast >= entry->interval) {
                    entry->sinceLast = 0;
                    due_.push_back(entry);
                }
            }
        }
        for (const auto& entry : due_) {
            std::lock_guard calling(entry->calling);
            if (!entry->alive.load())
                continue;
            entry->caller.store(std::this_thread::get_id());
            entry->callback(entry->context);
            entry->caller.store(std::thread::id{});
        }
    }
}

}  // namespace vozaro::platform
