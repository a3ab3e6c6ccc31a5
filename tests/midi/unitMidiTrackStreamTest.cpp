#include "midi/unitMidiTrackStream.h"

#include <gtest/gtest.h>

#include <string>

#include "midi/SmfBytes.h"

using namespace vozaro::midi;
using namespace vozaro::midi::fixtures;

namespace {

// Loads one track from the bytes of its events.
struct Loaded {
    TMidiTrackStream track{TMidiTrackStream::kFileTrackEvents};
    explicit Loaded(const Bytes& events) {
        const Bytes chunk = fixtures::track(events);
        ReadOnlyMemoryStream source(chunk.data(), chunk.size());
        track.LoadFromStream(source);
    }
    const TTrackEvent& at(int i) const { return *track.Event(i); }
    std::string metaText(int i) const {
        const TTrackEvent& e = at(i);
        const std::uint8_t* data = track.payload(&e);
        return std::string(reinterpret_cast<const char*>(data) + 1, e.Length - 1u);
    }
    bool isEndOfTrack(int i) const {
        const TTrackEvent& e = at(i);
        return e.Message.Status == 0xFF && track.payload(&e)[0] == 0x2F;
    }
};

std::string loadError(const Bytes& events) {
    try {
        Loaded loaded(events);
    } catch (const std::exception& e) {
        return e.what();
    }
    return "loaded";
}

Bytes note(std::uint32_t delta, std::uint8_t status, std::uint8_t key, std::uint8_t velocity) {
    return vlq(delta) + Bytes{status, key, velocity};
}

}  // namespace

TEST(TrackStream, EmptyChunkGetsAnEndOfTrackAtTimeZero) {
    Loaded t({});
    ASSERT_EQ(t.track.EventCount(), 1);
    EXPECT_TRUE(t.isEndOfTrack(0));
    EXPECT_EQ(t.at(0).Time, 0);
    EXPECT_EQ(t.at(0).Length, 1);
    EXPECT_EQ(t.track.position(), 15);
    EXPECT_EQ(t.track.Event(-1), nullptr);
    EXPECT_EQ(t.track.Event(1), nullptr);
}

TEST(TrackStream, ChannelMessagesRunningStatusAndFirstValues) {
    // Running status continues across a meta and a system exclusive event.
    Loaded t(note(0, 0x91, 60, 100) + meta(0, 0x01, text("hi")) + sysex(0, 0xF0, {0x7E, 0xF7}) +
             vlq(10) + Bytes{62, 90} +             // running 0x91
             vlq(0) + Bytes{0xC3, 7} +             // program change: one data byte
             vlq(5) + Bytes{9} +                    // running 0xC3
             vlq(0) + Bytes{0xE1, 0x00, 0x40} + endOfTrack());
    ASSERT_EQ(t.track.EventCount(), 8);
    EXPECT_EQ(t.at(3).Message.Status, 0x91);
    EXPECT_EQ(t.at(3).Message.Data1, 62);
    EXPECT_EQ(t.at(3).Message.Data2, 90);
    EXPECT_EQ(t.at(3).Time, 10);
    EXPECT_EQ(t.at(4).Message.Data2, 0);
    EXPECT_EQ(t.at(5).Message.Status, 0xC3);
    EXPECT_EQ(t.at(5).Message.Data1, 9);
    EXPECT_EQ(t.at(5).Time, 15);
    EXPECT_EQ(t.at(6).Message.Data2, 0x40);
    EXPECT_EQ(t.at(3).Length, 0);
    EXPECT_EQ(t.at(3).Message.Data3, 0);
    EXPECT_EQ(t.track.FirstChannel(), 1);
    EXPECT_EQ(t.track.FirstProgram(), 7);
    EXPECT_TRUE(t.isEndOfTrack(7));
}

TEST(TrackStream, ParseErrors) {
    EXPECT_EQ(loadError(vlq(0) + Bytes{60, 100} + endOfTrack()), "Error in Running Status");
    // An unterminated packet must be continued by an 0xF7 event.
    EXPECT_EQ(loadError(sysex(0, 0xF0, {0x43, 0x10}) + note(0, 0x90, 60, 1) + endOfTrack()),
              "Error in Sysex");
    EXPECT_EQ(loadError(sysex(0, 0xF0, {0x43, 0x10}) + endOfTrack()), "Error in Sysex");
    const Bytes notMtrk = text("MThd") + be32(0);
    ReadOnlyMemoryStream source(notMtrk.data(), notMtrk.size());
    TMidiTrackStream track(10);
    try {
        track.LoadFromStream(source);
        FAIL() << "loaded";
    } catch (const EMidiTrackStream& e) {
        EXPECT_STREQ(e.what(), "Invalid track start ID");
    }
}

