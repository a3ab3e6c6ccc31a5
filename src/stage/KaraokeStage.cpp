#include "stage/KaraokeStage.h"

#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

#include "controls/PictureBox.h"
#include "midi/cmpMidiIterator.h"
#include "platform/JpegPicture.h"
#include "platform/MessageBox.h"
#include "platform/TextEncoding.h"
#include "platform/WindowTimer.h"
#include "settings/vozaro_config.h"
#include "settings/vozaro_inicio.h"
#include "stage/LyricTrack.h"

using vozaro::platform::MessageIcon;
using vozaro::platform::showMessage;

const QColor KaraokeStage::kYellow(255, 255, 0);
const QColor KaraokeStage::kMagenta(255, 0, 255);

namespace {

// The text metrics of Windows at 96 dots per inch: a font of n points is
// MulDiv(n, 96, 72) pixels high.
constexpr int kScreenDpi = 96;
constexpr int kDotsPerMeter = 3780;  // 96 dots per inch

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
    picture.setDotsPerMeterX(kDotsPerMeter);
    picture.setDotsPerMeterY(kDotsPerMeter);
    return picture;
}

// Takes `level` off every colour byte, stopping at 0.
void darken(QImage& picture, int level) {
    if (level <= 0)
        return;
    const auto amount = static_cast<std::uint8_t>(std::min(level, 255));
    for (int y = 0; y < picture.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            const QRgb pixel = line[x];
            const auto down = [amount](int byte) { return byte > amount ? byte - amount : 0; };
            line[x] = qRgb(down(qRed(pixel)), down(qGreen(pixel)), down(qBlue(pixel)));
        }
    }
}

// A picture loaded at the given size, or a null picture.
QImage loadPicture(const QString& path, const QSize& size) {
    if (QFileInfo(path).suffix().toUpper() == QLatin1String("JPG")) {
        vozaro::platform::JpegOptions options;
        options.minWidth = size.width();
        options.minHeight = size.height();
        options.maxPixels = KaraokeStage::kMaxPicturePixels;
        auto* decoded = new vozaro::platform::DecodedPicture;
        std::string error;
        if (!vozaro::platform::decodeJpegFile(QFile::encodeName(path).toStdString(), options,
                                              *decoded, error)) {
            delete decoded;
            return {};
        }
        return QImage(
            decoded->pixels.data(), decoded->width, decoded->height, decoded->width * 4,
            QImage::Format_RGB32,
            [](void* data) { delete static_cast<vozaro::platform::DecodedPicture*>(data); },
            decoded);
    }
    QImageReader reader(path, "bmp");
    reader.setAutoDetectImageFormat(false);
    reader.setDecideFormatFromContent(false);
    const QSize declared = reader.size();
    if (!declared.isValid() ||
        static_cast<std::int64_t>(declared.width()) * declared.height() >
            KaraokeStage::kMaxPicturePixels)
        return {};
    QImage picture;
    if (!reader.read(&picture))
        return {};
    return picture;
}

}  // namespace

KaraokeStage::KaraokeStage() : MidiPlayer(vozaro::platform::currentTimerService()) {
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

    darkLevel = [] {
        return formConfig ? formConfig->Settings.DarkLevel : TKaraokeSettings{}.DarkLevel;
    };
    ownCanvas_ = blankPicture(QSize(0, 0));
    FundoLimpo = ownCanvas_;
}

KaraokeStage::~KaraokeStage() {
    // A window built on this part is half gone by now: its stop handler must
    // not run.
    MidiPlayer.OnStop = nullptr;
    MidiPlayer.Stop();
}

// --- song loading ---------------------------------------------------------------

