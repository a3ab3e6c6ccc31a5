// Song position: ticks, milliseconds and bar/beat/tick through the tempo map.
#include "midi/cmpMidiIterator.h"
#include "PlayerTestSongs.h"

#include <gtest/gtest.h>

using namespace vozaro::midi;
using vozaro::test::loadSong;
using vozaro::test::TrackBuilder;

TEST(MidiPosition, WithoutSongUsesDefaultTempoAndDivision) {
    TMidiPosition position;
    position.SetPosition(180);
    EXPECT_EQ(position.Time(), 600);
    EXPECT_EQ(position.Bar(), 0);
    EXPECT_EQ(position.Beat(), 1);
    // Without a song SetTime changes the time only.
    position.SetTime(5000);
    EXPECT_EQ(position.Time(), 5000);
    EXPECT_EQ(position.Position(), 180);
}

TEST(MidiPosition, TempoIsWholeMillisecondsPerQuarter) {
    auto song = loadSong(120, {TrackBuilder().tempo(0, 500000).tempo(240, 428571).end(240)});
    TMidiPosition position;
    position.setMidiData(song.get());
    position.SetPosition(0);
    EXPECT_EQ(position.Tempo(), 500);
    position.SetPosition(240);
    EXPECT_EQ(position.Tempo(), 428);
    EXPECT_EQ(position.Time(), 1000);
    position.SetPosition(360);
    EXPECT_EQ(position.Time(), 1000 + 120 * 428 / 120);
}

TEST(MidiPosition, TicksAndTimeConvertBothWaysAcrossTempoChanges) {
    // 100 ticks per quarter: 500 ms per quarter for 200 ticks, then 1000 ms.
    auto song = loadSong(100, {TrackBuilder().tempo(0, 500000).tempo(200, 1000000).end(1000)});
    TMidiPosition position;
    position.setMidiData(song.get());
    position.SetPosition(300);
    EXPECT_EQ(position.Time(), 2000);
    EXPECT_EQ(position.TempoTick(), 200);
    EXPECT_EQ(position.TempoTime(), 1000);

    position.SetTime(2500);
    EXPECT_EQ(position.Position(), 350);
    // Going back starts again from the start of the tempo map.
    position.SetTime(500);
    EXPECT_EQ(position.Position(), 100);
    EXPECT_EQ(position.Tempo(), 500);
    EXPECT_EQ(position.MapIndex(), 1);
    position.SetPosition(50);
    EXPECT_EQ(position.Time(), 250);
}

TEST(MidiPosition, ThreeFourAndSixEightBars) {
    auto waltz = loadSong(96, {TrackBuilder().signature(0, 3, 2).end(2000)});
    TMidiPosition position;
    position.setMidiData(waltz.get());
    position.SetPosition(300);
    EXPECT_EQ(position.TicksPerBeat(), 96);
    EXPECT_EQ(position.TicksPerBar(), 288);
    EXPECT_EQ(position.Bar(), 1);
    EXPECT_EQ(position.Beat(), 0);
    EXPECT_EQ(position.Tick(), 12);

    auto sixEight = loadSong(96, {TrackBuilder().signature(0, 6, 3).end(2000)});
    position.setMidiData(sixEight.get());
    position.SetPosition(0);
    EXPECT_EQ(position.TicksPerBeat(), 48);
    EXPECT_EQ(position.TicksPerBar(), 288);
}

TEST(MidiPosition, IncompleteBarBeforeNewSignatureCountsAsWholeBar) {
    // 4/4 for half a bar (192 of 384 ticks), then 3/4.
    auto song = loadSong(96, {TrackBuilder().signature(0, 4, 2).signature(192, 3, 2).end(2000)});
    TMidiPosition position;
    position.setMidiData(song.get());
    position.SetPosition(192 + 288 + 96 + 5);
    EXPECT_EQ(position.SignatureBar(), 1);
    EXPECT_EQ(position.Bar(), 2);
    EXPECT_EQ(position.Beat(), 1);
    EXPECT_EQ(position.Tick(), 5);

    // The same musical place reached by bar, beat and tick.
    TMidiPosition byBar;
    byBar.setMidiData(song.get());
    byBar.SetBarBeatTick(2, 1, 5);
    EXPECT_EQ(byBar.Position(), position.Position());
    EXPECT_EQ(byBar.Time(), position.Time());
    // Back to bar 1: it starts where the new signature does.
    byBar.SetBarBeatTick(1, 0, 0);
    EXPECT_EQ(byBar.Position(), 192);
}

