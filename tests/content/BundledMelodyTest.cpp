// The bundled songs' melody, which is known (channel 1, a note under every
// syllable), is what loading each song finds.
#include <gtest/gtest.h>

#include <QFile>
#include <filesystem>
#include <map>

#include "SongMidi.h"
#include "settings/WindowTestSupport.h"
#include "stage/canvas/KaraokeStage.h"

namespace fs = std::filesystem;

TEST(BundledMelody, EverySongsMelodyIsItsFirstChannelUnderEverySyllable) {
    testApplication();
    KaraokeStage stage;
    stage.resizeCanvas(QSize(640, 480));
    int songs = 0;
    for (const auto& entry : fs::directory_iterator(fs::path(VOZARO_CONTENT_DIR) / "Musicas")) {
        SCOPED_TRACE(entry.path().filename().string());
        ++songs;
        ASSERT_TRUE(stage.CarregarMusica(QFile::decodeName(entry.path().c_str())));
        ASSERT_FALSE(stage.Silabas.isEmpty());

        // What the file says: the channel-1 note struck at each syllable's tick.
        vozaro::midi::TMidiData song;
        song.setFileName(entry.path().string());
        song.setActive(true);
        std::map<std::int32_t, int> melodyAt;
        std::vector<std::int32_t> syllableTicks;
        for (const SongEvent& e : songEvents(song)) {
            if (isNoteOn(e) && (e.status & 0x0F) == 0)
                melodyAt[e.tick] = std::max(melodyAt[e.tick], int{e.data1});
            if (e.track == 1 && e.metaType == 0x01 && e.text.rfind('@', 0) != 0)
                syllableTicks.push_back(e.tick);
        }
        ASSERT_EQ(syllableTicks.size(), static_cast<std::size_t>(stage.Silabas.size()));

        EXPECT_EQ(stage.melody.channel, 0);
        EXPECT_EQ(stage.melody.coinciding, stage.Silabas.size());
        ASSERT_EQ(stage.melody.notes.size(), syllableTicks.size());
        for (std::size_t k = 0; k < syllableTicks.size(); ++k)
            EXPECT_EQ(stage.melody.notes[k], melodyAt[syllableTicks[k]]) << "syllable " << k;
    }
    EXPECT_EQ(songs, 10);
}
