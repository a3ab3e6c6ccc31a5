// The stage: the program's borderless, black, full-screen main window, with
// the background picture, the button bar at the bottom and the panels of the
// request queue and the adjustments.
#pragma once

#include <QStringList>
#include <QWidget>
#include <atomic>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "platform/WindowTimer.h"
#include "stage/KaraokeStage.h"
#include "stage/RequestQueue.h"
#include "stage/Scoring.h"

class PictureBox;
class PictureButton;
class QFrame;
class QLabel;
class QLineEdit;
class QListWidget;
class QKeyEvent;
class QProgressBar;
class Slider;
namespace vozaro::audio {
class TAudioIn;
}

// The files of one folder whose names match a mask (the stage's list of
// background pictures).
class FileList {
public:
    void setDirectory(const QString& directory) { directory_ = directory; }
    const QString& directory() const { return directory_; }
    void setMask(const QString& mask);  // patterns separated by ';'
    void update();                       // reads the folder again
    int count() const { return static_cast<int>(items_.size()); }
    const QStringList& items() const { return items_; }

private:
    QString directory_;
    QStringList patterns_;
    QStringList items_;
};

// The song, the lyrics and the background picture are the KaraokeStage part;
// the window shows its canvas in Fundo and drives it with its timers.
class TformKaraoke : public QWidget, public KaraokeStage {
    Q_OBJECT
public:
    explicit TformKaraoke(QWidget* parent = nullptr);
    ~TformKaraoke() override;

    // False when the start-up checks refused to go on (the display shows too
    // few colours, or the catalogue cannot be opened); the program then ends
    // without creating its other windows.
    bool created() const { return created_; }

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
    std::unique_ptr<vozaro::platform::WindowTimer> TimerKaraoke;  // 50 ms lyric step
    std::unique_ptr<vozaro::platform::WindowTimer> timerDelay;    // erases the centred text
    std::unique_ptr<vozaro::platform::WindowTimer> timerNota;     // 500 ms after a stop
    vozaro::audio::TAudioIn* AudioIn = nullptr;  // the microphone while a song plays

    QStringList FilaPosicoes;  // catalogue positions of the queued requests

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

    QString Titulo;  // singer and title, shown when a song starts

    // Scoring.
    bool VozPresente = false;  // the last microphone buffer peaked above the noise level
    std::int32_t Acertos = 0;  // syllables highlighted while the singer was heard
    std::int32_t Erros = 0;    // ... and while not
    int timerNotaTag = 0;      // 0: the next request may start after the announcement

    // The catalogue window's "Tocar Agora": the song numbered `numero` is
    // requested (without a singer), put first in the queue and started.
    void playNow(std::int32_t numero);
    // After the catalogue's karaoke check of a file to be added: the player
    // stops without starting the next request, and the song model forgets the
    // file.
    void releaseCheckedSong();
    // An announcement of a score is on screen (Next asked for meanwhile
    // starts its request when it is over).
    bool announcing() const { return announcing_; }
    // The score announced last, and how many announcements there were.
    const vozaro::stage::Score& lastScore() const { return lastScore_; }
    int announcements() const { return announcements_; }
    // Stops a playing song without starting the next request (the catalogue
    // and configuration windows do so when they open).
    void stopPlaying();

    void Transpor(int shift);

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
    void loadRandomPicture();
    void createQueuePanel();
    void createAdjustmentPanel();
    void connectPlayer();

    // The request queue.
    void eNumeroKeyPress(QKeyEvent* key);
    void eCantorEnter();
    void eCantorKeyPress(QKeyEvent* key);
    void eCantorExit();
    void PedidosKeyDown(QKeyEvent* key);
    void PedidosEnter();
    void PedidosMouseDown();
    void PedidosMouseMove();
    void PedidosMouseUp();
    void showQueue();  // Pedidos shows the lines again

    // Playback.
    void runDelayOut();
    void stopWithoutAutoNext();
    void selectMicrophone();
    bool& autoNextSwitch();
    class AutoNextOff;
    void showTitle();
    // The stop reported by the player's timer thread, handed over.
    void stopFromTimer(std::uint64_t song);
    bool AudioInBufferFilled(void* data, std::int32_t size);
    void AudioInStart();
    void AudioInStop();
    // A pause of the announcement; false when the stage closed or stopped
    // announcing meanwhile.
    bool pause(int ms);

    QStringList pedidoLines_;  // what Pedidos shows
    vozaro::stage::RequestQueue queue_{pedidoLines_, FilaPosicoes};
    vozaro::stage::RequestDrag drag_;
    TRegistroAlbum encontrado_;  // the entry eCantorEnter found
    std::string songFile_;       // the file the song was loaded from (a RIFF song's name changes)
    bool autoNextFallback_ = true;  // without a configuration window
    bool announcing_ = false;
    bool nextAfterAnnouncement_ = false;  // Next was asked for during the announcement
    vozaro::stage::Score lastScore_;
    int announcements_ = 0;
    bool closing_ = false;
    // A stage-caused Stop is under way: its report is handled in place.
    std::atomic<bool> stopping_{false};
    // The end of a song reported on the timer thread and not yet handled.
    std::atomic<bool> stopPosted_{false};
    // Counts the songs started, so that a stop message of an earlier song is
    // recognised as stale.
    std::atomic<std::uint64_t> song_{0};
    std::thread::id uiThread_;

    bool created_ = false;
    bool shown_ = false;
    std::mt19937 random_;
};

// The stage window of the running program (null while there is none).
extern TformKaraoke* formKaraoke;
