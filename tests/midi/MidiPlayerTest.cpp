// The player, driven by the manual timer service: ticks happen when the test
// advances the clock, so every check is by song time and order.
#include "midi/cmpMidiPlayer.h"
#include "support/ManualTimerService.h"
#include "PlayerTestDevices.h"
#include "PlayerTestSongs.h"

#include <gtest/gtest.h>

#include "AllocationCounting.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <new>
#include <thread>
#include <vector>

using namespace vozaro::midi;
using vozaro::platform::ManualTimerService;
using vozaro::platform::PriorityClass;
using vozaro::test::loadSong;
using vozaro::test::TrackBuilder;

namespace {

struct Sent {
    std::int32_t port;
    std::uint8_t status, data1;
    std::int64_t position;  // the song position that sent it
};

// 100 ticks per quarter at 500 ms per quarter: 5 ms per tick.  Notes every
// 20 ticks (100 ms) on two tracks; the song ends at tick 400 (2000 ms).
std::unique_ptr<TMidiData> twoSecondSong() {
    TrackBuilder melody, bass;
    melody.event(0, {0xC0, 20});
    for (int i = 0; i < 20; ++i)
        melody.note(i == 0 ? 0 : 10, 0, static_cast<std::uint8_t>(60 + i), 10);
    melody.end(0);
    bass.event(0, {0xB1, 7, 80});
    for (int i = 0; i < 10; ++i)
        bass.note(i == 0 ? 0 : 20, 1, 40, 20);
    bass.end(0);
    return loadSong(100, {TrackBuilder().tempo(0, 500000).end(400), melody, bass});
}

class PlayerTest : public ::testing::Test {
protected:
    void SetUp() override {
        song = twoSecondSong();
        outputs.setMidiData(song.get());
        outputs.setActive(true);
        outputs.OnEvent = [this](TMidiIterator* sender, std::int32_t port, const TEventData& data) {
            sent.push_back({port, data.Status, data.Data1, sender->Position()});
        };
        player = std::make_unique<TMidiPlayer>(timers);
        player->OnStop = [this](TMidiPlayer* sender) {
            EXPECT_EQ(sender, player.get());
            events.push_back(psStopped);
            stopThread = std::this_thread::get_id();
        };
        player->OnPlay = [this](TMidiPlayer*) { events.push_back(psPlaying); };
        player->OnPause = [this](TMidiPlayer*) { events.push_back(psPaused); };
        player->OnFastForward = [this](TMidiPlayer*) { events.push_back(psFastForward); };
        player->setTimerResolution(4);
        player->setTrackOutputs(&outputs);
        sent.clear();
        events.clear();
    }
    void TearDown() override {
        player.reset();
        vozaro::test::closeWithoutWaiting(outputs);
    }
    std::vector<std::uint32_t> deviceMessages() const { return devices.recorder->messages(0); }
    // What the stage does before a song: outputs off, the song read into the
    // same object, outputs on, UpdateMidiData, Rewind.
    void loadAfresh(const vozaro::midi::fixtures::Bytes& bytes) {
        vozaro::test::closeWithoutWaiting(outputs);
        song->loadFromMemory(bytes.data(), bytes.size());
        outputs.setActive(true);
        player->UpdateMidiData();
        player->Rewind();
    }

    vozaro::test::RecordingDevices devices;
    ManualTimerService timers;
    std::unique_ptr<TMidiData> song;
    TTrackOutputs outputs;
    std::unique_ptr<TMidiPlayer> player;
    std::vector<Sent> sent;
    std::vector<TPlayerState> events;
    std::thread::id stopThread;
};

}  // namespace

