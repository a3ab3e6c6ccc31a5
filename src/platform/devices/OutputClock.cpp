#include "platform/devices/OutputClock.h"

#include <algorithm>

namespace vozaro::platform {

void OutputClock::noteRequest(double nowUs, std::int64_t frame) noexcept {
    if (!valid_) {
        valid_ = true;
        originFrame_ = frame;
        originUs_ = nowUs;
        offsetUs_ = 0;
        run_ = 0;
        backToBack_ = 1;
    } else if (frame > lastFrame_) {
        const bool backToBack = nowUs - lastUs_ < static_cast<double>(frame - lastFrame_) * usPerFrame_ / 4;
        backToBack_ += ((backToBack ? 1.0 : 0.0) - backToBack_) / 16;
    }
    lastUs_ = nowUs;
    lastFrame_ = frame;
    const double offset = nowUs - originUs_ - static_cast<double>(frame - originFrame_) * usPerFrame_;
    follow(nowUs, offset);
    latenessUs_ = backToBack_ < 0.5 ? std::max(0.0, offset - offsetUs_ - kTouchUs) : 0.0;
}

void OutputClock::follow(double nowUs, double offset) noexcept {
    if (offset <= offsetUs_ + kTouchUs) {
        offsetUs_ = std::min(offsetUs_, offset);
        run_ = 0;
        return;
    }
    if (run_ == 0) {
        runStartUs_ = nowUs;
        runEarliest_ = offset;
    }
    ++run_;
    runEarliest_ = std::min(runEarliest_, offset);
    if (run_ >= 2 && nowUs - runStartUs_ >= kShortestRunUs) {
        offsetUs_ = runEarliest_;
        run_ = 0;
    }
}

}  // namespace vozaro::platform
