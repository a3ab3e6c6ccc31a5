// The karaoke evening on the test clock: requests typed into the queue
// panel, Next, the song played to its end on the recording MIDI device, the
// score announced and the next request started by itself.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QTemporaryDir>
#include <QTest>

#include "stores/vozaro_colecao.h"
#include "controls/PictureButton.h"
#include "controls/Slider.h"
#include "midi/PlayerTestDevices.h"
#include "support/FakeCaptureDevice.h"
#include "support/FakeMixerDevice.h"
#include "support/ManualTimerService.h"
#include "support/ScopedManualWindowClock.h"
#include "platform/MessageBox.h"
#include "support/MessageRecorder.h"
#include "platform/SettingsStore.h"
#include "support/MemorySettingsStore.h"
#include "platform/devices/SoundPlayer.h"
#include "platform/WindowTimer.h"
#include "settings/WindowTestSupport.h"
#include "settings/vozaro_config.h"
#include "stage/KaraokeSongs.h"
#include "stage/RequestTyping.h"
#include "stage/vozaro_main.h"
#include "sound/WaveFixture.h"

namespace fx = vozaro::midi::fixtures;
namespace platform = vozaro::platform;
using fx::Bytes;
using fx::operator+;

// Readable QString values in failure messages.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

namespace {

// Syllables at 100, 300 and 500 ms; a note on channel 1 and a drum on
// channel 10; the song ends at 1000 ms.
Bytes karaokeSong() {
    const Bytes notes = fx::vlq(0) + Bytes{0xC0, 5} + fx::vlq(0) + Bytes{0x90, 60, 100} + fx::vlq(0) +
                        Bytes{0x99, 36, 100} + fx::vlq(400) + Bytes{0x80, 60, 0} + fx::vlq(0) +
                        Bytes{0x89, 36, 0} + fx::vlq(600) + Bytes{0xB0, 7, 100};
    return vozaro::test::song({vozaro::test::lyricTrack({{100, "Can"}, {300, "ta"}, {500, "/mos"}}), notes});
}

// The sound player's double, with something to do while the fanfare starts
// (that is, in the middle of an announcement).
struct FanfareSpy : platform::SoundPlayer {
    void play(const std::string& path) override {
        played.push_back(path);
        stopsSincePlay = 0;
        if (duringFanfare)
            duringFanfare();
    }
    void stop() override { ++stopsSincePlay; }
    std::vector<std::string> played;
    int stopsSincePlay = 0;
    std::function<void()> duringFanfare;
};

class Playback : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        previousStore = platform::installSettingsStore(std::make_unique<platform::MemorySettingsStore>());
        capture.control().setSine(440, 12000, 22050, 1.0);
        stage = std::make_unique<TformKaraoke>();
        ASSERT_TRUE(stage->created());
        vozaro::catalogue::setProgramFolder(folder.path().toStdString());
        ASSERT_TRUE(AbrirAlbum());
        FecharAlbum();
        stage->resize(800, 600);
        stage->show();
        stage->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(stage.get()));
        fx::writeFile((folder.path() + "/nota.wav").toStdString(), Bytes(1, 0));  // the player decides
    }
    void TearDown() override {
        if (stage) {
            stage->close();
            stage.reset();
        }
        platform::installSettingsStore(std::move(previousStore));
    }

    // A song in the catalogue; returns its number.
    std::int32_t addSong(const std::string& file, const std::string& title, const Bytes& bytes = karaokeSong()) {
        const std::int32_t numero = vozaro::test::catalogueEntry("Banda", title, file);
        if (!bytes.empty())
            fx::writeFile((vozaro::catalogue::songsFolder() / file).string(), bytes);
        return numero;
    }
    void request(const QString& number, const QString& singer) { vozaro::test::typeRequest(*stage, number, singer); }
    QStringList lines() const { return vozaro::test::requestLines(*stage); }
    // Advances until pred() holds, at most maxMs; true when it did.
    bool advanceUntil(const std::function<bool()>& pred, std::uint32_t maxMs = 20000) {
        return clock.advanceWhile([&] { return !pred(); }, maxMs);
    }

    std::unique_ptr<platform::SettingsStore> previousStore;
    vozaro::test::RecordingDevices devices;
    platform::ManualTimerService timers;
    platform::ScopedManualWindowClock clock{timers};
    platform::ScopedFakeCapture capture;
    std::shared_ptr<FanfareSpy> sounds = std::make_shared<FanfareSpy>();
    platform::ScopedSoundPlayer soundScope{sounds};
    platform::ScopedMessageRecorder messages;
    QTemporaryDir folder;
    std::unique_ptr<TformKaraoke> stage;
};

}  // namespace

