#include "stage/canvas/KaraokeStage.h"

#include <QFile>
#include <QFileInfo>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "midi/cmpMidiIterator.h"
#include "platform/MessageBox.h"
#include "platform/TextEncoding.h"
#include "platform/WindowTimer.h"
#include "stage/canvas/BackgroundPicture.h"
#include "karaoke/LyricTrack.h"
#include "karaoke/MelodyGuide.h"

using vozaro::platform::MessageIcon;
using vozaro::platform::showMessage;

const QColor KaraokeStage::kYellow(255, 255, 0);
const QColor KaraokeStage::kMagenta(255, 0, 255);

namespace {

// The text metrics of Windows at 96 dots per inch: a font of n points is
// MulDiv(n, 96, 72) pixels high.
constexpr int kScreenDpi = 96;

int pointsToPixels(int points) { return (points * kScreenDpi + 36) / 72; }

// Rounding to the nearest integer, halves to the even neighbour.
int roundEven(double value) { return static_cast<int>(std::nearbyint(value)); }

QString withoutBreak(const QString& syllable) {
    if (syllable.startsWith(QLatin1Char('/')) || syllable.startsWith(QLatin1Char('\\')))
        return syllable.mid(1);
    return syllable;
}

bool startsLine(const QString& syllable) {
    return syllable.startsWith(QLatin1Char('/')) || syllable.startsWith(QLatin1Char('\\'));
}

std::int32_t clampTime(std::int64_t ms) {
    return static_cast<std::int32_t>(
        std::clamp<std::int64_t>(ms, std::numeric_limits<std::int32_t>::min(), KaraokeStage::kNever));
}

const QString kDash = QString(QChar(0x2014));
const QString kDashes2 = kDash + QLatin1Char(' ') + kDash;
const QString kDashes3 = kDashes2 + QLatin1Char(' ') + kDash;

QImage blankPicture(const QSize& size) {
    QImage picture(size, QImage::Format_RGB32);
    picture.fill(Qt::black);
    return picture;
}

}  // namespace

KaraokeStage::KaraokeStage()
    : MidiPlayer(vozaro::platform::currentTimerService()),
      syllableTimer_(std::make_unique<vozaro::platform::WindowTimer>([this] { displayStep(); })),
      displayTimer_(std::make_unique<vozaro::platform::WindowTimer>([this] { displayStep(); })) {
    syllableTimer_->setSingleShot(true);
    syllableTimer_->setPrecise(true);
    displayTimer_->setInterval(kDisplayStepMs);
    displayTimer_->setPrecise(true);
    // Debian has no Times New Roman; Liberation Serif has its metrics.
    QFont::insertSubstitution(QStringLiteral("Times New Roman"), QStringLiteral("Liberation Serif"));
    font_.setFamily(QStringLiteral("Times New Roman"));
    font_.setBold(true);
    setLyricFontSize(100);

    TrackOutputs.setDefaultOutputPort(0);
    TrackOutputs.setMidiData(&MidiData);
    MidiPlayer.setTimerPeriod(1);
    MidiPlayer.setTimerResolution(4);
    MidiPlayer.setBoostPriority(false);
    MidiPlayer.setTrackOutputs(&TrackOutputs);

    logo = QImage(QStringLiteral(":/logo.png"));
    ownCanvas_ = blankPicture(QSize(0, 0));
    FundoLimpo = ownCanvas_;
}

KaraokeStage::~KaraokeStage() {
    // A window built on this part is half gone by now: its stop handler must
    // not run (one the timer thread is still inside is let finish first).
    MidiPlayer.clearStopHandler();
    MidiPlayer.Stop();
    stopDisplaySteps();
}

// --- song loading ---------------------------------------------------------------

std::string KaraokeStage::songFailureMessage(const QString& path, const std::exception& error) {
    if (const auto* output = dynamic_cast<const vozaro::midi::EMidiOutputPort*>(&error))
        return "Não foi possível abrir a saída de som (" + output->reason() + ").";
    return "Não foi possível ler a música \"" + QFileInfo(path).fileName().toStdString() + "\" (" +
           error.what() + ").";
}