TEST(TrackStream, TruncatedChunksAreRefusedWithoutReadingPastThem) {
    const std::string truncated = "Unexpected end of track data";
    EXPECT_EQ(loadError(Bytes{0x81}), truncated);                             // delta runs out
    EXPECT_EQ(loadError(Bytes{0x00}), truncated);                             // no status
    EXPECT_EQ(loadError(Bytes{0x00, 0x90, 60}), truncated);                   // second data byte missing
    EXPECT_EQ(loadError(Bytes{0x00, 0xFF, 0x01, 0x05, 'a', 'b'}), truncated);  // text runs past
    EXPECT_EQ(loadError(Bytes{0x00, 0xF0, 0x83}), truncated);                 // length runs out
    EXPECT_EQ(loadError(Bytes{0x00, 0xFF}), truncated);                       // no meta type

    // The declared chunk length past the end of the source is a short read.
    const Bytes chunk = text("MTrk") + be32(100) + endOfTrack();
    ReadOnlyMemoryStream source(chunk.data(), chunk.size());
    TMidiTrackStream track(10);
    EXPECT_THROW(track.LoadFromStream(source), StreamReadError);
}

TEST(TrackStream, SystemExclusivePacketsAndContinuations) {
    Loaded t(sysex(0, 0xF0, {0x43, 0x10}) + sysex(3, 0xF7, {0x4C, 0xF7}) + sysex(0, 0xF7, {0xFA, 0xF7}) +
             endOfTrack());
    ASSERT_EQ(t.track.EventCount(), 4);
    EXPECT_EQ(t.at(0).Message.Status, 0xF0);
    EXPECT_EQ(t.at(0).Length, 2);
    EXPECT_EQ(t.track.payload(&t.at(0))[1], 0x10);
    EXPECT_EQ(t.at(1).Message.Status, 0xF7);
    EXPECT_EQ(t.at(1).Time, 3);
    EXPECT_EQ(t.track.payload(&t.at(1))[1], 0xF7);
    EXPECT_EQ(t.at(2).Length, 2);  // no terminator added
    EXPECT_EQ(t.track.payload(&t.at(2))[0], 0xFA);
    // An escape packet that does not end in 0xF7 also waits for a continuation.
    EXPECT_EQ(loadError(sysex(0, 0xF7, {0xFA}) + endOfTrack()), "Error in Sysex");
}

TEST(TrackStream, OverlongDataBlocksAreRefused) {
    Bytes packet(65535, 0x11);
    packet.back() = 0xF7;
    EXPECT_EQ(loadError(sysex(0, 0xF0, packet) + endOfTrack()), "loaded");
    packet.insert(packet.begin(), 0x11);
    EXPECT_EQ(loadError(sysex(0, 0xF0, packet) + endOfTrack()), "Event data too long");
    EXPECT_EQ(loadError(meta(0, 0x01, Bytes(65534, 'x'))), "loaded");
    EXPECT_EQ(loadError(meta(0, 0x01, Bytes(65535, 'x'))), "Event data too long");
}

TEST(TrackStream, LongDeltaTimes) {
    // Five bytes with leading empty groups are read in full.
    Loaded t(Bytes{0x80, 0x80, 0x80, 0x80, 0x05, 0x90, 60, 1} + endOfTrack(7));
    ASSERT_EQ(t.track.EventCount(), 2);
    EXPECT_EQ(t.at(0).Time, 5);
    EXPECT_EQ(t.at(1).Time, 12);
    // The largest time is accepted, one tick more is refused.
    EXPECT_EQ(loadError(vlq(0x7FFFFFFF) + Bytes{0xFE}), "loaded");
    EXPECT_EQ(loadError(vlq(0x7FFFFFFF) + Bytes{0xFE} + vlq(1) + Bytes{0xFE}), "Event time out of range");
    EXPECT_EQ(loadError(Bytes{0x8F, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFE}), "Event time out of range");
}