TEST_F(PlayerTest, PlaysEveryChannelMessageOnceInOrderAndStopsAtTheEnd) {
    player->setPlay(true);
    EXPECT_TRUE(player->Play());
    EXPECT_EQ(events, std::vector<TPlayerState>{psPlaying});
    EXPECT_EQ(timers.periodsHeld(), 1);
    EXPECT_EQ(timers.lastInterval(), 4);

    std::thread::id tickingThread;
    std::thread timerThread([&] {
        tickingThread = std::this_thread::get_id();
        timers.advance(2100);
    });
    timerThread.join();

    EXPECT_EQ(events, (std::vector<TPlayerState>{psPlaying, psStopped}));
    EXPECT_EQ(stopThread, tickingThread);  // raised inside the last tick
    EXPECT_FALSE(player->Play());
    EXPECT_EQ(timers.runningTimers(), 0);
    EXPECT_EQ(timers.periodsHeld(), 0);
    EXPECT_GT(player->StartPosition(), 400);

    // Every channel message of both tracks, each after its time and at the
    // first tick past it (a tick is 4 ms, under one tick of song, 5 ms).
    std::size_t expected = 0;
    for (std::int32_t t = 1; t <= 2; ++t) {
        const TMidiTrackStream& track = *song->Tracks(t);
        for (std::int32_t i = 0; i < track.EventCount(); ++i)
            expected += track.Event(i)->Message.Status < 0xF0 ? 1 : 0;
    }
    ASSERT_EQ(sent.size(), expected);
    std::int64_t previous = 0;
    for (const Sent& s : sent) {
        EXPECT_GE(s.position, previous);
        previous = s.position;
    }
    std::vector<std::uint8_t> melody;
    for (const Sent& s : sent)
        if (s.port == 1 && s.status == 0x90)
            melody.push_back(s.data1);
    ASSERT_EQ(melody.size(), 20u);
    for (std::size_t i = 0; i < melody.size(); ++i)
        EXPECT_EQ(melody[i], 60 + i);
}

TEST_F(PlayerTest, EventsAreSentAtTheFirstTickPastTheirTime) {
    player->setPlay(true);
    timers.advance(2100);
    for (const Sent& s : sent) {
        // position - 1 tick of song (5 ms) is at most one timer period (4 ms)
        // behind the event: the event's tick is below position and at least
        // position - 1.
        const TMidiTrackStream& track = *song->Tracks(s.port);
        bool found = false;
        for (std::int32_t i = 0; i < track.EventCount() && !found; ++i) {
            const TTrackEvent& e = *track.Event(i);
            found = e.Message.Status == s.status && e.Message.Data1 == s.data1 && e.Time < s.position &&
                    e.Time >= s.position - 1;
        }
        EXPECT_TRUE(found) << "port " << s.port << " status " << int(s.status) << " at " << s.position;
    }
}

TEST_F(PlayerTest, SpeedScalesSongTimeAndCarriesTheFraction) {
    player->setStopAtEnd(false);
    player->setPlay(true);
    timers.advance(1000);
    EXPECT_EQ(player->Time(), 1000);

    struct Case {
        int percent;
        std::int64_t expected;  // song ms after 1000 ms of real time
    } cases[] = {{200, 2000}, {50, 500}, {110, 1100}, {124, 1240}, {51, 510}, {75, 750}, {150, 1500}};
    for (const Case& c : cases) {
        player->setTempoPercent(c.percent);
        std::int64_t before = player->Time();
        timers.advance(1000);
        // Whole ticks of 4 ms: the carried fraction is below one millisecond.
        EXPECT_NEAR(player->Time() - before, c.expected, 1) << c.percent << " %";
    }
    player->setTempoPercent(0);
    std::int64_t before = player->Time();
    timers.advance(100);
    EXPECT_EQ(player->Time(), before);
    player->setTempoPercent(-20);
    timers.advance(100);
    EXPECT_EQ(player->Time(), before);
}

