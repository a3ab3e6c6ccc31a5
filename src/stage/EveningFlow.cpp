#include "stage/EveningFlow.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>
#include <utility>

#include "stores/vozaro_colecao.h"
#include "midi/cmpMidiOutput.h"
#include "platform/MessageBox.h"
#include "platform/devices/SoundPlayer.h"
#include "platform/TextEncoding.h"
#include "platform/WindowTimer.h"
#include "stage/canvas/KaraokeStage.h"
#include "karaoke/Melody.h"

using vozaro::platform::MessageButtons;
using vozaro::platform::MessageIcon;
using vozaro::platform::MessageResult;
using vozaro::platform::showMessage;
using vozaro::platform::waitWhile;

namespace vozaro::stage {

namespace {

// Round to the nearest integer, halves to the even neighbour.
int roundHalfEven(double value) { return static_cast<int>(std::nearbyint(value)); }

QString fromCatalogue(const std::string& text) {
    return QString::fromStdString(platform::windows1252ToUtf8(text));
}

bool confirmed(const char* question) {
    return showMessage(question, MessageIcon::Question, MessageButtons::YesNo) == MessageResult::Yes;
}

}  // namespace

// Automatic next switched off while the stage stops a song itself or asks
// and shows another window, so that no stop in between starts the next
// request; put back as it was at the end, unless saving the settings has set
// it anew.
class EveningFlow::AutoNextOff {
public:
    explicit AutoNextOff(EveningFlow& flow) : window_(flow.window_), remembered_(window_.autoNextSwitch()) {
        window_.autoNextSwitch() = false;
    }
    ~AutoNextOff() {
        if (restore_)
            window_.autoNextSwitch() = remembered_;
    }
    AutoNextOff(const AutoNextOff&) = delete;
    AutoNextOff& operator=(const AutoNextOff&) = delete;
    void keepNewValue() { restore_ = false; }

private:
    EveningWindow& window_;
    const bool remembered_;
    bool restore_ = true;
};

EveningFlow::EveningFlow(KaraokeStage& stage, RequestQueue& queue, EveningWindow& window)
    : stage_(stage), queue_(queue), window_(window), uiThread_(std::this_thread::get_id()) {
    using platform::WindowTimer;
    timerDelay = std::make_unique<WindowTimer>([this] { delayOver(); });
    timerDelay->setSingleShot(true);
    timerNota = std::make_unique<WindowTimer>([this] { announceScore(); });
    timerNota->setInterval(500);
    timerNota->setSingleShot(true);
    stage_.syllableSung = [this] { syllableHighlighted(); };
    stage_.backgroundReplaced = [this] { upNext_.backgroundReplaced(); };
    stage_.MidiPlayer.OnStop = [this](midi::TMidiPlayer*) { stopReported(); };
}

EveningFlow::~EveningFlow() {
    closing_ = true;
    announcing_ = false;
    // No stop may reach a flow that is going: a stop raised by the timer
    // thread is let finish its handler before the handler goes.
    stage_.MidiPlayer.clearStopHandler();
    stage_.MidiPlayer.Stop();
    stage_.syllableSung = nullptr;
    stage_.backgroundReplaced = nullptr;
}

// --- starting and stopping -----------------------------------------------------------

void EveningFlow::runDelayOut() {
    if (timerDelay->isActive())
        delayOver();
}

void EveningFlow::delayOver() {
    timerDelay->stop();
    stage_.eraseTextBox();
}

void EveningFlow::showTitle() {
    if (Titulo.isEmpty())
        return;
    const int W = stage_.canvasWidth();
    const int H = stage_.canvasHeight();
    int size = 100;
    QSize text = stage_.textSize(Titulo, size);
    while (size > 1 && (text.width() > roundHalfEven(0.7 * W) || text.height() > roundHalfEven(0.08 * H)))
        text = stage_.textSize(Titulo, --size);
    stage_.CaixaLargura = text.width();
    stage_.CaixaAltura = text.height() + 4;
    stage_.CaixaX = (W - text.width()) / 2;
    stage_.CaixaY = (H - text.height() - 4) / 2;
    stage_.drawOutlinedText(stage_.CaixaX, stage_.CaixaY, Titulo, size, Qt::black, KaraokeStage::kYellow);
    stage_.textBoxShown = true;
    timerDelay->start(3000);
}

void EveningFlow::play() {
    midi::TMidiPlayer& player = stage_.MidiPlayer;
    if (player.Play())
        return;
    // A song that has just ended is handled first; the bar then waits for
    // its score, and this click counts for nothing.
    if (handlePendingEnd(false))
        return;
    runDelayOut();
    window_.selectMicrophone();
    // A RIFF song's name is changed by loading: the file it came from counts.
    std::string file = songFile_.empty() ? stage_.MidiData.FileName() : songFile_;
    if (!QFileInfo(QFile::decodeName(file.c_str())).isFile()) {
        file.clear();
        songFile_.clear();
        stage_.MidiData.setFileName(std::string());
    }
    if (QString::fromStdString(file).trimmed().isEmpty()) {
        next();
        return;
    }
    window_.songStarting();
    try {
        if (!stage_.MidiData.Active()) {
            showTitle();
            stage_.MidiData.setFileName(file);
            stage_.OrMidi.setFileName(file);
            stage_.MidiData.setActive(true);
            stage_.OrMidi.setActive(true);
            stage_.TrackOutputs.setActive(true);
            songLengthMs_ = songLengthMs(stage_.MidiData);
            player.UpdateMidiData();
            player.setStopAtEnd(true);
            player.Rewind();
            // A key chosen while nothing played applies from the start.
            if (const int key = window_.key(); key != 0)
                player.transpose(stage_.OrMidi, stage_.MidiData, key);
        }
        Acertos = 0;
        Erros = 0;
        judgedNote_ = -1;
        window_.startListening();
        stopPosted_.store(false);
        platform::soundPlayer().stop();  // a fanfare still sounding ends with the new song
        player.setPlay(true);
        refreshUpNext();
    } catch (const midi::EMidiOutputPort& error) {
        // No sound output: the song is let go so that it starts afresh
        // once the output is back.
        outputFailed_ = true;
        stage_.TrackOutputs.setActive(false);
        stage_.MidiData.setActive(false);
        stage_.OrMidi.setActive(false);
        showMessage(KaraokeStage::songFailureMessage({}, error), MessageIcon::Error);
        window_.stageIdle();
    } catch (const std::exception& error) {
        const QString song = QFile::decodeName(file.c_str());
        showMessage(KaraokeStage::songFailureMessage(song, error), MessageIcon::Error);
        window_.stageIdle();
    }
}

void EveningFlow::stop() {
    runDelayOut();
    stage_.LimparAreaLetra();
    if (stage_.MidiPlayer.Play())
        stopWithoutAutoNext();
    else
        handlePendingEnd(true);
}

void EveningFlow::stopWithoutAutoNext() {
    const AutoNextOff autoNextOff(*this);
    stopping_.store(true);
    try {
        stage_.MidiPlayer.Stop();  // playerStopped has run when it returns
    } catch (...) {
    }
    stopping_.store(false);
}

void EveningFlow::stopPlaying() {
    const midi::TMidiPlayer& player = stage_.MidiPlayer;
    if (player.Play() || player.FastForward() || player.Paused())
        stopWithoutAutoNext();
    else
        handlePendingEnd(true);
}

bool EveningFlow::handlePendingEnd(bool byTheHost) {
    if (!stopPosted_.exchange(false) || closing_)
        return false;
    if (byTheHost) {
        const AutoNextOff autoNextOff(*this);
        playerStopped();
    } else {
        playerStopped();
    }
    return true;
}

void EveningFlow::stopReported() {
    if (std::this_thread::get_id() == uiThread_ &&
        (stopping_.load() || midi::TMidiPlayer::TickInProgress() == 0)) {
        playerStopped();
        return;
    }
    stopPosted_.store(true);
}

void EveningFlow::lyricStep() {
    if (handlePendingEnd(false))
        return;
    refreshUpNext();
}

void EveningFlow::displayStep() {
    // A song that has ended waits for the lyric step: nothing is lit after
    // its end.
    if (stopPosted_.load())
        return;
    stage_.AtualizarLetra();
}

void EveningFlow::playerStopped() {
    endPitchJudging();
    try {
        window_.setButtonBarEnabled(false);
        window_.songStopped();
        stage_.LimparAreaLetra();
        stage_.MidiData.setActive(false);
        stage_.OrMidi.setActive(false);
        stage_.TrackOutputs.setActive(false);
        stage_.TempoLimpeza = 0;
        stage_.UltimaCarregada = -1;
        stage_.SilabaAtual = -1;
        stage_.LinhaAtual = 0;
        stage_.Contagem.clear();
        stage_.ContagemAcesa.clear();
        stage_.TempoContagem = stage_.firstCountdown();
        for (int slot : {1, 2}) {
            stage_.Linha[slot].clear();
            stage_.Cantado[slot].clear();
        }
    } catch (...) {
        // Scoring and the next request follow whatever failed.
    }
    timerNotaTag = window_.autoNextSwitch() ? 0 : 1;
    timerNota->start();
    refreshUpNext();
}

// --- counting the syllables -------------------------------------------------------------

void EveningFlow::syllableHighlighted() {
    endPitchJudging();
    const Melody& melody = stage_.melody;
    const std::int32_t k = stage_.SilabaAtual;
    const bool byPitch = melody.found() && k >= 0 && static_cast<std::size_t>(k) < melody.notes.size() &&
                         melody.notes[static_cast<std::size_t>(k)] >= 0 && window_.pitchScoringOn();
    if (!byPitch) {
        ++(VozPresente ? Acertos : Erros);
        return;
    }
    judgedNote_ = transposedNote(melody.notes[static_cast<std::size_t>(k)], window_.key());
    judgedHit_ = false;
    // 512-sample buffers of 22050 Hz: 23.2 ms each.
    judgedBuffersLeft_ = std::max(1, kPitchJudgingMs * 22050 / (512 * 1000) + 1);
    // The buffer heard last may already be in tune.
    bufferHeard();
}

void EveningFlow::bufferHeard() {
    if (judgedNote_ < 0)
        return;
    if (VozPresente && Afinacao.heard() && inTune(Afinacao.note, judgedNote_))
        judgedHit_ = true;
    if (judgedHit_ || --judgedBuffersLeft_ <= 0)
        endPitchJudging();
}

void EveningFlow::endPitchJudging() {
    if (judgedNote_ < 0)
        return;
    judgedNote_ = -1;
    ++(judgedHit_ ? Acertos : Erros);
}

// --- the next request -------------------------------------------------------------------

void EveningFlow::next() {
    // Asked for inside the announcement (its pauses let other handlers run,
    // such as the catalogue window's "Tocar Agora"): the announcement can
    // only go on once this returns, so the request starts when it is over.
    // Asked for while another Next waits for the score: that one starts it.
    if (announcing_) {
        nextAfterAnnouncement_ = true;
        return;
    }
    if (nextWaiting_)
        return;
    const std::weak_ptr<char> alive = alive_;
    window_.setNextEnabled(false);
    struct EnableAgain {
        const std::weak_ptr<char>& alive;
        EveningWindow& window;
        ~EnableAgain() {
            if (!alive.expired())
                window.setNextEnabled(true);
        }
    } enableAgain{alive, window_};

    runDelayOut();
    if (queue_.isEmpty()) {
        openCatalogue();
        return;
    }
    runDelayOut();
    if (stage_.MidiPlayer.Play()) {
        stopWithoutAutoNext();
        QCoreApplication::processEvents();
    }
    // The end of the song noted and not handled yet counts as stopped by
    // this Next, so that its score comes first and nothing else starts.
    handlePendingEnd(true);
    // This Next starts the next request once the score has been announced;
    // the end of the announcement must not start one as well.
    timerNotaTag = 1;
    nextWaiting_ = true;
    waitWhile([&] { return !alive.expired() && !closing_ && (timerNota->isActive() || announcing_); });
    if (alive.expired())
        return;
    nextWaiting_ = false;
    if (closing_)
        return;
    // The host may have deleted the last request meanwhile.
    if (queue_.isEmpty()) {
        openCatalogue();
        return;
    }
    startFirstRequest();
}

void EveningFlow::startFirstRequest() {
    if (window_.pictureCount() > 1)
        window_.loadRandomPicture();
    const auto request = queue_.takeFirst();
    window_.showQueue();
    // Who sings after this request shows once it has started or failed to.
    struct UpNextAfterwards {
        EveningFlow& flow;
        ~UpNextAfterwards() { flow.refreshUpNext(); }
    } upNextAfterwards{*this};
    // A request that could not start waits first in the queue again.
    auto putBack = [&] {
        queue_.putBackFirst(*request);
        window_.showQueue();
    };
    const FoundSong found = requestedEntry(*request);
    if (found.result == FoundSong::CatalogueUnavailable) {
        window_.catalogueUnavailable();
        return;
    }
    if (found.result == FoundSong::CatalogueNotNow) {
        putBack();  // the host has been told to try again
        return;
    }
    if (found.result == FoundSong::NotFound) {
        // The song left the catalogue since it was requested.
        showMessage("Música não localizada", MessageIcon::Error);
        return;
    }
    RegistroAtual = found.entry;
    Titulo = titleOf(request->singer, fromCatalogue(found.entry.Musica));
    started_ = request;
    started_->musica = fromCatalogue(found.entry.Musica);
    const auto path = catalogue::songFilePath(found.entry.Arquivo);
    songFile_ = path ? path->string() : std::string();
    const QString song = path ? QFile::decodeName(path->c_str()) : QString();
    try {
        outputFailed_ = false;
        if (stage_.CarregarMusica(song))
            play();
        if (outputFailed_) {
            // Nobody heard it: Play takes the request from there.
            putBack();
            songFile_.clear();
            stage_.MidiData.setFileName(std::string());
            stage_.OrMidi.setFileName(std::string());
        }
    } catch (const std::exception& error) {
        // A file the MIDI engine cannot read.
        showMessage(KaraokeStage::songFailureMessage(song, error), MessageIcon::Error);
    }
}

void EveningFlow::playNow(std::int32_t numero) {
    const FoundSong found = findSong(numero);
    if (found.result == FoundSong::CatalogueUnavailable) {
        window_.catalogueUnavailable();
        return;
    }
    if (found.result == FoundSong::CatalogueNotNow)
        return;  // the host has been told to try again
    if (found.result == FoundSong::Found) {
        RegistroAtual = found.entry;
        // Wherever fair turns put it, this request goes first.
        const std::uint64_t id = queue_.append(requestFor(found.entry, found.position, QString())).id;
        queue_.move(queue_.rowOf(id), 0);
        window_.showQueue();
        refreshUpNext();
    }
    next();
}

void EveningFlow::releaseCheckedSong() {
    {
        const AutoNextOff autoNextOff(*this);
        playerStopped();
    }
    songFile_.clear();
    stage_.MidiData.setFileName(std::string());
    stage_.OrMidi.setFileName(std::string());
}

// --- the other windows --------------------------------------------------------------------

void EveningFlow::openCatalogue() {
    runDelayOut();
    // A song ending while the question or the window is open must not start
    // the next request inside them: automatic next is off from here on.
    const AutoNextOff autoNextOff(*this);
    if (stage_.MidiPlayer.Play() &&
        !confirmed("Para incluir músicas sem parar a reprodução,\n"
                   "utilize a janela \"Pedidos\". Deseja realmente\n"
                   "parar a reprodução atual e abrir o Catálogo de Músicas?"))
        return;
    stopPlaying();
    window_.showCatalogue();
}

void EveningFlow::openConfiguration() {
    runDelayOut();
    AutoNextOff autoNextOff(*this);
    if (stage_.MidiPlayer.Play() &&
        !confirmed("Deseja realmente parar a reprodução atual e alterar as configurações do Vozaro?"))
        return;
    stopPlaying();
    // Saved, the settings have set the switch anew; whatever else happened
    // (cancelled, or OK with a device that could not be opened, which saves
    // nothing) it goes back to what it was.
    if (window_.showConfiguration())
        autoNextOff.keepNewValue();
}

// --- the score ----------------------------------------------------------------------------

bool EveningFlow::pause(int ms) {
    const std::weak_ptr<char> alive = alive_;
    timerDelay->start(ms);
    waitWhile([&] { return !alive.expired() && timerDelay->isActive(); });
    return !alive.expired() && announcing_ && !closing_;
}

void EveningFlow::announceScore() {
    timerNota->stop();
    if (closing_)
        return;
    // A stop handled during the announcement (its pauses let other handlers
    // run) is scored once this announcement is over, never inside it.
    if (announcing_) {
        timerNota->start();
        return;
    }
    const std::weak_ptr<char> alive = alive_;
    announcing_ = true;
    refreshUpNext();
    try {
        if (window_.scoringOn() && Acertos + Erros > 0) {
            const Score score = scoreOf(Acertos, Erros);
            lastScore_ = score;
            ++announcements_;
            Acertos = 0;
            Erros = 0;
            KaraokeStage& s = stage_;
            const int W = s.canvasWidth();
            const int H = s.canvasHeight();
            const QString question = QStringLiteral("E a nota do cantor é...");
            const QSize asked = s.textSize(question, 34);
            s.CaixaLargura = asked.width();
            s.CaixaAltura = asked.height();
            s.CaixaX = (W - s.CaixaLargura) / 2;
            s.CaixaY = (H - s.CaixaAltura) / 2 - 80;
            s.drawOutlinedText(s.CaixaX, s.CaixaY, question, 34, Qt::black, KaraokeStage::kYellow);
            s.textBoxShown = true;
            const auto fanfare = catalogue::programFolder() / "nota.wav";
            std::error_code unreadable;  // a folder we may not look into: no fanfare
            if (std::filesystem::exists(fanfare, unreadable))
                platform::soundPlayer().play(fanfare.string());
            if (!pause(kAskingMs))
                return;

            const QSize number = s.textSize(score.text, 150);
            const QSize verdict = s.textSize(score.verdict, 34);
            s.CaixaLargura = number.width();
            s.CaixaAltura = number.height();
            s.CaixaX = (W - s.CaixaLargura) / 2;
            const int x = (W - verdict.width()) / 2;
            s.CaixaY = (H - s.CaixaAltura) / 2 - verdict.height();
            const int y = s.CaixaY + s.CaixaAltura;
            s.drawOutlinedText(s.CaixaX, s.CaixaY, score.text, 150, Qt::black, KaraokeStage::kYellow);
            s.drawOutlinedText(x, y, score.verdict, 34, Qt::black, KaraokeStage::kYellow);
            QCoreApplication::processEvents();
            if (alive.expired() || closing_)
                return;
            s.CaixaX = std::min(s.CaixaX, x);
            s.CaixaLargura = std::max(s.CaixaLargura, verdict.width());
            s.CaixaAltura = y + verdict.height() - s.CaixaY;
            if (!pause(kScoreMs))
                return;
        }
    } catch (...) {
        // The bar is enabled again and the queue goes on whatever failed.
    }
    announcing_ = false;
    window_.setButtonBarEnabled(true);
    refreshUpNext();
    const bool nextAsked = std::exchange(nextAfterAnnouncement_, false);
    if (nextAsked || (timerNotaTag == 0 && !queue_.isEmpty()))
        next();
    else
        window_.stageIdle();
}

// --- closing ------------------------------------------------------------------------------

void EveningFlow::close() {
    // An announcement waiting in one of its pauses ends there.
    closing_ = true;
    announcing_ = false;
    runDelayOut();
    upNext_.hide();
}

// --- who sings next -------------------------------------------------------------------------

bool EveningFlow::upNextDue() const {
    if (closing_ || queue_.isEmpty() || window_.invitationShown())
        return false;
    const midi::TMidiPlayer& player = stage_.MidiPlayer;
    if (announcing_ || !(player.Play() || player.FastForward() || player.Paused()))
        return true;
    const auto syllables = stage_.Silabas.size();
    if (syllables == 0)
        return player.Time() >= static_cast<std::int64_t>(stage_.songEnd) - kUpNextWithoutLyricsMs;
    return stage_.SilabaAtual >= syllables - 1;
}

std::int64_t EveningFlow::pauseBetweenSongsMs() const {
    return timerNota->interval() + (window_.scoringOn() ? kAnnouncementMs : 0);
}

StageTimes EveningFlow::stageTimes() const {
    StageTimes times;
    times.pauseMs = pauseBetweenSongsMs();
    const midi::TMidiPlayer& player = stage_.MidiPlayer;
    if (player.Play() || player.FastForward() || player.Paused()) {
        const std::int64_t left = std::max<std::int64_t>(songLengthMs_ - player.Time(), 0);
        const std::int64_t percent = std::max(player.TempoPercent(), 1);
        times.untilFreeMs = left * 100 / percent + times.pauseMs;
    } else if (stopPosted_.load() || timerNota->isActive() || announcing_) {
        times.untilFreeMs = times.pauseMs;  // at most
    }
    return times;
}

void EveningFlow::refreshUpNext() {
    upNext_.show(upNextDue() ? upNextText(queue_.requests().front()) : QString());
}

}  // namespace vozaro::stage