TEST(MidiPosition, AssignCopiesThePosition) {
    auto song = loadSong(96, {TrackBuilder().tempo(0, 400000).signature(0, 3, 2).end(5000)});
    TMidiPosition a;
    a.setMidiData(song.get());
    a.SetTime(3000);
    TMidiPosition b;
    b.Assign(a);
    EXPECT_EQ(b.MidiData(), song.get());
    EXPECT_EQ(b.Position(), a.Position());
    EXPECT_EQ(b.Time(), 3000);
    EXPECT_EQ(b.Bar(), a.Bar());
    EXPECT_EQ(b.Tempo(), 400);
    EXPECT_EQ(b.MapIndex(), a.MapIndex());
    b.SetPosition(a.Position() + 96);
    EXPECT_EQ(b.Beat(), (a.Beat() + 1) % 3);
}

TEST(MidiPosition, SongsThatWouldDivideByZeroAreReadWithSafeValues) {
    // Division 0: read as 180 ticks per quarter.
    auto noDivision = loadSong(0, {TrackBuilder().end(100)});
    TMidiPosition position;
    position.setMidiData(noDivision.get());
    EXPECT_EQ(position.PPQN(), 180);
    position.SetTime(600);
    EXPECT_EQ(position.Position(), 180);

    // 500 us per quarter would be 0 ms: 1 ms instead.
    auto fast = loadSong(100, {TrackBuilder().tempo(0, 500).end(1000)});
    position.setMidiData(fast.get());
    position.SetTime(5);
    EXPECT_EQ(position.Tempo(), 1);
    EXPECT_EQ(position.Position(), 500);

    // Numerator 0 and a denominator power far beyond any note value.
    auto odd = loadSong(96, {TrackBuilder().signature(0, 0, 40).signature(10, 4, 200).end(1000)});
    position.setMidiData(odd.get());
    position.SetPosition(500);
    EXPECT_EQ(position.TicksPerBeat(), 1);
    EXPECT_EQ(position.TicksPerBar(), 4);
    position.SetBarBeatTick(200, 0, 0);
    EXPECT_EQ(position.Position(), 10 + 200 * 4 - 4 * 10);

    // Tempo and signature events too short to hold their data change nothing.
    auto shortMeta = loadSong(100, {TrackBuilder().meta(0, 0x51, {0x07}).meta(0, 0x58, {3}).end(1000)});
    position.setMidiData(shortMeta.get());
    position.SetPosition(100);
    EXPECT_EQ(position.Tempo(), 600);
    EXPECT_EQ(position.Numerator(), 4);
    EXPECT_EQ(position.Time(), 600);
}

TEST(MidiPosition, LongSongsWithFineResolutionDoNotWrap) {
    // 30000 ticks per quarter, 600 ms per quarter: a hundred hours is
    // 18,000,000,000 ticks, and the products on the way pass 2^40.
    auto song = loadSong(30000, {TrackBuilder().end(10)});
    TMidiPosition position;
    position.setMidiData(song.get());
    const std::int64_t hundredHours = 100LL * 3600 * 1000;
    position.SetTime(hundredHours);
    EXPECT_EQ(position.Position(), hundredHours * 30000 / 600);
    position.SetPosition(position.Position() + 30000);
    EXPECT_EQ(position.Time(), hundredHours + 600);
}

TEST(MidiPosition, RefreshReadsTheSameSongObjectAnew) {
    TMidiData song;
    auto first = vozaro::test::buildSong(100, {TrackBuilder().tempo(0, 1000000).end(100)});
    song.loadFromMemory(first.data(), first.size());
    TMidiPosition position;
    position.setMidiData(&song);
    position.SetPosition(100);
    EXPECT_EQ(position.Time(), 1000);

    auto second = vozaro::test::buildSong(50, {TrackBuilder().tempo(0, 500000).end(100)});
    song.loadFromMemory(second.data(), second.size());
    position.Refresh();
    EXPECT_EQ(position.PPQN(), 50);
    EXPECT_EQ(position.Time(), 1000);  // 100 ticks = 2 quarters of 500 ms
}