TEST_F(Playback, TypingQueuesRequestsWithTheirPositions) {
    const auto one = addSong("um.kar", "Primeira");
    const auto two = addSong("dois.kar", "Segunda");
    request("1x2", "Ana");                        // the letter cannot be typed: 12 is not there
    request(QString::number(two), "");            // the singer is optional
    request("7", "Bia");                          // not in the catalogue
    request("12", "Carlos Eduardo da Silva");     // 12 is not there either
    request(QString::number(two), "Luiz Fernando de Souza");  // 15 characters at most
    ASSERT_EQ(one, 1);
    EXPECT_EQ(lines(), (QStringList{"00002 -  - Banda - Segunda", "00002 - Luiz Fernando d - Banda - Segunda"}));
    EXPECT_EQ(stage->FilaPosicoes, (QStringList{"1", "1"}));
    EXPECT_TRUE(stage->eNumero->text().isEmpty());
    EXPECT_TRUE(stage->eCantor->text().isEmpty());
    EXPECT_TRUE(stage->eNumero->hasFocus());

    // A pasted text that is not a whole number is not found.
    stage->eNumero->setText("1a");
    stage->eCantor->setFocus();
    EXPECT_TRUE(stage->eNumero->text().isEmpty());

    // Delete removes the selected request only.
    stage->Pedidos->setFocus();
    stage->Pedidos->clearSelection();
    QTest::keyClick(stage->Pedidos, Qt::Key_Delete);
    EXPECT_EQ(stage->Pedidos->count(), 2);
    stage->Pedidos->setCurrentRow(0);
    QTest::keyClick(stage->Pedidos, Qt::Key_Delete);
    EXPECT_EQ(lines(), QStringList{"00002 - Luiz Fernando d - Banda - Segunda"});
    EXPECT_EQ(stage->FilaPosicoes, QStringList{"1"});
}

TEST_F(Playback, TheRequestLineComesFromTheEntryTypedEvenIfANextReadAnotherMeanwhile) {
    addSong("um.kar", "Primeira");
    addSong("dois.kar", "Segunda");
    stage->bPedidosClick();
    stage->eNumero->setFocus();
    QTest::keyClicks(stage->eNumero, "2");
    QTest::keyClick(stage->eNumero, Qt::Key_Return);  // song 2 is looked up
    ASSERT_TRUE(AbrirAlbum());                         // an automatic next reads song 1
    LerRegistro(0);
    FecharAlbum();
    QTest::keyClicks(QApplication::focusWidget(), "Ana");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    EXPECT_EQ(lines(), QStringList{"00002 - Ana - Banda - Segunda"});
    EXPECT_EQ(stage->FilaPosicoes, QStringList{"1"});
}