TEST_F(PlayerTest, FastForwardAndBackToPlay) {
    player->setStopAtEnd(false);
    player->setPlay(true);
    timers.advance(100);
    player->setFastForward(true);
    EXPECT_TRUE(player->FastForward());
    EXPECT_EQ(player->Speed(), 4);
    timers.advance(100);
    EXPECT_EQ(player->Time(), 500);
    player->setPlay(true);  // back to normal speed
    EXPECT_TRUE(player->Play());
    timers.advance(100);
    EXPECT_EQ(player->Time(), 600);
    // Play := false while fast-forwarding switches to playing instead.
    player->setFastForward(true);
    player->setPlay(false);
    EXPECT_TRUE(player->Play());
    player->setFastForward(true);
    player->setFastForward(false);  // stops
    EXPECT_EQ(player->State(), psStopped);
    EXPECT_EQ(events, (std::vector<TPlayerState>{psPlaying, psFastForward, psPlaying, psFastForward,
                                                 psPlaying, psFastForward, psStopped}));
}

TEST_F(PlayerTest, StateTableFromStoppedAndPaused) {
    // Writes that change nothing on a stopped player.
    player->setPlay(false);
    player->setFastForward(false);
    player->setPaused(true);
    player->setPaused(false);
    EXPECT_EQ(player->State(), psStopped);
    EXPECT_TRUE(events.empty());

    player->setFastForward(true);  // starts fast
    EXPECT_EQ(player->State(), psFastForward);
    player->setPaused(true);
    EXPECT_TRUE(player->Paused());
    player->setPaused(true);
    std::int64_t pausedAt = player->Time();
    timers.advance(500);  // ticks while paused do nothing
    EXPECT_EQ(player->Time(), pausedAt);
    player->setPaused(false);  // resumes at the speed it had
    EXPECT_TRUE(player->FastForward());
    timers.advance(100);
    EXPECT_EQ(player->Time(), pausedAt + 400);  // the pause is not added
    player->setPaused(true);
    player->setFastForward(false);  // from paused: fast forward
    EXPECT_TRUE(player->FastForward());
    player->setPaused(true);
    player->setPlay(false);  // from paused: plays
    EXPECT_TRUE(player->Play());
    player->Stop();
    player->Stop();
    EXPECT_EQ(events, (std::vector<TPlayerState>{psFastForward, psPaused, psFastForward, psPaused,
                                                 psFastForward, psPaused, psPlaying, psStopped}));
}

TEST_F(PlayerTest, StartingWithoutActiveOutputsOnlyRaisesStop) {
    outputs.setActive(false);
    player->setPlay(true);
    EXPECT_FALSE(player->Play());
    EXPECT_EQ(events, std::vector<TPlayerState>{psStopped});
    EXPECT_EQ(timers.runningTimers(), 0);
    EXPECT_EQ(timers.periodsHeld(), 0);

    TMidiPlayer bare(timers);
    bool stopped = false;
    bare.OnStop = [&](TMidiPlayer*) { stopped = true; };
    bare.setFastForward(true);
    EXPECT_TRUE(stopped);
    EXPECT_EQ(bare.State(), psStopped);
}

TEST_F(PlayerTest, RefusedTimerOrResolutionStopsAndGivesBack) {
    timers.setRefusePeriod(true);
    player->setPlay(true);
    EXPECT_EQ(player->State(), psStopped);
    EXPECT_EQ(events, std::vector<TPlayerState>{psStopped});

    events.clear();
    timers.setRefusePeriod(false);
    timers.setRefuseTimers(true);
    player->setBoostPriority(true);
    player->setPlay(true);
    EXPECT_EQ(player->State(), psStopped);
    EXPECT_EQ(events, std::vector<TPlayerState>{psStopped});
    EXPECT_EQ(timers.periodsHeld(), 0);
    EXPECT_EQ(timers.priorityClass(), PriorityClass::Normal);
}

TEST_F(PlayerTest, BoostPriorityHoldsRealtimeWhilePlaying) {
    player->setBoostPriority(true);
    player->setPlay(true);
    EXPECT_EQ(timers.lastTimerPriority(), PriorityClass::Realtime);
    player->Stop();
    EXPECT_EQ(timers.priorityClass(), PriorityClass::Normal);
}