bool KaraokeStage::CarregarMusica(const QString& path) {
    Contagem.clear();
    ContagemAcesa.clear();
    if (!QFileInfo(path).isFile()) {
        showMessage("Música não localizada", MessageIcon::Error);
        return false;
    }
    try {
        // The timer thread must be done with the song before it is released.
        if (MidiPlayer.State() != vozaro::midi::psStopped)
            MidiPlayer.Stop();
        MidiData.setActive(false);
        OrMidi.setActive(false);
        TrackOutputs.setActive(false);
        const std::string name = QFile::encodeName(path).toStdString();
        MidiData.setFileName(name);
        OrMidi.setFileName(name);
        MidiPlayer.UpdateMidiData();
        MidiPlayer.setStopAtEnd(true);
    } catch (const std::exception&) {
        showMessage("Não foi possível inicializar o suporte a músicas MIDI do seu PC. Verifique "
                    "se nenhuma outra aplicação está utilizando os dispositivos MIDI ou reinicie "
                    "seu computador e tente novamente.",
                    MessageIcon::Error);
        if (endProgram)
            endProgram();
        return false;
    }
    return ExtrairLetra();
}

bool KaraokeStage::ExtrairLetra() {
    // The songs are read only to look at them; playing activates them again.
    struct Release {
        KaraokeStage& stage;
        ~Release() {
            stage.MidiData.setActive(false);
            stage.OrMidi.setActive(false);
        }
    } release{*this};
    OrMidi.setActive(true);
    MidiData.setActive(true);
    vozaro::midi::TMidiPosition position;
    position.setMidiData(&MidiData);
    Silabas.clear();

    const vozaro::stage::LyricTrack lyrics = vozaro::stage::findLyricTrack(MidiData);
    for (const std::string& text : lyrics.syllables)
        Silabas.append(QString::fromStdString(vozaro::platform::windows1252ToUtf8(text)));
    // Syllables come in event order, so the position only ever moves forward.
    Tempos.assign(lyrics.ticks.size(), 0);
    for (std::size_t k = 0; k < lyrics.ticks.size(); ++k) {
        position.SetPosition(lyrics.ticks[k]);
        Tempos[k] = clampTime(position.Time());
    }
    songEnd = 0;
    try {
        const std::vector<vozaro::stage::SongNote> notes = vozaro::stage::songNotes(OrMidi);
        for (const vozaro::stage::SongNote& note : notes)
            songEnd = std::max(songEnd, note.endMs);
        melody = vozaro::stage::findMelody(notes, Tempos);
        melodyBand.load(vozaro::stage::melodyLines(notes, melody, Tempos, vozaro::stage::lyricLineStarts(Silabas)));
    } catch (...) {
        melody = {};  // only memory can fail: the song is scored by loudness
        melodyBand.load({});
    }
    MidiPlayer.setMelodyVolume(melody.channel, melodyVolume_);

    TempoLimpeza = 0;
    LinhaAtual = 2;
    UltimaCarregada = -1;
    for (int slot : {1, 2}) {
        Linha[slot].clear();
        Cantado[slot].clear();
    }

    // Every line must fit into 90 % of the width; a line too long for any
    // size leaves the font at 1 point rather than shrinking forever.
    setLyricFontSize(100);
    const int W = canvasWidth();
    const int H = canvasHeight();
    const int maxWidth = roundEven(0.9 * W);
    const int count = static_cast<int>(Silabas.size());
    while (UltimaCarregada < count - 1) {
        CarregarProximaLinha();
        while (fontSize_ > 1 && textSize(Linha[1]).width() > maxWidth)
            setLyricFontSize(fontSize_ - 1);
    }
    const QString sample = QStringLiteral("ÁÜÇWAC");
    while (fontSize_ > 1 && roundEven(0.2 * H) < 2 * textSize(sample).height() + 4)
        setLyricFontSize(fontSize_ - 1);
    AlturaLinha = textSize(sample).height() + 4;
    LinhaY[1] = H - roundEven(2.2 * AlturaLinha) - roundEven(1.2 * barHeight) - micBarHeight;
    LinhaY[2] = LinhaY[1] + AlturaLinha;

    UltimaCarregada = -1;
    SilabaAtual = -1;
    Linha[1].clear();
    Contagem.clear();
    TempoContagem = firstCountdown();
    if (count == 0)
        return false;  // the next display step ends the block at once
    LinhaAtual = 0;
    return true;
}

void KaraokeStage::setMelodyVolume(int percent) {
    melodyVolume_ = percent;
    MidiPlayer.setMelodyVolume(melody.channel, percent);
}

