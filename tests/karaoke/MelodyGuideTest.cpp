// The melody's lines as the stage's band shows them: which notes a lyric line
// holds, where they sit on a band, the key, and which line shows when.
#include <gtest/gtest.h>

#include "karaoke/MelodyGuide.h"
#include "karaoke/SongNotes.h"

using vozaro::stage::BandLayout;
using vozaro::stage::MelodyLine;
using vozaro::stage::SongNote;
using vozaro::test::n;

namespace {

// Two lines, "Do re mi" at 1000, 1500, 2000 ms and "Fa sol" at 3000, 3600;
// the voice on channel 1 with a passing note (65 at 2400) between them and a
// long last note; a chord on channel 2 that is not the melody.  (The stage's
// tests play the same song from a file.)
class SongWithKnownNotes : public ::testing::Test {
protected:
    void SetUp() override {
        const std::vector<SongNote> notes{n(900, 4900, 2, 48), n(900, 4900, 2, 55), n(1000, 1400, 1, 60),
                                          n(1500, 1900, 1, 62), n(2000, 2300, 1, 64), n(2400, 2600, 1, 65),
                                          n(3000, 3500, 1, 67), n(3600, 5000, 1, 72)};
        const std::vector<std::int32_t> times{1000, 1500, 2000, 3000, 3600};
        const vozaro::stage::Melody melody = vozaro::stage::findMelody(notes, times);
        ASSERT_EQ(melody.channel, 1);
        lines = vozaro::stage::melodyLines(
            notes, melody, times, vozaro::stage::lyricLineStarts({"Do", "re", "mi", "/Fa", "sol"}));
    }

    std::vector<MelodyLine> lines;
};

TEST_F(SongWithKnownNotes, EachLineHoldsItsNotesOverItsSpan) {
    ASSERT_EQ(lines.size(), 2u);
    const struct {
        int first, last;
        std::int32_t startMs, endMs;
        std::vector<std::pair<std::int32_t, int>> notes;  // start, note
    } expected[] = {
        {0, 2, 1000, 2600, {{1000, 60}, {1500, 62}, {2000, 64}, {2400, 65}}},
        {3, 4, 3000, 5000, {{3000, 67}, {3600, 72}}},
    };
    for (std::size_t k = 0; k < lines.size(); ++k) {
        SCOPED_TRACE(k);
        EXPECT_EQ(lines[k].firstSyllable, expected[k].first);
        EXPECT_EQ(lines[k].lastSyllable, expected[k].last);
        EXPECT_EQ(lines[k].startMs, expected[k].startMs);
        EXPECT_EQ(lines[k].endMs, expected[k].endMs);
        std::vector<std::pair<std::int32_t, int>> notes;
        for (const SongNote& n : lines[k].notes)
            notes.emplace_back(n.startMs, n.note);
        EXPECT_EQ(notes, expected[k].notes);
    }
    EXPECT_EQ(lines[0].noteAt(1700)->note, 62);  // sounding
    EXPECT_EQ(lines[0].noteAt(1950)->note, 62);  // ended last
    EXPECT_EQ(lines[0].noteAt(500)->note, 60);   // before the first: the first
}

// Bars: left edge at the note's start, length in proportion to its
// duration, higher for a higher note; the key moves every bar by the same
// number of semitones and leaves the columns alone.
TEST_F(SongWithKnownNotes, BarsFollowTimePitchAndKey) {
    const MelodyLine& line = lines[0];
    const QRect area(50, 300, 900, 80);
    const BandLayout plain(line, 0, area);
    // 1000 to 2600 ms over the inner 892 columns.
    const double perMs = 891.0 / 1600.0;
    for (const SongNote& n : line.notes) {
        const QRect bar = plain.bar(n);
        SCOPED_TRACE(n.note);
        EXPECT_NEAR(bar.left(), 54 + (n.startMs - 1000) * perMs, 1.0);
        EXPECT_NEAR(bar.width(), (n.endMs - n.startMs) * perMs, 1.5);
        EXPECT_TRUE(area.contains(bar));
    }
    EXPECT_LT(plain.bar(line.notes[1]).center().y(), plain.bar(line.notes[0]).center().y());
    EXPECT_GE(plain.highestNote() - plain.lowestNote(), 12);

    // Within the octave shown the bars move by the key's semitones; beyond
    // it the band widens and keeps them on it.
    const BandLayout up(line, 3, area);
    const BandLayout down(line, -5, area);
    for (const SongNote& n : line.notes) {
        SCOPED_TRACE(n.note);
        EXPECT_EQ(up.bar(n).left(), plain.bar(n).left());
        EXPECT_EQ(up.bar(n).width(), plain.bar(n).width());
        EXPECT_EQ(up.bar(n).top(), plain.bar(n).top() - static_cast<int>(3 * plain.semitone()));
        EXPECT_GT(down.bar(n).top(), plain.bar(n).top());
        EXPECT_TRUE(area.contains(down.bar(n)));
    }
    EXPECT_EQ(down.lowestNote(), 60 - 5 - 1);
    // A wide line scales its range to fit; the mark stays within the band.
    EXPECT_EQ(plain.x(0), plain.x(1000));
    EXPECT_EQ(plain.x(99999), plain.x(2600));
    EXPECT_EQ(plain.y(200), area.top() + 4);
}

// The band shows the line being sung while its notes sound, then the next
// line once it is on the stage, and nothing in between or at the end.
TEST_F(SongWithKnownNotes, TheLineShownFollowsTheLyrics) {
    const struct {
        const char* name;
        int sung, loaded;
        bool shown;
        std::int64_t now;
        int line;
    } cases[] = {
        {"before the countdown", -1, -1, false, 0, -1},
        {"the lines on the stage, nothing sung yet", -1, 4, true, 0, 0},
        {"inside the first line", 1, 4, true, 1600, 0},
        {"its passing note still sounds", 2, 4, true, 2500, 0},
        {"its notes have ended: the next line", 2, 4, true, 2700, 1},
        {"the next line is not on the stage yet", 2, 2, true, 2700, -1},
        {"the lyric area erased", 2, 4, false, 2700, -1},
        {"the last note held after the last syllable", 4, 4, false, 4900, 1},
        {"the song's end", 4, 4, false, 5000, -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(vozaro::stage::bandLine(lines, c.sung, c.loaded, c.shown, c.now), c.line) << c.name;
}

TEST(MelodyGuide, LinesStartAtTheBreaks) {
    EXPECT_EQ(vozaro::stage::lyricLineStarts({"Can", "ta", "/mos", "jun", "\\tos", "/a"}),
              (std::vector<int>{0, 2, 4, 5}));
    EXPECT_TRUE(vozaro::stage::lyricLineStarts({}).empty());
    // No melody: no lines.
    EXPECT_TRUE(vozaro::stage::melodyLines({{0, 100, 0, 60}}, {}, {0}, {0}).empty());
}

}  // namespace
