// Monitor paths for tests: a scripted sound server on which the
// microphone's way to the speakers opens while an input is there, without
// any sound hardware.  The test runs blocks through the open path itself
// (feed) and unplugs the input; opening happens on the caller's thread
// (the monitor's worker), so every member is safe to use from any thread.
#pragma once

#include "platform/devices/MonitorDevice.h"

#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vozaro::platform {

class FakeMonitorSystem : public std::enable_shared_from_this<FakeMonitorSystem> {
public:
    // An opener on this system (which it keeps alive).
    MonitorOpener opener();

    // While false, opening fails with `reason`.
    void setInput(bool present, std::string reason = "no microphone");
    // The input goes: the open path is lost, and opening fails until
    // setInput(true).
    void unplug();

    // Runs one block through the open path; false when none is open (or it
    // is lost).
    bool feed(const std::vector<float>& in, std::vector<float>& out);

    int opens() const;     // successful opens so far
    int tries() const;     // opens tried
    bool open() const;     // a path exists (lost or not)

private:
    class Path;
    friend class Path;

    mutable std::mutex mutex_;
    bool present_ = true;
    std::string reason_;
    int opens_ = 0;
    int tries_ = 0;
    Path* path_ = nullptr;
};

}  // namespace vozaro::platform
