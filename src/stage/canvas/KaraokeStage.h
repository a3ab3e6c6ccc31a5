// The karaoke screen without its window: the loaded song, its lyric
// syllables and their times, the two lyric lines with the countdown, and the
// background pictures, all drawn into a picture (the canvas) that a window
// shows or a test reads.  The stage window TformKaraoke is one of these; a
// test or a tool makes one on its own and gives it a canvas size.
//
// Time: "now" is the song time being heard, in milliseconds
// (MidiPlayer.DisplayTime(): the song time less the sound's fixed latency),
// which follows the speed setting, so the lyrics keep to the music at any
// speed.  Syllable times are in the same unit.
//
// Drawing: the canvas holds the clean background (FundoLimpo) with text drawn
// over it; text is removed by copying the band it occupied back from
// FundoLimpo.  A display step draws at most the countdown, one sung prefix and
// one new line, and reports each changed rectangle to the canvas's owner.
//
// thread: user-interface thread only.  The player's timer thread only
// advances the song time that the display step reads.
#pragma once

#include <QColor>
#include <QFont>
#include <QFontMetrics>
#include <QImage>
#include <QString>
#include <QStringList>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "midi/cmpMidiData.h"
#include "midi/cmpMidiPlayer.h"
#include "midi/cmpTrackOutputs.h"
#include "karaoke/Melody.h"
#include "stage/canvas/MelodyBand.h"

namespace vozaro::platform {
class WindowTimer;
}

class KaraokeStage {
public:
    // TempoContagem when no countdown is ever due again.
    static constexpr std::int32_t kNever = 2147483647;
    // The lyric timer's interval: the end of a song and what comes after it
    // are looked at every 50 ms while a song plays.
    static constexpr int kLyricStepMs = 50;
    // The display steps every 16 ms while a song plays (one screen refresh at
    // 60 Hz): the highlight, the line change, the countdown and its erasing,
    // and whatever else follows the display time.
    static constexpr int kDisplayStepMs = 16;

    // The player is made on the windows' current timer service: install a
    // test clock before making a stage to drive it from a test.
    KaraokeStage();
    virtual ~KaraokeStage();
    KaraokeStage(const KaraokeStage&) = delete;
    KaraokeStage& operator=(const KaraokeStage&) = delete;

    // --- the song ---------------------------------------------------------
    vozaro::midi::TMidiData MidiData;  // the song played
    vozaro::midi::TMidiData OrMidi;    // the same song untouched (key changes start from it)
    vozaro::midi::TTrackOutputs TrackOutputs;  // routes MidiData, default port 0
    vozaro::midi::TMidiPlayer MidiPlayer;      // plays TrackOutputs, stops by itself at the end

    // Loads the song file at path into both song models and extracts its
    // lyrics.  False with "Música não localizada" when there is no such file,
    // false without a message when the file has no lyric syllable.  A file
    // the engine cannot read throws the engine's exception (the caller
    // reports it); the song models are left inactive in every case.
    bool CarregarMusica(const QString& path);
    // What the host is told when playing the song file at path failed with
    // error: for a file the engine cannot read, the file's name, that it
    // could not be read, and the engine's own text after it; for a sound
    // output that cannot be opened, that, with the device's reason.
    static std::string songFailureMessage(const QString& path, const std::exception& error);
    // Reads the song named by MidiData's FileName, fills Silabas and Tempos,
    // fits the lyric font, places the lines and enters the waiting state.
    bool ExtrairLetra();

    QStringList Silabas;                // one per syllable, leading "/" or "\" kept
    std::vector<std::int32_t> Tempos;   // each syllable's song time in ms
    // The melody the syllables are sung on (not found: pitch cannot be
    // scored), from the untouched song.
    vozaro::stage::Melody melody;
    // The guide melody's own volume, 0 to 100 (100: as the song has it): the
    // player scales the melody's channel by it, for this song and the next
    // ones, at once while one plays.  A song without a melody ignores it.
    void setMelodyVolume(int percent);
    // Its notes line by line on the stage, brought up to date by every
    // display step (AtualizarLetra).
    vozaro::stage::MelodyBand melodyBand{*this};
    // When the song's last note ends, in song time (ms); 0 without notes.
    std::int32_t songEnd = 0;
    std::int32_t AlturaLinha = 0;       // height of one lyric line in pixels
    std::array<std::int32_t, 3> LinhaY{};  // top row of slot 1 (upper) and 2; [0] unused