std::int32_t KaraokeStage::firstCountdown() const {
    // Without syllables no countdown may ever look for one.
    if (Silabas.isEmpty() || Tempos.empty())
        return kNever;
    return std::max(Tempos.front() - 5000, 0);
}

// --- the display step -------------------------------------------------------------

void KaraokeStage::startDisplaySteps() {
    if (!displayTimer_->isActive())
        displayTimer_->start();
}

void KaraokeStage::stopDisplaySteps() {
    displayTimer_->stop();
    syllableTimer_->stop();
}

void KaraokeStage::displayStep() {
    if (displayStepDue)
        displayStepDue();
    else
        AtualizarLetra();
}

void KaraokeStage::AtualizarLetra() {
    AtualizarLetra(MidiPlayer.DisplayTime());
    // One millisecond more: a syllable lights once the time is past it.
    const std::optional<std::int64_t> ms = msToNextSyllable();
    if (ms && *ms < kDisplayStepMs && displayTimer_->isActive())
        syllableTimer_->start(static_cast<int>(*ms) + 1);
    else
        syllableTimer_->stop();
}

std::optional<std::int64_t> KaraokeStage::msToNextSyllable() const {
    const auto next = static_cast<std::size_t>(SilabaAtual + 1);
    const std::int64_t percent = std::int64_t{MidiPlayer.TempoPercent()} * MidiPlayer.Speed();
    const vozaro::midi::TPlayerState state = MidiPlayer.State();
    if (LinhaAtual == 0 || next >= Tempos.size() || percent <= 0 ||
        (state != vozaro::midi::psPlaying && state != vozaro::midi::psFastForward))
        return std::nullopt;
    const std::int64_t songMs = std::max<std::int64_t>(Tempos[next] - MidiPlayer.DisplayTime(), 0);
    return (songMs * 100 + percent - 1) / percent;
}

void KaraokeStage::AtualizarLetra(std::int64_t now) {
    stepLyrics(now);
    melodyBand.refresh(now);
}

void KaraokeStage::stepLyrics(std::int64_t now) {
    if (LinhaAtual == 0) {
        AguardarLinhas(now);
        return;
    }
    const int count = static_cast<int>(Silabas.size());

    // The countdown's dashes light one by one before the coming line; they
    // are drawn as they change, not again on every step.
    if (!Contagem.isEmpty()) {
        const QString litBefore = ContagemAcesa;
        if (SilabaAtual + 1 < count) {
            const std::int64_t r = Tempos[SilabaAtual + 1] - now;
            if (r > 2000 && r <= 2100)
                ContagemAcesa = kDash;
            else if (r > 1300 && r <= 1400)
                ContagemAcesa = Contagem == kDashes2 ? kDash : kDashes2;
            else if (r > 600 && r <= 700)
                ContagemAcesa = Contagem;
        }
        if (!ContagemAcesa.isEmpty() && ContagemAcesa != litBefore)
            drawOutlinedText(ContagemX, LinhaY[1] - AlturaLinha, ContagemAcesa, Qt::white,
                             kMagenta);
    }

    const int other = LinhaAtual == 1 ? 2 : 1;
    if (Cantado[LinhaAtual] == Linha[LinhaAtual])
        LinhaAtual = other;

    if (SilabaAtual + 1 < count && Tempos[SilabaAtual + 1] < now) {
        ++SilabaAtual;
        if (syllableSung)
            syllableSung();
        Cantado[LinhaAtual] += withoutBreak(Silabas[SilabaAtual]);
        drawLit(LinhaAtual);
        if (!Contagem.isEmpty() || !ContagemAcesa.isEmpty()) {
            Contagem.clear();
            ContagemAcesa.clear();
            eraseRect(countdownBand());
        }
    }

    if (SilabaAtual >= count - 1) {
        TempoLimpeza = clampTime(now + 3000);
        TempoContagem = kNever;
    }

    if (Cantado[other] == Linha[other]) {
        if (UltimaCarregada >= 0 && UltimaCarregada < count - 1 &&
            Tempos[UltimaCarregada + 1] - Tempos[UltimaCarregada] >= 5000) {
            const std::int64_t n = Tempos[UltimaCarregada + 1];
            const std::int64_t l = Tempos[UltimaCarregada];
            const std::int64_t g = n - now;
            TempoLimpeza = clampTime(l + g / 3);
            TempoContagem = clampTime(l + (2 * g) / 3);
            if (n - TempoContagem > 5000)
                TempoContagem = clampTime(n - 5000);
        }
        if (TempoLimpeza == 0 && !Cantado[LinhaAtual].isEmpty() && UltimaCarregada < count - 1) {
            CarregarProximaLinha();
            DesenharLinhaNova();
        }
    }

    if (TempoLimpeza > 0 && UltimaCarregada == SilabaAtual) {
        for (int slot : {1, 2}) {
            Linha[slot].clear();
            Cantado[slot].clear();
        }
        LinhaAtual = 0;
    }
}