TEST_F(PlayerTest, TimerPeriodNeverBelowTheSystemMinimum) {
    timers.setMinPeriod(3);
    TMidiPlayer other(timers);
    EXPECT_EQ(other.TimerPeriod(), 3);
    EXPECT_EQ(other.MinPeriod(), 3);
    other.setTimerPeriod(0);
    EXPECT_EQ(other.TimerPeriod(), 3);
    other.setTimerPeriod(7);
    EXPECT_EQ(other.TimerPeriod(), 7);
    EXPECT_EQ(other.TimerResolution(), 4);
    EXPECT_EQ(other.TempoPercent(), 100);
    EXPECT_TRUE(other.StopAtEnd());
}

TEST_F(PlayerTest, SeekWhilePlayingRestartsFromThere) {
    player->setPlay(true);
    timers.advance(1000);
    sent.clear();
    player->setPosition(0);
    EXPECT_TRUE(player->Play());
    EXPECT_EQ(player->Position(), 0);
    EXPECT_EQ(player->Time(), 0);
    EXPECT_EQ(events, std::vector<TPlayerState>{psPlaying});  // no event for the seek
    timers.advance(8);
    ASSERT_FALSE(sent.empty());
    EXPECT_EQ(sent.front().status, 0xC0);  // the song again from its start
    // A stopped player stays stopped but moves.
    player->Stop();
    player->setPosition(200);
    EXPECT_EQ(player->State(), psStopped);
    EXPECT_EQ(player->Position(), 200);
    EXPECT_EQ(player->Time(), 1000);
}

TEST_F(PlayerTest, PlayAgainAfterTheEndStopsAtTheFirstTick) {
    player->setPlay(true);
    timers.advance(2100);
    ASSERT_EQ(player->State(), psStopped);
    events.clear();
    sent.clear();
    player->setPlay(true);
    EXPECT_EQ(events, std::vector<TPlayerState>{psPlaying});
    timers.advance(4);
    EXPECT_EQ(events, (std::vector<TPlayerState>{psPlaying, psStopped}));
    // Rewind brings it back to the start.
    player->Rewind();
    EXPECT_EQ(player->Position(), 0);
    player->setPlay(true);
    timers.advance(2100);
    EXPECT_GT(sent.size(), 40u);
}

TEST_F(PlayerTest, WithoutStopAtEndTimeRunsOnAndNothingMoreIsSent) {
    player->setStopAtEnd(false);
    player->setPlay(true);
    timers.advance(3000);
    std::size_t count = sent.size();
    EXPECT_TRUE(player->Play());
    timers.advance(1000);
    EXPECT_EQ(player->Time(), 4000);
    EXPECT_EQ(sent.size(), count);
}

TEST_F(PlayerTest, ClockWrapIsElapsedTimeNotAJump) {
    timers.setNow(0xFFFFFFFFu - 10);
    player->setStopAtEnd(false);
    player->setPlay(true);
    timers.advance(100);
    EXPECT_EQ(player->Time(), 100);
}

TEST_F(PlayerTest, StopHandlerOnTheTimerThreadMayTearEverythingDown) {
    // What a window's handler may lead to once the notification reached it:
    // the outputs deactivated and the player destroyed, here at once.
    player->OnStop = [this](TMidiPlayer*) {
        outputs.setActive(false);
        player.reset();
    };
    player->setPlay(true);
    timers.advance(2100);
    EXPECT_EQ(player, nullptr);
    EXPECT_EQ(TMidiPlayer::TickInProgress(), 0);
}

