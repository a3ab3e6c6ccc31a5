// The player on the system's timer thread while the test's thread does what
// the user-interface thread does during a song: change the speed, read the
// time, seek, silence and transpose notes, stop and start.  Nothing here
// depends on timing; these tests are for ThreadSanitizer and for deadlocks.
#include "midi/cmpMidiPlayer.h"
#include "PlayerTestDevices.h"
#include "PlayerTestSongs.h"

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <set>
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

// A song whose key change takes a while: tracks 1 to 3 hold 60,000 notes
// far beyond the end of the played part, so that rewriting the note numbers
// lasts about a millisecond before it reaches the notes being played.  Then
// four channels play one note at a time, 384 notes each, 2 ticks apart (a
// note-on at nearly every tick of the player at half speed).
std::unique_ptr<TMidiData> songWithASlowKeyChange() {
    std::vector<TrackBuilder> tracks{TrackBuilder().tempo(0, 100000).end(768)};
    for (int t = 0; t < 3; ++t) {
        TrackBuilder far;
        far.event(100000, {0xC5, 1});
        for (int i = 0; i < 20000; ++i)
            far.note(0, 5, static_cast<std::uint8_t>(40 + i % 40), 1);
        tracks.push_back(far.end(0));
    }
    for (std::uint8_t ch = 0; ch < 4; ++ch) {
        TrackBuilder track;
        track.event(0, {static_cast<std::uint8_t>(0xC0 | ch), ch});
        for (int i = 0; i < 384; ++i)
            track.note(0, ch, static_cast<std::uint8_t>(50 + i % 40), 2);
        tracks.push_back(track.end(0));
    }
    return loadSong(96, tracks);
}

TEST_F(PlayerThreadsTest, KeyChangesOnAnotherThreadLeaveNoNoteSoundingInTheOldKey) {
    // Each channel plays one note at a time.  A key change silences the
    // sounding notes and rewrites the note numbers under the player's lock;
    // were a tick to send a note-on between the two, its note-off would go
    // out with the new number and the note would hang.  So at every note-on
    // no other note of its channel may be sounding.
    song = songWithASlowKeyChange();
    const auto original = songWithASlowKeyChange();
    vozaro::test::closeWithoutWaiting(outputs);
    outputs.setMidiData(song.get());
    outputs.setActive(true);
    TMidiPlayer player;
    player.setTrackOutputs(&outputs);
    player.setStopAtEnd(false);
    player.setTempoPercent(50);
    player.setPlay(true);
    ASSERT_TRUE(player.Play());
    std::atomic<bool> done{false};
    std::atomic<int> keyChanges{0};
    std::thread keyChanger([&] {
        int round = 0;
        while (!done.load()) {
            player.transpose(*original, *song, round++ % 7 - 3);
            keyChanges.fetch_add(1);
            // Longer than a note, so that a hanging note meets the next one.
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    });
    const bool played = waitFor([&] { return player.Position() >= 768; });
    done.store(true);
    keyChanger.join();
    player.Stop();
    ASSERT_TRUE(played);
    EXPECT_GT(keyChanges.load(), 20);

    int noteOns = 0;
    for (int device = 0; device < 2; ++device) {
        std::array<std::set<int>, 16> sounding;
        for (const std::uint32_t message : devices.recorder->messages(device)) {
            const int status = message & 0xF0;
            const int channel = message & 0x0F;
            const int note = (message >> 8) & 0x7F;
            const int velocity = (message >> 16) & 0x7F;
            if (status == 0x90 && velocity > 0) {
                EXPECT_TRUE(sounding[channel].empty())
                    << "note " << note << " on channel " << channel << " while " << *sounding[channel].begin()
                    << " still sounds";
                sounding[channel].insert(note);
                ++noteOns;
            } else if (status == 0x80 || status == 0x90) {
                sounding[channel].erase(note);
            }
        }
        for (int channel = 0; channel < 16; ++channel)
            EXPECT_TRUE(sounding[channel].empty()) << "channel " << channel << " left sounding";
    }
    EXPECT_GT(noteOns, 1000);
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

TEST_F(PlayerThreadsTest, StopHandlerRemovedWhileTheSongEnds) {
    // The owner removes its handler while the timer thread may be raising it.
    for (int i = 0; i < 5; ++i) {
        TMidiPlayer player;
        std::atomic<int> raised{0};
        player.OnStop = [&](TMidiPlayer*) { raised.fetch_add(1); };
        player.setTrackOutputs(&outputs);
        player.setTempoPercent(400);
        player.setPlay(true);
        waitFor([&] { return player.Position() >= 380 - 4 * i; });
        player.clearStopHandler();
        EXPECT_FALSE(player.OnStop);
        EXPECT_LE(raised.load(), 1);
        player.Stop();
        vozaro::test::closeWithoutWaiting(outputs);
        outputs.setActive(true);
    }
}