void KaraokeStage::AguardarLinhas() { AguardarLinhas(MidiPlayer.DisplayTime()); }

void KaraokeStage::AguardarLinhas(std::int64_t now) {
    if (LinhaAtual != 0)
        return;
    if (TempoLimpeza > 0 && now >= TempoLimpeza) {
        LimparAreaLetra();
        TempoLimpeza = 0;
        return;
    }
    if (TempoContagem < 0 || now < TempoContagem)
        return;
    const int count = static_cast<int>(Silabas.size());
    if (UltimaCarregada + 1 >= count) {
        TempoContagem = -1;
        return;
    }
    const std::int64_t r = static_cast<std::int64_t>(Tempos[UltimaCarregada + 1]) - TempoContagem;
    if (r >= 2000)
        Contagem = kDashes3;
    else if (r >= 1300)
        Contagem = kDashes2;
    else if (r >= 600)
        Contagem = kDash;
    if (!Contagem.isEmpty()) {
        ContagemX = (canvasWidth() - textSize(Contagem).width()) / 2;
        drawOutlinedText(ContagemX, LinhaY[1] - AlturaLinha, Contagem, Qt::black, kYellow);
    }
    if (UltimaCarregada < count) {
        LinhaAtual = 2;
        CarregarProximaLinha();
        DesenharLinhaNova();
    }
    if (UltimaCarregada < count) {
        LinhaAtual = 1;
        CarregarProximaLinha();
        DesenharLinhaNova();
    }
    TempoContagem = -1;
}

void KaraokeStage::CarregarProximaLinha() {
    const int count = static_cast<int>(Silabas.size());
    if (LinhaAtual == 0 || UltimaCarregada >= count - 1)
        return;
    const int slot = LinhaAtual == 1 ? 2 : 1;
    ++UltimaCarregada;
    Linha[slot] = withoutBreak(Silabas[UltimaCarregada]);
    Cantado[slot].clear();
    while (UltimaCarregada + 1 < count && !startsLine(Silabas[UltimaCarregada + 1])) {
        ++UltimaCarregada;
        Linha[slot] += Silabas[UltimaCarregada];
    }
}

void KaraokeStage::DesenharLinhaNova() {
    if (LinhaAtual == 0)
        return;
    const int slot = LinhaAtual == 1 ? 2 : 1;
    eraseRect(bandOf(slot));
    LinhaX[slot] = (canvasWidth() - textSize(Linha[slot]).width()) / 2;
    drawOutlinedText(LinhaX[slot], LinhaY[slot], Linha[slot], Qt::black, kYellow);
    // Made now, so that the syllable steps of this line only blend it.
    outlinedLayer(Linha[slot], fontSize_, Qt::white, kMagenta);
}

void KaraokeStage::LimparAreaLetra() {
    melodyBand.clear();
    if (!Contagem.isEmpty() || !ContagemAcesa.isEmpty()) {
        Contagem.clear();
        ContagemAcesa.clear();
        eraseRect(countdownBand());
    }
    eraseRect(QRect(QPoint(0, LinhaY[1] - 1), QPoint(canvasWidth() - 1, canvasHeight() - 1)));
}

QRect KaraokeStage::bandOf(int slot) const {
    // From (0, LinhaY − 1) to (W, LinhaY + AlturaLinha), right and bottom excluded.
    return QRect(0, LinhaY[slot] - 1, canvasWidth(), AlturaLinha + 1);
}

QRect KaraokeStage::countdownBand() const {
    return QRect(0, LinhaY[1] - AlturaLinha - 1, canvasWidth(), AlturaLinha + 1);
}

