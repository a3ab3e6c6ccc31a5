// The output clock learns when frames are rendered from the times an audio
// output asks for them.  Each case plays an output against a known line (the
// moments its buffer is full) and checks how far the clock's line is from
// it, once the clock has had time to settle after the start and after every
// change the case makes.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/devices/OutputClock.h"

using vozaro::platform::OutputClock;

namespace {

constexpr int kRate = 44100;
constexpr double kFrameUs = 1e6 / kRate;
constexpr double kNever = 1e12;  // a step that does not come

struct Request {
    double us;
    std::int64_t frame;
    double lineUs;     // when the frame is rendered with the buffer full
    bool settled;      // the clock is expected to be on the line by now
};

struct Case {
    std::string name;
    std::function<std::vector<Request>()> requests;
    double toleranceUs;
};

// Requests of `frames` frames each, for `seconds`, on a line whose slope is
// rateFactor frame lengths per frame (above 1: the output's clock runs slow)
// and which steps up by stepUs at stepAtUs; each request comes delayUs(i)
// after the line.  A request is settled from settleUs after the start and
// after the step.
std::vector<Request> steady(int frames, double seconds, double rateFactor, double stepAtUs, double stepUs,
                            double settleUs, const std::function<double(int)>& delayUs) {
    std::vector<Request> out;
    const double origin = 1'000'000;
    for (int i = 0;; ++i) {
        const std::int64_t frame = static_cast<std::int64_t>(i) * frames;
        double line = origin + static_cast<double>(frame) * kFrameUs * rateFactor;
        if (line - origin >= seconds * 1e6)
            break;
        const bool stepped = line - origin >= stepAtUs;
        if (stepped)
            line += stepUs;
        const double sinceChange = stepped ? line - origin - stepAtUs - stepUs : line - origin;
        out.push_back({line + delayUs(i), frame, line, sinceChange >= settleUs});
    }
    return out;
}

std::function<double(int)> jitter(double mostUs) {
    auto rng = std::make_shared<std::mt19937>(24);
    return [rng, mostUs](int) { return std::uniform_real_distribution<double>(0, mostUs)(*rng); };
}

}  // namespace

TEST(OutputClock, FollowsTheLineOfAFullBuffer) {

    const std::vector<Case> cases = {
        {"steady 64-frame requests, woken up to 0.3 ms late",
         [] { return steady(64, 3, 1.0, kNever, 0, 10'000, jitter(300)); }, 300},
        {"steady 256-frame requests, woken up to 1 ms late",
         [] { return steady(256, 3, 1.0, kNever, 0, 20'000, jitter(1000)); }, 1000},
        {"the output's clock runs 0.2 % fast", [] { return steady(64, 10, 0.998, kNever, 0, 10'000, jitter(300)); },
         300},
        {"the output's clock runs 0.2 % slow", [] { return steady(64, 10, 1.002, kNever, 0, 10'000, jitter(300)); },
         OutputClock::kTouchUs + 100},
        {"the output fell 5 ms behind and stays there",
         [] { return steady(64, 3, 1.0, 1'500'000, 5'000, 10'000, jitter(300)); }, 300},
        {"256-frame requests fell 30 ms behind",
         [] { return steady(256, 3, 1.0, 1'500'000, 30'000, 25'000, jitter(300)); }, 300},
        {"one request 3 ms late, then the output catches up",
         [] {
             // Request 500 comes 3 ms late; the following ones come
             // back to back until the buffer is full again.
             return steady(64, 3, 1.0, kNever, 0, 10'000, [](int i) {
                 if (i < 500)
                     return 0.0;
                 const double late = 3'000 - (i - 500) * (64 * kFrameUs - 20);
                 return late > 0 ? late : 0.0;
             });
         },
         1},
        {"a server that asks for 16 requests in a burst every 23 ms",
         [] {
             // The burst's last request fills the buffer; the earlier ones
             // come 20 microseconds apart, so they lie above the line.
             return steady(64, 3, 1.0, kNever, 0, 50'000, [](int i) {
                 return (15 - i % 16) * (64 * kFrameUs - 20);
             });
         },
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OutputClock clock(kRate);
        double worst = 0;
        int settled = 0;
        for (const Request& r : c.requests()) {
            clock.noteRequest(r.us, r.frame);
            ASSERT_TRUE(clock.valid());
            if (!r.settled)
                continue;
            ++settled;
            // The first request defines the clock's origin: compare the
            // line relative to it.
            worst = std::max(worst, std::abs(clock.usOfFrame(r.frame) - r.lineUs));
        }
        EXPECT_GT(settled, 100);
        EXPECT_LE(worst, c.toleranceUs);
    }
}

// Where the frames of each request are placed (the line plus the request's
// lateness) against when they are rendered: a steady output renders them
// when it asks, also in the requests right after it fell behind; a bursty
// output renders them on the line.  From 100 ms on, once the clock has seen
// how the output asks.
TEST(OutputClock, TheFramesOfALateRequestArePlacedWhenTheyAreRendered) {
    const struct {
        std::string name;
        std::vector<Request> requests;
        bool renderedWhenAsked;
        double toleranceUs;
    } cases[] = {
        {"steady 256-frame requests fall 30 ms behind", steady(256, 3, 1.0, 1'500'000, 30'000, 0, jitter(300)), true,
         OutputClock::kTouchUs + 1},
        {"steady 64-frame requests fall 5 ms behind", steady(64, 3, 1.0, 1'500'000, 5'000, 0, jitter(300)), true,
         OutputClock::kTouchUs + 1},
        {"a server asking in bursts", steady(64, 3, 1.0, kNever, 0, 0, [](int i) {
             return (15 - i % 16) * (64 * kFrameUs - 20);
         }),
         false, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        OutputClock clock(kRate);
        double worst = 0;
        for (const Request& r : c.requests) {
            clock.noteRequest(r.us, r.frame);
            if (r.us < c.requests.front().us + 100'000)
                continue;
            const double rendered = c.renderedWhenAsked ? r.us : r.lineUs;
            worst = std::max(worst, std::abs(clock.usOfFrame(r.frame) + clock.latenessUs() - rendered));
        }
        EXPECT_LE(worst, c.toleranceUs);
    }
}

// After a restart the next request starts the line afresh, wherever the
// output now is.
TEST(OutputClock, ARestartForgetsTheOldLine) {
    OutputClock clock(kRate);
    EXPECT_FALSE(clock.valid());
    for (int i = 0; i < 100; ++i)
        clock.noteRequest(1000.0 + i * 64 * kFrameUs, i * 64);
    clock.restart();
    EXPECT_FALSE(clock.valid());
    clock.noteRequest(9'000'000, 6400);
    EXPECT_NEAR(clock.usOfFrame(6400), 9'000'000, 1e-6);
    EXPECT_NEAR(clock.usOfFrame(6400 + kRate), 10'000'000, 1e-3);
}