TEST_F(PlayerTest, TwoPlayersNeverTickAtOnce) {
    auto secondSong = twoSecondSong();
    TTrackOutputs secondOutputs;
    secondOutputs.setMidiData(secondSong.get());
    secondOutputs.setActive(true);
    ManualTimerService secondTimers;
    TMidiPlayer second(secondTimers);
    second.setTrackOutputs(&secondOutputs);
    second.setStopAtEnd(false);
    second.setPlay(true);

    // While the first player is inside a tick (sending an event), the
    // second one's ticks return without work.
    std::int64_t secondTimeInside = -1;
    int insideTick = 0;
    outputs.OnEvent = [&](TMidiIterator*, std::int32_t, const TEventData&) {
        if (insideTick != 0)
            return;
        insideTick = TMidiPlayer::TickInProgress();
        secondTimers.advance(40);
        secondTimeInside = second.Time();
    };
    player->setPlay(true);
    timers.advance(8);
    EXPECT_EQ(insideTick, 1);
    EXPECT_EQ(secondTimeInside, 0);
    EXPECT_EQ(TMidiPlayer::TickInProgress(), 0);
    outputs.OnEvent = nullptr;
    secondTimers.advance(4);
    EXPECT_EQ(second.Time(), 44);  // the skipped ticks' time is not lost
}

TEST_F(PlayerTest, NewSongInTheSameSongObjectIsReadAfresh) {
    // Song A never played, song B loaded into the same container: B's
    // division and tempo apply.
    auto bytes = vozaro::test::buildSong(50, {TrackBuilder().tempo(0, 1000000).end(100)});
    outputs.setActive(false);
    song->loadFromMemory(bytes.data(), bytes.size());
    outputs.setActive(true);
    player->UpdateMidiData();
    player->Rewind();
    player->setStopAtEnd(false);
    player->setPlay(true);
    timers.advance(1000);
    EXPECT_EQ(player->Position(), 50);  // one quarter of 1000 ms
}