// --- pictures -----------------------------------------------------------------------

bool KaraokeStage::CarregarFundo(const QString& path) {
    if (!QFileInfo(path).isFile())
        return false;
    const QSize size = canvas_->size();
    if (size.isEmpty())
        return false;
    // Decoded into a picture of its own: a failure leaves the stage as it was.
    QImage background = loadBackgroundPicture(path, size, darkLevel);
    if (background.isNull())
        return false;
    {
        QPainter painter(&background);
        painter.drawImage(10, 10, withTransparentBackground(logo));
    }
    FundoLimpo = background;
    *canvas_ = FundoLimpo.copy();
    melodyBand.backgroundReplaced();
    changed(canvas_->rect());
    if (backgroundReplaced)
        backgroundReplaced();
    return true;
}

void KaraokeStage::eraseTextBox() {
    textBoxShown = false;
    eraseRect(QRect(CaixaX - 1, CaixaY - 1, CaixaLargura + 2, CaixaAltura + 2));
}

void KaraokeStage::attachCanvas(QImage* canvas, std::function<void(const QRect&)> changed) {
    canvas_ = canvas ? canvas : &ownCanvas_;
    changed_ = std::move(changed);
    resizeCanvas(canvas_->size());
}

void KaraokeStage::resizeCanvas(const QSize& size) {
    if (FundoLimpo.isNull() || FundoLimpo.size().isEmpty()) {
        FundoLimpo = blankPicture(size);
    } else if (FundoLimpo.size() != size) {
        FundoLimpo = size.isEmpty() ? blankPicture(size)
                                    : FundoLimpo.scaled(size, Qt::IgnoreAspectRatio,
                                                        Qt::SmoothTransformation);
    }
    *canvas_ = FundoLimpo.copy();
    melodyBand.backgroundReplaced();
    changed(canvas_->rect());
    if (backgroundReplaced)
        backgroundReplaced();
}

void KaraokeStage::eraseRect(const QRect& rect) {
    QImage& target = *canvas_;
    const QRect clipped = rect.intersected(target.rect()).intersected(FundoLimpo.rect());
    if (clipped.isEmpty())
        return;
    if (FundoLimpo.format() == target.format() && target.depth() == 32) {
        const int bytes = clipped.width() * 4;
        for (int y = clipped.top(); y <= clipped.bottom(); ++y)
            std::memcpy(target.scanLine(y) + clipped.left() * 4,
                        FundoLimpo.constScanLine(y) + clipped.left() * 4, bytes);
    } else {
        QPainter painter(&target);
        painter.setCompositionMode(QPainter::CompositionMode_Source);
        painter.drawImage(clipped, FundoLimpo, clipped);
    }
    changed(clipped);
}

void KaraokeStage::drawPicture(const QPoint& at, const QImage& picture) {
    {
        QPainter painter(canvas_);
        painter.drawImage(at, picture);
    }
    changed(QRect(at, picture.size()).intersected(canvas_->rect()));
}

void KaraokeStage::changed(const QRect& rect) {
    if (changed_ && !rect.isEmpty())
        changed_(rect);
}

// --- text --------------------------------------------------------------------------

void KaraokeStage::setLyricFontSize(int points) {
    fontSize_ = std::max(points, 1);
    font_.setPixelSize(pointsToPixels(fontSize_));
    metrics_.emplace(font_);
}

QSize KaraokeStage::textSize(const QString& text) const {
    return QSize(metrics_->horizontalAdvance(text), metrics_->height());
}

QSize KaraokeStage::textSize(const QString& text, int points) const {
    const QFontMetrics metrics(fontOf(points));
    return QSize(metrics.horizontalAdvance(text), metrics.height());
}

QFont KaraokeStage::fontOf(int points) const {
    QFont font = font_;
    font.setPixelSize(pointsToPixels(std::max(points, 1)));
    return font;
}

QRect KaraokeStage::layerArea(const QFontMetrics& metrics, const QString& text) {
    // The ink may reach past the advance (overhangs); the outline adds a pixel.
    return metrics.boundingRect(text)
        .translated(0, metrics.ascent())
        .united(QRect(0, 0, metrics.horizontalAdvance(text), metrics.height()))
        .adjusted(-2, -2, 2, 2);
}

