// A sound player for tests: remembers every path it was asked to play, and
// the stops.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/devices/SoundPlayer.h"

namespace vozaro::platform {

class RecordingSoundPlayer final : public SoundPlayer {
public:
    void play(const std::string& path) override {
        std::lock_guard lock(mutex_);
        played_.push_back(path);
    }
    void stop() override {
        std::lock_guard lock(mutex_);
        ++stops_;
    }
    std::vector<std::string> played() const {
        std::lock_guard lock(mutex_);
        return played_;
    }
    int stops() const {
        std::lock_guard lock(mutex_);
        return stops_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<std::string> played_;
    int stops_ = 0;
};

}  // namespace vozaro::platform