TEST_F(PlayerTest, StopSilencesTheSoundingNotes) {
    using vozaro::platform::packShortMessage;
    player->setPlay(true);
    timers.advance(20);  // the first melody note and bass note sound
    devices.recorder->clear();
    player->Stop();
    auto messages = deviceMessages();
    std::sort(messages.begin(), messages.end());
    std::vector<std::uint32_t> expected{packShortMessage(0x80, 60, 0), packShortMessage(0x81, 40, 0)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(messages, expected);
    EXPECT_EQ(events, (std::vector<TPlayerState>{psPlaying, psStopped}));
    EXPECT_EQ(player->StartPosition(), player->Position());
}

TEST_F(PlayerTest, SeekBackResetsControllersAndSilences) {
    using vozaro::platform::packShortMessage;
    player->setPlay(true);
    timers.advance(30);  // the bass track's volume 80 is sent
    devices.recorder->clear();
    player->setPosition(0);
    auto messages = deviceMessages();
    EXPECT_NE(std::find(messages.begin(), messages.end(), packShortMessage(0xB1, 7, 90)), messages.end());
    EXPECT_NE(std::find(messages.begin(), messages.end(), packShortMessage(0x80, 60, 0)), messages.end());
    // A seek forward only silences.
    timers.advance(30);
    devices.recorder->clear();
    player->setPosition(player->Position() + 10);
    messages = deviceMessages();
    EXPECT_EQ(std::find(messages.begin(), messages.end(), packShortMessage(0xB1, 7, 90)), messages.end());
}

TEST_F(PlayerTest, FailingEventHandlerIsRecordedAndSeeksStillSkipNotes) {
    bool throwOnce = true;
    outputs.OnEvent = [&](TMidiIterator*, std::int32_t, const TEventData& data) {
        if (throwOnce) {
            throwOnce = false;
            throw std::runtime_error("handler failed");
        }
        sent.push_back({0, data.Status, data.Data1, 0});
    };
    player->setPlay(true);
    timers.advance(8);
    EXPECT_TRUE(player->TickFailed());
    EXPECT_TRUE(player->Play());
    player->Stop();
    sent.clear();
    player->setPosition(300);  // a seek over notes: controllers and programs only
    for (const Sent& s : sent)
        EXPECT_NE(s.status & 0xE0, 0x80) << "note sent by a seek";
    player->setPlay(true);
    EXPECT_FALSE(player->TickFailed());
}

TEST_F(PlayerTest, StartingAgainSendsNothingFromBeyondThePosition) {
    // A pitch bend late in the song must not reach the device when the song
    // starts again from its beginning after being played to its end.
    using vozaro::platform::packShortMessage;
    auto bent = loadSong(100, {TrackBuilder().tempo(0, 500000).end(400),
                               TrackBuilder().event(0, {0xC0, 20}).note(0, 0, 60, 10).event(290, {0xE0, 0, 0x60}).end(100)});
    vozaro::test::closeWithoutWaiting(outputs);
    outputs.setMidiData(bent.get());
    outputs.setActive(true);
    player->UpdateMidiData();
    player->Rewind();
    player->setPlay(true);
    timers.advance(2100);
    ASSERT_EQ(player->State(), psStopped);
    ASSERT_GT(player->StartPosition(), 300);

    player->Rewind();
    devices.recorder->clear();
    player->setPlay(true);
    auto messages = deviceMessages();
    EXPECT_EQ(std::find(messages.begin(), messages.end(), packShortMessage(0xE0, 0, 0x60)), messages.end());
    // From a stop in the middle the same position plays on without a rewind.
    timers.advance(1000);
    player->Stop();
    devices.recorder->clear();
    player->setPlay(true);
    EXPECT_TRUE(deviceMessages().empty());
    player->Stop();
}

using vozaro::test::allocationsCounted;
using vozaro::test::countAllocations;

TEST_F(PlayerTest, StageSequenceStartsTheSongAgainFromItsBeginning) {
    // What the stage does: play, stop, outputs off, the song read again into
    // the same object, outputs on, UpdateMidiData, Rewind, Play.  Nothing
    // from beyond tick 0 (the pitch bend and sustain at tick 290) may reach
    // the device before the song gets there again.
    using vozaro::platform::packShortMessage;
    const auto bytes = vozaro::test::buildSong(
        100, {TrackBuilder().tempo(0, 500000).end(400),
              TrackBuilder().event(0, {0xC0, 20}).note(0, 0, 60, 10).event(280, {0xE0, 0, 0x60}).event(0, {0xB0, 64, 127}).end(110)});
    for (const bool wholeSong : {false, true}) {
        SCOPED_TRACE(wholeSong ? "played to its end" : "stopped at tick 350");
        loadAfresh(bytes);
        player->setPlay(true);
        timers.advance(wholeSong ? 2100 : 1760);
        player->Stop();
        ASSERT_GE(player->StartPosition(), 350);

        devices.recorder->clear();
        loadAfresh(bytes);
        EXPECT_EQ(player->Position(), 0);
        player->setPlay(true);
        timers.advance(100);
        const auto messages = deviceMessages();
        EXPECT_EQ(std::count(messages.begin(), messages.end(), packShortMessage(0xE0, 0, 0x60)), 0);
        EXPECT_EQ(std::count(messages.begin(), messages.end(), packShortMessage(0xB0, 64, 127)), 0);
        EXPECT_EQ(std::count(messages.begin(), messages.end(), packShortMessage(0x90, 60, 100)), 1);
        player->Stop();
    }
}

TEST(TransposeNotes, ShiftsFromTheOriginalWithinRangeAndLeavesDrumsAlone) {
    auto track = [] {
        return TrackBuilder()
            .note(0, 0, 120, 10)
            .note(0, 3, 10, 10)
            .note(0, 9, 36, 10)         // a kick drum on channel 10
            .event(0, {0xB0, 7, 100})   // a controller keeps its first byte
            .event(0, {0xA0, 60, 50})   // so does key pressure
            .end(0);
    };
    const auto original = loadSong(96, {track()});
    const auto played = loadSong(96, {track()});
    struct Case {
        std::int32_t shift;
        std::uint8_t high, low;
    };
    // Applied in this order: each starts from the file's own notes.
    for (const Case c : {Case{3, 123, 13}, Case{24, 127, 34}, Case{-24, 96, 0}, Case{5, 125, 15}, Case{0, 120, 10}}) {
        SCOPED_TRACE(c.shift);
        transposeNotes(*original, *played, c.shift);
        const TMidiTrackStream& t = *played->Tracks(0);
        std::vector<std::uint8_t> firstBytes;
        for (std::int32_t i = 0; i < t.EventCount() - 1; ++i)
            firstBytes.push_back(t.Event(i)->Message.Data1);
        EXPECT_EQ(firstBytes, (std::vector<std::uint8_t>{c.high, c.high, c.low, c.low, 36, 36, 7, 60}));
    }
}

TEST_F(PlayerTest, TransposeSilencesAndRewritesAsOneStep) {
    const auto original = twoSecondSong();
    player->setPlay(true);
    timers.advance(20);  // the first melody and bass notes sound
    devices.recorder->clear();
    player->transpose(*original, *song, 2);
    auto messages = deviceMessages();
    std::sort(messages.begin(), messages.end());
    std::vector<std::uint32_t> expected{vozaro::platform::packShortMessage(0x80, 60, 0),
                                        vozaro::platform::packShortMessage(0x81, 40, 0)};
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(messages, expected);
    sent.clear();
    timers.advance(200);
    ASSERT_FALSE(sent.empty());
    for (const Sent& s : sent) {
        if ((s.status & 0xE0) == 0x80) {
            EXPECT_TRUE(s.data1 == 42 || (s.data1 >= 62 && s.data1 <= 81)) << int(s.data1);
        }
    }
    EXPECT_TRUE(player->Play());
}

TEST_F(PlayerTest, StopAtTheEndRaisesItsHandlerInPlaceWithoutAllocating) {
    // A handler capturing more than a pointer or two would be copied to the
    // heap by a copy of the notification.
    std::array<char, 96> large{};
    large[0] = 's';
    int raised = 0;
    player->OnStop = [large, &raised](TMidiPlayer*) { raised += large[0] == 's' ? 1 : 100; };
    player->setPlay(true);
    timers.advance(1960);  // past every note; the end-of-track at 2000 ms
    ASSERT_TRUE(player->Play());
    countAllocations = true;
    timers.advance(60);
    countAllocations = false;
    EXPECT_EQ(raised, 1);
    EXPECT_EQ(allocationsCounted, 0);
    EXPECT_EQ(player->State(), psStopped);
}

TEST(PlayerLyricClock, SongTimeAgreesWithThePositionOfTheSameTickAtEveryTick) {
    // Lyric times come from SetPosition (ticks to ms), playback moves by
    // SetTime (ms to ticks): through tempo changes after tick 0 the two must
    // agree within one tick at every timer tick.
    vozaro::test::RecordingDevices devices;
    ManualTimerService timers;
    const std::uint32_t tempos[] = {500000, 310000, 745000, 421000, 1000000};
    TrackBuilder map;
    map.tempo(0, tempos[0]).tempo(97, tempos[1]).tempo(151, tempos[2]).tempo(230, tempos[3]).tempo(77, tempos[4]).end(300);
    auto song = loadSong(96, {map, TrackBuilder().note(0, 0, 60, 800).end(0)});
    TTrackOutputs outputs;
    outputs.setMidiData(song.get());
    outputs.setActive(true);
    TMidiPlayer player(timers);
    player.setTrackOutputs(&outputs);
    player.setStopAtEnd(false);
    player.setPlay(true);
    TMidiPosition lyric;
    lyric.setMidiData(song.get());
    int checked = 0;
    while (player.Position() < 860) {
        timers.advance(4);
        lyric.SetPosition(player.Position());
        const std::int64_t tickMs = (lyric.Tempo() + lyric.PPQN() - 1) / lyric.PPQN();
        ASSERT_LE(std::llabs(player.Time() - lyric.Time()), tickMs)
            << "tick " << player.Position() << " at " << player.Time() << " ms";
        ++checked;
    }
    EXPECT_GT(checked, 500);
    EXPECT_EQ(lyric.Tempo(), 1000);  // the last tempo was reached
    player.Stop();
    vozaro::test::closeWithoutWaiting(outputs);
}

TEST_F(PlayerTest, MelodyVolumeScalesItsChannelsVolumeAsSentAndHolds) {
    // Song A: the melody on channel 0 and an accompaniment on channel 1, each
    // with volumes of its own at ticks 0 and 200 (1000 ms).  Song B, played
    // next, has no volume on channel 0.
    using vozaro::platform::packShortMessage;
    const auto songA = vozaro::test::buildSong(
        100, {TrackBuilder().tempo(0, 500000).end(400),
              TrackBuilder().event(0, {0xB0, 7, 100}).note(0, 0, 60, 50).event(150, {0xB0, 7, 60}).note(0, 0, 62, 50).end(150),
              TrackBuilder().event(0, {0xB1, 7, 80}).note(0, 1, 40, 50).event(150, {0xB1, 7, 70}).note(0, 1, 41, 50).end(150)});
    const auto songB = vozaro::test::buildSong(
        100, {TrackBuilder().tempo(0, 500000).end(400),
              TrackBuilder().note(0, 0, 65, 50).end(350),
              TrackBuilder().event(0, {0xB1, 7, 80}).note(0, 1, 43, 50).end(350)});
    auto original = std::make_unique<TMidiData>();
    original->loadFromMemory(songA.data(), songA.size());
    struct Case {
        std::int32_t percent;
        std::vector<int> melodyVolumes;  // channel 0's volume messages as the device got them
    };
    // In order: the setting, the start, ticks 0 and 200, the seek back (the
    // port's controller reset, the scaled default, tick 0 again), the slider
    // moved to 50 while playing, the outputs closed (reset), song B's start.
    const Case cases[] = {
        {100, {100, 100, 60, 90, 100, 50, 90, 50}},
        {40, {40, 40, 40, 24, 90, 40, 40, 50, 90, 50}},
        {0, {0, 0, 0, 0, 90, 0, 0, 50, 90, 50}},
    };
    std::vector<std::uint32_t> othersAtFull;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.percent);
        player->setMelodyVolume(-1, 100);
        loadAfresh(songA);
        devices.recorder->clear();

        player->setMelodyVolume(0, c.percent);
        player->setPlay(true);
        timers.advance(500);
        player->transpose(*original, *song, 2);
        timers.advance(600);
        player->setPosition(0);
        timers.advance(100);
        player->setMelodyVolume(0, 50);
        timers.advance(100);
        player->Stop();

        loadAfresh(songB);
        player->setPlay(true);
        timers.advance(100);
        player->Stop();

        std::vector<int> melody, accompaniment;
        std::vector<std::uint32_t> others;
        for (const std::uint32_t m : deviceMessages()) {
            if ((m & 0xFFFF) == 0x07B0)
                melody.push_back(static_cast<int>(m >> 16));
            else if ((m & 0xFFFF) == 0x07B1)
                accompaniment.push_back(static_cast<int>(m >> 16));
            else
                others.push_back(m);
        }
        EXPECT_EQ(melody, c.melodyVolumes);
        // Channel 1: its own values, the resets' default between them.
        EXPECT_EQ(accompaniment, (std::vector<int>{80, 70, 90, 80, 90, 80}));
        if (othersAtFull.empty())
            othersAtFull = others;
        EXPECT_EQ(others, othersAtFull);  // notes and every other message untouched
        EXPECT_EQ(std::count(others.begin(), others.end(), packShortMessage(0x90, 65, 100)), 1);  // song B played
    }
}
