// The microphone heard through the speakers, switched on and off and set
// from the user-interface thread, run on threads of its own.
//
// A MicMonitor keeps one worker thread that opens the path
// (platform/devices/MonitorDevice.h) while monitoring is on, and closes it
// when it goes off or when the monitor is destroyed (at once: nothing else
// is waited for).  A path that cannot open is tried again every retry
// interval, and so is one that was lost (a microphone unplugged, the
// server gone): monitoring stops without a word and comes back by itself
// when the input does.  Only the first try after switching on is told:
// failureToTell() gives its reason once.
//
// The sound itself goes through a MonitorEffect on the path's own thread.
// Nothing here runs on the caller's thread but taking the settings.
#pragma once

#include "audio/MonitorEffect.h"
#include "platform/devices/MonitorDevice.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

namespace vozaro::audio {

class MicMonitor final : private platform::MonitorProcessor {
public:
    static constexpr std::chrono::milliseconds kRetry{500};

    explicit MicMonitor(platform::MonitorOpener opener, std::chrono::milliseconds retry = kRetry);
    // Ends the path and the worker.
    ~MicMonitor();
    MicMonitor(const MicMonitor&) = delete;
    MicMonitor& operator=(const MicMonitor&) = delete;

    // The settings "RetornoMic", "VolumeRetorno" and "EcoRetorno"; volume
    // and echo are heard at the next block.  Never waits for the device.
    void apply(bool on, int volume, int echo);

    // The reason the first try since monitoring was switched on failed,
    // once; waits up to `wait` for that try to end.  nullopt when it opened,
    // is still trying, was told already, or monitoring is off.
    std::optional<std::string> failureToTell(std::chrono::milliseconds wait);

    // A path is open and carrying sound.
    bool running() const noexcept { return running_.load(); }

private:
    void work();
    void prepare(int sampleRate) override;
    void process(const float* in, float* out, int frames) noexcept override;
    void lost() noexcept override;

    platform::MonitorOpener opener_;
    const std::chrono::milliseconds retry_;
    std::atomic<int> volume_{50};
    std::atomic<int> echo_{30};
    std::atomic<bool> running_{false};
    // Made at every open, before the path's thread starts; the path's
    // thread alone uses it afterwards.
    std::unique_ptr<MonitorEffect> effect_;

    std::mutex mutex_;
    std::condition_variable wake_;     // the worker: settings, loss, quitting
    std::condition_variable outcome_;  // failureToTell: the first try ended
    bool wanted_ = false;
    bool quit_ = false;
    bool lostSeen_ = false;
    unsigned session_ = 0;  // counts switchings on
    bool firstDone_ = false;
    bool told_ = false;
    std::string failure_;
    std::thread worker_;
};

}  // namespace vozaro::audio