TEST(TrackStream, SystemStatusesHaveNoDataAndEventsAfterTheEndAreKept) {
    Loaded t(Bytes{0x00, 0xF1, 0x00, 0xF8} + endOfTrack(4) + note(2, 0x90, 60, 64) + meta(0, 0x01, text("x")));
    ASSERT_EQ(t.track.EventCount(), 5);
    EXPECT_EQ(t.at(0).Message.Status, 0xF1);
    EXPECT_EQ(t.at(0).Length, 0);
    EXPECT_EQ(t.at(1).Message.Status, 0xF8);
    EXPECT_TRUE(t.isEndOfTrack(2));
    EXPECT_EQ(t.at(3).Time, 6);
    EXPECT_EQ(t.metaText(4), "x");
}

TEST(TrackStream, MissingEndOfTrackIsAppendedLast) {
    Loaded t(note(10, 0x90, 60, 64) + note(20, 0x80, 60, 0) + meta(0, 0x01, text("last")));
    ASSERT_EQ(t.track.EventCount(), 4);
    EXPECT_EQ(t.metaText(2), "last");
    EXPECT_TRUE(t.isEndOfTrack(3));
    EXPECT_EQ(t.at(3).Time, 30);
}

TEST(TrackStream, MetaTextHasNoTerminatorAndNameEventRules) {
    Loaded t(meta(0, 0x01, text("first text")) + meta(0, 0x01, text("second")) +
             meta(0, 0x03, text("Name A")) + meta(0, 0x03, text("Name B")) + endOfTrack());
    EXPECT_EQ(t.at(0).Length, 11);
    EXPECT_EQ(t.metaText(0), "first text");
    EXPECT_EQ(t.track.NameEvent(), t.track.Event(3));
    Loaded onlyText(meta(0, 0x01, text("first")) + meta(0, 0x01, text("second")) + endOfTrack());
    EXPECT_EQ(onlyText.track.NameEvent(), onlyText.track.Event(0));
    Loaded none(note(0, 0x90, 1, 1));
    EXPECT_EQ(none.track.NameEvent(), nullptr);
}

TEST(TrackStream, PairNotesByNumberAcrossChannels) {
    Loaded t(note(0, 0x90, 60, 100) + note(0, 0x91, 60, 100) +  // two open 60s
             note(5, 0x92, 60, 0) +                              // closes the second
             note(5, 0x80, 60, 0) +                              // closes the first
             note(0, 0x80, 60, 0) +                              // nothing open
             endOfTrack());
    EXPECT_EQ(t.track.partnerOf(&t.at(1)), &t.at(2));
    EXPECT_EQ(t.track.partnerOf(&t.at(2)), &t.at(1));
    EXPECT_EQ(t.track.partnerOf(&t.at(0)), &t.at(3));
    EXPECT_EQ(t.track.partnerOf(&t.at(4)), nullptr);

    Bytes six;
    for (int i = 0; i < 6; ++i)
        six = six + note(0, 0x90, 40, 90);
    for (int i = 0; i < 6; ++i)
        six = six + note(1, 0x80, 40, 0);
    Loaded deep(six);
    EXPECT_EQ(deep.track.partnerOf(&deep.at(5)), nullptr);      // sixth note-on stays unpaired
    EXPECT_EQ(deep.track.partnerOf(&deep.at(4)), &deep.at(6));  // the latest open one closes first
    EXPECT_EQ(deep.track.partnerOf(&deep.at(0)), &deep.at(10));
    EXPECT_EQ(deep.track.partnerOf(&deep.at(11)), nullptr);
}

TEST(TrackStream, FindEventModes) {
    Loaded t(note(0, 0x90, 1, 1) + note(10, 0x90, 2, 1) + note(0, 0x90, 3, 1) + note(0, 0x90, 4, 1) +
             note(10, 0x90, 5, 1) + endOfTrack());
    EXPECT_EQ(t.track.FindEvent(10, feFirst), 1);
    EXPECT_EQ(t.track.FindEvent(10, feLast), 3);
    const int any = t.track.FindEvent(10, feAny);
    EXPECT_TRUE(any >= 1 && any <= 3);
    EXPECT_EQ(t.track.FindEvent(5, feFirst), 1);  // the first later record
    EXPECT_EQ(t.track.FindEvent(21, feLast), -1);
    TMidiTrackStream empty(10);
    EXPECT_EQ(empty.FindEvent(0, feAny), -1);
}

