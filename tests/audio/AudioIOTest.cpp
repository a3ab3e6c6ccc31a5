#include "audio/AudioIO.h"
#include "support/FakeCaptureDevice.h"

#include "audio/EventLoop.h"

#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

using vozaro::audio::bufferPeak;
using vozaro::audio::TAudioIn;
using vozaro::platform::FakeCaptureControl;
using vozaro::platform::ScopedFakeCapture;
using vozaro::test::drainEvents;
using vozaro::test::runUntil;

namespace {

// A ramp 0, 1, 2, ... so that every sample tells where in the signal it is.
std::vector<std::int16_t> ramp(std::size_t count) {
    std::vector<std::int16_t> samples(count);
    for (std::size_t i = 0; i < count; ++i) samples[i] = static_cast<std::int16_t>(i % 30000);
    return samples;
}

class AudioInTest : public ::testing::Test {
protected:
    void SetUp() override {
        vozaro::test::ensureApplication();
        fake().autoFill = false;
        fake().setSamples(ramp(200000));
        input.setBufferSize(1024);
        input.setFrameRate(22050);
        input.OnStart = [this](QObject* sender) {
            EXPECT_EQ(sender, &input);
            ++starts;
        };
        input.OnStop = [this](QObject*) { ++stops; };
    }
    void TearDown() override { input.StopNow(); }

    FakeCaptureControl& fake() { return capture.control(); }

    // Records the first sample of every delivered buffer; `answer` decides.
    void recordBuffers(std::function<bool(int call)> answer = {}) {
        input.OnBufferFilled = [this, answer](void* data, std::int32_t& size) {
            EXPECT_EQ(size, input.BufferSize());
            std::int16_t first;
            std::memcpy(&first, data, sizeof first);
            firsts.push_back(first);
            return answer ? answer(static_cast<int>(firsts.size())) : true;
        };
    }

