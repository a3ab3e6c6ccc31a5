// The system's capture device when its recording stream is lost (the sound
// server went away): it is opened again every kCaptureReconnectMs on the
// windows' clock, and the wave input's buffers fill again.
#include "audio/AudioIO.h"
#include "platform/devices/CaptureStream.h"
#include "support/ManualTimerService.h"
#include "support/ScopedManualWindowClock.h"
#include "platform/WindowTimer.h"

#include "audio/EventLoop.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

using namespace vozaro::platform;

namespace {

// Streams the test feeds and loses by hand; opens fail while `refusals` > 0.
struct ScriptedCapture {
    struct Stream final : CaptureStream {
        Stream(ScriptedCapture& owner, CaptureSink& sink) : owner(owner), sink(sink) { owner.current = this; }
        ~Stream() override { owner.current = nullptr; }
        int start(std::string&) override {
            running = true;
            return kCaptureOk;
        }
        void stop() noexcept override { running = false; }
        ScriptedCapture& owner;
        CaptureSink& sink;
        bool running = false;
    };

    std::unique_ptr<CaptureStream> open(CaptureSink& sink, int& code, std::string& text) {
        tries.push_back(clock.elapsed());
        if (refusals > 0) {
            --refusals;
            code = kCaptureError;
            text = "Connection refused";
            return nullptr;
        }
        return std::make_unique<Stream>(*this, sink);
    }
    // One 1024-byte buffer's worth, delivered on this thread.
    void feed() {
        const std::vector<std::int16_t> samples(512, 1000);
        current->sink.captured(samples.data(), 1024);
        vozaro::test::drainEvents();
    }

    ScopedManualWindowClock& clock;
    Stream* current = nullptr;
    int refusals = 0;
    std::vector<std::uint64_t> tries;  // the windows' clock at each open
};

}  // namespace

TEST(CaptureReconnect, ALostStreamIsOpenedAgainEveryHalfSecondAndTheBuffersFillAgain) {
    vozaro::test::ensureApplication();
    ManualTimerService timers;
    ScopedManualWindowClock clock{timers};
    ScriptedCapture capture{clock};
    const CaptureDeviceFactory previous = setCaptureDeviceFactory([&capture] {
        return createStreamCaptureDevice([&capture](int, const WaveFormat&, CaptureSink& sink, int& code,
                                                    std::string& text) { return capture.open(sink, code, text); });
    });
    vozaro::audio::TAudioIn input;
    input.setBufferSize(1024);
    int buffers = 0;
    input.OnBufferFilled = [&](void*, std::int32_t&) { return ++buffers, true; };
    input.StartCapture();
    ASSERT_TRUE(input.IsOpen()) << input.LastError();
    ASSERT_TRUE(capture.current && capture.current->running);
    capture.feed();
    EXPECT_EQ(buffers, 1);

    capture.refusals = 2;
    capture.current->sink.lost();
    vozaro::test::drainEvents();
    EXPECT_EQ(capture.current, nullptr);  // dropped at once
    const std::uint64_t lostAt = clock.elapsed();
    clock.advance(1700);
    ASSERT_TRUE(capture.current);
    EXPECT_TRUE(capture.current->running);
    EXPECT_EQ(capture.tries, (std::vector<std::uint64_t>{0, lostAt + 500, lostAt + 1000, lostAt + 1500}));
    capture.feed();
    EXPECT_EQ(buffers, 2);
    EXPECT_TRUE(input.IsOpen());

    input.StopNow();
    EXPECT_EQ(capture.current, nullptr);
    setCaptureDeviceFactory(previous);
}