    // --- the display state (slots 1 and 2; index 0 unused) ------------------
    std::array<QString, 3> Linha;    // the slot's whole line
    std::array<QString, 3> Cantado;  // the part of it highlighted so far
    std::array<std::int32_t, 3> LinhaX{};
    std::int32_t LinhaAtual = 0;     // slot being sung, 0: none
    std::int32_t SilabaAtual = -1;   // last highlighted syllable
    std::int32_t UltimaCarregada = -1;  // last syllable placed into a slot
    std::int32_t TempoLimpeza = 0;   // when to erase the lyric area, 0: nothing pending
    std::int32_t TempoContagem = -1;  // when the countdown is due; -1 done, kNever never
    // When the countdown of the loaded song's first line is due: 5000 ms
    // before its first syllable, not before 0; kNever without syllables.
    std::int32_t firstCountdown() const;
    QString Contagem;                // "— — —", "— —", "—" or empty
    QString ContagemAcesa;           // the part of it lit
    std::int32_t ContagemX = 0;

    // One display step at the player's time, or at the time given.  The
    // step at the player's time runs every kDisplayStepMs between
    // startDisplaySteps() and stopDisplaySteps() (a precise timer); when the
    // next syllable falls due before the following step, it also arms a
    // precise timer for the moment the display time passes that syllable, so
    // that each syllable lights when its sound is heard rather than up to a
    // step later.  Both timers call displayStepDue (the owner's display step,
    // which must call AtualizarLetra()); without one, AtualizarLetra()
    // itself.  Only the rectangles a step changes are reported to the canvas's
    // owner: a step that changes nothing reports none.
    // The melody band follows every step at the time given (AtualizarLetra(now)).
    void AtualizarLetra();
    std::function<void()> displayStepDue;
    // The display steps while a song plays (the owner starts them when the
    // player starts playing and stops them when the song stops).
    void startDisplaySteps();
    void stopDisplaySteps();
    // Wall milliseconds until the display time passes the next syllable's,
    // at the player's speed; nullopt while no line is being sung or the
    // player stands still (stopped, paused or at speed 0).
    std::optional<std::int64_t> msToNextSyllable() const;
    void AtualizarLetra(std::int64_t now);
    // The step while no line is active.
    void AguardarLinhas();
    void AguardarLinhas(std::int64_t now);
    // Builds the next line into the slot that is not LinhaAtual.
    void CarregarProximaLinha();
    // Draws that slot's line, unsung.
    void DesenharLinhaNova();
    // Erases the countdown and the lyric area.
    void LimparAreaLetra();

    // --- the picture --------------------------------------------------------
    QImage FundoLimpo;  // the background (darkened, with the logo), never any text

    // Loads a background picture (".jpg"/".JPG" as JPEG, anything else as a
    // Windows bitmap), stretched over the canvas, darkened by the darkening
    // level, the logo at (10, 10); it replaces everything on the canvas.
    // False, with FundoLimpo and the canvas untouched, when the file is
    // missing, unreadable, damaged or larger than kMaxBackgroundPixels.
    bool CarregarFundo(const QString& path);

    // The centred text box: the area of the last title or score drawn.
    std::int32_t CaixaX = 0;
    std::int32_t CaixaY = 0;
    std::int32_t CaixaLargura = 0;
    std::int32_t CaixaAltura = 0;
    // Whether the centred text box shows (a title or a score drawn, not
    // erased yet).
    bool textBoxShown = false;
    // Erases the centred text box (one pixel around it), clipped to the canvas.
    void eraseTextBox();

