// Finding the melody a song's syllables are sung on, and judging a sung
// pitch against its notes.
#include <gtest/gtest.h>

#include <cmath>

#include "karaoke/Melody.h"
#include "karaoke/SongNotes.h"

using vozaro::stage::findMelody;
using vozaro::stage::inTune;
using vozaro::stage::Melody;
using vozaro::stage::SongNote;
using vozaro::test::n;
using vozaro::stage::transposedNote;

namespace {

TEST(Melody, IsTheChannelWhoseNotesStartAtTheSyllables) {
    const std::vector<std::int32_t> syllables{1000, 1500, 2000, 2500, 3000};
    const struct {
        const char* name;
        std::vector<SongNote> notes;
        int channel;
        std::vector<int> sung;
    } cases[] = {
        {"one voice on every syllable",
         {n(1000, 1400, 0, 60), n(1500, 1900, 0, 62), n(2000, 2400, 0, 64), n(2500, 2900, 0, 65),
          n(3000, 3400, 0, 67)},
         0, {60, 62, 64, 65, 67}},
        {"a held chord sounds at every syllable but starts at none",
         {n(900, 3500, 1, 48), n(900, 3500, 1, 52), n(1010, 1400, 2, 72), n(1520, 1900, 2, 71),
          n(1980, 2400, 2, 69), n(2500, 2900, 2, 67)},
         2, {72, 71, 69, 67, -1}},
        {"drums are never the melody; a held melody note is kept",
         {n(1000, 1100, 9, 36), n(1500, 1600, 9, 36), n(2000, 2100, 9, 36), n(2500, 2600, 9, 36),
          n(3000, 3100, 9, 36), n(1000, 2000, 3, 55), n(2000, 3000, 3, 57), n(3000, 3400, 3, 59)},
         3, {55, 55, 57, 57, 59}},
        {"60 ms early and late still coincide",
         {n(940, 1400, 4, 60), n(1560, 1900, 4, 62), n(2000, 2400, 4, 64)},
         4, {60, 62, 64, -1, -1}},
        {"61 ms away does not: 2 of 5 is too few",
         {n(939, 1400, 4, 60), n(1561, 1900, 4, 62), n(2000, 2400, 4, 64), n(3000, 3100, 4, 65)},
         -1, {-1, -1, -1, -1, -1}},
        {"the channel coinciding most wins",
         {n(1000, 1400, 5, 60), n(1500, 1900, 5, 62), n(2000, 2400, 5, 64), n(1000, 1400, 6, 48),
          n(1500, 1900, 6, 50), n(2000, 2400, 6, 52), n(2500, 2900, 6, 53)},
         6, {48, 50, 52, 53, -1}},
        {"the nearest start wins, the higher one of a chord",
         {n(970, 1400, 7, 60), n(1010, 1400, 7, 64), n(1500, 1900, 7, 55), n(1500, 1900, 7, 59),
          n(2000, 2400, 7, 60), n(2500, 2900, 7, 62), n(3000, 3400, 7, 64)},
         7, {64, 59, 60, 62, 64}},
        {"a syllable without a start keeps nothing when nothing sounds",
         {n(1000, 1200, 8, 60), n(1500, 1700, 8, 62), n(2000, 2200, 8, 64), n(3000, 3200, 8, 65)},
         8, {60, 62, 64, -1, 65}},
        {"no notes at all", {}, -1, {-1, -1, -1, -1, -1}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Melody melody = findMelody(c.notes, syllables);
        EXPECT_EQ(melody.channel, c.channel);
        EXPECT_EQ(melody.found(), c.channel >= 0);
        EXPECT_EQ(melody.notes, c.sung);
    }
    EXPECT_TRUE(findMelody({n(0, 100, 0, 60)}, {}).notes.empty());
    EXPECT_FALSE(findMelody({n(0, 100, 0, 60)}, {}).found());
}

TEST(Melody, SixtyPercentOfTheSyllablesAreEnough) {
    std::vector<std::int32_t> syllables;
    for (int k = 0; k < 10; ++k)
        syllables.push_back(1000 * (k + 1));
    for (int covered : {5, 6, 7}) {
        std::vector<SongNote> notes;
        for (int k = 0; k < covered; ++k)
            notes.push_back(n(1000 * (k + 1), 1000 * (k + 1) + 500, 0, 60 + k));
        const Melody melody = findMelody(notes, syllables);
        EXPECT_EQ(melody.found(), covered >= 6) << covered;
        EXPECT_EQ(melody.coinciding, covered >= 6 ? covered : 0) << covered;
    }
}

TEST(Melody, KeyAndOctavesAsTheSingerHearsThem) {
    // folded: the pitch moved into the note's octave, as the stage's band
    // draws it and the scoring judges it.
    const struct {
        double sung;
        int note;
        bool inTune;
        double folded;
    } cases[] = {
        {60.0, 60, true, 60.0},  {61.0, 60, true, 61.0},   {59.0, 60, true, 59.0},   {61.2, 60, false, 61.2},
        {58.7, 60, false, 58.7}, {48.0, 60, true, 60.0},   {36.4, 60, true, 60.4},   {72.9, 60, true, 60.9},
        {67.0, 60, false, 55.0}, {55.0, 60, false, 55.0},  {66.0, 60, false, 66.0},  {71.2, 60, true, 59.2},
        {47.0, 48, true, 47.0},  {54.0, 60, false, 66.0},  {NAN, 60, false, NAN},    {INFINITY, 60, false, INFINITY},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(inTune(c.sung, c.note), c.inTune) << c.sung << " against " << c.note;
        const double folded = vozaro::stage::foldedPitch(c.sung, c.note);
        if (std::isfinite(c.folded))
            EXPECT_NEAR(folded, c.folded, 1e-9) << c.sung << " against " << c.note;
        else
            EXPECT_FALSE(std::isfinite(folded));
    }

    EXPECT_EQ(transposedNote(60, 3), 63);
    EXPECT_EQ(transposedNote(60, -24), 36);
    EXPECT_EQ(transposedNote(120, 24), 127);
    EXPECT_EQ(transposedNote(10, -24), 0);
}

}  // namespace
