// The microphone's way to the speakers switched on and off, losing its
// input and finding it again, on the scripted sound server.
#include <gtest/gtest.h>

#include "audio/MicMonitor.h"
#include "support/FakeMonitorDevice.h"

#include <chrono>
#include <functional>
#include <thread>

using vozaro::audio::MicMonitor;
using vozaro::platform::FakeMonitorSystem;
using namespace std::chrono_literals;

namespace {

// The worker runs on its own: waits, without timing it, until `done`.
bool eventually(const std::function<bool()>& done) {
    for (int i = 0; i < 1000 && !done(); ++i)
        std::this_thread::sleep_for(5ms);
    return done();
}

// A path carries the voice: a click goes through at the volume's gain.
bool carries(FakeMonitorSystem& system) {
    std::vector<float> in(64, 0.0f), out;
    in[0] = 0.25f;
    return system.feed(in, out) && out[0] == 0.25f;
}

TEST(MicMonitor, SwitchedOnItCarriesTheVoiceAndSwitchedOffItEnds) {
    auto system = std::make_shared<FakeMonitorSystem>();
    auto monitor = std::make_unique<MicMonitor>(system->opener(), 5ms);
    EXPECT_FALSE(system->open());
    monitor->apply(true, 50, 0);
    EXPECT_EQ(monitor->failureToTell(5s), std::nullopt);
    ASSERT_TRUE(eventually([&] { return monitor->running(); }));
    EXPECT_TRUE(carries(*system));
    monitor->apply(false, 50, 0);
    EXPECT_TRUE(eventually([&] { return !system->open(); }));
    monitor->apply(true, 50, 0);
    EXPECT_TRUE(eventually([&] { return system->open(); }));
    EXPECT_EQ(system->opens(), 2);
    monitor.reset();  // the program closing
    EXPECT_FALSE(system->open());
}

TEST(MicMonitor, WithoutAnInputTheFirstFailureIsToldOnceAndTheInputIsWaitedFor) {
    auto system = std::make_shared<FakeMonitorSystem>();
    system->setInput(false, "no sound server");
    MicMonitor monitor(system->opener(), 5ms);
    EXPECT_EQ(monitor.failureToTell(0ms), std::nullopt);  // off: nothing to tell
    monitor.apply(true, 50, 30);
    EXPECT_EQ(monitor.failureToTell(5s), std::optional<std::string>("no sound server"));
    EXPECT_EQ(monitor.failureToTell(0ms), std::nullopt);
    EXPECT_TRUE(eventually([&] { return system->tries() >= 3; }));
    system->setInput(true);
    EXPECT_TRUE(eventually([&] { return monitor.running(); }));
    EXPECT_EQ(monitor.failureToTell(0ms), std::nullopt);
    // Switched off and on again, a new failure is told again.
    monitor.apply(false, 50, 30);
    EXPECT_TRUE(eventually([&] { return !system->open(); }));
    system->setInput(false, "no microphone");
    monitor.apply(true, 50, 30);
    EXPECT_EQ(monitor.failureToTell(5s), std::optional<std::string>("no microphone"));
}

TEST(MicMonitor, AnUnpluggedMicrophoneStopsQuietlyAndComesBackByItself) {
    auto system = std::make_shared<FakeMonitorSystem>();
    MicMonitor monitor(system->opener(), 5ms);
    monitor.apply(true, 50, 0);
    ASSERT_TRUE(eventually([&] { return monitor.running(); }));
    system->unplug();
    EXPECT_TRUE(eventually([&] { return !system->open(); }));
    EXPECT_FALSE(monitor.running());
    const int tries = system->tries();
    EXPECT_TRUE(eventually([&] { return system->tries() > tries + 2; }));
    EXPECT_EQ(monitor.failureToTell(0ms), std::nullopt);
    system->setInput(true);
    EXPECT_TRUE(eventually([&] { return monitor.running() && carries(*system); }));
    EXPECT_EQ(system->opens(), 2);
}

}  // namespace
