// Finding the melody a song's syllables are sung on, and judging a sung
// pitch against its notes.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <iostream>

#include "midi/SmfBytes.h"
#include "platform/MessageBox.h"
#include "settings/WindowTestSupport.h"
#include "stage/KaraokeSongs.h"
#include "stage/canvas/KaraokeStage.h"
#include "karaoke/Melody.h"

namespace fx = vozaro::midi::fixtures;
using fx::Bytes;
using fx::operator+;
using vozaro::stage::findMelody;
using vozaro::stage::inTune;
using vozaro::stage::Melody;
using vozaro::stage::SongNote;
using vozaro::stage::transposedNote;

namespace {

SongNote n(std::int32_t start, std::int32_t end, int channel, int note) {
    return {start, end, static_cast<std::uint8_t>(channel), static_cast<std::uint8_t>(note)};
}

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
    const struct {
        double sung;
        int note;
        bool inTune;
    } cases[] = {
        {60.0, 60, true},  {61.0, 60, true},  {59.0, 60, true},   {61.2, 60, false}, {58.7, 60, false},
        {48.0, 60, true},  {36.4, 60, true},  {72.9, 60, true},   {67.0, 60, false}, {55.0, 60, false},
        {66.0, 60, false}, {71.2, 60, true},  {47.0, 48, true},   {54.0, 60, false},  {NAN, 60, false},
        {INFINITY, 60, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(inTune(c.sung, c.note), c.inTune) << c.sung << " against " << c.note;

    EXPECT_EQ(transposedNote(60, 3), 63);
    EXPECT_EQ(transposedNote(60, -24), 36);
    EXPECT_EQ(transposedNote(120, 24), 127);
    EXPECT_EQ(transposedNote(10, -24), 0);
}

// Loading a song finds its melody with the notes' times through the tempo
// map; note-offs (and note-ons of velocity 0) end the notes a chord holds.
TEST(Melody, LoadingASongFindsItsMelody) {
    testApplication();
    QTemporaryDir folder;
    KaraokeStage stage;
    stage.resizeCanvas(QSize(640, 480));
    // Tick = ms.  Channel 2 holds a chord from 0 to 3000; channel 1 sings
    // on the syllables at 500, 1000, 1500; the last syllable, at 2100,
    // falls inside the note started at 1500 (ended by a velocity-0 note-on).
    const Bytes accompaniment = fx::vlq(0) + Bytes{0x91, 48, 80} + fx::vlq(0) + Bytes{0x91, 55, 80} +
                                fx::vlq(3000) + Bytes{0x81, 48, 0} + fx::vlq(0) + Bytes{0x81, 55, 0};
    const Bytes voice = fx::vlq(500) + Bytes{0x90, 64, 90} + fx::vlq(400) + Bytes{0x80, 64, 0} +
                        fx::vlq(100) + Bytes{0x90, 66, 90} + fx::vlq(400) + Bytes{0x90, 66, 0} +
                        fx::vlq(100) + Bytes{0x90, 67, 90} + fx::vlq(1000) + Bytes{0x90, 67, 0};
    const Bytes drums = fx::vlq(500) + Bytes{0x99, 36, 100} + fx::vlq(500) + Bytes{0x99, 36, 100} +
                        fx::vlq(500) + Bytes{0x99, 36, 100} + fx::vlq(600) + Bytes{0x99, 36, 100};
    const QString path = folder.filePath("melody.kar");
    fx::writeFile(QFile::encodeName(path).toStdString(),
                  vozaro::test::song({vozaro::test::lyricTrack({{500, "Do"}, {1000, "Re"}, {1500, "Mi"}, {2100, "Fa"}}),
                                      accompaniment, voice, drums}));
    ASSERT_TRUE(stage.CarregarMusica(path));
    EXPECT_EQ(stage.melody.channel, 0);
    EXPECT_EQ(stage.melody.coinciding, 3);
    EXPECT_EQ(stage.melody.notes, (std::vector<int>{64, 66, 67, 67}));

    stage.OrMidi.setActive(true);
    const auto notes = vozaro::stage::songNotes(stage.OrMidi);
    stage.OrMidi.setActive(false);
    ASSERT_EQ(notes.size(), 9u);
    EXPECT_EQ(notes[0].startMs, 0);
    EXPECT_EQ(notes[0].endMs, 3000);
    const auto voiceNote = std::find_if(notes.begin(), notes.end(), [](const SongNote& s) { return s.note == 67; });
    ASSERT_NE(voiceNote, notes.end());
    EXPECT_EQ(voiceNote->startMs, 1500);
    EXPECT_EQ(voiceNote->endMs, 2500);
}

// Every corpus song with lyrics: the melody, when one is found, has a note
// starting at 60 % of the syllables or more and a note for each syllable
// it covers; how many songs get one is reported.
TEST(Melody, CorpusSongs) {
    const QString corpus = QStringLiteral(VOZARO_CORPUS_DIR) + "/files";
    if (!QDir(corpus).exists())
        GTEST_SKIP() << "corpus not found: " << corpus.toStdString();
    testApplication();
    vozaro::platform::ScopedMessageRecorder messages;
    KaraokeStage stage;
    stage.resizeCanvas(QSize(640, 480));
    int withLyrics = 0;
    int withMelody = 0;
    QDirIterator files(corpus, QDir::Files, QDirIterator::Subdirectories);
    while (files.hasNext()) {
        const QString path = files.next();
        bool loaded = false;
        try {
            loaded = stage.CarregarMusica(path);
        } catch (const std::exception&) {
            continue;  // a file the engine cannot read
        }
        if (!loaded || stage.Silabas.isEmpty())
            continue;
        ++withLyrics;
        const Melody& melody = stage.melody;
        ASSERT_EQ(melody.notes.size(), static_cast<std::size_t>(stage.Silabas.size())) << path.toStdString();
        if (!melody.found()) {
            EXPECT_TRUE(std::all_of(melody.notes.begin(), melody.notes.end(), [](int k) { return k == -1; }));
            continue;
        }
        ++withMelody;
        EXPECT_NE(melody.channel, vozaro::stage::kDrumChannel) << path.toStdString();
        EXPECT_GE(melody.coinciding, 0.6 * stage.Silabas.size()) << path.toStdString();
        const auto withNote = std::count_if(melody.notes.begin(), melody.notes.end(), [](int k) { return k >= 0; });
        EXPECT_GE(withNote, melody.coinciding) << path.toStdString();
        for (int note : melody.notes)
            EXPECT_LE(note, 127);
    }
    std::cout << withMelody << " of " << withLyrics << " corpus songs with lyrics have a melody\n";
    RecordProperty("songs_with_lyrics", withLyrics);
    RecordProperty("songs_with_melody", withMelody);
    EXPECT_GT(withLyrics, 0);
}

}  // namespace
