// The evening's flow without a window: songs from the catalogue played on the
// recording MIDI device, on the test clock, with a window double that notes
// what the flow asks of the stage window.
#include <gtest/gtest.h>

#include "AllocationCounting.h"
#include "DescriptorsUsedUp.h"

#include <QTemporaryDir>

#include <cstdlib>
#include <functional>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "stores/vozaro_colecao.h"
#include "midi/PlayerTestDevices.h"
#include "support/ManualTimerService.h"
#include "support/ScopedManualWindowClock.h"
#include "platform/MessageBox.h"
#include "support/MessageRecorder.h"
#include "platform/devices/SoundPlayer.h"
#include "platform/WindowTimer.h"
#include "settings/WindowTestSupport.h"
#include "stage/EveningFlow.h"
#include "stage/KaraokeSongs.h"
#include "stage/canvas/KaraokeStage.h"
#include "phone/PhoneApi.h"
#include "stage/canvas/PhoneInvite.h"
#include "stage/canvas/UpNext.h"

namespace fx = vozaro::midi::fixtures;
using fx::operator+;
namespace platform = vozaro::platform;
using vozaro::stage::EveningFlow;
using vozaro::stage::EveningWindow;
using vozaro::stage::RequestQueue;

inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

using vozaro::test::allocationsCounted;
using vozaro::test::countAllocations;

namespace {

// Syllables at 100, 300 and 500 ms; the song ends at 1000 ms.
fx::Bytes karaokeSong() {
    const fx::Bytes notes = fx::vlq(0) + fx::Bytes{0x90, 60, 100} + fx::vlq(400) + fx::Bytes{0x80, 60, 0} +
                            fx::vlq(600) + fx::Bytes{0xB0, 7, 100};
    return vozaro::test::song({vozaro::test::lyricTrack({{100, "Can"}, {300, "ta"}, {500, "/mos"}}), notes});
}

struct SilentPlayer : platform::SoundPlayer {
    void play(const std::string&) override {}
};

// The stage window as the flow sees it.  Its lyric timer runs while a song
// plays, as the window's does.
class WindowDouble : public EveningWindow {
public:
    WindowDouble() { lyricTimer.setInterval(50); }
    bool& autoNextSwitch() override { return autoNext; }
    bool scoringOn() override { return scoring; }
    bool pitchScoringOn() override { return pitchScoring; }
    void setButtonBarEnabled(bool enabled) override { barEnabled = enabled; }
    void setNextEnabled(bool enabled) override { nextEnabled = enabled; }
    void showQueue() override {}
    void selectMicrophone() override {}
    void startListening() override { ++starts; }
    int key() override { return keyChosen; }
    void songStopped() override {
        lyricTimer.stop();
        if (stage != nullptr)
            stage->stopDisplaySteps();
        ++stops;
        if (afterStop)
            afterStop();
    }
    void songStarting() override { idle = false; }
    void stageIdle() override { idle = true; }
    int pictureCount() override { return 0; }
    void loadRandomPicture() override {}
    void showCatalogue() override {
        ++catalogueShown;
        if (duringCatalogue)
            duringCatalogue();
    }
    bool showConfiguration() override {
        ++configurationShown;
        if (duringConfiguration)
            duringConfiguration();
        return configurationSaves;
    }
    void catalogueUnavailable() override { ++programEnded; }

    bool autoNext = true;
    bool scoring = true;
    bool pitchScoring = true;
    int keyChosen = 0;
    bool barEnabled = true;
    bool nextEnabled = true;
    int starts = 0;
    int stops = 0;
    int catalogueShown = 0;
    int configurationShown = 0;
    bool configurationSaves = false;
    int programEnded = 0;
    std::function<void()> duringCatalogue;
    std::function<void()> duringConfiguration;
    std::function<void()> afterStop;
    bool idle = true;
    platform::WindowTimer lyricTimer;
    KaraokeStage* stage = nullptr;  // its display steps stop with the song, as the window's do
};

class Evening : public ::testing::Test {
protected:
    void SetUp() override {
        testApplication();
        vozaro::catalogue::setProgramFolder(folder.path().toStdString());
        ASSERT_TRUE(AbrirAlbum());
        FecharAlbum();
        stage.resizeCanvas(QSize(800, 600));
        window.lyricTimer.setOnTimer([this] { flow.lyricStep(); });
        window.stage = &stage;
        stage.displayStepDue = [this] { flow.displayStep(); };
        stage.MidiPlayer.OnPlay = [this](vozaro::midi::TMidiPlayer*) {
            window.lyricTimer.start();
            stage.startDisplaySteps();
        };
        // Every syllable is sung.
        flow.VozPresente = true;
    }

    // Catalogues a song and queues a request for it; returns its number.
    std::int32_t request(const std::string& title, const QString& singer, std::string file = {},
                         const fx::Bytes& bytes = karaokeSong()) {
        if (file.empty())
            file = title + ".kar";
        const std::int32_t numero = vozaro::test::catalogueEntry("Banda", title, file);
        fx::writeFile((vozaro::catalogue::songsFolder() / file).string(), bytes);
        const auto found = vozaro::stage::findSong(numero);
        queue.append(vozaro::stage::requestFor(found.entry, found.position, singer));
        return numero;
    }
    // Plays the song until its end has been noted on the players' clock,
    // not yet handled by the flow.
    void playToItsEnd() {
        clock.advance(600);
        timers.advance(500);
        ASSERT_FALSE(stage.MidiPlayer.Play());
    }
    bool advanceUntil(const std::function<bool()>& pred, std::uint32_t maxMs = 20000) {
        return clock.advanceWhile([&] { return !pred(); }, maxMs);
    }
    std::vector<std::string> messageTexts() const {
        std::vector<std::string> texts;
        for (const auto& message : messages.messages())
            texts.push_back(message.text);
        return texts;
    }