TEST(TrackStream, InsertKeepsTheEndOfTrackLast) {
    Loaded t(note(0, 0x90, 60, 1) + note(10, 0x80, 60, 0) + note(0, 0xB0, 7, 100) + endOfTrack(5));
    EXPECT_FALSE(t.track.Modified());
    TEventData msg{0xC0, 5, 0, 0, 0};
    // Later than the end: lands before it and drags it along.
    const TTrackEvent* e = t.track.InsertEvent(100, msg, 0);
    EXPECT_EQ(t.track.indexOf(e), 3);
    EXPECT_TRUE(t.isEndOfTrack(4));
    EXPECT_EQ(t.at(4).Time, 100);
    EXPECT_TRUE(t.track.Modified());
    // At a shared time: after every record of that time.
    msg.Data1 = 6;
    e = t.track.InsertEvent(10, msg, 0);
    EXPECT_EQ(t.track.indexOf(e), 3);
    EXPECT_EQ(t.at(3).Message.Data1, 6);
    EXPECT_EQ(t.at(2).Message.Status, 0xB0);
    // Pairs stay linked after the records moved.
    EXPECT_EQ(t.track.partnerOf(&t.at(0)), &t.at(1));
    EXPECT_EQ(t.track.partnerOf(&t.at(1)), &t.at(0));
    EXPECT_EQ(t.track.EventCount(), 6);
}

TEST(TrackStream, InsertBeforeAPairMovesItsLinksAndTheName) {
    Loaded t(meta(5, 0x03, text("Voz")) + note(5, 0x90, 60, 1) + note(10, 0x80, 60, 0) + endOfTrack());
    const TEventData msg{0xB0, 7, 1, 0, 0};
    t.track.InsertEvent(0, msg, 0);
    EXPECT_EQ(t.track.NameEvent(), t.track.Event(1));
    EXPECT_EQ(t.track.partnerOf(&t.at(2)), &t.at(3));
    EXPECT_EQ(t.track.partnerOf(&t.at(3)), &t.at(2));
}

TEST(TrackStream, AddMetaEventAndInsertIntoAnEmptyTrack) {
    TMidiTrackStream track(100);
    const Bytes lyric = text("la");
    const TTrackEvent* e = track.AddMetaEvent(7, 0x05, 2, lyric.data());
    ASSERT_EQ(track.EventCount(), 1);
    EXPECT_EQ(e->Length, 3);
    EXPECT_EQ(e->Time, 7);
    const std::uint8_t* data = track.payload(e);
    EXPECT_EQ(data[0], 0x05);
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(data) + 1, 2), "la");
    // Without an end-of-track record nothing can go after the last record.
    const TEventData msg{0x90, 1, 1, 0, 0};
    try {
        track.InsertEvent(8, msg, 0);
        FAIL() << "inserted";
    } catch (const EMidiTrackStream& err) {
        EXPECT_STREQ(err.what(), "System error inserting event");
    }
    EXPECT_THROW(track.AddMetaEvent(0, 0x01, 65535, nullptr), EMidiTrackStream);
}

TEST(TrackStream, CapacityOfOneHundredThousandEvents) {
    Bytes events;
    for (int i = 0; i < 99999; ++i)
        events.insert(events.end(), {0x00, 0xFE});
    Loaded full(events + endOfTrack());
    EXPECT_EQ(full.track.EventCount(), 100000);
    EXPECT_EQ(full.track.committedSize(), 1500000);
    EXPECT_EQ(loadError(events + Bytes{0x00, 0xFE} + endOfTrack()), "Size exceeds capacity");
    // Without an end-of-track record the added one is the 100,001st.
    EXPECT_EQ(loadError(events + Bytes{0x00, 0xFE}), "Size exceeds capacity");
}

TEST(TrackStream, LoadLeavesTheSourceAfterTheChunk) {
    const Bytes bytes = track(note(0, 0x90, 60, 1)) + text("MTrk");
    ReadOnlyMemoryStream source(bytes.data(), bytes.size());
    TMidiTrackStream t(10);
    t.LoadFromStream(source);
    EXPECT_EQ(source.position(), static_cast<std::int64_t>(bytes.size()) - 4);
}

TEST(TrackStream, Data1RewrittenInPlace) {
    Loaded t(note(0, 0x90, 60, 1));
    t.track.Event(0)->Message.storeData1(62);
    EXPECT_EQ(t.at(0).Message.loadData1(), 62);
    EXPECT_EQ(t.at(0).Message.Data1, 62);
}
