// The iterator: what it sends through the track outputs as the position
// moves, by playing and by seeking.
#include "midi/cmpMidiIterator.h"
#include "PlayerTestSongs.h"
#include "PlayerTestDevices.h"

#include <gtest/gtest.h>

#include <vector>

using namespace vozaro::midi;
using vozaro::test::loadSong;
using vozaro::test::TrackBuilder;

namespace {

struct Sent {
    std::int32_t port;
    std::uint8_t status, data1, data2;
    bool operator==(const Sent&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Sent& s) {
    return out << "{" << s.port << ", " << std::hex << int(s.status) << " " << int(s.data1) << " "
               << int(s.data2) << std::dec << "}";
}

// Track 0: 5 ms per tick (100 ticks per quarter, 500 ms per quarter).
// Track 1: program, volume, a note, pan, system exclusive, text, a note.
// Track 2: a note on channel 1 at the same time as track 1's first.
class IteratorTest : public ::testing::Test {
protected:
    void SetUp() override {
        song = loadSong(100, {TrackBuilder().tempo(0, 500000).end(400),
                              TrackBuilder()
                                  .event(0, {0xC0, 5})
                                  .event(0, {0xB0, 7, 100})
                                  .note(10, 0, 60, 100)
                                  .event(40, {0xB0, 10, 30})
                                  .event(10, {0xF0, 2, 0x7E, 0xF7})
                                  .meta(10, 0x01, {'h', 'i'})
                                  .note(30, 0, 62, 100)
                                  .end(100),
                              TrackBuilder().note(10, 1, 64, 50).end(10)});
        outputs.setMidiData(song.get());
        outputs.setActive(true);
        outputs.OnEvent = [this](TMidiIterator* sender, std::int32_t port, const TEventData& data) {
            EXPECT_EQ(sender, &iterator);
            sent.push_back({port, data.Status, data.Data1, data.Data2});
        };
        iterator.setTrackOutputs(&outputs);
        iterator.setMidiData(song.get());
        sent.clear();
    }
    void TearDown() override { vozaro::test::closeWithoutWaiting(outputs); }

    vozaro::test::RecordingDevices devices;
    std::unique_ptr<TMidiData> song;
    TTrackOutputs outputs;
    TMidiIterator iterator;
    std::vector<Sent> sent;
};

}  // namespace

TEST_F(IteratorTest, PlayingSendsDueChannelMessagesTrackByTrack) {
    EXPECT_FALSE(iterator.AtEnd());
    iterator.Advance(50);  // tick 10: the events at 0 only
    EXPECT_EQ(iterator.Position(), 10);
    EXPECT_EQ(sent, (std::vector<Sent>{{1, 0xC0, 5, 0}, {1, 0xB0, 7, 100}}));
    sent.clear();
    iterator.Advance(5);  // tick 11: both notes at 10, track 1 first
    EXPECT_EQ(sent, (std::vector<Sent>{{1, 0x90, 60, 100}, {2, 0x91, 64, 100}}));
    sent.clear();
    // Past every record: note offs, the pan, the second note; no meta or
    // system exclusive event ever reaches a port.
    iterator.Advance(10000);
    EXPECT_EQ(sent, (std::vector<Sent>{{1, 0x80, 60, 0},
                                       {1, 0xB0, 10, 30},
                                       {1, 0x90, 62, 100},
                                       {1, 0x80, 62, 0},
                                       {2, 0x81, 64, 0}}));
    EXPECT_TRUE(iterator.AtEnd());
    EXPECT_FALSE(iterator.Playing());
}

TEST_F(IteratorTest, SeekSendsControllersAndProgramsButNoNotes) {
    iterator.SetPosition(250);
    EXPECT_EQ(sent, (std::vector<Sent>{{1, 0xC0, 5, 0}, {1, 0xB0, 7, 100}, {1, 0xB0, 10, 30}}));
    EXPECT_EQ(iterator.Time(), 1250);
    sent.clear();
    iterator.Advance(300);  // to tick 310: the note off at 300 is played
    EXPECT_EQ(sent, (std::vector<Sent>{{1, 0x80, 62, 0}}));
}

TEST_F(IteratorTest, EventExactlyAtThePositionWaitsForTheNextMove) {
    iterator.SetPosition(150);
    EXPECT_EQ(sent.size(), 2u);
    iterator.SetPosition(151);
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent.back(), (Sent{1, 0xB0, 10, 30}));
}

