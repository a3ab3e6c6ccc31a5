// The stage: the program's borderless, black, full-screen main window, with
// the background picture, the button bar at the bottom and the panels of the
// request queue and the adjustments.
#pragma once

#include <QStringList>
#include <QWidget>
#include <memory>
#include <random>

#include "platform/WindowTimer.h"
#include "stage/KaraokeStage.h"

class PictureBox;
class PictureButton;
class QFrame;
class QProgressBar;
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

protected:
    void showEvent(QShowEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    void createControls();
    bool FormCreate();
    void FormShow();
    void FormResize();
    void FormClose();
    bool checkCatalogue();
    void loadRandomPicture();

    bool created_ = false;
    bool shown_ = false;
    std::mt19937 random_;
};

// The stage window of the running program (null while there is none).
extern TformKaraoke* formKaraoke;