// A request half typed stays when the singer field loses the focus to
// another window or to its own menu; only moving to another control of the
// stage leaves the field (and empties both fields).
TEST_F(Playback, AHalfTypedRequestStaysUntilTheHostMovesToAnotherControl) {
    addSong("um.kar", "Primeira");
    QWidget elsewhere;  // a message box, another program
    elsewhere.resize(100, 100);
    struct Case {
        const char* name;
        std::function<void()> leave;
        bool emptied;
    };
    const Case cases[] = {
        {"another window takes the focus",
         [&] {
             elsewhere.show();
             elsewhere.activateWindow();
             ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
         },
         false},
        {"the field's own menu opens",
         [&] {
             QFocusEvent out(QEvent::FocusOut, Qt::PopupFocusReason);
             QCoreApplication::sendEvent(stage->eCantor, &out);
         },
         false},
        {"Tab to the number field", [&] { QTest::keyClick(stage->eCantor, Qt::Key_Backtab); }, true},
        {"a click into the request list",
         [&] { QTest::mouseClick(stage->Pedidos->viewport(), Qt::LeftButton, {}, QPoint(5, 5)); }, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        stage->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(stage.get()));
        if (!stage->panelLista->isVisible())
            stage->bPedidosClick();
        stage->eNumero->setFocus();
        QTest::keyClicks(stage->eNumero, "1");
        QTest::keyClick(stage->eNumero, Qt::Key_Return);
        ASSERT_TRUE(stage->eCantor->hasFocus());
        QTest::keyClicks(stage->eCantor, "Ana");
        c.leave();
        EXPECT_EQ(stage->eNumero->text().isEmpty(), c.emptied);
        EXPECT_EQ(stage->eCantor->text().isEmpty(), c.emptied);
        elsewhere.hide();
        stage->eNumero->clear();
        stage->eCantor->clear();
    }
    EXPECT_TRUE(lines().isEmpty());
}