    ScopedFakeCapture capture;
    TAudioIn input;
    int starts = 0;
    int stops = 0;
    std::vector<int> firsts;
};

TEST(AudioIOFormat, DefaultsAndRounding) {
    vozaro::test::ensureApplication();
    TAudioIn input;
    EXPECT_EQ(input.BufferSize(), 8192);
    EXPECT_EQ(input.NumBuffers(), 4);
    EXPECT_EQ(input.FrameRate(), 22050);
    EXPECT_FALSE(input.Stereo());
    EXPECT_EQ(input.Quantization(), 16);
    EXPECT_EQ(input.WaveDevice(), -1);
    EXPECT_EQ(input.WaveFormat().formatTag, 1);
    EXPECT_EQ(input.WaveFormat().blockAlign, 2);
    EXPECT_EQ(input.WaveFormat().avgBytesPerSec, 44100u);
    EXPECT_TRUE(input.LastError().empty());
    EXPECT_FALSE(input.IsOpen());

    input.setBufferSize(100);
    EXPECT_EQ(input.BufferSize(), 512);
    EXPECT_EQ(input.RequestedBufferSize(), 512);

    input.setStereo(true);
    EXPECT_TRUE(input.Stereo());
    input.setBufferSize(1023);
    EXPECT_EQ(input.WaveFormat().blockAlign, 4);
    EXPECT_EQ(input.BufferSize(), 1020);
    EXPECT_EQ(input.WaveFormat().avgBytesPerSec, 88200u);
    input.setStereo(false);
    EXPECT_EQ(input.BufferSize(), 1022);  // rounded again from the size asked for
    input.setQuantization(8);
    EXPECT_EQ(input.BufferSize(), 1023);
    input.setFrameRate(11025);
    EXPECT_EQ(input.WaveFormat().avgBytesPerSec, 11025u);

    input.setNumBuffers(1);
    EXPECT_EQ(input.NumBuffers(), 2);
    input.setNumBuffers(9);
    EXPECT_EQ(input.NumBuffers(), 4);
    input.setQuantization(12);
    EXPECT_EQ(input.Quantization(), 16);
    input.setQuantization(4);
    EXPECT_EQ(input.Quantization(), 8);
}

TEST(AudioIOFormat, BufferPeakTakesTheLargerMagnitude) {
    const std::int16_t quiet[] = {0, 0, 0};
    const std::int16_t positive[] = {-100, 2000, 1999};
    const std::int16_t negative[] = {5, -32768, 32767};
    const std::int16_t tie[] = {-300, 300};
    EXPECT_EQ(bufferPeak(quiet, 3), 0);
    EXPECT_EQ(bufferPeak(positive, 3), 2000);
    EXPECT_EQ(bufferPeak(negative, 3), 32768);
    EXPECT_EQ(bufferPeak(tie, 2), 300);
    EXPECT_EQ(bufferPeak(quiet, 0), 0);
}

TEST_F(AudioInTest, DeliversTheSignalInOrderThroughTheRing) {
    recordBuffers();
    input.StartCapture();
    ASSERT_TRUE(input.IsOpen()) << input.LastError();
    EXPECT_TRUE(input.Running());
    EXPECT_TRUE(input.Accepting());
    EXPECT_EQ(input.QueuedCount(), 4);
    EXPECT_EQ(fake().queued(), 4u);
    EXPECT_EQ(fake().lastDevice, -1);
    EXPECT_EQ(fake().lastFormat.samplesPerSec, 22050u);
    EXPECT_EQ(fake().lastFormat.blockAlign, 2);
    EXPECT_EQ(fake().lastFormat.bitsPerSample, 16);

    drainEvents();
    EXPECT_EQ(starts, 1);
    for (int round = 0; round < 5; ++round) {
        fake().fill(4);
        drainEvents();
    }
    ASSERT_EQ(firsts.size(), 20u);
    for (std::size_t i = 0; i < firsts.size(); ++i) EXPECT_EQ(firsts[i], static_cast<int>(i * 512));
    EXPECT_EQ(input.ReturnedCount(), 20);
    EXPECT_EQ(input.AcceptedCount(), 20);
    EXPECT_EQ(input.QueuedCount(), 4);
    EXPECT_EQ(fake().queued(), 4u);

    input.StopNow();
    EXPECT_FALSE(input.IsOpen());
    EXPECT_FALSE(input.Running());
    EXPECT_FALSE(input.Accepting());
    drainEvents();
    EXPECT_EQ(stops, 1);
    EXPECT_EQ(firsts.size(), 20u);  // buffers returned by the stop are not delivered
    EXPECT_EQ(fake().closes, 1);
    EXPECT_TRUE(input.LastError().empty());
}

TEST_F(AudioInTest, WithoutAHandlerEveryBufferIsAcceptedAndCaptureRunsOn) {
    fake().autoFill = true;
    input.StartCapture();
    ASSERT_TRUE(input.IsOpen()) << input.LastError();
    ASSERT_TRUE(runUntil([&] { return input.ReturnedCount() >= 100; }));
    EXPECT_TRUE(input.IsOpen());
    EXPECT_EQ(input.AcceptedCount(), input.ReturnedCount());
    EXPECT_EQ(input.QueuedCount(), 4);
}

TEST_F(AudioInTest, DecliningFromSomeBufferOnClosesAfterTheQueuedOnesCameBack) {
    // From the third buffer on the handler says no: it is still called for the
    // four buffers that are queued at that moment, then the device closes.
    recordBuffers([](int call) { return call < 3; });
    fake().autoFill = true;
    input.StartCapture();
    ASSERT_TRUE(runUntil([&] { return stops == 1; }));
    EXPECT_EQ(firsts.size(), 2u + 4u);
    EXPECT_FALSE(input.IsOpen());
    EXPECT_FALSE(input.Accepting());
    EXPECT_EQ(input.QueuedCount(), 0);
    EXPECT_EQ(input.ReturnedCount(), 6);
    EXPECT_EQ(input.AcceptedCount(), 2);
    EXPECT_EQ(fake().closes, 1);
    drainEvents();
    EXPECT_EQ(firsts.size(), 6u);
}

TEST_F(AudioInTest, DecliningOnceShrinksTheRingAndKeepsTheDataFresh) {
    recordBuffers([](int call) { return call != 2; });
    input.StartCapture();
    for (int round = 0; round < 4; ++round) {
        fake().fill(4);
        drainEvents();
    }
    EXPECT_TRUE(input.IsOpen());
    EXPECT_EQ(input.QueuedCount(), 3);
    EXPECT_EQ(fake().queued(), 3u);
    // 4 + 3 + 3 + 3 buffers came back; each delivered buffer holds the samples
    // recorded into it, one buffer after the other.
    ASSERT_EQ(firsts.size(), 13u);
    for (std::size_t i = 0; i < firsts.size(); ++i) EXPECT_EQ(firsts[i], static_cast<int>(i * 512));
    EXPECT_EQ(input.AcceptedCount(), 12);
}

TEST_F(AudioInTest, SecondStartWhileOpenLeavesTheCaptureAlone) {
    recordBuffers();
    input.StartCapture();
    ASSERT_TRUE(input.IsOpen());
    fake().fill(2);
    drainEvents();
    input.StartCapture(&input);
    EXPECT_EQ(input.LastError(), "Wave Input device is already open");
    EXPECT_TRUE(input.IsOpen());
    EXPECT_EQ(fake().opens, 1);
    EXPECT_EQ(input.QueuedCount(), 4);
    EXPECT_EQ(input.ReturnedCount(), 2);
    fake().fill(4);
    drainEvents();
    EXPECT_EQ(firsts.size(), 6u);
}

TEST_F(AudioInTest, StopNowOnAClosedInputDoesNothing) {
    input.StopNow();
    drainEvents();
    EXPECT_FALSE(input.IsOpen());
    EXPECT_EQ(stops, 0);
    EXPECT_EQ(fake().resets, 0);
    EXPECT_TRUE(input.LastError().empty());
}

TEST_F(AudioInTest, BuffersOfAClosedDeviceNeverActOnTheNextOne) {
    recordBuffers();
    input.StartCapture();
    input.StopNow();  // the four queued buffers come back as pending events
    input.StartCapture();
    ASSERT_TRUE(input.IsOpen());
    drainEvents();
    EXPECT_TRUE(firsts.empty());
    EXPECT_EQ(input.ReturnedCount(), 0);
    EXPECT_EQ(input.QueuedCount(), 4);
    EXPECT_EQ(fake().queued(), 4u);
    EXPECT_EQ(starts, 2);
    EXPECT_EQ(stops, 1);
    fake().fill(1);
    drainEvents();
    EXPECT_EQ(input.ReturnedCount(), 1);
}

TEST_F(AudioInTest, StopWhenDrainedDeliversNothingMoreAndClosesOnTheLastBuffer) {
    recordBuffers();
    input.StartCapture();
    fake().fill(1);
    drainEvents();
    input.StopWhenDrained();
    EXPECT_TRUE(input.IsOpen());
    fake().fill(3);
    drainEvents();
    EXPECT_TRUE(input.IsOpen());
    EXPECT_EQ(input.QueuedCount(), 1);
    fake().fill(1);
    drainEvents();
    EXPECT_FALSE(input.IsOpen());
    EXPECT_EQ(firsts.size(), 1u);
    EXPECT_EQ(stops, 1);
}

TEST_F(AudioInTest, OpenFailureKeepsTheDeviceTextAndAllowsAnotherTry) {
    fake().openResult = vozaro::platform::kCaptureBadDeviceId;
    input.setWaveDevice(3);
    input.StartCapture();
    EXPECT_FALSE(input.IsOpen());
    EXPECT_EQ(input.LastError(), "The specified capture device does not exist.");
    drainEvents();
    EXPECT_EQ(starts, 0);

    fake().openResult = vozaro::platform::kCaptureOk;
    input.StartCapture();
    EXPECT_TRUE(input.IsOpen());
    EXPECT_EQ(fake().lastDevice, 3);
}

TEST_F(AudioInTest, StartFailureClosesWithItsText) {
    fake().startResult = vozaro::platform::kCaptureNoDriver;
    input.StartCapture();
    EXPECT_FALSE(input.IsOpen());
    EXPECT_EQ(input.LastError(),
              "Error starting wave record: No sound capture driver is available.");
    EXPECT_EQ(fake().closes, 1);
}

TEST_F(AudioInTest, PrepareFailureClosesWithItsText) {
    fake().prepareResult = vozaro::platform::kCaptureNoMemory;
    input.StartCapture();
    EXPECT_FALSE(input.IsOpen());
    EXPECT_EQ(input.LastError(), "Not enough memory for the capture device.");
    EXPECT_EQ(fake().closes, 1);
}

TEST_F(AudioInTest, FailedRequeueDrainsAndCloses) {
    // Four buffers queue at the start, the fifth add (the first re-queue)
    // fails: the remaining three come back undelivered and the device closes.
    recordBuffers();
    fake().addResult = vozaro::platform::kCaptureInvalidParam;
    fake().addFailsAfter = 4;
    input.StartCapture();
    ASSERT_TRUE(input.IsOpen());
    fake().fill(4);
    drainEvents();
    EXPECT_EQ(firsts.size(), 1u);
    EXPECT_FALSE(input.IsOpen());
    EXPECT_EQ(input.LastError(), "An invalid parameter was passed to the capture device.");
    EXPECT_EQ(stops, 1);
}

TEST_F(AudioInTest, StereoAndEightBitBuffersAreWholeFramesOfTheSignal) {
    input.setStereo(true);
    input.setQuantization(8);
    input.setBufferSize(1001);  // block alignment 2 -> 1000 bytes, 500 frames
    fake().setSamples({0x1234, -0x2000, 0x7F00});
    std::vector<unsigned char> bytes;
    input.OnBufferFilled = [&](void* data, std::int32_t& size) {
        bytes.assign(static_cast<unsigned char*>(data), static_cast<unsigned char*>(data) + size);
        return true;
    };
    input.StartCapture();
    fake().fill(1);
    drainEvents();
    ASSERT_EQ(bytes.size(), 1000u);
    const unsigned char expected[] = {0x92, 0x92, 0x60, 0x60, 0xFF, 0xFF, 0x80, 0x80};
    EXPECT_TRUE(std::equal(std::begin(expected), std::end(expected), bytes.begin()));
}

TEST_F(AudioInTest, FormatChangesWaitForTheDeviceToClose) {
    input.StartCapture();
    ASSERT_TRUE(input.IsOpen());
    input.setBufferSize(4096);
    input.setNumBuffers(2);
    input.setStereo(true);
    EXPECT_EQ(input.BufferSize(), 1024);
    EXPECT_EQ(input.NumBuffers(), 4);
    EXPECT_FALSE(input.Stereo());
    input.StopNow();
    input.setBufferSize(4096);
    EXPECT_EQ(input.BufferSize(), 4096);
}

TEST_F(AudioInTest, DestroyingARunningInputClosesTheDevice) {
    {
        TAudioIn other;
        other.StartCapture();
        ASSERT_TRUE(other.IsOpen());
    }
    EXPECT_FALSE(fake().isOpen());
    drainEvents();
}

}  // namespace