TEST_F(IteratorTest, GoingBackRewindsAndPlaysAgain) {
    iterator.Advance(10000);
    ASSERT_TRUE(iterator.AtEnd());
    sent.clear();
    iterator.SetTime(0);  // earlier: reset, outputs rewound
    EXPECT_FALSE(iterator.AtEnd());
    EXPECT_EQ(iterator.Position(), 0);
    for (std::int32_t i = 0; i < outputs.Count(); ++i)
        EXPECT_EQ(outputs.Outputs(i)->NextEvent(), 0);
    iterator.Advance(55);
    EXPECT_EQ(sent.size(), 4u);
}

TEST_F(IteratorTest, TransposedNoteIsSentAsRewritten) {
    TTrackEvent* noteOn = song->Tracks(1)->Event(2);
    ASSERT_EQ(noteOn->Message.Status, 0x90);
    noteOn->Message.storeData1(72);
    iterator.Advance(55);
    EXPECT_EQ(sent[2], (Sent{1, 0x90, 72, 100}));
}

TEST_F(IteratorTest, AtEndWithoutOutputsOrRecords) {
    TTrackOutputs none;  // inactive: no outputs at all
    TMidiIterator bare;
    bare.setTrackOutputs(&none);
    bare.Reset();
    EXPECT_TRUE(bare.AtEnd());
    bare.Advance(10);
    EXPECT_TRUE(bare.AtEnd());
}

TEST_F(IteratorTest, OneOwnPortPerTrackOnOneSharedDevice) {
    ASSERT_EQ(outputs.Count(), 3);
    for (std::int32_t i = 0; i < 3; ++i) {
        EXPECT_EQ(outputs.Outputs(i)->Track(), song->Tracks(i));
        EXPECT_TRUE(outputs.Outputs(i)->Port()->Active());
    }
    EXPECT_NE(outputs.Outputs(0)->Port(), outputs.Outputs(1)->Port());
    EXPECT_EQ(devices.recorder->openHandles(0), 1);
    EXPECT_EQ(outputs.Outputs(3), nullptr);
    // Taking the outputs sent every track's first program, track by track, so
    // channel 0 ends with track 1's.
    auto messages = devices.recorder->messages(0);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), vozaro::platform::packShortMessage(0xC0, 5, 0));
    EXPECT_EQ(outputs.Outputs(1)->Port()->PhysicalPort()->Programs(0), 5);
}

TEST(TrackOutputs, DeviceThatDoesNotOpenLeavesThePartBuiltSoFar) {
    vozaro::test::RecordingDevices devices;
    auto song = loadSong(96, {TrackBuilder().end(10), TrackBuilder().end(10), TrackBuilder().end(10)});
    devices.recorder->setOpenFails(1, true);
    TTrackOutputs outputs;
    outputs.setDefaultOutputPort(1);
    outputs.setMidiData(song.get());
    try {
        outputs.setActive(true);
        FAIL() << "no exception";
    } catch (const EMidiOutputPort& e) {
        EXPECT_STREQ(e.what(), "Unable to open port");
    }
    EXPECT_TRUE(outputs.Active());
    ASSERT_EQ(outputs.Count(), 1);
    EXPECT_FALSE(outputs.Outputs(0)->Port()->Active());
    outputs.AllNotesOff();  // harmless on an inactive port

    // Built again once the device opens.
    devices.recorder->setOpenFails(1, false);
    vozaro::test::closeWithoutWaiting(outputs);
    outputs.setActive(true);
    EXPECT_EQ(outputs.Count(), 3);
    EXPECT_EQ(devices.recorder->openHandles(1), 1);

    // Another song rebuilds active outputs for it.
    auto other = loadSong(96, {TrackBuilder().end(10)});
    for (std::int32_t i = 0; i < outputs.Count(); ++i)
        outputs.Outputs(i)->Port()->setSysexLatency(0);
    outputs.setMidiData(other.get());
    EXPECT_TRUE(outputs.Active());
    EXPECT_EQ(outputs.Count(), 1);
    vozaro::test::closeWithoutWaiting(outputs);
    EXPECT_EQ(devices.recorder->openHandles(1), 0);
}
