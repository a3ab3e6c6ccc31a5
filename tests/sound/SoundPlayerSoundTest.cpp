// A wave file played by the system's sound player is heard in the recording
// of the virtual sound server's speakers, and the call does not wait for it.
#include "platform/devices/SoundPlayer.h"
#include "sound/SoundServer.h"
#include "sound/SpeakerRecording.h"
#include "sound/WaveFixture.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

using namespace vozaro::test;
namespace platform = vozaro::platform;

TEST(SoundPlayerSound, WaveFileIsHeardInTheSpeakersWithoutWaiting) {
    if (const std::string missing = soundServerMissing(); !missing.empty())
        GTEST_SKIP() << missing;
    const std::string path =
        (std::filesystem::temp_directory_path() / ("vozaro-nota-" + std::to_string(::getpid()) + ".wav")).string();
    writeFile(path, waveBytes(tone(660, 1.0, 44100), 44100));

    SpeakerRecording recording;
    ASSERT_TRUE(recording.waitUntilRunning());
    const Levels before = measure(recording.stop());
    SpeakerRecording during;
    ASSERT_TRUE(during.waitUntilRunning());
    auto player = platform::createSystemSoundPlayer();
    const auto start = std::chrono::steady_clock::now();
    player->play(path);
    const auto took = std::chrono::steady_clock::now() - start;
    std::this_thread::sleep_for(1800ms);
    const Levels levels = measure(during.stop());
    player.reset();
    std::filesystem::remove(path);

    EXPECT_LT(took, 500ms) << "play() waited for the sound";
    EXPECT_LT(before.loudest, 0.001);
    EXPECT_GT(levels.loudest, 0.05);  // the tone has an RMS of about 0.26
}
