#include "support/FakeMonitorDevice.h"

#include <atomic>

namespace vozaro::platform {

class FakeMonitorSystem::Path final : public MonitorPath {
public:
    Path(std::shared_ptr<FakeMonitorSystem> system, MonitorProcessor& processor)
        : system_(std::move(system)), processor_(processor) {}
    ~Path() override {
        const std::lock_guard lock(system_->mutex_);
        if (system_->path_ == this)
            system_->path_ = nullptr;
    }
    int sampleRate() const noexcept override { return 48000; }
    bool lost() const noexcept override { return lost_.load(); }

    std::shared_ptr<FakeMonitorSystem> system_;
    MonitorProcessor& processor_;
    std::atomic<bool> lost_{false};
};

MonitorOpener FakeMonitorSystem::opener() {
    return [self = shared_from_this()](MonitorProcessor& processor, std::string& why) -> std::unique_ptr<MonitorPath> {
        const std::lock_guard lock(self->mutex_);
        ++self->tries_;
        if (!self->present_) {
            why = self->reason_;
            return nullptr;
        }
        processor.prepare(48000);
        auto path = std::make_unique<Path>(self, processor);
        self->path_ = path.get();
        ++self->opens_;
        return path;
    };
}

void FakeMonitorSystem::setInput(bool present, std::string reason) {
    const std::lock_guard lock(mutex_);
    present_ = present;
    reason_ = std::move(reason);
}

void FakeMonitorSystem::unplug() {
    const std::lock_guard lock(mutex_);
    present_ = false;
    reason_ = "no microphone";
    if (path_ && !path_->lost_.exchange(true))
        path_->processor_.lost();
}

bool FakeMonitorSystem::feed(const std::vector<float>& in, std::vector<float>& out) {
    const std::lock_guard lock(mutex_);
    if (!path_ || path_->lost_.load())
        return false;
    out.assign(in.size(), 0.0f);
    path_->processor_.process(in.data(), out.data(), static_cast<int>(in.size()));
    return true;
}

int FakeMonitorSystem::opens() const {
    const std::lock_guard lock(mutex_);
    return opens_;
}

int FakeMonitorSystem::tries() const {
    const std::lock_guard lock(mutex_);
    return tries_;
}

bool FakeMonitorSystem::open() const {
    const std::lock_guard lock(mutex_);
    return path_ != nullptr;
}

}  // namespace vozaro::platform
