// The player on the system's timer thread while the test's thread does what
// the user-interface thread does during a song: change the speed, read the
// time, seek, silence and transpose notes, stop and start.  Nothing here
// depends on timing; these tests are for ThreadSanitizer and for deadlocks.
#include "midi/cmpMidiPlayer.h"
#include "PlayerTestDevices.h"
#include "PlayerTestSongs.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace vozaro::midi;
using namespace std::chrono_literals;
using vozaro::test::loadSong;
using vozaro::test::TrackBuilder;

namespace {

// 96 ticks per quarter at 100 ms per quarter; four tracks of notes and
// controllers, 0.4 s at normal speed.
std::unique_ptr<TMidiData> busySong() {
    std::vector<TrackBuilder> tracks{TrackBuilder().tempo(0, 100000).end(384)};
    for (std::uint8_t ch = 0; ch < 4; ++ch) {
        TrackBuilder track;
        track.event(0, {static_cast<std::uint8_t>(0xC0 | ch), ch});
        for (int i = 0; i < 48; ++i) {
            track.event(0, {static_cast<std::uint8_t>(0xB0 | ch), 1, static_cast<std::uint8_t>(i)});
            track.note(0, ch, static_cast<std::uint8_t>(50 + i), 8);
        }
        tracks.push_back(track.end(0));
    }
    return loadSong(96, tracks);
}

template <typename Pred>
bool waitFor(Pred pred) {
    auto deadline = std::chrono::steady_clock::now() + 20s;
    while (!pred()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        std::this_thread::sleep_for(1ms);
    }
    return true;
}

class PlayerThreadsTest : public ::testing::Test {
protected:
    void SetUp() override {
        song = busySong();
        outputs.setMidiData(song.get());
        outputs.setActive(true);
        outputs.OnEvent = [this](TMidiIterator*, std::int32_t, const TEventData&) { ++sentCount; };
    }
    void TearDown() override { vozaro::test::closeWithoutWaiting(outputs); }

    vozaro::test::RecordingDevices devices;
    std::unique_ptr<TMidiData> song;
    TTrackOutputs outputs;
    std::atomic<int> sentCount{0};
};

}  // namespace

TEST_F(PlayerThreadsTest, SongPlaysOutWhileTheOtherThreadWorksOnIt) {
    auto player = std::make_unique<TMidiPlayer>();
    std::atomic<bool> stopped{false};
    std::atomic<bool> stoppedOnOtherThread{false};
    const auto uiThread = std::this_thread::get_id();
    player->OnStop = [&](TMidiPlayer*) {
        stoppedOnOtherThread = std::this_thread::get_id() != uiThread;
        stopped = true;  // what a window does: hand it over, nothing more
    };
    player->setTrackOutputs(&outputs);
    player->setPlay(true);
    ASSERT_TRUE(player->Play());

    auto original = busySong();
    int round = 0;
    std::int64_t lastTime = 0;
    while (!stopped.load() && round < 20000) {
        ++round;
        player->setTempoPercent(100 + round % 150);
        lastTime = std::max(lastTime, player->Time());
        (void)player->Position();
        (void)player->Play();
        if (round % 7 == 0)
            player->transpose(*original, *song, round % 5 - 2);  // a key change
        if (round == 30)
            player->setPosition(player->Position() + 20);
        std::this_thread::sleep_for(1ms);
    }
    ASSERT_TRUE(waitFor([&] { return stopped.load(); }));
    EXPECT_TRUE(stoppedOnOtherThread.load());
    EXPECT_FALSE(player->Play());
    EXPECT_GT(sentCount.load(), 0);
    EXPECT_GE(player->StartPosition(), 384);
    player.reset();
}

TEST_F(PlayerThreadsTest, StopStartAndSeekWhileTicking) {
    TMidiPlayer player;
    player.setTrackOutputs(&outputs);
    player.setStopAtEnd(false);
    for (int i = 0; i < 30; ++i) {
        player.setPlay(true);
        std::this_thread::sleep_for(std::chrono::milliseconds(i % 6));
        if (i % 3 == 0)
            player.setFastForward(true);
        player.setPosition(i * 10);
        if (i % 4 == 0)
            player.setPaused(true);
        player.Stop();
        if (i % 5 == 0)
            player.Rewind();
    }
    EXPECT_EQ(player.State(), psStopped);
}

TEST_F(PlayerThreadsTest, PlayerDestroyedAsSoonAsTheStopIsHandedOver) {
    for (int i = 0; i < 5; ++i) {
        auto player = std::make_unique<TMidiPlayer>();
        std::atomic<bool> stopped{false};
        player->OnStop = [&](TMidiPlayer*) { stopped.store(true); };
        player->setTrackOutputs(&outputs);
        player->setTempoPercent(400);
        player->setPlay(true);
        ASSERT_TRUE(waitFor([&] { return stopped.load(); }));
        player.reset();  // the timer thread may still be leaving its last tick
        vozaro::test::closeWithoutWaiting(outputs);
        outputs.setActive(true);
    }
}

TEST_F(PlayerThreadsTest, NotesRewrittenJustAheadOfThePlayPosition) {
    // Another thread rewrites the note numbers the timer thread is about to
    // send, without the player's lock and without any other exchange between
    // the two, so that ThreadSanitizer sees every read of a note number that
    // is not atomic.  Track 1: a program, then per note i a controller
    // (record 1 + 3i), its note-on at tick 8i (record 2 + 3i) and its
    // note-off (3 + 3i).
    TMidiPlayer player;
    player.setTrackOutputs(&outputs);
    player.setPlay(true);
    std::atomic<bool> done{false};
    std::thread keyChanger([&] {
        std::uint8_t shift = 0;
        while (!done.load(std::memory_order_relaxed)) {
            const std::int64_t next = player.Position() / 8 + 1;
            for (std::int64_t i = next; i < std::min<std::int64_t>(next + 2, 48); ++i)
                for (std::int32_t record : {2, 3})
                    song->Tracks(1)->Event(static_cast<std::int32_t>(record + 3 * i))
                        ->Message.storeData1(static_cast<std::uint8_t>(50 + shift % 12));
            ++shift;
            std::this_thread::yield();
        }
    });
    ASSERT_TRUE(waitFor([&] { return !player.Play(); }));
    done.store(true);
    keyChanger.join();
    EXPECT_GT(sentCount.load(), 100);
}
