// The wave input on the system's capture device (RtAudio), recording the
// virtual sound server's microphone while a known tone is played into it.
#include "audio/AudioIO.h"

#include "audio/EventLoop.h"
#include "sound/SoundServer.h"

#include <QProcess>

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <numbers>

using vozaro::audio::bufferPeak;
using vozaro::audio::TAudioIn;
using vozaro::test::runUntil;

namespace {

QByteArray sineBytes(double hertz, int amplitude, int rate, double seconds) {
    const int count = static_cast<int>(seconds * rate);
    QByteArray bytes(count * 2, Qt::Uninitialized);
    for (int i = 0; i < count; ++i) {
        const auto value = static_cast<std::int16_t>(
            std::lround(amplitude * std::sin(2 * std::numbers::pi * hertz * i / rate)));
        bytes[2 * i] = static_cast<char>(value & 0xFF);
        bytes[2 * i + 1] = static_cast<char>((value >> 8) & 0xFF);
    }
    return bytes;
}

TEST(CaptureSound, ToneIntoTheMicrophoneArrivesWithItsPeak) {
    if (const std::string missing = vozaro::test::soundServerMissing(); !missing.empty())
        GTEST_SKIP() << missing;
    vozaro::test::ensureApplication();

    TAudioIn input;
    input.setBufferSize(1024);
    input.setFrameRate(22050);
    int starts = 0;
    int stops = 0;
    input.OnStart = [&](QObject*) { ++starts; };
    input.OnStop = [&](QObject*) { ++stops; };
    std::vector<int> peaks;
    bool offThread = false;
    input.OnBufferFilled = [&](void* data, std::int32_t& size) {
        offThread |= QThread::currentThread() != QCoreApplication::instance()->thread();
        EXPECT_EQ(size, 1024);
        peaks.push_back(bufferPeak(static_cast<const std::int16_t*>(data), size / 2));
        return true;
    };
    input.StartCapture();
    ASSERT_TRUE(input.IsOpen()) << input.LastError();

    // Half a second of the silent microphone first.
    ASSERT_TRUE(runUntil([&] { return peaks.size() >= 20; })) << "no buffers arrived";
    EXPECT_EQ(starts, 1);
    const int silence = *std::max_element(peaks.begin(), peaks.end());
    const std::size_t before = peaks.size();

    // 1.5 s of a 441 Hz tone at amplitude 12000 into the microphone feed.
    QProcess player;
    player.start("pacat", {"--playback", "--device=micfeed", "--rate=22050", "--channels=1",
                           "--format=s16le", "--raw", "--latency-msec=20"});
    ASSERT_TRUE(player.waitForStarted(5000)) << "pacat did not start";
    player.write(sineBytes(441, 12000, 22050, 1.5));
    player.closeWriteChannel();
    ASSERT_TRUE(runUntil([&] { return player.state() == QProcess::NotRunning; }, 20000));
    ASSERT_TRUE(runUntil([&] { return peaks.size() >= before + 90; }, 20000));

    input.StopNow();
    EXPECT_FALSE(input.IsOpen());
    ASSERT_TRUE(runUntil([&] { return stops == 1; }));

    const long loud = std::count_if(peaks.begin() + static_cast<long>(before), peaks.end(),
                                    [](int peak) { return peak >= 11900 && peak <= 12000; });
    EXPECT_LT(silence, 100);
    // 1.5 s are about 64 buffers; allow for the ones the tone starts or ends in.
    EXPECT_GE(loud, 55) << "tone buffers with the expected peak";
    EXPECT_FALSE(offThread);
    EXPECT_EQ(input.AcceptedCount(), static_cast<std::int32_t>(peaks.size()));
}

TEST(CaptureSound, ANumberedDeviceThatDoesNotExistFailsWithText) {
    if (const std::string missing = vozaro::test::soundServerMissing(); !missing.empty())
        GTEST_SKIP() << missing;
    vozaro::test::ensureApplication();
    TAudioIn input;
    input.setBufferSize(1024);
    input.setWaveDevice(999);
    input.StartCapture();
    EXPECT_FALSE(input.IsOpen());
    EXPECT_FALSE(input.LastError().empty());
}

}  // namespace