bool KaraokeStage::CarregarMusica(const QString& path) {
    Contagem.clear();
    ContagemAcesa.clear();
    if (!QFileInfo(path).isFile()) {
        showMessage("Música não localizada", MessageIcon::Error);
        return false;
    }
    try {
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
    if (count == 0) {
        // Nothing to show: the next display step ends the block at once, and
        // no countdown ever looks for a syllable time.
        TempoContagem = kNever;
        return false;
    }
    LinhaAtual = 0;
    TempoContagem = std::max(Tempos[0] - 5000, 0);
    return true;
}

// --- the display step -------------------------------------------------------------

void KaraokeStage::AtualizarLetra() { AtualizarLetra(MidiPlayer.Time()); }

void KaraokeStage::AtualizarLetra(std::int64_t now) {
    if (LinhaAtual == 0) {
        AguardarLinhas(now);
        return;
    }
    const int count = static_cast<int>(Silabas.size());

    // The countdown's dashes light one by one before the coming line.
    if (!Contagem.isEmpty()) {
        if (SilabaAtual + 1 < count) {
            const std::int64_t r = Tempos[SilabaAtual + 1] - now;
            if (r > 2000 && r <= 2100)
                ContagemAcesa = kDash;
            else if (r > 1300 && r <= 1400)
                ContagemAcesa = Contagem == kDashes2 ? kDash : kDashes2;
            else if (r > 600 && r <= 700)
                ContagemAcesa = Contagem;
        }
        if (!ContagemAcesa.isEmpty())
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

void KaraokeStage::AguardarLinhas() { AguardarLinhas(MidiPlayer.Time()); }

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
}

void KaraokeStage::LimparAreaLetra() {
    if (!Contagem.isEmpty() || !ContagemAcesa.isEmpty()) {
        Contagem.clear();
        ContagemAcesa.clear();
        eraseRect(countdownBand());
    }
    eraseRect(QRect(QPoint(0, LinhaY[1] - 1), QPoint(canvasWidth() - 1, canvasHeight() - 1)));
}

void KaraokeStage::drawLit(int slot) {
    drawOutlinedText(LinhaX[slot], LinhaY[slot], Cantado[slot], Qt::white, kMagenta);
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
    const QImage loaded = loadPicture(path, size);
    if (loaded.isNull())
        return false;
    QImage background = loaded.size() == size
                            ? loaded.convertToFormat(QImage::Format_RGB32)
                            : loaded.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                  .convertToFormat(QImage::Format_RGB32);
    if (background.isNull())
        return false;
    background.setDotsPerMeterX(kDotsPerMeter);
    background.setDotsPerMeterY(kDotsPerMeter);
    darken(background, darkLevel ? darkLevel() : 0);
    {
        QPainter painter(&background);
        painter.drawImage(10, 10, withTransparentBackground(logoPicture()));
    }
    FundoLimpo = background;
    *canvas_ = FundoLimpo.copy();
    changed(canvas_->rect());
    return true;
}

void KaraokeStage::eraseTextBox() {
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
        FundoLimpo.setDotsPerMeterX(kDotsPerMeter);
        FundoLimpo.setDotsPerMeterY(kDotsPerMeter);
    }
    *canvas_ = FundoLimpo.copy();
    changed(canvas_->rect());
}

void KaraokeStage::eraseRect(const QRect& rect) {
    QImage& target = *canvas_;
    const QRect clipped = rect.intersected(target.rect()).intersected(FundoLimpo.rect());
    if (clipped.isEmpty())
        return;
    if (FundoLimpo.format() == target.format()) {
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
    QFont font = font_;
    font.setPixelSize(pointsToPixels(std::max(points, 1)));
    const QFontMetrics metrics(font);
    return QSize(metrics.horizontalAdvance(text), metrics.height());
}

QRect KaraokeStage::textRect(int x, int y, const QString& text,
                             const QFontMetrics& metrics) const {
    // The glyphs' ink may reach past the advance (italic and bold overhangs);
    // the outline adds one pixel on every side.
    const QRect ink = metrics.boundingRect(text).translated(x, y + metrics.ascent());
    return ink.united(QRect(x, y, metrics.horizontalAdvance(text), metrics.height()))
        .adjusted(-2, -2, 2, 2);
}

void KaraokeStage::drawOutlinedText(int x, int y, const QString& text, const QColor& outline,
                                    const QColor& fill) {
    drawOutlinedText(x, y, text, fontSize_, outline, fill);
}

void KaraokeStage::drawOutlinedText(int x, int y, const QString& text, int points,
                                    const QColor& outline, const QColor& fill) {
    if (text.isEmpty() || canvas_->isNull())
        return;
    QFont font = font_;
    if (points != fontSize_)
        font.setPixelSize(pointsToPixels(std::max(points, 1)));
    const QFontMetrics metrics(font);
    const int baseline = y + metrics.ascent();
    {
        QPainter painter(canvas_);
        painter.setFont(font);
        painter.setPen(outline);
        for (const auto& [dx, dy] : {std::pair{1, 1}, {-1, -1}, {-1, 1}, {1, -1}})
            painter.drawText(x + dx, baseline + dy, text);
        painter.setPen(fill);
        painter.drawText(x, baseline, text);
    }
    changed(textRect(x, y, text, metrics).intersected(canvas_->rect()));
}
