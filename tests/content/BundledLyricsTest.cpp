// Every bundled song loaded as the stage loads it, on an 800 × 600 screen:
// lyric lines that fit at a readable size, syllable times that increase, and
// each syllable on the time of a melody note.
#include <gtest/gtest.h>

#include <QFile>
#include <QTextStream>
#include <algorithm>
#include <cmath>
#include <filesystem>

#include "SongMidi.h"
#include "midi/cmpMidiIterator.h"
#include "settings/WindowTestSupport.h"
#include "stage/canvas/KaraokeStage.h"

namespace fs = std::filesystem;

namespace {

const fs::path kContent = VOZARO_CONTENT_DIR;

// The lines as the display builds them: a new one at every leading "/" or "\".
QStringList linesOf(const QStringList& syllables) {
    QStringList lines;
    for (const QString& s : syllables) {
        if (lines.isEmpty() || s.startsWith('/') || s.startsWith('\\'))
            lines.append(QString());
        lines.last() += (s.startsWith('/') || s.startsWith('\\')) ? s.mid(1) : s;
    }
    return lines;
}

// Song times in ms of the melody's note-ons (channel 1), by the tempo map.
std::vector<std::int64_t> melodyTimes(const fs::path& file) {
    vozaro::midi::TMidiData song;
    song.setFileName(file.string());
    song.setActive(true);
    std::vector<std::int32_t> ticks;
    for (const SongEvent& e : songEvents(song))
        if (isNoteOn(e) && (e.status & 0x0F) == 0)
            ticks.push_back(e.tick);
    std::sort(ticks.begin(), ticks.end());
    vozaro::midi::TMidiPosition position;
    position.setMidiData(&song);
    std::vector<std::int64_t> times;
    for (std::int32_t tick : ticks) {
        position.SetPosition(tick);
        times.push_back(position.Time());
    }
    return times;
}

}  // namespace

TEST(BundledLyrics, EverySongLoadsThroughTheStageAndFitsASmallScreen) {
    testApplication();
    QFile list(QString::fromStdString((kContent / "musicas.tsv").string()));
    ASSERT_TRUE(list.open(QIODevice::ReadOnly));
    int songs = 0;
    for (const QString& line : QString::fromUtf8(list.readAll()).split('\n', Qt::SkipEmptyParts)) {
        const fs::path file = kContent / "Musicas" / line.section('\t', 0, 0).toStdString();
        SCOPED_TRACE(file.string());
        ++songs;
        KaraokeStage stage;
        stage.resizeCanvas(QSize(800, 600));
        ASSERT_TRUE(stage.CarregarMusica(QString::fromStdString(file.string())));

        // Two lines must stand in a fifth of the height, which allows 40
        // points here; no line is so long that it shrinks the words much
        // below that, and every line fits.
        EXPECT_GE(stage.lyricFontSize(), 32);
        for (const QString& text : linesOf(stage.Silabas)) {
            EXPECT_FALSE(text.trimmed().isEmpty());
            EXPECT_LE(stage.textSize(text).width(), 720) << text.toStdString();
        }

        const std::vector<std::int64_t> melody = melodyTimes(file);
        ASSERT_EQ(stage.Tempos.size(), static_cast<std::size_t>(stage.Silabas.size()));
        for (std::size_t k = 0; k < stage.Tempos.size(); ++k) {
            if (k > 0) {
                EXPECT_GT(stage.Tempos[k], stage.Tempos[k - 1]);
            }
            // One tick is under 1.4 ms at the slowest bundled tempo.
            auto nearest = std::min_element(melody.begin(), melody.end(), [&](auto a, auto b) {
                return std::llabs(a - stage.Tempos[k]) < std::llabs(b - stage.Tempos[k]);
            });
            ASSERT_NE(nearest, melody.end());
            EXPECT_LE(std::llabs(*nearest - stage.Tempos[k]), 1)
                << stage.Silabas[static_cast<qsizetype>(k)].toStdString();
        }
    }
    EXPECT_GE(songs, 10);
}

TEST(BundledPictures, EveryPictureLoadsAsTheStageLoadsIt) {
    testApplication();
    int pictures = 0;
    for (const auto& entry : fs::directory_iterator(kContent / "Imagens")) {
        SCOPED_TRACE(entry.path().string());
        KaraokeStage stage;
        stage.darkLevel = 0;
        stage.resizeCanvas(QSize(800, 600));
        ASSERT_TRUE(stage.CarregarFundo(QString::fromStdString(entry.path().string())));
        // Not a black screen: the middle of the picture has some colour.
        const QColor middle = stage.canvas().pixelColor(400, 300);
        EXPECT_GT(middle.red() + middle.green() + middle.blue(), 30);
        ++pictures;
    }
    EXPECT_GE(pictures, 8);
}