    vozaro::test::RecordingDevices devices;
    platform::ManualTimerService timers;
    platform::ScopedManualWindowClock clock{timers};
    platform::ScopedSoundPlayer sounds{std::make_shared<SilentPlayer>()};
    platform::ScopedMessageRecorder messages{platform::MessageResult::Yes};
    QTemporaryDir folder;
    KaraokeStage stage;
    RequestQueue queue;
    WindowDouble window;
    EveningFlow flow{stage, queue, window};
};

}  // namespace

TEST_F(Evening, AWholeEveningSongEndScoreNextStopAndPlayAgain) {
    request("Primeira", "Ana");
    request("Segunda", "Bia");
    flow.next();
    ASSERT_TRUE(stage.MidiPlayer.Play());
    EXPECT_EQ(flow.Titulo, "Ana - Primeira");
    EXPECT_TRUE(flow.timerDelay->isActive());  // the title, for 3 s
    EXPECT_TRUE(window.nextEnabled);

    // The first song ends by itself: its end is handled by the next lyric
    // step, the bar waits for the score, then the next request starts.
    ASSERT_TRUE(advanceUntil([&] { return !stage.MidiPlayer.Play(); }));
    ASSERT_TRUE(advanceUntil([&] { return !window.barEnabled; }, 60));
    ASSERT_TRUE(advanceUntil([&] { return flow.Titulo == "Bia - Segunda"; }, 8000));
    EXPECT_TRUE(window.barEnabled);
    EXPECT_EQ(flow.announcements(), 1);
    EXPECT_EQ(flow.lastScore().verdict, "Perfeito como um profissional");
    EXPECT_TRUE(queue.isEmpty());

    // Stopped by the host: announced, and nothing starts by itself.
    clock.advance(350);
    flow.stop();
    EXPECT_FALSE(stage.MidiPlayer.Play());
    EXPECT_FALSE(window.barEnabled);
    clock.advance(10000);
    EXPECT_EQ(flow.announcements(), 2);
    EXPECT_TRUE(window.autoNext);  // put back after the stop
    EXPECT_TRUE(window.barEnabled);
    EXPECT_FALSE(stage.MidiPlayer.Play());

    // Play starts the same song again from its start, with its title.
    flow.play();
    EXPECT_TRUE(stage.MidiPlayer.Play());
    EXPECT_EQ(flow.Titulo, "Bia - Segunda");
    EXPECT_TRUE(flow.timerDelay->isActive());
    EXPECT_LT(stage.MidiPlayer.Time(), 10);
    EXPECT_TRUE(messages.messages().empty());
}