TEST_F(Playback, DraggingTheLastRequestToTheTopMovesOnlyIt) {
    for (const char* title : {"A", "B", "C", "D"})
        addSong(std::string(title) + ".kar", title);
    for (const char* number : {"1", "2", "3", "4"})
        request(number, "");
    QWidget* rows = stage->Pedidos->viewport();
    auto rowCentre = [&](int row) { return stage->Pedidos->visualItemRect(stage->Pedidos->item(row)).center(); };
    QTest::mousePress(rows, Qt::LeftButton, {}, rowCentre(3));
    QMouseEvent move(QEvent::MouseMove, rowCentre(0), rows->mapToGlobal(rowCentre(0)), Qt::NoButton,
                     Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(rows, &move);  // the pointer skips two rows
    QTest::mouseRelease(rows, Qt::LeftButton, {}, rowCentre(0));
    QStringList titles;
    for (const QString& line : lines())
        titles << line.section(" - ", 3);
    EXPECT_EQ(titles, (QStringList{"D", "A", "B", "C"}));
    EXPECT_EQ(stage->FilaPosicoes, (QStringList{"3", "0", "1", "2"}));
}

TEST_F(Playback, AnEveningOfTwoSongs) {
    const QLocale system;
    QLocale::setDefault(QLocale(QLocale::Portuguese, QLocale::Brazil));  // the host's decimal comma
    addSong("um.kar", "Primeira");
    addSong("dois.kar", "Segunda");
    request("1", "Ana-Maria");
    request("2", "");
    QTest::mouseClick(stage->bProxima, Qt::LeftButton);
    EXPECT_TRUE(stage->MidiPlayer.Play());
    EXPECT_EQ(stage->Titulo, "Ana-Maria - Primeira");  // the whole name, hyphen and all
    EXPECT_TRUE(stage->timerDelay->isActive());  // the title for 3 s
    EXPECT_EQ(lines().size(), 1);
    clock.advance(10);
    EXPECT_TRUE(stage->MicProgress->isVisible());

    // The first song ends by itself: scored while the microphone was loud,
    // announced with the fanfare, then the next request starts.
    bool barDisabled = false;
    std::uint64_t fanfareAt = 0;
    sounds->duringFanfare = [&] {
        barDisabled = !stage->panelBotoes->isEnabled() && stage->announcing();
        fanfareAt = clock.elapsed();
    };
    ASSERT_TRUE(advanceUntil([&] { return stage->Titulo == "Segunda"; }, 10000));
    EXPECT_NEAR(static_cast<double>(clock.elapsed() - fanfareAt), 7000.0, 5.0);  // 2 s, then 5 s
    EXPECT_TRUE(stage->MidiPlayer.Play());
    EXPECT_TRUE(barDisabled);
    EXPECT_EQ(stage->announcements(), 1);
    EXPECT_EQ(stage->lastScore().text, "10,0");
    EXPECT_EQ(stage->lastScore().verdict, "Perfeito como um profissional");
    EXPECT_EQ(sounds->played, std::vector<std::string>{(folder.path() + "/nota.wav").toStdString()});
    EXPECT_GE(sounds->stopsSincePlay, 1);  // the fanfare ends with the next song
    EXPECT_FALSE(stage->announcing());
    EXPECT_TRUE(stage->panelBotoes->isEnabled());
    EXPECT_TRUE(lines().isEmpty());

    // The user stops the second song, sung into a silent microphone:
    // announced, but nothing more starts.
    capture.control().setSamples({}, false);
    clock.advance(600);
    QTest::mouseClick(stage->bStop, Qt::LeftButton);
    ASSERT_TRUE(advanceUntil([&] { return stage->announcements() == 2; }, 1000));
    EXPECT_EQ(stage->lastScore().text, "0,0");
    clock.advance(3000);
    EXPECT_FALSE(stage->MidiPlayer.Play());
    QLocale::setDefault(system);
}

TEST_F(Playback, NextWhilePlayingAnnouncesTheScoreFirstAndStartsOnce) {
    addSong("um.kar", "Primeira");
    addSong("dois.kar", "Segunda");
    request("1", "Ana");
    request("2", "Bia");
    stage->bProximaClick();
    clock.advance(350);  // two syllables sung
    int starts = 0;
    bool announcedBeforeStart = false;
    stage->MidiPlayer.OnPlay = [&](vozaro::midi::TMidiPlayer*) {
        ++starts;
        announcedBeforeStart = stage->announcements() == 1 && !stage->announcing();
        stage->MidiPlayerPlay();
    };
    QTest::mouseClick(stage->bProxima, Qt::LeftButton);
    EXPECT_EQ(starts, 1);
    EXPECT_TRUE(announcedBeforeStart);
    EXPECT_EQ(stage->Titulo, "Bia - Segunda");
    EXPECT_TRUE(stage->bProxima->isEnabled());
    clock.advance(3000);
    EXPECT_EQ(starts, 1);  // the stopped song starts nothing by itself
}

TEST_F(Playback, NextWithAnEmptyQueueLeavesTheButtonUsable) {
    stage->bProximaClick();
    EXPECT_TRUE(stage->bProxima->isEnabled());
    EXPECT_FALSE(stage->MidiPlayer.Play());
}

TEST_F(Playback, PlayAfterStopStartsTheSameSongAgainAtNormalSpeedAndKey) {
    addSong("um.kar", "Primeira");
    request("1", "Ana");
    stage->bProximaClick();
    clock.advance(200);
    stage->MidiTempo->setValue(100);
    stage->MidiTone->setValue(5);
    EXPECT_EQ(stage->MidiPlayer.TempoPercent(), 200);
    stage->bStopClick();
    EXPECT_EQ(stage->MidiTempo->value(), 50);
    EXPECT_EQ(stage->MidiTone->value(), 0);
    EXPECT_EQ(stage->MidiPlayer.TempoPercent(), 100);
    ASSERT_TRUE(advanceUntil([&] { return stage->panelBotoes->isEnabled(); }, 10000));

    // A key chosen before Play is kept; drums keep their sounds.
    stage->MidiTone->setValue(-24);
    devices.recorder->clear();
    stage->bPlayClick();
    EXPECT_TRUE(stage->MidiPlayer.Play());
    EXPECT_TRUE(stage->timerDelay->isActive());  // the title again
    clock.advance(50);
    const auto sent = devices.recorder->messages(0);
    EXPECT_NE(std::find(sent.begin(), sent.end(), platform::packShortMessage(0x90, 36, 100)), sent.end());
    EXPECT_NE(std::find(sent.begin(), sent.end(), platform::packShortMessage(0x99, 36, 100)), sent.end());
    EXPECT_EQ(std::find(sent.begin(), sent.end(), platform::packShortMessage(0x90, 60, 100)), sent.end());
    EXPECT_LT(stage->MidiPlayer.Time(), 100);  // from its beginning
}

TEST_F(Playback, SpeedSliderToPercent) {
    for (const auto& [value, percent] : {std::pair{0, 50}, {25, 75}, {50, 100}, {51, 102}, {100, 200}}) {
        stage->MidiTempo->setValue(value);
        EXPECT_EQ(stage->MidiPlayer.TempoPercent(), percent) << value;
    }
}

TEST_F(Playback, QueuedSongsThatCannotPlay) {
    addSong("falta.kar", "Falta", {});                          // no file
    addSong("mudo.kar", "Muda", vozaro::test::song({Bytes{}}));  // no lyrics
    addSong("ruim.kar", "Ruim", Bytes{'M', 'T', 'h', 'd', 0, 0});  // unreadable
    const char* expected[] = {"Música não localizada", nullptr,
                              "Não foi possível ler a música \"ruim.kar\" (Stream read error)."};
    for (int i = 0; i < 3; ++i) {
        request(QString::number(i + 1), "");
        messages.clear();
        stage->bProximaClick();
        EXPECT_FALSE(stage->MidiPlayer.Play()) << i;
        EXPECT_TRUE(stage->bProxima->isEnabled()) << i;
        EXPECT_TRUE(lines().isEmpty()) << i;
        if (expected[i]) {
            ASSERT_EQ(messages.messages().size(), 1u) << i;
            EXPECT_EQ(messages.messages()[0].text, expected[i]);
        } else {
            EXPECT_TRUE(messages.messages().empty());
        }
    }
}

TEST_F(Playback, ARequestFollowsItsSongWhenAnEarlierSongIsRemoved) {
    const auto one = addSong("um.kar", "Primeira");
    addSong("dois.kar", "Segunda");
    request("2", "Ana");
    ASSERT_TRUE(AbrirAlbum());
    ASSERT_TRUE(ExcluirMusica(one));
    FecharAlbum();
    stage->bProximaClick();
    EXPECT_TRUE(stage->MidiPlayer.Play());
    EXPECT_EQ(stage->Titulo, "Ana - Segunda");
}

TEST_F(Playback, WithScoringOffTheNextStartsHalfASecondAfterTheEnd) {
    TformConfig config;
    config.Settings.DarNota = false;
    addSong("um.kar", "Primeira");
    addSong("dois.kar", "Segunda");
    request("1", "");
    request("2", "");
    stage->bProximaClick();
    ASSERT_TRUE(advanceUntil([&] { return !stage->MidiPlayer.Play(); }, 3000));
    const std::uint64_t stopped = clock.elapsed();
    ASSERT_TRUE(advanceUntil([&] { return stage->MidiPlayer.Play(); }, 3000));
    // The end is noted on the timer thread and handled by the next lyric
    // step, at most 50 ms later; the next song starts 500 ms after that.
    EXPECT_GE(clock.elapsed() - stopped, 500u);
    EXPECT_LE(clock.elapsed() - stopped, 560u);
    EXPECT_EQ(stage->announcements(), 0);
}

TEST_F(Playback, DuringTheAnnouncementRequestsCanGoAndTheWindowCanClose) {
    addSong("um.kar", "Primeira");
    addSong("dois.kar", "Segunda");
    request("1", "");
    request("2", "");
    stage->bProximaClick();
    // The last request is deleted while the score is shown.
    sounds->duringFanfare = [&] {
        stage->Pedidos->setCurrentRow(0);
        QTest::keyClick(stage->Pedidos, Qt::Key_Delete);
    };
    ASSERT_TRUE(advanceUntil([&] { return stage->announcements() == 1; }, 3000));
    EXPECT_FALSE(stage->announcing());
    EXPECT_FALSE(stage->MidiPlayer.Play());
    EXPECT_TRUE(stage->panelBotoes->isEnabled());
    EXPECT_TRUE(lines().isEmpty());

    // Closed in the middle of a pause: nothing more is drawn or started.
    request("2", "");
    request("2", "");
    stage->bProximaClick();
    sounds->duringFanfare = [&] { stage->close(); };
    ASSERT_TRUE(advanceUntil([&] { return stage->announcements() == 2; }, 3000));
    clock.advance(10000);
    EXPECT_FALSE(stage->MidiPlayer.Play());
    EXPECT_FALSE(stage->announcing());
    EXPECT_FALSE(stage->isVisible());
    stage.reset();
}

TEST_F(Playback, TocarAgoraDuringAnAnnouncementStartsTheSongOnceTheScoreHasBeenShown) {
    addSong("um.kar", "Primeira");
    addSong("dois.kar", "Segunda");
    request("1", "");
    stage->bProximaClick();
    clock.advance(350);
    std::uint64_t fanfareAt = 0;
    sounds->duringFanfare = [&] {
        fanfareAt = clock.elapsed();
        stage->playNow(2);  // the catalogue window's button, inside the announcement
    };
    stage->bStopClick();  // stopped by the host: nothing would start by itself
    ASSERT_TRUE(advanceUntil([&] { return stage->Titulo == "Segunda"; }, 10000));
    EXPECT_NEAR(static_cast<double>(clock.elapsed() - fanfareAt), 7000.0, 5.0);
    EXPECT_TRUE(stage->MidiPlayer.Play());
    EXPECT_EQ(clock.waitsGivenUp(), 0);
}

TEST_F(Playback, AStopDuringTheAnnouncementDoesNotCutItShort) {
    addSong("um.kar", "Primeira");
    request("1", "");
    stage->bProximaClick();
    clock.advance(350);
    std::uint64_t fanfareAt = 0;
    sounds->duringFanfare = [&] {
        fanfareAt = clock.elapsed();
        stage->MidiPlayerStop();  // as after the catalogue's check of a file to add
    };
    stage->bStopClick();
    ASSERT_TRUE(advanceUntil([&] { return fanfareAt > 0 && !stage->announcing(); }, 10000));
    EXPECT_GE(clock.elapsed() - fanfareAt, 7000u);  // question, then score and verdict
    clock.advance(1000);
    EXPECT_EQ(stage->announcements(), 1);
    EXPECT_TRUE(stage->panelBotoes->isEnabled());
}

TEST_F(Playback, AStaleStopMessageLeavesTheNewSongPlaying) {
    addSong("um.kar", "Primeira");
    addSong("dois.kar", "Segunda");
    request("1", "");
    request("2", "");
    stage->bProximaClick();
    clock.advance(600);  // every syllable sung
    // Run the players' clock alone until the song has ended: its stop is
    // posted, not yet handled.
    timers.advance(500);
    ASSERT_FALSE(stage->MidiPlayer.Play());
    stage->bProximaClick();  // handles that stop, announces, then starts the next
    EXPECT_TRUE(stage->MidiPlayer.Play());
    EXPECT_EQ(stage->announcements(), 1);
    QCoreApplication::processEvents();  // the old stop message arrives
    EXPECT_TRUE(stage->MidiPlayer.Play());
    EXPECT_TRUE(stage->MidiData.Active());
}

TEST_F(Playback, TocarAgoraPutsTheSongFirstAndPlaysIt) {
    addSong("um.kar", "Primeira");
    addSong("dois.kar", "Segunda");
    request("1", "Ana");
    stage->eCantor->setText(QStringLiteral("Bia"));  // typed, not yet queued
    stage->playNow(2);
    EXPECT_TRUE(stage->MidiPlayer.Play());
    EXPECT_EQ(stage->Titulo, "Segunda");  // queued without a singer
    EXPECT_EQ(lines().size(), 1);
    EXPECT_TRUE(lines()[0].startsWith("00001 - Ana"));
    request("2", "Caio");
    stage->playNow(9);  // not in the catalogue: the queue did not grow, Ana is still next
    EXPECT_EQ(stage->Titulo, "Ana - Primeira");

    stage->releaseCheckedSong();
    EXPECT_TRUE(stage->MidiData.FileName().empty());
}

TEST_F(Playback, TheMixerOfTheConfigurationWindowAndTheConfirmations) {
    using namespace vozaro::platform;
    auto card = FakeMixerCard::typicalSoundCard();
    ScopedMixerSystem mixerScope{std::make_shared<FakeMixerSystem>(std::vector<std::shared_ptr<FakeMixerCard>>{card})};
    TformConfig config;
    ASSERT_GE(config.MidiLine, 0);
    stage->VolMidi->setValue(30000);
    EXPECT_EQ(card->control(0, config.MidiLine, MIXERCONTROL_CONTROLTYPE_VOLUME)->values[0], 30000);

    // Play makes the microphone the recording source (a MUX left on "Line In").
    auto& selection = card->destinations[1].line.controls[1].values;
    selection = {0, 1, 0, 0};
    addSong("um.kar", "Primeira");
    request("1", "");
    stage->bProximaClick();
    ASSERT_TRUE(stage->MidiPlayer.Play());
    EXPECT_EQ(selection, (std::vector<std::int32_t>{0, 0, 1, 0}));

    // Both windows ask first while a song plays; No leaves it playing.
    messages.setAnswer(MessageResult::No);
    messages.clear();
    stage->bConfigClick();
    stage->bMusicasClick();
    ASSERT_EQ(messages.messages().size(), 2u);
    EXPECT_EQ(messages.messages()[0].text,
              "Deseja realmente parar a reprodução atual e alterar as configurações do Vozaro?");
    EXPECT_EQ(messages.messages()[1].text,
              "Para incluir músicas sem parar a reprodução,\nutilize a janela \"Pedidos\". Deseja realmente\n"
              "parar a reprodução atual e abrir o Catálogo de Músicas?");
    EXPECT_EQ(messages.messages()[1].buttons, MessageButtons::YesNo);
    EXPECT_TRUE(stage->MidiPlayer.Play());
    EXPECT_TRUE(config.Settings.autoNextSwitch);
}

TEST_F(Playback, ASongEndingWhileAConfirmationIsOpenStartsNoRequestInsideIt) {
    addSong("um.kar", "Primeira");
    addSong("dois.kar", "Segunda");
    request("1", "");
    request("2", "");
    stage->bProximaClick();
    std::vector<qsizetype> queuedAfterAnswer;
    const auto previous = platform::setMessageResponder([&](const platform::MessageRequest&) {
        clock.advance(10000);  // the song ends and is scored while the host reads
        queuedAfterAnswer.push_back(stage->FilaPosicoes.size());
        return platform::MessageResult::No;
    });
    for (void (TformKaraoke::*ask)() : {&TformKaraoke::bMusicasClick, &TformKaraoke::bConfigClick}) {
        if (!stage->MidiPlayer.Play())
            stage->bPlayClick();  // the same song again
        ASSERT_TRUE(stage->MidiPlayer.Play());
        clock.advance(200);
        (stage.get()->*ask)();
    }
    platform::setMessageResponder(previous);
    EXPECT_EQ(queuedAfterAnswer, (std::vector<qsizetype>{1, 1}));
    // No gave automatic next back: a song ending now starts the request.
    stage->bPlayClick();
    EXPECT_TRUE(advanceUntil([&] { return stage->Titulo == "Segunda"; }, 10000));
}

TEST_F(Playback, ARiffSongPlaysAgainAfterStop) {
    // Loading a RIFF song renames the song model's file to ".MID"; Play
    // must go back to the file the song came from.
    const Bytes smf = karaokeSong();
    auto le32 = [](std::size_t v) {
        return Bytes{static_cast<std::uint8_t>(v), static_cast<std::uint8_t>(v >> 8),
                     static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 24)};
    };
    const Bytes data = Bytes{'d', 'a', 't', 'a'} + le32(smf.size()) + smf;
    addSong("riff.rmi", "Riff", Bytes{'R', 'I', 'F', 'F'} + le32(4 + data.size()) + Bytes{'R', 'M', 'I', 'D'} + data);
    request("1", "");
    stage->bProximaClick();
    ASSERT_TRUE(stage->MidiPlayer.Play()) << (messages.messages().empty() ? "" : messages.messages()[0].text);
    clock.advance(200);
    stage->bStopClick();
    ASSERT_TRUE(advanceUntil([&] { return stage->panelBotoes->isEnabled(); }, 10000));
    stage->bPlayClick();
    EXPECT_TRUE(stage->MidiPlayer.Play());
    EXPECT_EQ(stage->Titulo, "Riff");
}

