// Scoring by pitch through the stage on the virtual sound server, in real
// time: a voice-like tone made from a bundled song's own melody notes is
// played into the virtual microphone while the song plays on the built-in
// synthesizer, and the score announced after the host stops the song says
// whether it was in tune.
#include <gtest/gtest.h>

#include <QDir>
#include <QElapsedTimer>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

#include "audio/Tones.h"
#include "stores/vozaro_colecao.h"
#include "controls/Slider.h"
#include "platform/MessageBox.h"
#include "platform/devices/MidiDeviceFluidSynth.h"
#include "platform/devices/MidiDevices.h"
#include "platform/SettingsStore.h"
#include "settings/WindowTestSupport.h"
#include "sound/SoundServer.h"
#include "sound/SpeakerRecording.h"
#include "sound/WaveFixture.h"
#include "stage/KaraokeSongs.h"
#include "sound/StageOnSoundServer.h"
#include "stage/vozaro_main.h"

namespace platform = vozaro::platform;
using namespace vozaro::test;

namespace {

const std::filesystem::path kSong = std::filesystem::path(VOZARO_CONTENT_DIR) / "Musicas" / "Marcha Soldado.kar";
constexpr int kMicRate = 22050;
constexpr std::int32_t kSungMs = 16000;  // sung from the first syllable on, then stopped

class PitchSound : public StageOnSoundServer {
protected:
    void SetUp() override {
        if (!std::filesystem::exists(kSong))
            GTEST_SKIP() << "bundled song not built: " << kSong;
        makeStage();
        if (IsSkipped() || HasFatalFailure())
            return;
        settings.autoNextSwitch = false;
        stage->config.settings = [this] { return &settings; };
        const std::string name = "marcha.kar";
        numero = vozaro::test::catalogueEntry("Tradicional", "Marcha Soldado", name);
        std::filesystem::copy_file(kSong, vozaro::catalogue::songsFolder() / name);
        // The song's own melody, as the stage finds it.
        KaraokeStage probe;
        probe.resizeCanvas(QSize(640, 480));
        ASSERT_TRUE(probe.CarregarMusica(QFile::decodeName(kSong.c_str())));
        ASSERT_TRUE(probe.melody.found());
        probe.OrMidi.setActive(true);
        for (const auto& note : vozaro::stage::songNotes(probe.OrMidi))
            if (note.channel == probe.melody.channel)
                melody.push_back(note);
        probe.OrMidi.setActive(false);
        firstSyllable = probe.Tempos.front();
        ASSERT_GT(melody.size(), 20u);
    }

    // A wave of the melody moved by `shift` semitones (nothing: silence),
    // from the song's start to the stop.
    QString singing(std::optional<double> shift) {
        const std::int32_t endMs = firstSyllable + kSungMs;
        std::vector<std::int16_t> samples;
        ToneWriter writer(kMicRate);
        const auto at = [](std::int32_t ms) { return static_cast<std::size_t>(std::int64_t{ms} * kMicRate / 1000); };
        for (const auto& note : melody) {
            if (note.startMs >= endMs)
                break;
            if (at(note.startMs) > samples.size())
                writer.append(samples, 0, at(note.startMs) - samples.size());
            const double hertz = shift ? hertzOfNote(note.note + *shift) : 0;
            const std::size_t end = at(std::min(note.endMs, endMs));
            if (end > samples.size())
                writer.append(samples, hertz, end - samples.size(), 6, 0.4);
        }
        const QString path = folder.filePath(QStringLiteral("voz%1.wav").arg(++takes));
        writeFile(path.toStdString(), waveBytes(samples, kMicRate));
        return path;
    }