QRect KaraokeStage::outlinedTextRect(int x, int y, const QString& text, int points) const {
    if (text.isEmpty())
        return QRect();
    return layerArea(QFontMetrics(fontOf(points)), text).translated(x, y);
}

// Outlined text is kept as a picture of its own (premultiplied ARGB, the
// text's ink with the outline and one pixel to spare), made once and then
// blended onto the canvas: text this large is drawn by Qt as outlines, which
// costs more than a whole-screen copy per line, and a step must stay cheaper
// than that.
const KaraokeStage::TextLayer& KaraokeStage::outlinedLayer(const QString& text, int points,
                                                           const QColor& outline,
                                                           const QColor& fill) {
    const int pixels = pointsToPixels(std::max(points, 1));
    for (std::size_t i = 0; i < layers_.size(); ++i) {
        const TextLayer& layer = layers_[i];
        if (layer.pixels == pixels && layer.outline == outline.rgb() && layer.fill == fill.rgb() &&
            layer.text == text) {
            std::rotate(layers_.begin(), layers_.begin() + static_cast<std::ptrdiff_t>(i),
                        layers_.begin() + static_cast<std::ptrdiff_t>(i) + 1);
            return layers_.front();
        }
    }
    const QFont font = fontOf(points);
    const QFontMetrics metrics(font);
    const QRect area = layerArea(metrics, text);
    TextLayer layer;
    layer.text = text;
    layer.pixels = pixels;
    layer.outline = outline.rgb();
    layer.fill = fill.rgb();
    layer.offset = area.topLeft();
    layer.image = QImage(area.size(), QImage::Format_ARGB32_Premultiplied);
    layer.image.fill(Qt::transparent);
    {
        QPainter painter(&layer.image);
        painter.setFont(font);
        painter.setPen(outline);
        const int x = -area.left();
        const int baseline = metrics.ascent() - area.top();
        for (const auto& [dx, dy] : {std::pair{1, 1}, {-1, -1}, {-1, 1}, {1, -1}})
            painter.drawText(x + dx, baseline + dy, text);
        painter.setPen(fill);
        painter.drawText(x, baseline, text);
    }
    constexpr std::size_t kLayers = 12;
    if (layers_.size() == kLayers)
        layers_.pop_back();
    layers_.insert(layers_.begin(), std::move(layer));
    return layers_.front();
}

void KaraokeStage::blendLayer(int x, int y, const TextLayer& layer, const QRect& clip) {
    const QRect target =
        QRect(QPoint(x, y) + layer.offset, layer.image.size()).intersected(clip).intersected(
            canvas_->rect());
    if (target.isEmpty())
        return;
    {
        QPainter painter(canvas_);
        painter.drawImage(target, layer.image, target.translated(-(QPoint(x, y) + layer.offset)));
    }
    changed(target);
}

void KaraokeStage::drawOutlinedText(int x, int y, const QString& text, const QColor& outline,
                                    const QColor& fill) {
    drawOutlinedText(x, y, text, fontSize_, outline, fill);
}

void KaraokeStage::drawOutlinedText(int x, int y, const QString& text, int points,
                                    const QColor& outline, const QColor& fill) {
    if (text.isEmpty() || canvas_->isNull())
        return;
    blendLayer(x, y, outlinedLayer(text, points, outline, fill), canvas_->rect());
}

void KaraokeStage::drawLit(int slot) {
    const QString& sung = Cantado[slot];
    if (sung.isEmpty())
        return;
    if (!Linha[slot].startsWith(sung)) {
        drawOutlinedText(LinhaX[slot], LinhaY[slot], sung, Qt::white, kMagenta);
        return;
    }
    // The lit line's picture up to the end of the sung part (its last
    // letter's overhang and outline included): the same letters as drawing
    // the sung text itself, without drawing it anew at every syllable.
    const TextLayer& layer = outlinedLayer(Linha[slot], fontSize_, Qt::white, kMagenta);
    int right = canvas_->width();
    if (sung.size() < Linha[slot].size()) {
        const QChar last = sung.back();
        const int overhang = std::max(
            0, metrics_->boundingRect(last).right() + 1 - metrics_->horizontalAdvance(last));
        right = LinhaX[slot] + textSize(sung).width() + overhang + 1;
    }
    blendLayer(LinhaX[slot], LinhaY[slot], layer, QRect(0, 0, right, canvas_->height()));
}
