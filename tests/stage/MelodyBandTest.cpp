// The melody band drawn on the stage picture: the bars of the line, the
// mark, the singer's trail folded into the note's octave, the colour of a
// note sung in tune, the key, and what a step repaints.
#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>

#include <cmath>

#include "midi/SmfBytes.h"
#include "settings/WindowTestSupport.h"
#include "stage/KaraokeSongs.h"
#include "stage/canvas/KaraokeStage.h"

namespace fx = vozaro::midi::fixtures;
using vozaro::stage::MelodyBand;

namespace {

const QRgb kNote = qRgb(90, 200, 255);
const QRgb kNoteHit = qRgb(70, 235, 90);
const QRgb kTrail = qRgb(255, 255, 255);
const QRgb kTrailInTune = qRgb(255, 255, 0);
const QRgb kMark = qRgb(255, 0, 255);

class Band : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        stage.attachCanvas(&canvas, [this](const QRect& rect) { changed.push_back(rect); });
        stage.resizeCanvas(QSize(1024, 768));
        const QString path = folder.filePath("notas.kar");
        fx::writeFile(QFile::encodeName(path).toStdString(), vozaro::test::songWithKnownNotes());
        ASSERT_TRUE(stage.CarregarMusica(path));
        ASSERT_FALSE(stage.melodyBand.lines().empty());
    }

    // Display steps every 50 ms up to `to`.
    void stepTo(std::int64_t to) {
        for (; now < to; now = std::min(now + 50, to))
            stage.AtualizarLetra(now);
        stage.AtualizarLetra(now);
    }
    QRgb pixel(QPoint at) const { return canvas.pixel(at) | 0xFF000000; }
    QRgb barColour(std::size_t note) const {
        const auto& line = stage.melodyBand.lines()[static_cast<std::size_t>(stage.melodyBand.shownLine())];
        return pixel(stage.melodyBand.layout().bar(line.notes[note]).center());
    }

    QTemporaryDir folder;
    QImage canvas;
    KaraokeStage stage;
    std::vector<QRect> changed;
    std::int64_t now = 0;
};

TEST_F(Band, ShowsTheLineTheMarkAndTheTrail) {
    MelodyBand& band = stage.melodyBand;
    EXPECT_EQ(band.shownLine(), -1);
    stepTo(1050);
    ASSERT_EQ(band.shownLine(), 0);
    const QRect area = band.shownRect();
    ASSERT_FALSE(area.isEmpty());
    for (std::size_t k = 0; k < 4; ++k)
        EXPECT_EQ(barColour(k), kNote) << k;
    EXPECT_EQ(pixel({band.layout().x(1050), area.top() + 2}), kMark);

    // An octave below the note sung, in tune; then out of tune on the next.
    band.heard(48.2, true, 1100);
    band.heard(48.3, true, 1120);
    band.heard(66.0, true, 1700);
    band.heard(62.0, false, 1720);  // nobody singing, or no pitch: no trail
    stepTo(1750);
    ASSERT_EQ(band.trail().size(), 3u);
    EXPECT_NEAR(band.trail()[0].note, 60.2, 1e-9);
    EXPECT_TRUE(band.trail()[0].inTune);
    EXPECT_NEAR(band.trail()[2].note, 66.0, 1e-9);
    EXPECT_FALSE(band.trail()[2].inTune);
    EXPECT_TRUE(band.noteHit(0));
    EXPECT_FALSE(band.noteHit(1));
    EXPECT_EQ(barColour(1), kNote);
    EXPECT_EQ(pixel({band.layout().x(1110), band.layout().y(60.25)}), kTrailInTune);
    EXPECT_EQ(pixel({band.layout().x(1700), band.layout().y(66.0)}), kTrail);

    // A step repaints narrow pieces of the band only: the mark's old and new
    // columns.
    changed.clear();
    stepTo(1800);
    ASSERT_FALSE(changed.empty());
    for (const QRect& rect : changed) {
        EXPECT_TRUE(area.contains(rect));
        EXPECT_LE(rect.width(), 4);
    }
    EXPECT_EQ(pixel({band.layout().x(1800), area.top() + 2}), kMark);
    EXPECT_NE(pixel({band.layout().x(1750), area.top() + 2}), kMark);

    // The trail fades; the note sung in tune keeps its colour.
    const QPoint firstPiece = band.trail()[0].rect.center();
    stepTo(1120 + MelodyBand::kTrailMs + 50);
    EXPECT_EQ(band.trail().size(), 1u);
    EXPECT_EQ(barColour(0), kNoteHit);
    EXPECT_NE(pixel(firstPiece), kTrailInTune);

    // The next line, and nothing left of this one.
    stepTo(3050);
    EXPECT_EQ(band.shownLine(), 1);
    EXPECT_EQ(barColour(0), kNote);
    EXPECT_FALSE(band.noteHit(0));

    // Stopped: the band goes and the picture is clean again.
    stage.LimparAreaLetra();
    EXPECT_EQ(band.shownLine(), -1);
    EXPECT_EQ(canvas.copy(area), stage.FundoLimpo.copy(area));
}

// The key moves the bars; switched off the band goes at once; a new
// background gets the band drawn anew.
TEST_F(Band, FollowsTheKeyTheSettingAndTheBackground) {
    MelodyBand& band = stage.melodyBand;
    stepTo(1050);
    const auto& line = band.lines()[0];
    const QRect before = band.layout().bar(line.notes[0]);
    band.setKey(2);
    stepTo(1100);
    const QRect after = band.layout().bar(line.notes[0]);
    EXPECT_LT(after.center().y(), before.center().y());
    EXPECT_EQ(pixel(after.center()), kNote);
    // An in-tune check follows the key: the moved note is what is sung.
    band.heard(62.0, true, 1150);
    stepTo(1200);
    EXPECT_TRUE(band.noteHit(0));

    stage.resizeCanvas(QSize(1280, 1024));
    stepTo(1250);
    EXPECT_EQ(pixel(band.layout().bar(line.notes[0]).center()), kNoteHit);

    band.setEnabled(false);
    EXPECT_EQ(band.shownLine(), -1);
    const QRect area = stage.melodyBand.area();
    EXPECT_EQ(canvas.copy(area), stage.FundoLimpo.copy(area));
    stepTo(1300);
    EXPECT_EQ(band.shownLine(), -1);
    band.setEnabled(true);
    stepTo(1350);
    EXPECT_EQ(band.shownLine(), 0);
}

}  // namespace