    // Plays the song (at the key chosen) with `voice` sung into the
    // microphone, stops it after kSungMs of lyrics, returns the score.
    double sing(const QString& voice, int key = 0) {
        stage->MidiTone->setValue(key);
        const int before = stage->announcements();
        stage->playNow(numero);
        if (!stage->MidiPlayer.Play())
            return -1;
        QProcess singer;
        singer.start("paplay", {"-d", "micfeed", voice});
        waitFor([&] { return stage->MidiPlayer.Time() > firstSyllable + kSungMs; }, firstSyllable + kSungMs + 10000);
        stage->bStopClick();
        singer.kill();
        singer.waitForFinished(2000);
        if (!waitFor([&] { return stage->announcements() > before; }, 5000))
            return -1;
        const double score = stage->lastScore().value;
        waitFor([&] { return !stage->announcing(); }, 10000);
        return score;
    }

    TKaraokeSettings settings;
    std::int32_t numero = 0;
    std::vector<vozaro::stage::SongNote> melody;
    std::int32_t firstSyllable = 0;
    int takes = 0;
};

TEST_F(PitchSound, TheMelodySungInTuneScoresHighAndOutOfTuneLow) {
    const struct {
        const char* name;
        std::optional<double> shift;
        int key;
        bool pitchScoring;
        double atLeast, atMost;
    } cases[] = {
        {"in tune", 0.0, 0, true, 9, 10},
        {"a fifth higher", 7.0, 0, true, 0, 3},
        {"an octave lower", -12.0, 0, true, 9, 10},
        {"silence", std::nullopt, 0, true, 0, 0},
        {"a fifth higher, pitch scoring off: loudness", 7.0, 0, false, 9, 10},
        {"transposed up 3, sung there", 3.0, 3, true, 9, 10},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        settings.AfinacaoNota = c.pitchScoring;
        const double score = sing(singing(c.shift), c.key);
        RecordProperty(c.name, std::to_string(score));
        std::cout << c.name << ": " << score << "\n";
        EXPECT_GE(score, c.atLeast);
        EXPECT_LE(score, c.atMost);
    }
    EXPECT_TRUE(messages.messages().empty());
}

// The melody band while the melody is sung an octave lower into the
// microphone, with pitch scoring off: the line's notes show, the trail
// follows the voice folded into the notes' octave, notes turn as they are
// sung in tune, and the band is gone once the song stops.  With
// VOZARO_SCREENSHOTS set, the stage is saved there as it plays.
TEST_F(PitchSound, TheBandShowsTheNotesAndTheSingersTrail) {
    settings.AfinacaoNota = false;
    settings.GuiaAfinacao = true;
    stage->optionsChanged();
    const QString voice = singing(-12.0);
    stage->playNow(numero);
    ASSERT_TRUE(stage->MidiPlayer.Play());
    QProcess singer;
    singer.start("paplay", {"-d", "micfeed", voice});
    const vozaro::stage::MelodyBand& band = stage->melodyBand;
    const char* shots = std::getenv("VOZARO_SCREENSHOTS");
    int hits = 0;
    int inTune = 0;
    int points = 0;
    for (int shot = 1; shot <= 3; ++shot) {
        waitFor([&] { return stage->MidiPlayer.Time() > firstSyllable + shot * 4000; }, firstSyllable + 20000);
        ASSERT_GE(band.shownLine(), 0) << shot;
        points += static_cast<int>(band.trail().size());
        inTune += static_cast<int>(std::count_if(band.trail().begin(), band.trail().end(),
                                                 [](const auto& point) { return point.inTune; }));
        for (std::size_t k = 0; k < band.lines()[static_cast<std::size_t>(band.shownLine())].notes.size(); ++k)
            hits += band.noteHit(k) ? 1 : 0;
        if (shots)
            stage->grab().save(QDir(shots).filePath(QStringLiteral("melody-band-%1.png").arg(shot)));
    }
    std::cout << points << " trail pieces, " << inTune << " in tune, " << hits << " notes hit\n";
    EXPECT_GT(points, 10);
    EXPECT_GT(inTune, points / 2);
    EXPECT_GT(hits, 0);
    stage->bStopClick();
    singer.kill();
    singer.waitForFinished(2000);
    EXPECT_EQ(band.shownLine(), -1);
    waitFor([&] { return !stage->announcing(); }, 10000);
    EXPECT_TRUE(messages.messages().empty());
}

}  // namespace