// A queued song the engine cannot read: the host is told which song, in
// Portuguese, with the engine's own text after it.  It used to get the bare
// English text.
TEST_F(Playback, ASongThatCannotBeReadIsNamedInTheMessage) {
    struct Case {
        const char* file;
        Bytes bytes;
        const char* engineText;
    };
    const Bytes header = fx::smf(1, 1, 96, {});
    const Case cases[] = {
        {"cortada.kar", Bytes(header.begin(), header.begin() + 10), "Stream read error"},
        {"trilha.kar", header + fx::text("MTrX") + fx::be32(0), "Invalid track start ID"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const auto numero = addSong(c.file, "Quebrada", c.bytes);
        request(QString::number(numero), "Ana");
        messages.clear();
        stage->bProximaClick();
        ASSERT_EQ(messages.messages().size(), 1u);
        EXPECT_EQ(messages.messages()[0].text,
                  std::string("Não foi possível ler a música \"") + c.file + "\" (" + c.engineText + ").");
        EXPECT_FALSE(stage->MidiPlayer.Play());
    }
}

TEST_F(Playback, TheMelodyVolumeReachesTheMelodyChannelAtOnceAndHoldsForTheNextSongs) {
    // The melody on channel 2, a note under each syllable, its volume 100 at
    // 900 ms; the accompaniment on channel 3 with a volume of 80.
    const Bytes notes = fx::vlq(0) + Bytes{0xB2, 7, 80} + fx::vlq(0) + Bytes{0x92, 50, 100} +
                        fx::vlq(100) + Bytes{0x91, 60, 100} + fx::vlq(200) + Bytes{0x91, 62, 100} +
                        fx::vlq(200) + Bytes{0x91, 64, 100} + fx::vlq(400) + Bytes{0xB1, 7, 100};
    const Bytes withMelody =
        vozaro::test::song({vozaro::test::lyricTrack({{100, "Can"}, {300, "ta"}, {500, "/mos"}}), notes});
    addSong("um.kar", "Primeira", withMelody);
    addSong("dois.kar", "Segunda", withMelody);
    addSong("tres.kar", "Terceira");  // no melody: channel 1 keeps its own volume
    TKaraokeSettings settings;
    settings.VolumeMelodia = 25;
    stage->config.settings = [&] { return &settings; };
    const auto volumes = [&](int channel) {
        std::vector<int> values;
        for (const std::uint32_t m : devices.recorder->messages(0))
            if ((m & 0xFFFF) == (0x07B0u | static_cast<std::uint32_t>(channel)))
                values.push_back(static_cast<int>(m >> 16));
        return values;
    };
    const auto lastVolume = [&](int channel) {
        const std::vector<int> values = volumes(channel);
        return values.empty() ? -1 : values.back();
    };
    const auto playNext = [&](const QString& number) {
        request(number, "Ana");
        stage->bProximaClick();
        ASSERT_TRUE(advanceUntil([&] { return stage->MidiPlayer.Play(); }));
    };
    // Channel 2 is never scaled: its own 80, or the default 90 of a reset.
    const auto accompanimentUntouched = [&] {
        for (const int v : volumes(2))
            EXPECT_TRUE(v == 80 || v == 90) << v;
    };

    playNext("1");
    EXPECT_EQ(stage->MidiPlayer.MelodyChannel(), 1);
    EXPECT_EQ(lastVolume(1), 25);  // the song has sent none yet: the default 100, scaled
    clock.advance(200);
    settings.VolumeMelodia = 0;
    stage->optionsChanged();
    EXPECT_EQ(lastVolume(1), 0);  // at once
    devices.recorder->clear();
    clock.advance(750);
    EXPECT_EQ(volumes(1).at(0), 0);  // the song's own 100 at 900 ms, scaled
    accompanimentUntouched();

    playNext("2");
    EXPECT_EQ(lastVolume(1), 0);
    devices.recorder->clear();
    clock.advance(950);
    EXPECT_EQ(volumes(1).at(0), 0);
    accompanimentUntouched();

    playNext("3");
    EXPECT_EQ(stage->MidiPlayer.MelodyChannel(), -1);
    devices.recorder->clear();
    clock.advance(1050);
    EXPECT_EQ(volumes(0).at(0), 100);
}
