// The stage: the program's borderless, black, full-screen main window, with
// the background picture, the button bar at the bottom and the panels of the
// request queue and the adjustments.
#pragma once

#include <QImage>
#include <QStringList>
#include <QWidget>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <random>

#include "platform/network/HttpService.h"
#include "audio/MicMonitor.h"
#include "platform/WindowTimer.h"
#include "stores/vozaro_uteis.h"
#include "stage/EveningFlow.h"
#include "stage/StageLinks.h"
#include "stage/canvas/FileList.h"
#include "stage/canvas/KaraokeStage.h"
#include "phone/HostApi.h"
#include "phone/PhoneApi.h"
#include "phone/PhoneRequests.h"
#include "karaoke/RequestQueue.h"
#include "stage/singers/SingersScreen.h"
#include "phone/SongIndex.h"
#include "karaoke/Scoring.h"

class PictureBox;
class PictureButton;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QFocusEvent;
class QKeyEvent;
class QProgressBar;
class QPushButton;
class Slider;
namespace vozaro::audio {
class TAudioIn;
}

// The song, the lyrics and the background picture are the KaraokeStage part;
// the evening's flow (playing, stopping, scoring, the next request) is the
// EveningFlow; the window shows the canvas in Fundo, holds the controls, and
// forwards its handlers to those two.
class TformKaraoke : public QWidget,
                     public KaraokeStage,
                     private vozaro::stage::EveningWindow,
                     private vozaro::stage::HostStage {
    Q_OBJECT
public:
    explicit TformKaraoke(QWidget* parent = nullptr);
    ~TformKaraoke() override;

    // False when the start-up checks refused to go on (the display shows too
    // few colours, or the catalogue cannot be opened); the program then ends
    // without creating its other windows.
    bool created() const { return created_; }

    ConfigLink config = configLinkOfProgram();
    WindowsLink windows = windowsLinkOfProgram();

    QStringList FilaPosicoes;  // catalogue positions of the queued requests, kept by queue_

private:
    vozaro::stage::RequestQueue queue_{&FilaPosicoes};  // the requests, as Pedidos shows them
    vozaro::stage::EveningFlow flow_{*this, queue_, *this};

public:
    // The picture on which background, lyrics and texts are drawn.
    PictureBox* Fundo = nullptr;
    FileList FImg;
    QFrame* panelBotoes = nullptr;
    PictureBox* Botoes = nullptr;
    PictureButton* bCreditos = nullptr;
    PictureButton* bPlay = nullptr;
    PictureButton* bStop = nullptr;
    PictureButton* bProxima = nullptr;
    PictureButton* bConfig = nullptr;
    PictureButton* bMusicas = nullptr;
    PictureButton* bPedidos = nullptr;
    PictureButton* bMelodia = nullptr;
    PictureButton* bSair = nullptr;
    QProgressBar* MicProgress = nullptr;
    QFrame* panelLista = nullptr;
    QFrame* panelMelodia = nullptr;
    // Window timers run on the test clock when a test installs one.
    std::unique_ptr<vozaro::platform::WindowTimer> TimerKaraoke;  // 50 ms: the end of the song, who sings next
    vozaro::platform::WindowTimer* const timerDelay = flow_.timerDelay.get();  // erases the centred text
    vozaro::platform::WindowTimer* const timerNota = flow_.timerNota.get();    // 500 ms after a stop
    vozaro::audio::TAudioIn* AudioIn = nullptr;  // the microphone while a song plays

    // The request queue panel.
    QLabel* pTitulo = nullptr;
    PictureButton* bFechaPedido = nullptr;
    QListWidget* Pedidos = nullptr;  // the request lines, in queue order
    QLabel* Label1 = nullptr;
    QLineEdit* eNumero = nullptr;
    QLabel* Label2 = nullptr;
    QLineEdit* eCantor = nullptr;
    QLabel* Label3 = nullptr;
    std::int32_t PosicaoEncontrada = -1;  // catalogue position of the number typed

    // The adjustment panel.
    PictureButton* FechaMelodia = nullptr;
    Slider* VolMidi = nullptr;    // accompaniment volume, 0 to 65535
    Slider* MidiTempo = nullptr;  // speed, 0 to 100 (50: normal)
    Slider* MidiTone = nullptr;   // key in semitones, -24 to 24
    QPushButton* bMaisOpcoes = nullptr;  // the window of more options, under the sliders

    QString& Titulo = flow_.Titulo;  // singer and title, shown when a song starts

    // Scoring.
    bool& VozPresente = flow_.VozPresente;  // the last microphone buffer peaked above the noise level
    vozaro::audio::HeardPitch& Afinacao = flow_.Afinacao;  // the pitch of the last buffers
    vozaro::audio::PitchDetector pitchDetector;  // hears Afinacao in every microphone buffer
    std::int32_t& Acertos = flow_.Acertos;  // syllables highlighted while the singer was heard
    std::int32_t& Erros = flow_.Erros;      // ... and while not

    // The catalogue window's "Tocar Agora": the song numbered `numero` is
    // requested (without a singer), put first in the queue and started.
    void playNow(std::int32_t numero);
    // After the catalogue's karaoke check of a file to be added: the player
    // stops without starting the next request, and the song model forgets the
    // file.
    void releaseCheckedSong() { flow_.releaseCheckedSong(); }
    // An announcement of a score is on screen (Next asked for meanwhile
    // starts its request when it is over).
    bool announcing() const { return flow_.announcing(); }
    // The score announced last, and how many announcements there were.
    const vozaro::stage::Score& lastScore() const { return flow_.lastScore(); }
    int announcements() const { return flow_.announcements(); }
    // Stops a playing song without starting the next request (the catalogue
    // and configuration windows do so when they open).
    void stopPlaying() { flow_.stopPlaying(); }
    // The stage plays on MIDI output device `port` from now on; throws when
    // it cannot be opened, and then keeps the device it had.
    void switchMidiDevice(int port);

    // Requests by phone.  The web server starts when the setting "Celular" is
    // on (at the first showing, or when the configuration is saved), on the
    // port "PortaCelular" or one of the 9 after it; switched off, it closes
    // (no socket listens).  Tests may put a fake server, a fixed network
    // address and the loopback address in.
    std::function<std::unique_ptr<vozaro::platform::HttpService>(vozaro::platform::HttpHandler)> makePhoneServer =
        [](vozaro::platform::HttpHandler handler) {
            return vozaro::platform::makeHttpService(std::move(handler), vozaro::stage::PhoneApi::refusal);
        };
    std::function<QString()> networkAddress = vozaro::platform::firstNetworkAddress;
    bool phoneLoopbackOnly = false;
    // Starts, keeps or stops taking requests as the live settings say.
    void applyPhoneSetting();
    vozaro::platform::HttpService* phoneServer() const { return phoneServer_.get(); }
    vozaro::stage::PhoneRequests& phoneRequests() { return phone_; }
    // The address in the QR code on the stage, or empty while none is shown
    // (requests off, a song playing, no network); the rectangle the
    // invitation takes on the stage.
    QString phoneUrl() const;
    QRect phoneInviteRect() const { return phoneInvite_; }

    // The stage picture on another screen, for the singers: shown when the
    // setting "TelaCantores" is on (at the first showing, or when the
    // configuration is saved) and there is another screen, following
    // screens plugged in or removed.  Tests may set their own screens.
    vozaro::stage::SingersScreens& singersScreens() { return singers_; }
    void applySingersScreenSetting();
    // Fair turns in the queue ("Revezamento") as the live settings say.
    void applyFairTurnsSetting();

    void Transpor(int shift);

    // The window of more options changed the live settings (already stored):
    // each option's path takes its new value at once.  And the window closed.
    void optionsChanged();
    void optionsClosed();
    // The melody band shows or not as the live settings say ("GuiaAfinacao").
    void applyMelodyGuideSetting();

    // The microphone heard through the speakers: on, off and set as the
    // live settings say ("RetornoMic", "VolumeRetorno", "EcoRetorno"), at
    // the first showing and at every change in the window of more options;
    // when the window closes, why it could not start, once.  Tests may put
    // their own path in before the first showing.
    vozaro::platform::MonitorOpener openMicMonitor = vozaro::platform::openSoundServerMonitor;
    void applyMicMonitorSetting();
    void tellMicMonitorFailure();
    vozaro::audio::MicMonitor* micMonitor() const { return micMonitor_.get(); }

public slots:
    void bCreditosClick();
    void bPlayClick();
    void bStopClick();
    void bProximaClick();
    void bConfigClick();
    void bMusicasClick();
    void bPedidosClick();
    void bMelodiaClick();
    void bSairClick();
    void timerDelayTimer();
    void TimerKaraokeTimer();
    void timerNotaTimer();
    void bFechaPedidoClick();
    void FechaMelodiaClick();
    void bMaisOpcoesClick();
    void MidiPlayerPlay();
    void MidiPlayerFastForward();
    void MidiPlayerStop();
    void MidiTempoChange();
    void MidiToneChange();
    void VolMidiChange();

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void createControls();
    bool FormCreate();
    void FormShow();
    void FormResize();
    void FormClose();
    bool checkCatalogue();
    void createQueuePanel();
    void createAdjustmentPanel();

    // The request queue.
    void eNumeroKeyPress(QKeyEvent* key);
    void eCantorEnter();
    void eCantorKeyPress(QKeyEvent* key);
    void eCantorExit();
    // Whether a focus-out of the singer field leaves it for another control
    // of the stage (a move to another window or a menu does not).
    bool leavesForAnotherControl(const QFocusEvent* event) const;
    void PedidosKeyDown(QKeyEvent* key);
    void PedidosEnter();
    void PedidosMouseDown();
    void PedidosMouseMove();
    void PedidosMouseUp();

    // Scoring.
    bool AudioInBufferFilled(void* data, std::int32_t size);
    void AudioInStart();
    void AudioInStop();

    // The configuration window's live settings; null without it.
    TKaraokeSettings* liveSettings() const;
    // The live settings, or the defaults while there is no configuration window.
    const TKaraokeSettings& currentSettings() const;

    // What the evening's flow asks of the window.
    bool& autoNextSwitch() override;
    bool scoringOn() override;
    bool pitchScoringOn() override;
    void setButtonBarEnabled(bool enabled) override;
    void setNextEnabled(bool enabled) override;
    void showQueue() override;  // Pedidos shows the lines again
    void selectMicrophone() override;
    void startListening() override;
    int key() override;
    void songStopped() override;
    int pictureCount() override { return FImg.count(); }
    void loadRandomPicture() override;
    void showCatalogue() override;
    bool showConfiguration() override;
    void catalogueUnavailable() override;

    void songStarting() override;
    void stageIdle() override;
    bool invitationShown() override { return !phoneInvite_.isEmpty(); }

    // The host's page (StageHost.cpp): the password it opens with, and
    // what it asks of the stage.
    void applyHostPassword();
    // A window of the host's is open, or the stage waits for a score.
    bool hostBusy() const;
    vozaro::stage::HostState hostState() override;
    Outcome hostCommand(Command command, int value) override;
    Outcome hostMove(QueueMove move, std::uint64_t id) override;
    Outcome hostRequest(std::int32_t numero, const QString& singer) override;
    // The guide melody's volume of the live settings, to the player.
    void applyMelodyVolume();
    void showPhoneInvite();
    void hidePhoneInvite();

    vozaro::stage::SongSnapshots songIndex_;
    vozaro::stage::PhoneRequests phone_{songIndex_, queue_, [this] { showQueue(); }, vozaro::stage::PhoneApi::steadyMs};
    vozaro::stage::PhoneApi phoneApi_{phone_};
    vozaro::stage::HostApi hostApi_{*this, vozaro::stage::PhoneApi::steadyMs};
    std::unique_ptr<vozaro::platform::HttpService> phoneServer_;  // after phoneApi_: closed before it goes
    std::unique_ptr<vozaro::audio::MicMonitor> micMonitor_;  // made when first switched on
    QString phoneAddress_;  // the network address shown, empty: none
    QRect phoneInvite_;     // drawn on the stage, empty: not shown
    bool phoneOnMessageShown_ = false;
    vozaro::stage::RequestDrag drag_;
    TRegistroAlbum encontrado_;  // the entry eCantorEnter found
    bool autoNextFallback_ = true;  // without a configuration window

    vozaro::stage::SingersScreens singers_{*this, *this};

    bool created_ = false;
    bool shown_ = false;
    std::mt19937 random_;
};

// The stage window of the running program (null while there is none).
extern TformKaraoke* formKaraoke;
