// A song loaded on the stage: its melody found with the notes' times
// through the tempo map, and every corpus song with lyrics.
#include <gtest/gtest.h>

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>
#include <iostream>

#include "karaoke/Melody.h"
#include "midi/SmfBytes.h"
#include "platform/MessageBox.h"
#include "support/MessageRecorder.h"
#include "settings/WindowTestSupport.h"
#include "stage/KaraokeSongs.h"
#include "stage/canvas/KaraokeStage.h"

namespace fx = vozaro::midi::fixtures;
using fx::Bytes;
using fx::operator+;
using vozaro::stage::findMelody;
using vozaro::stage::Melody;
using vozaro::stage::SongNote;

namespace {

// Loading a song finds its melody with the notes' times through the tempo
// map; note-offs (and note-ons of velocity 0) end the notes a chord holds.
TEST(StageMelody, LoadingASongFindsItsMelody) {
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
TEST(StageMelody, CorpusSongs) {
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
