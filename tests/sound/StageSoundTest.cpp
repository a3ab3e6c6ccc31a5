// A karaoke evening through the stage on the virtual sound server, in real
// time, on the built-in synthesizer: two corpus songs queued, Next pressed,
// the first ends and is scored with the fanfare, the second starts by
// itself; all of it is heard in the speakers' monitor.  And a voice sung
// into the virtual microphone scores above zero where silence scores 0,0.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QProcess>
#include <QThread>

#include <filesystem>

#include "stores/vozaro_colecao.h"
#include "controls/PictureButton.h"
#include "platform/devices/MidiDeviceFluidSynth.h"
#include "platform/devices/MidiDevices.h"
#include "platform/MessageBox.h"
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

const QString kCorpus = QStringLiteral(VOZARO_CORPUS_DIR) + "/files/kar/";
const QString kShortSong = kCorpus + "jazzsoft__test-karaoke-kar.mid";  // 10.6 s, 26 syllables
const QString kSecondSong = kCorpus + "msc__TRADITIONAL_BLUEGRASS_Rocky_Top.kar";

class StageSound : public StageOnSoundServer {
protected:
    void SetUp() override {
        if (!QFile::exists(kShortSong) || !QFile::exists(kSecondSong))
            GTEST_SKIP() << "corpus songs not found in " << kCorpus.toStdString();
        QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));
        makeStage();
        if (IsSkipped() || HasFatalFailure())
            return;
        stage->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(stage.get()));
    }
    void TearDown() override {
        StageOnSoundServer::TearDown();
        QLocale::setDefault(QLocale::c());
    }

    // A corpus song copied into the songs folder and catalogued; its number.
    std::int32_t addSong(const QString& corpusFile, const std::string& name) {
        const std::int32_t numero = vozaro::test::catalogueEntry("Corpus", name, name);
        QFile::copy(corpusFile, QString::fromStdString((vozaro::catalogue::songsFolder() / name).string()));
        return numero;
    }
    // Typed into the queue panel (the keys go where the focus is).
    void request(std::int32_t numero) {
        if (!stage->panelLista->isVisible())
            stage->bPedidosClick();
        stage->eNumero->setFocus();
        QTest::keyClicks(QApplication::focusWidget(), QString::number(numero));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    }
};

// The RMS of a stretch of a recording (seconds from its start).
double levelBetween(const std::vector<std::int16_t>& samples, double from, double to) {
    const auto first = static_cast<std::size_t>(from * kRate);
    const auto last = std::min(samples.size(), static_cast<std::size_t>(to * kRate));
    if (last <= first)
        return 0;
    return measure(std::vector<std::int16_t>(samples.begin() + first, samples.begin() + last)).loudest;
}

}  // namespace

TEST_F(StageSound, TwoQueuedSongsAreHeardOneAfterTheOtherWithTheFanfareBetween) {
    writeFile((folder.path() + "/nota.wav").toStdString(), waveBytes(tone(880, 1.0, 44100), 44100));
    request(addSong(kShortSong, "primeira.mid"));
    request(addSong(kSecondSong, "segunda.kar"));
    ASSERT_EQ(stage->FilaPosicoes.size(), 2);
    SpeakerRecording recording;
    ASSERT_TRUE(recording.waitUntilRunning());
    QElapsedTimer elapsed;
    elapsed.start();
    QTest::mouseClick(stage->bProxima, Qt::LeftButton);
    ASSERT_TRUE(stage->MidiPlayer.Play()) << (messages.messages().empty() ? "" : messages.messages()[0].text);
    ASSERT_TRUE(waitFor([&] { return stage->Titulo == "segunda.kar" && stage->MidiPlayer.Play(); }, 40000));
    const double secondStarted = elapsed.elapsed() / 1000.0;
    waitFor([] { return false; }, 3000);
    stage->bStopClick();
    const std::vector<std::int16_t> samples = recording.stop();

    RecordProperty("levels", QStringLiteral("first %1, fanfare %2, second %3")
                                 .arg(levelBetween(samples, 1, 9))
                                 .arg(levelBetween(samples, secondStarted - 6.9, secondStarted - 6.1))
                                 .arg(levelBetween(samples, secondStarted + 0.5, secondStarted + 3))
                                 .toStdString());
    EXPECT_EQ(stage->announcements(), 1);
    EXPECT_EQ(stage->lastScore().text, "0,0");  // nobody sang
    EXPECT_GT(levelBetween(samples, 1, 9), 0.01) << "the first song";
    // The announcement starts 7 s before the next song, with the fanfare.
    EXPECT_GT(levelBetween(samples, secondStarted - 6.9, secondStarted - 6.1), 0.01) << "the fanfare";
    EXPECT_GT(levelBetween(samples, secondStarted + 0.5, secondStarted + 3), 0.01) << "the second song";
}

TEST_F(StageSound, AVoiceInTheMicrophoneScoresAboveZero) {
    // A spoken voice (espeak-ng, at the microphone's 22 050 Hz mono) played
    // into the microphone feed while the song plays.
    const QString spoken = folder.filePath("voz.wav");
    const QString voice = folder.filePath("voz22050.wav");
    const QString lyrics = QStringLiteral(
        "Hello, this is a karaoke test. We sing along with the music, la la la, "
        "every word on time, and the microphone hears us singing all the way to the end.");
    if (runPulseTool("espeak-ng", {"-s", "110", "-w", spoken, lyrics}).isNull() && !QFile::exists(spoken))
        GTEST_SKIP() << "espeak-ng is not installed";
    runPulseTool("sox", {spoken, "-r", "22050", "-c", "1", voice, "repeat", "1"});
    if (!QFile::exists(voice))
        GTEST_SKIP() << "sox is not installed";

    request(addSong(kShortSong, "primeira.mid"));
    QProcess singer;
    QTest::mouseClick(stage->bProxima, Qt::LeftButton);
    ASSERT_TRUE(stage->MidiPlayer.Play());
    singer.start("paplay", {"-d", "micfeed", voice});
    ASSERT_TRUE(waitFor([&] { return stage->announcements() == 1; }, 30000));
    singer.kill();
    singer.waitForFinished(2000);
    RecordProperty("score", stage->lastScore().text.toStdString());
    EXPECT_GT(stage->lastScore().value, 0.0) << stage->lastScore().text.toStdString();
    EXPECT_NE(stage->lastScore().text, "0,0");
    waitFor([&] { return !stage->announcing(); }, 10000);
}
