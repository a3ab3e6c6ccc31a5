// The sound player's refusals (a fanfare is never worth a failure) and its
// test double.
#include "platform/SoundPlayer.h"
#include "sound/WaveFixture.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace platform = vozaro::platform;
using namespace vozaro::test;

TEST(SoundPlayer, OnlyReadableWaveFilesWithSoundArePlayable) {
    const auto dir = std::filesystem::temp_directory_path() / ("vozaro-sound-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::vector<char> good = waveBytes(tone(440, 0.2, 22050), 22050);
    struct Case {
        const char* name;
        std::vector<char> bytes;
        bool playable;
    };
    const Case cases[] = {
        {"good.wav", good, true},
        {"empty.wav", {}, false},
        {"header-cut.wav", std::vector<char>(good.begin(), good.begin() + 20), false},
        {"no-samples.wav", waveBytes({}, 22050), false},
        {"text.wav", std::vector<char>{'n', 'o', 't', 'a', '\n'}, false},
        {"data-cut.wav", std::vector<char>(good.begin(), good.begin() + 1000), true},  // what is there plays
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        writeFile((dir / c.name).string(), c.bytes);
        EXPECT_EQ(platform::isPlayableWave((dir / c.name).string()), c.playable);
    }
    EXPECT_FALSE(platform::isPlayableWave((dir / "missing.wav").string()));

    // The system player returns at once for any of them, and stops with its
    // owner.
    auto player = platform::createSystemSoundPlayer();
    for (const Case& c : cases)
        player->play((dir / c.name).string());
    player->play((dir / "missing.wav").string());
    player.reset();
    std::filesystem::remove_all(dir);
}

TEST(SoundPlayer, InstalledDoubleRecordsWhatIsPlayed) {
    auto recorder = std::make_shared<platform::RecordingSoundPlayer>();
    {
        platform::ScopedSoundPlayer scope(recorder);
        platform::soundPlayer().play("/a/nota.wav");
    }
    EXPECT_EQ(recorder->played(), std::vector<std::string>{"/a/nota.wav"});
    EXPECT_NE(&platform::soundPlayer(), recorder.get());
}
