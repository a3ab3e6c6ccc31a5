// The sound player's refusals (a fanfare is never worth a failure) and its
// test double.
#include "platform/devices/SoundPlayer.h"
#include "support/RecordingSoundPlayer.h"
#include "sound/WaveFixture.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <filesystem>
#include <future>
#include <thread>

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

namespace {

// A folder of its own, removed at the end.
struct SoundFolder {
    std::filesystem::path path =
        std::filesystem::temp_directory_path() / ("vozaro-sound-files-" + std::to_string(::getpid()));
    SoundFolder() { std::filesystem::create_directories(path); }
    ~SoundFolder() { std::filesystem::remove_all(path); }
    std::string file(const std::string& name, const std::vector<char>& bytes) const {
        writeFile((path / name).string(), bytes);
        return (path / name).string();
    }
};

// Runs `call` and tells whether it came back within a generous time; when it
// does not, `release` lets it go so that the test can end.  A hang guard, not
// a speed measurement.
template <typename Call, typename Release>
bool returns(Call call, Release release) {
    auto done = std::async(std::launch::async, call);
    if (done.wait_for(std::chrono::seconds(10)) == std::future_status::ready)
        return true;
    release();
    done.wait();
    return false;
}

// Opening a FIFO for writing, and closing it again, lets a reader blocked in
// opening it go on.
void releaseFifo(const std::string& fifo) {
    const int fd = ::open(fifo.c_str(), O_WRONLY | O_NONBLOCK);
    if (fd >= 0)
        ::close(fd);
}

// An output that notes the length of every sound it is given and holds the
// worker until the test opens it, or until the sound is cut when it heeds
// cuts.
class GateOutput final : public platform::SoundOutput {
public:
    explicit GateOutput(bool heedsCut) : heedsCut_(heedsCut) {}
    void play(const platform::WaveSound& sound, const std::atomic<bool>& cut) noexcept override {
        std::unique_lock lock(mutex_);
        seconds_.push_back(sound.seconds());
        changed_.notify_all();
        while (!open_ && !(heedsCut_ && cut.load()))
            changed_.wait_for(lock, std::chrono::milliseconds(1));
        if (cut.load())
            ++cuts_;
        changed_.notify_all();
    }
    void open() {
        std::lock_guard lock(mutex_);
        open_ = true;
        changed_.notify_all();
    }
    // Waits (with a hang guard) until `count` sounds have been handed over.
    bool waitForSounds(std::size_t count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return seconds_.size() >= count; });
    }
    bool waitForCuts(int count) {
        std::unique_lock lock(mutex_);
        return changed_.wait_for(lock, std::chrono::seconds(10), [&] { return cuts_ >= count; });
    }
    std::vector<double> seconds() {
        std::lock_guard lock(mutex_);
        return seconds_;
    }

private:
    const bool heedsCut_;
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
    std::vector<double> seconds_;
    int cuts_ = 0;
};

}  // namespace

// "nota.wav" as a FIFO used to hang the program for good: the worker blocked
// in opening it, and the next sound joined that worker.
TEST(SoundPlayer, AnythingButARegularFileIsSkippedWithoutBlocking) {
    SoundFolder folder;
    const std::string fifo = (folder.path / "fifo.wav").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0644), 0);
    const std::string dir = (folder.path / "folder.wav").string();
    std::filesystem::create_directory(dir);
    const std::string link = (folder.path / "link.wav").string();
    const std::string good = folder.file("good.wav", waveBytes(tone(440, 0.2, 22050), 22050));
    std::filesystem::create_symlink(good, link);
    struct Case {
        std::string path;
        bool playable;
    };
    const Case cases[] = {{fifo, false}, {dir, false}, {"/dev/null", false}, {link, true}, {good, true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        bool playable = !c.playable;
        EXPECT_TRUE(returns([&] { playable = platform::isPlayableWave(c.path); }, [&] { releaseFifo(fifo); }));
        EXPECT_EQ(playable, c.playable);
    }

    // The player skips them: the output only ever gets the regular file.
    auto output = std::make_shared<GateOutput>(false);
    output->open();
    auto player = platform::createSoundPlayer(output);
    for (const std::string& path : {fifo, dir, good})
        player->play(path);
    ASSERT_TRUE(output->waitForSounds(1));
    player.reset();
    EXPECT_EQ(output->seconds().size(), 1u);
}

// A 200-sample wave declared at 1 Hz used to sound for a minute over the
// next singer.
TEST(SoundPlayer, ASoundPlaysForTenSecondsAtMost) {
    SoundFolder folder;
    struct Case {
        const char* name;
        std::vector<char> bytes;
        double seconds;
    };
    const Case cases[] = {
        {"200 samples at 1 Hz", waveBytes(std::vector<std::int16_t>(200, 1000), 1), 10.0},
        {"30 s at 8000 Hz", waveBytes(tone(440, 30, 8000), 8000), 10.0},
        {"0.2 s at 22050 Hz", waveBytes(tone(440, 0.2, 22050), 22050), 0.2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const platform::WaveSound sound = platform::readWaveForPlaying(folder.file("sound.wav", c.bytes));
        EXPECT_DOUBLE_EQ(sound.seconds(), c.seconds);
        EXPECT_EQ(sound.channels, 1);
    }
}

// The user-interface thread never waits for a worker that may be held up:
// neither a new sound, nor stop(), nor the player's end.
TEST(SoundPlayer, NeverWaitsForAWorkerThatIsHeldUp) {
    SoundFolder folder;
    const std::string good = folder.file("good.wav", waveBytes(tone(440, 0.2, 22050), 22050));
    auto output = std::make_shared<GateOutput>(false);  // holds the worker until opened
    auto player = platform::createSoundPlayer(output);
    player->play(good);
    ASSERT_TRUE(output->waitForSounds(1));
    EXPECT_TRUE(returns(
        [&] {
            player->play(good);
            player->stop();
            player.reset();
        },
        [&] { output->open(); }));
    output->open();  // the worker, left to itself, ends
}

// A fanfare still sounding is cut when the next song starts (the stage calls
// stop()) and when another sound starts.
TEST(SoundPlayer, StopAndANewSoundCutTheOneSounding) {
    SoundFolder folder;
    const std::string good = folder.file("good.wav", waveBytes(tone(440, 0.2, 22050), 22050));
    auto output = std::make_shared<GateOutput>(true);  // sounds until cut
    auto player = platform::createSoundPlayer(output);
    player->play(good);
    ASSERT_TRUE(output->waitForSounds(1));
    player->stop();
    EXPECT_TRUE(output->waitForCuts(1));
    player->play(good);
    ASSERT_TRUE(output->waitForSounds(2));
    player->play(good);
    EXPECT_TRUE(output->waitForCuts(2));
    EXPECT_TRUE(output->waitForSounds(3));
    player.reset();
    EXPECT_TRUE(output->waitForCuts(3));
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