    // Draws the stage on another picture (the window's own); the owner is told
    // of every changed rectangle.  Without one the stage draws on a picture
    // of its own.
    void attachCanvas(QImage* canvas, std::function<void(const QRect&)> changed);
    QImage& canvas() { return *canvas_; }
    // A new canvas size: the background is stretched to it and the text goes.
    void resizeCanvas(const QSize& size);
    int canvasWidth() const { return canvas_->width(); }
    int canvasHeight() const { return canvas_->height(); }
    // Copies a rectangle of FundoLimpo onto the canvas, clipped to it.
    void eraseRect(const QRect& rect);
    // Tells the canvas's owner of a rectangle drawn on the canvas directly.
    void notifyChanged(const QRect& rect) { changed(rect); }
    // Draws a picture onto the canvas with its top left at `at`.
    void drawPicture(const QPoint& at, const QImage& picture);

    // --- text -----------------------------------------------------------------
    // The lyric font: "Times New Roman" bold at a size in points (on the
    // screen's 96 dots per inch); the title and the score use it too.
    int lyricFontSize() const { return fontSize_; }
    void setLyricFontSize(int points);
    const QFont& lyricFont() const { return font_; }
    // Width and height of a text in the lyric font at its current size.
    QSize textSize(const QString& text) const;
    QSize textSize(const QString& text, int points) const;
    // Outlined text with its top left at (x, y): the outline colour at the four
    // diagonal neighbours, then the fill colour, background left as it is.
    void drawOutlinedText(int x, int y, const QString& text, const QColor& outline,
                          const QColor& fill);
    void drawOutlinedText(int x, int y, const QString& text, int points, const QColor& outline,
                          const QColor& fill);
    // The lyric font at a size in points.
    QFont fontOf(int points) const;
    // The area outlined text with its top left at (x, y) may colour.
    QRect outlinedTextRect(int x, int y, const QString& text, int points) const;

    static const QColor kYellow;
    static const QColor kMagenta;

    // --- hooks ------------------------------------------------------------------
    // The darkening level (0 to 255) and the logo that the next background
    // picture gets.
    int darkLevel = 51;
    QImage logo;
    // Called when a background picture or a new canvas size has replaced
    // everything on the canvas.
    std::function<void()> backgroundReplaced;
    // Called once for every syllable highlighted (scoring).
    std::function<void()> syllableSung;
    // Called when the song models cannot be reset: the program must end.
    std::function<void()> endProgram;
    // Heights of the button bar and the microphone bar, which the lines keep
    // clear of.
    int barHeight = 46;
    int micBarHeight = 13;

private:
    std::unique_ptr<vozaro::platform::WindowTimer> syllableTimer_;  // the step at the next syllable
    std::unique_ptr<vozaro::platform::WindowTimer> displayTimer_;   // the step every kDisplayStepMs
    void displayStep();
    void changed(const QRect& rect);
    struct TextLayer {
        QString text;
        int pixels = 0;
        QRgb outline = 0;
        QRgb fill = 0;
        QPoint offset;  // of the picture's top left from the text's
        QImage image;
    };
    const TextLayer& outlinedLayer(const QString& text, int points, const QColor& outline,
                                   const QColor& fill);
    // The layer's area around the text's top left at (0, 0).
    static QRect layerArea(const QFontMetrics& metrics, const QString& text);
    void blendLayer(int x, int y, const TextLayer& layer, const QRect& clip);
    QRect bandOf(int slot) const;
    QRect countdownBand() const;
    void drawLit(int slot);
    void stepLyrics(std::int64_t now);

    int melodyVolume_ = 100;
    QImage ownCanvas_;
    QImage* canvas_ = &ownCanvas_;
    std::function<void(const QRect&)> changed_;
    QFont font_;
    int fontSize_ = 100;
    std::optional<QFontMetrics> metrics_;
    std::vector<TextLayer> layers_;  // most recently used first
};