// Next pressed just as a song ends by itself: one request starts, whichever
// of the two comes first, and the rest of the queue waits.
TEST_F(Evening, NextJustAsASongEndsStartsExactlyOneRequest) {
    struct Case {
        const char* name;
        bool endHandledFirst;  // the lyric step handles the end before Next
        bool scoring;
    };
    const Case cases[] = {
        {"Next before the end is handled", false, true},
        {"the end handled, then Next", true, true},
        {"Next before the end is handled, scoring off", false, false},
        {"the end handled, then Next, scoring off", true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        queue.clear();
        window.scoring = c.scoring;
        request("Primeira", "Ana");
        request("Segunda", "Bia");
        request("Terceira", "Caio");
        request("Quarta", "Duda");
        flow.next();
        ASSERT_EQ(flow.Titulo, "Ana - Primeira");
        int starts = 0;
        stage.MidiPlayer.OnPlay = [&](vozaro::midi::TMidiPlayer*) {
            ++starts;
            window.lyricTimer.start();
            stage.startDisplaySteps();
        };
        playToItsEnd();
        if (c.endHandledFirst) {
            clock.advance(50);
            ASSERT_TRUE(flow.timerNota->isActive());
            EXPECT_EQ(flow.timerNotaTag, 0);  // a song that ended by itself
        }
        messages.clear();
        const int announcedBefore = flow.announcements();
        flow.next();
        EXPECT_EQ(starts, 1);
        EXPECT_EQ(flow.Titulo, "Bia - Segunda");
        EXPECT_TRUE(stage.MidiPlayer.Play());
        EXPECT_TRUE(flow.timerDelay->isActive());  // its title is on screen
        EXPECT_EQ(queue.count(), 2);
        EXPECT_EQ(flow.announcements() - announcedBefore, c.scoring ? 1 : 0);
        EXPECT_EQ(window.catalogueShown, 0);
        EXPECT_TRUE(messageTexts().empty());
        EXPECT_TRUE(window.autoNext);
        EXPECT_TRUE(window.nextEnabled);
        // Nothing else starts before this song ends.
        clock.advance(700);
        EXPECT_EQ(starts, 1);
        EXPECT_EQ(flow.Titulo, "Bia - Segunda");
        flow.stopPlaying();
        clock.advance(8000);
        EXPECT_EQ(starts, 1);
    }
}

TEST_F(Evening, TheStageOwnStopsNeverStartTheNextRequest) {
    struct Case {
        const char* name;
        std::function<void(EveningFlow&)> stop;
    };
    const Case cases[] = {
        {"Stop", [](EveningFlow& flow) { flow.stop(); }},
        {"the catalogue window", [](EveningFlow& flow) { flow.openCatalogue(); }},
        {"the configuration window", [](EveningFlow& flow) { flow.openConfiguration(); }},
        {"a karaoke check of a file to add",
         [this](EveningFlow& flow) {
             // The check loads the file as a song, which stops the player.
             const auto file = vozaro::catalogue::songsFolder() / "Primeira.kar";
             ASSERT_TRUE(stage.CarregarMusica(QString::fromStdString(file.string())));
             flow.releaseCheckedSong();
             EXPECT_TRUE(flow.songFile().empty());
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        queue.clear();
        request("Primeira", "");
        request("Segunda", "");
        flow.next();
        ASSERT_TRUE(stage.MidiPlayer.Play());
        clock.advance(350);
        c.stop(flow);
        EXPECT_FALSE(stage.MidiPlayer.Play());
        EXPECT_TRUE(window.autoNext);
        clock.advance(10000);
        EXPECT_FALSE(stage.MidiPlayer.Play());
        EXPECT_EQ(queue.count(), 1);
        EXPECT_TRUE(window.barEnabled);
    }
}

// Whatever the configuration window's outcome, automatic next ends as the
// saved settings say: cancelled or not saved (OK with a device that could
// not be opened), it is what it was.
TEST_F(Evening, TheConfigurationWindowLeavesAutomaticNextAsSaved) {
    struct Case {
        const char* name;
        bool saves;
        bool checkedInWindow;  // the switch as the window's saving sets it
        bool expected;
    };
    const Case cases[] = {
        {"saved with automatic next on", true, true, true},
        {"saved with automatic next off", true, false, false},
        {"not saved", false, false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        window.autoNext = true;
        window.configurationSaves = c.saves;
        bool offWhileShown = false;
        window.duringConfiguration = [&] {
            offWhileShown = !window.autoNext;
            if (c.saves)
                window.autoNext = c.checkedInWindow;
        };
        flow.openConfiguration();
        EXPECT_TRUE(offWhileShown);
        EXPECT_EQ(window.autoNext, c.expected);
    }
}

TEST_F(Evening, ASongEndingWhileTheCatalogueIsOpenStartsNothingInsideIt) {
    request("Primeira", "");
    request("Segunda", "");
    flow.next();
    clock.advance(350);
    // The host answers the question only after the song has ended.
    window.duringCatalogue = [&] { clock.advance(8000); };
    messages.setAnswer(platform::MessageResult::No);
    flow.openCatalogue();  // playing: asked, and No
    EXPECT_EQ(window.catalogueShown, 0);
    EXPECT_TRUE(stage.MidiPlayer.Play());
    messages.setAnswer(platform::MessageResult::Yes);
    flow.openCatalogue();
    EXPECT_EQ(window.catalogueShown, 1);
    EXPECT_FALSE(stage.MidiPlayer.Play());
    EXPECT_EQ(queue.count(), 1);
    EXPECT_TRUE(window.autoNext);
}

TEST_F(Evening, ACatalogueThatCannotBeOpenedEndsTheProgramWithoutAnotherMessage) {
    request("Primeira", "");
    // The album file turns into a folder: the catalogue cannot be opened.
    const auto album = vozaro::catalogue::programFolder() / "vozaro.alb";
    std::filesystem::remove(album);
    std::filesystem::create_directory(album);
    flow.next();
    EXPECT_EQ(window.programEnded, 1);
    ASSERT_EQ(messages.messages().size(), 1u);  // the catalogue's own message
    EXPECT_NE(messages.messages()[0].text, "Música não localizada");
    EXPECT_FALSE(stage.MidiPlayer.Play());

    messages.clear();
    flow.playNow(1);
    EXPECT_EQ(window.programEnded, 2);
    EXPECT_EQ(messages.messages().size(), 1u);
}

// No sound output opens: the host is told why, the request waits first in
// the queue, and once the output is back, Play sings it.
TEST_F(Evening, ARequestNobodyCouldHearStaysFirstInTheQueue) {
    request("Primeira", "Ana");
    request("Segunda", "Bia");
    const QStringList waiting = queue.lines();
    const std::uint64_t first = queue.requests().front().id;
    for (int device : {0, 1})
        devices.recorder->setOpenFails(device, true);
    flow.next();
    EXPECT_FALSE(stage.MidiPlayer.Play());
    EXPECT_EQ(messageTexts(), std::vector<std::string>{
                                  "Não foi possível abrir a saída de som (the recording device refuses to open)."});
    EXPECT_EQ(queue.lines(), waiting);
    EXPECT_EQ(queue.requests().front().id, first);  // the same request, not a new one
    EXPECT_EQ(queue.positions().size(), 2);
    EXPECT_TRUE(window.idle);  // the invitation comes back

    for (int device : {0, 1})
        devices.recorder->setOpenFails(device, false);
    flow.play();
    EXPECT_TRUE(stage.MidiPlayer.Play());
    EXPECT_EQ(flow.Titulo, "Ana - Primeira");
    EXPECT_EQ(queue.lines(), waiting.mid(1));
}

TEST_F(Evening, TocarAgoraPutsTheSongFirstAndPlaysIt) {
    request("Primeira", "Ana");
    const std::int32_t second = request("Segunda", "Bia");
    queue.removeAt(1);
    flow.playNow(second);
    EXPECT_EQ(flow.Titulo, "Segunda");
    EXPECT_TRUE(stage.MidiPlayer.Play());
    EXPECT_EQ(queue.count(), 1);
    flow.playNow(99);  // not in the catalogue: Next starts the waiting request
    ASSERT_TRUE(advanceUntil([&] { return flow.Titulo == "Ana - Primeira"; }, 1000));
    EXPECT_TRUE(queue.isEmpty());
}

// The end of a song, raised where the player's timer ticks, is only noted:
// nothing is allocated and no lock is taken there.  The next lyric step
// handles it.
TEST_F(Evening, TheEndOfASongIsNotedWithoutAllocating) {
    request("Primeira", "");
    flow.next();
    clock.advance(600);
    timers.advance(390);
    ASSERT_TRUE(stage.MidiPlayer.Play());
    countAllocations = true;
    timers.advance(20);  // the song ends on this tick
    countAllocations = false;
    ASSERT_FALSE(stage.MidiPlayer.Play());
    EXPECT_EQ(allocationsCounted, 0);
    EXPECT_FALSE(flow.timerNota->isActive());  // not handled yet
    clock.advance(50);
    EXPECT_TRUE(flow.timerNota->isActive());
    EXPECT_FALSE(window.barEnabled);
}

// --- scoring by pitch ----------------------------------------------------------------

namespace {

// Syllables at 100, 300 and 500 ms sung on C4, E4 and G4 (channel 1); a held
// chord on channel 2 under them.  The song ends at 1000 ms.
fx::Bytes melodySong() {
    const fx::Bytes voice = fx::vlq(100) + fx::Bytes{0x90, 60, 100} + fx::vlq(200) + fx::Bytes{0x80, 60, 0} +
                            fx::vlq(0) + fx::Bytes{0x90, 64, 100} + fx::vlq(200) + fx::Bytes{0x80, 64, 0} +
                            fx::vlq(0) + fx::Bytes{0x90, 67, 100} + fx::vlq(300) + fx::Bytes{0x80, 67, 0} +
                            fx::vlq(200) + fx::Bytes{0xB0, 7, 100};
    const fx::Bytes chord = fx::vlq(0) + fx::Bytes{0x91, 48, 60} + fx::vlq(900) + fx::Bytes{0x81, 48, 0};
    return vozaro::test::song(
        {vozaro::test::lyricTrack({{100, "Can"}, {300, "ta"}, {500, "/mos"}}), voice, chord});
}

}  // namespace

// A syllable is judged on the buffers from its highlight on: a hit as soon
// as one is heard in tune, a miss when none is within the judging time or
// before the next syllable.
TEST_F(Evening, ASyllableIsInTuneWhenABufferAfterItsHighlightIs) {
    stage.melody.channel = 0;
    stage.melody.notes = {60, 64, -1};
    const int judged = EveningFlow::kPitchJudgingMs * 22050 / (512 * 1000) + 1;
    struct Case {
        const char* name;
        int syllable;
        int key;
        bool voice;
        double sung;     // from the judged buffer on
        int quietFirst;  // buffers of an out-of-tune voice before it
        bool pitchOn;
        int heard;       // Acertos after the syllable
    } cases[] = {
        {"in tune at once", 0, 0, true, 60.2, 0, true, 1},
        {"an octave below", 0, 0, true, 48.0, 0, true, 1},
        {"a fifth above", 0, 0, true, 67.0, 0, true, 0},
        {"in tune but not above the noise", 0, 0, false, 60.0, 0, true, 0},
        {"late but within the judging time", 1, 0, true, 64.0, judged - 1, true, 1},
        {"too late", 1, 0, true, 64.0, judged, true, 0},
        {"the key moves the note", 1, 3, true, 67.0, 0, true, 1},
        {"the key moved, sung as written", 1, 3, true, 64.0, 0, true, 0},
        {"no melody note: heard is sung", 2, 0, true, 40.0, 0, true, 1},
        {"pitch scoring off: heard is sung", 0, 0, true, 67.0, 0, false, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        flow.Acertos = 0;
        flow.Erros = 0;
        window.keyChosen = c.key;
        window.pitchScoring = c.pitchOn;
        stage.SilabaAtual = c.syllable;
        flow.VozPresente = c.voice;
        flow.Afinacao = {c.sung + 6.0, 0.95};  // a tritone off until then
        if (c.quietFirst == 0)
            flow.Afinacao.note = c.sung;
        flow.syllableHighlighted();
        for (int b = 1; b < c.quietFirst; ++b)
            flow.bufferHeard();
        flow.Afinacao.note = c.sung;
        flow.bufferHeard();
        for (int b = 0; b < judged; ++b)
            flow.bufferHeard();
        EXPECT_EQ(flow.Acertos, c.heard);
        EXPECT_EQ(flow.Acertos + flow.Erros, 1) << "counted once";
    }
    // The next syllable ends the judging of the one before.
    flow.Acertos = 0;
    flow.Erros = 0;
    window.pitchScoring = true;
    window.keyChosen = 0;
    flow.VozPresente = true;
    flow.Afinacao = {50.0, 0.95};
    stage.SilabaAtual = 0;
    flow.syllableHighlighted();
    stage.SilabaAtual = 1;
    flow.syllableHighlighted();
    EXPECT_EQ(flow.Erros, 1);
    flow.Afinacao.note = 64.0;
    flow.bufferHeard();
    EXPECT_EQ(flow.Acertos, 1);
}

// A whole song on the test clock, sung by a voice that follows the melody a
// little late, is scored by pitch: in tune, a fifth above, an octave below,
// transposed, silent, and by loudness with pitch scoring off.
TEST_F(Evening, ASongSungInTuneScoresByPitch) {
    const std::string file = "Melodia.kar";
    const std::int32_t numero = vozaro::test::catalogueEntry("Banda", "Melodia", file);
    fx::writeFile((vozaro::catalogue::songsFolder() / file).string(), melodySong());
    struct Case {
        const char* name;
        double shift;  // semitones from the melody
        bool voice;
        int key;
        bool pitchOn;
        double score;
    } cases[] = {
        {"in tune", 0, true, 0, true, 10},       {"a fifth above", 7, true, 0, true, 0},
        {"an octave below", -12, true, 0, true, 10}, {"silent", 0, false, 0, true, 0},
        {"transposed", 3, true, 3, true, 10},    {"by loudness", 7, true, 0, false, 10},
    };
    window.autoNext = false;
    const auto melodyAt = [&](std::int64_t ms) {
        return ms < 300 ? 60 : ms < 500 ? 64 : 67;
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        window.pitchScoring = c.pitchOn;
        window.keyChosen = c.key;
        const int before = flow.announcements();
        // The voice comes 60 ms after each note; a buffer every 50 ms.
        window.lyricTimer.setOnTimer([&] {
            const std::int64_t heardAt = stage.MidiPlayer.Time() - 60;
            flow.VozPresente = c.voice;
            flow.Afinacao = {melodyAt(heardAt) + c.shift, c.voice ? 0.95 : 0.1};
            flow.bufferHeard();
            flow.lyricStep();
        });
        flow.playNow(numero);
        ASSERT_TRUE(stage.MidiPlayer.Play());
        ASSERT_TRUE(stage.melody.found());
        ASSERT_TRUE(advanceUntil([&] { return flow.announcements() > before; }, 5000));
        EXPECT_EQ(flow.lastScore().value, c.score);
        advanceUntil([&] { return !flow.announcing(); }, 10000);
    }
}

// --- who sings next ---------------------------------------------------------------------

namespace {

// Notes what the up-next line shows whenever a window timer runs, also
// inside the announcement's pauses, where the test's own code does not.
struct UpNextWatch {
    UpNextWatch(const EveningFlow& flow) : flow(flow) {
        timer.setOnTimer([this] { look(); });
        timer.setInterval(25);
        timer.start();
    }
    void look() {
        if (flow.announcing())
            duringAnnouncement.insert(flow.upNext().text());
    }
    const EveningFlow& flow;
    std::set<QString> duringAnnouncement;
    platform::WindowTimer timer;
};

}  // namespace

TEST_F(Evening, WhoSingsNextFollowsTheEveningAndTheQueue) {
    const auto shown = [&] { return flow.upNext().text(); };
    const auto clean = [&](const QRect& area) {
        return !area.isEmpty() && stage.canvas().copy(area) == stage.FundoLimpo.copy(area);
    };
    UpNextWatch watch(flow);
    flow.queueChanged();
    EXPECT_EQ(shown(), "");

    // Waiting with requests queued.
    request("Primeira", "Ana");
    request("Segunda", "Bia");
    flow.queueChanged();
    EXPECT_EQ(shown(), QStringLiteral("A seguir: Ana \u2014 Primeira"));
    const QRect drawn = flow.upNext().rect();
    EXPECT_FALSE(clean(drawn));
    EXPECT_NEAR(drawn.center().x(), stage.canvasWidth() / 2, 2);  // a short line is centred

    // Ana sings: nothing until her last syllable (at 500 ms), then Bia.
    flow.next();
    EXPECT_EQ(shown(), "");
    EXPECT_TRUE(clean(drawn));
    ASSERT_TRUE(advanceUntil([&] { return stage.SilabaAtual == 1; }));
    EXPECT_EQ(shown(), "");
    ASSERT_TRUE(advanceUntil([&] { return !shown().isEmpty(); }, 300));
    EXPECT_EQ(stage.SilabaAtual, 2);
    EXPECT_EQ(shown(), QStringLiteral("A seguir: Bia \u2014 Segunda"));

    // The queue changes meanwhile: a request without a singer put first,
    // then deleted.
    request("Terceira", "");
    queue.move(1, 0);
    flow.queueChanged();
    EXPECT_EQ(shown(), QStringLiteral("A seguir: Terceira"));
    queue.removeAt(0);
    flow.queueChanged();
    EXPECT_EQ(shown(), QStringLiteral("A seguir: Bia \u2014 Segunda"));

    // Through the end of the song and the score, until Bia starts.
    ASSERT_TRUE(advanceUntil([&] { return flow.Titulo == "Bia - Segunda"; }, 10000));
    EXPECT_EQ(flow.announcements(), 1);
    EXPECT_EQ(watch.duringAnnouncement, std::set<QString>{QStringLiteral("A seguir: Bia \u2014 Segunda")});
    EXPECT_EQ(shown(), "");
    EXPECT_TRUE(clean(drawn));

    // Bia is the last: nobody is next, even after her last syllable, until
    // a request comes; emptied, the queue takes the line away.
    ASSERT_TRUE(advanceUntil([&] { return stage.SilabaAtual == 2; }));
    clock.advance(100);
    EXPECT_EQ(shown(), "");
    request("Quarta", "Duda");
    flow.queueChanged();
    EXPECT_EQ(shown(), QStringLiteral("A seguir: Duda \u2014 Quarta"));
    queue.clear();
    flow.queueChanged();
    EXPECT_EQ(shown(), "");
    EXPECT_TRUE(clean(flow.upNext().rect().isEmpty() ? drawn : flow.upNext().rect()));
}

// A singer's name is shown whole, whatever it holds: a hyphen, or the very
// separator of the panel's lines.
TEST_F(Evening, TheSingersWholeNameIsShownWhateverItHolds) {
    request("Samba", "Ana-Maria");
    request("Valsa", "Ana - x - FORA");
    flow.queueChanged();
    EXPECT_EQ(flow.upNext().text(), QStringLiteral("A seguir: Ana-Maria \u2014 Samba"));
    flow.next();
    EXPECT_EQ(flow.Titulo, "Ana-Maria - Samba");
    ASSERT_TRUE(advanceUntil([&] { return !flow.upNext().text().isEmpty(); }, 2000));
    EXPECT_EQ(flow.upNext().text(), QStringLiteral("A seguir: Ana - x - FORA \u2014 Valsa"));
    ASSERT_TRUE(advanceUntil([&] { return flow.Titulo != "Ana-Maria - Samba"; }, 10000));
    EXPECT_EQ(flow.Titulo, "Ana - x - FORA - Valsa");
}

TEST_F(Evening, WhoSingsNextShowsInASongWithoutLyricsForItsLast20Seconds) {
    // A note from 0 to 30 s, no lyrics.
    const fx::Bytes notes = fx::vlq(0) + fx::Bytes{0x90, 60, 100} + fx::vlq(30000) + fx::Bytes{0x80, 60, 0};
    const std::string file = (vozaro::catalogue::songsFolder() / "instrumental.mid").string();
    fx::writeFile(file, vozaro::test::song({notes}));
    request("Depois", "Bia");
    EXPECT_FALSE(stage.CarregarMusica(QString::fromStdString(file)));  // no lyrics: the host plays it
    EXPECT_EQ(stage.songEnd, 30000);
    flow.play();
    ASSERT_TRUE(stage.MidiPlayer.Play());
    EXPECT_EQ(flow.upNext().text(), "");
    ASSERT_TRUE(advanceUntil([&] { return !flow.upNext().text().isEmpty(); }, 30000));
    EXPECT_NEAR(static_cast<double>(stage.MidiPlayer.Time()), 10000.0, 60.0);
    EXPECT_TRUE(stage.MidiPlayer.Play());
    flow.stopPlaying();
}

// The screen sizes hosts use.
const QSize kHostScreens[] = {{800, 600}, {1024, 768}, {1280, 1024}, {1920, 1080}};

// The line keeps clear of the logo, the phone invitation, the lyric lines
// with their countdown, the title and the score, at the screen sizes hosts
// use, with long names.
TEST_F(Evening, WhoSingsNextNeverCoversAnotherText) {
    for (const QSize& size : kHostScreens) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        queue.clear();
        stage.resizeCanvas(size);
        request("Uma Cancao Com Um Titulo Bem Comprido de Verdade", "Maximiliana", "um.kar");
        request("Outra Cancao Com Um Titulo Ainda Mais Comprido Que a Primeira", "Bartolomeu", "dois.kar");
        const int announced = flow.announcements();
        flow.next();
        ASSERT_TRUE(stage.MidiPlayer.Play());
        const QRect title(stage.CaixaX, stage.CaixaY, stage.CaixaLargura, stage.CaixaAltura);
        const QRect lyrics(QPoint(0, stage.LinhaY[1] - stage.AlturaLinha - 1), QPoint(size.width(), size.height()));
        std::vector<QRect> score;
        QRect upNext;
        platform::WindowTimer look([&] {
            if (flow.announcing()) {
                score.emplace_back(stage.CaixaX, stage.CaixaY, stage.CaixaLargura, stage.CaixaAltura);
                upNext = flow.upNext().rect();
            }
        });
        look.setInterval(20);
        look.start();
        ASSERT_TRUE(advanceUntil([&] { return flow.announcements() > announced && !flow.announcing(); }, 10000));
        look.stop();
        flow.stopPlaying();
        clock.advance(8000);
        ASSERT_FALSE(upNext.isEmpty());
        ASSERT_FALSE(score.empty());
        EXPECT_TRUE(QRect(QPoint(0, 0), size).contains(upNext));
        EXPECT_FALSE(upNext.intersects(QRect(QPoint(10, 10), stage.logo.size())));
        EXPECT_FALSE(upNext.intersects(vozaro::stage::phoneInviteArea(stage)));
        EXPECT_FALSE(upNext.intersects(lyrics));
        EXPECT_FALSE(upNext.intersects(title));
        for (const QRect& box : score)
            EXPECT_FALSE(upNext.intersects(box.adjusted(-1, -1, 1, 1)));
        // Smaller than the lyrics, and not tiny.
        EXPECT_LT(upNext.height(), stage.AlturaLinha);
        EXPECT_GE(upNext.height(), size.height() / 30);
    }
}

// Each request's wait, as the guests are told it, against the test clock: the
// song playing at the speed it has now, the next ones at 100 %, the pause
// with the score between them.  A song file that cannot be read counts as 4
// minutes.
TEST_F(Evening, EachWaitIsWhenTheRequestStarts) {
    // Syllables at 100, 1000 and 2000 ms; the song ends at 3000 ms.
    const fx::Bytes notes = fx::vlq(0) + fx::Bytes{0x90, 60, 100} + fx::vlq(2900) + fx::Bytes{0x80, 60, 0} +
                            fx::vlq(100) + fx::Bytes{0xB0, 7, 100};
    request("Primeira", "Ana");
    request("Longa", "Bia", "longa.kar",
            vozaro::test::song({vozaro::test::lyricTrack({{100, "Lon"}, {1000, "ga"}, {2000, "/mos"}}), notes}));
    request("Terceira", "Caio");
    request("Ruim", "Duda", "ruim.kar", fx::Bytes{'M', 'T', 'h', 'd', 0, 0});
    EXPECT_EQ(queue.requests()[0].lengthMs, 1000);
    EXPECT_EQ(queue.requests()[1].lengthMs, 3000);
    EXPECT_EQ(queue.requests()[3].lengthMs, vozaro::stage::kUnknownLengthMs);
    // After every stop the speed goes back to normal.
    window.afterStop = [&] { stage.MidiPlayer.setTempoPercent(100); };

    const auto waits = [&] { return vozaro::stage::waitsMs(queue.requests(), flow.stageTimes()); };
    EXPECT_EQ(waits().front(), 0);  // idle: the first starts at once
    flow.next();
    ASSERT_EQ(flow.Titulo, "Ana - Primeira");
    clock.advance(400);
    stage.MidiPlayer.setTempoPercent(50);  // the singer asks for half speed
    const std::vector<std::int64_t> told = waits();
    ASSERT_EQ(told.size(), 3u);

    const std::uint64_t asked = clock.elapsed();
    for (std::size_t k : {0u, 1u}) {
        const QString title = k == 0 ? "Bia - Longa" : "Caio - Terceira";
        ASSERT_TRUE(clock.advanceWhile([&] { return flow.Titulo != title; }, 60000));
        EXPECT_NEAR(static_cast<double>(clock.elapsed() - asked), static_cast<double>(told[k]), 150.0) << k;
    }
    // Without the score, half a second between songs.
    window.scoring = false;
    EXPECT_EQ(flow.stageTimes().pauseMs, 500);
    flow.stopPlaying();
}

// The invitation, large on the idle stage: a code a third of the screen high
// or more, its address and code under it, who sings next beside it, clear of
// the logo, the up-next line's place and the bars, at the sizes hosts use.
TEST_F(Evening, TheInvitationIsLargeAndClearOfTheRestAtEverySize) {
    const QSize sizes[] = {{800, 600}, {1024, 768}, {1280, 1024}, {1920, 1080}};
    const QString address = QStringLiteral("192.168.100.200");
    const QStringList upNext = {QStringLiteral("Maximiliana \u2014 Uma Cancao Com Um Titulo Bem Comprido de Verdade"),
                                QStringLiteral("Bartolomeu \u2014 Outra Cancao"), QStringLiteral("Terceira")};
    for (const QSize& size : sizes) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        stage.resizeCanvas(size);
        const int modules =
            vozaro::stage::phoneInviteModules(vozaro::stage::phoneAddress(address, 8080, QStringLiteral("123456")));
        const auto layout = vozaro::stage::phoneInviteLayout(stage, modules);
        const QRect drawn = vozaro::stage::drawPhoneInvite(stage, address, 8080, QStringLiteral("123456"), upNext);
        const int bars = size.height() - stage.barHeight * 12 / 10 - stage.micBarHeight;
        EXPECT_GE(layout.code.height(), size.height() / 3);
        EXPECT_TRUE(QRect(QPoint(0, 0), size).contains(drawn));
        EXPECT_TRUE(drawn.contains(layout.code));
        for (const QRect& part : {layout.code, layout.caption, layout.list}) {
            EXPECT_FALSE(part.intersects(QRect(QPoint(10, 10), stage.logo.size())));
            EXPECT_FALSE(part.intersects(vozaro::stage::upNextArea(stage)));
            EXPECT_LT(part.bottom(), bars);
        }
        // The address and code under the code, the list beside it.
        EXPECT_GT(layout.caption.top(), layout.code.bottom());
        EXPECT_GE(layout.list.left(), layout.code.right());
        // The three lines drawn beside the code: the list's third line
        // changes the picture.
        const int line = stage.textSize(QStringLiteral("Ág"), layout.points).height();
        const QRect third(layout.list.left(), layout.list.top() + line * 9 / 2, layout.list.width(), line);
        EXPECT_NE(stage.canvas().copy(third), stage.FundoLimpo.copy(third));
        stage.eraseRect(drawn);
    }
}

// The melody band keeps clear of the logo, the lyric lines with their
// countdown, the title, the score and the line of who sings next, at the
// screen sizes hosts use; where it has no room beside the title it waits
// for the title to go.  It is gone once the song has ended.
TEST_F(Evening, MelodyBandNeverCoversAnotherText) {
    for (const QSize& size : kHostScreens) {
        SCOPED_TRACE(std::to_string(size.width()) + "x" + std::to_string(size.height()));
        queue.clear();
        stage.resizeCanvas(size);
        request("Uma Cancao Com Um Titulo Bem Comprido de Verdade", "Maximiliana", "melodia.kar");
        fx::writeFile((vozaro::catalogue::songsFolder() / "melodia.kar").string(), vozaro::test::songWithKnownNotes());
        request("Outra Cancao", "Bartolomeu", "dois.kar");
        const int announced = flow.announcements();
        flow.next();
        ASSERT_TRUE(stage.MidiPlayer.Play());
        const vozaro::stage::MelodyBand& band = stage.melodyBand;
        int shown = 0;
        int besideText = 0;
        bool besideTitle = false;
        platform::WindowTimer look([&] {
            if (band.shownLine() < 0)
                return;
            const QRect rect = band.shownRect();
            ++shown;
            besideTitle = band.besideTitle();
            const QRect lyrics(QPoint(0, stage.LinhaY[1] - stage.AlturaLinha - 1), QPoint(size.width(), size.height()));
            EXPECT_TRUE(QRect(QPoint(0, 0), size).contains(rect));
            EXPECT_FALSE(rect.intersects(lyrics));
            EXPECT_FALSE(rect.intersects(QRect(QPoint(10, 10), stage.logo.size())));
            EXPECT_FALSE(rect.intersects(flow.upNext().rect()));
            if (stage.textBoxShown) {
                ++besideText;
                EXPECT_FALSE(rect.intersects(
                    QRect(stage.CaixaX - 1, stage.CaixaY - 1, stage.CaixaLargura + 2, stage.CaixaAltura + 2)));
            }
        });
        look.setInterval(10);
        look.start();
        ASSERT_TRUE(advanceUntil([&] { return flow.announcements() > announced && !flow.announcing(); }, 12000));
        look.stop();
        EXPECT_GT(shown, 50);
        // The lines show from the start, with the title.
        EXPECT_EQ(besideText > 0, besideTitle);
        EXPECT_EQ(besideTitle, size.height() > 800);
        EXPECT_EQ(band.shownLine(), -1);
        flow.stopPlaying();
        clock.advance(8000);
    }
}

TEST(UpNextText, SingerAndTitleOfTheRequest) {
    struct Case {
        QString singer, interprete, musica;
        QString text;
    };
    const Case cases[] = {
        {"Ana", "Tom Jobim", "Garota de Ipanema", "A seguir: Ana \u2014 Garota de Ipanema"},
        {"", "Tom Jobim", "Garota de Ipanema", "A seguir: Garota de Ipanema"},
        {"Ana", "Banda", "Ela - Ele", "A seguir: Ana \u2014 Ela - Ele"},  // a hyphen in the title
        {"Ana-Maria", "Banda", "Samba", "A seguir: Ana-Maria \u2014 Samba"},
        {"Ana", "", "", "A seguir: Ana"},
        {"", "", "", ""},
    };
    for (const Case& c : cases) {
        vozaro::stage::Request request;
        request.numero = 12;
        request.singer = c.singer;
        request.interprete = c.interprete;
        request.musica = c.musica;
        EXPECT_EQ(vozaro::stage::upNextText(request), c.text) << c.singer.toStdString();
    }
}

// No descriptor left for a moment (a flood of connections): the request waits
// first in the queue, the host is told once to try again, and the evening
// goes on; the songs folder, known in another case, is not made anew.
TEST_F(Evening, ACatalogueThatCannotBeOpenedForNowKeepsTheRequest) {
    request("Primeira", "Ana");
    request("Segunda", "Bia");
    const QStringList queued = queue.lines();
    const std::filesystem::path songs = vozaro::catalogue::songsFolder();
    std::filesystem::rename(songs, songs.parent_path() / "musicas");
    {
        vozaro::test::DescriptorsUsedUp used;
        flow.next();
    }
    EXPECT_EQ(messageTexts(), std::vector<std::string>{vozaro::catalogue::kAlbumNotNow});
    EXPECT_EQ(window.programEnded, 0);
    EXPECT_EQ(queue.lines(), queued);
    EXPECT_FALSE(stage.MidiPlayer.Play());
    EXPECT_FALSE(std::filesystem::exists(songs));

    flow.next();
    EXPECT_TRUE(stage.MidiPlayer.Play());
    EXPECT_EQ(flow.Titulo, "Ana - Primeira");
    EXPECT_EQ(messages.messages().size(), 1u);
}
