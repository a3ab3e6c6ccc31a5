#include "stage/vozaro_main.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFrame>
#include <QProgressBar>
#include <algorithm>

#include "audio/AudioIO.h"
#include "catalogue/vozaro_colecao.h"
#include "catalogue/vozaro_status.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "platform/UiDisplay.h"
#include "settings/vozaro_config.h"
#include "settings/vozaro_creditos.h"
#include "settings/vozaro_inicio.h"
#include "controls/PictureBox.h"
#include "controls/PictureButton.h"
#include "controls/ScreenGeometry.h"
#include "stage/StageButtons.h"
#include "controls/WindowLook.h"

using vozaro::platform::MessageIcon;
using vozaro::platform::showMessage;

TformKaraoke* formKaraoke = nullptr;

namespace {
constexpr int kDesignWidth = 631;
constexpr int kDesignHeight = 425;
constexpr int kMicProgressHeight = 13;
}  // namespace

void FileList::setMask(const QString& mask) {
    patterns_ = mask.split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

void FileList::update() {
    items_ = QDir(directory_).entryList(patterns_, QDir::Files | QDir::Readable, QDir::Name);
}

TformKaraoke::TformKaraoke(QWidget* parent) : QWidget(parent) {
    formKaraoke = this;
    createControls();
    created_ = FormCreate();
}

TformKaraoke::~TformKaraoke() {
    if (formKaraoke == this)
        formKaraoke = nullptr;
}

void TformKaraoke::createControls() {
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    paintBlack(*this);
    resize(kDesignWidth, kDesignHeight);

    Fundo = new PictureBox(this);
    Fundo->setObjectName(QStringLiteral("Fundo"));
    Fundo->setStretch(true);
    Fundo->setGeometry(rect());
    Fundo->canvas() = QImage(Fundo->size(), QImage::Format_RGB32);
    attachCanvas(&Fundo->canvas(), [this](const QRect& rect) { Fundo->repaintRect(rect); });
    endProgram = [] { QCoreApplication::exit(1); };

    FImg.setMask(QStringLiteral("*.bmp;*.jpg"));

    panelBotoes = new QFrame(this);
    panelBotoes->setObjectName(QStringLiteral("panelBotoes"));
    panelBotoes->setFrameShape(QFrame::NoFrame);
    paintBlack(*panelBotoes);
    panelBotoes->resize(vozaro::stage::kBarWidth, vozaro::stage::kBarHeight);

    Botoes = new PictureBox(panelBotoes);
    Botoes->setObjectName(QStringLiteral("Botoes"));
    Botoes->setGeometry(panelBotoes->rect());
    Botoes->setPicture(QImage(QStringLiteral(":/botoes.png")));

    PictureButton** buttons[] = {&bCreditos, &bPlay,    &bStop,    &bProxima, &bConfig,
                                 &bMusicas,  &bPedidos, &bMelodia, &bSair};
    static_assert(std::size(buttons) == vozaro::stage::kBarButtons.size());
    for (std::size_t i = 0; i < std::size(buttons); ++i) {
        const auto& place = vozaro::stage::kBarButtons[i];
        auto* button = new PictureButton(panelBotoes);
        button->setObjectName(QString::fromLatin1(place.name));
        button->setGeometry(place.x, place.y, place.width, place.height);
        *buttons[i] = button;
    }
    connect(bCreditos, &QAbstractButton::clicked, this, &TformKaraoke::bCreditosClick);
    connect(bPlay, &QAbstractButton::clicked, this, &TformKaraoke::bPlayClick);
    connect(bStop, &QAbstractButton::clicked, this, &TformKaraoke::bStopClick);
    connect(bProxima, &QAbstractButton::clicked, this, &TformKaraoke::bProximaClick);
    connect(bConfig, &QAbstractButton::clicked, this, &TformKaraoke::bConfigClick);
    connect(bMusicas, &QAbstractButton::clicked, this, &TformKaraoke::bMusicasClick);
    connect(bPedidos, &QAbstractButton::clicked, this, &TformKaraoke::bPedidosClick);
    connect(bMelodia, &QAbstractButton::clicked, this, &TformKaraoke::bMelodiaClick);
    connect(bSair, &QAbstractButton::clicked, this, &TformKaraoke::bSairClick);

    MicProgress = new QProgressBar(this);
    MicProgress->setObjectName(QStringLiteral("MicProgress"));
    MicProgress->setRange(0, 32768);
    MicProgress->setTextVisible(false);
    MicProgress->resize(617, kMicProgressHeight);
    MicProgress->hide();

    panelLista = new QFrame(this);
    panelLista->setObjectName(QStringLiteral("panelLista"));
    panelLista->hide();
    panelMelodia = new QFrame(this);
    panelMelodia->setObjectName(QStringLiteral("panelMelodia"));
    panelMelodia->hide();

    using vozaro::platform::WindowTimer;
    TimerKaraoke = std::make_unique<WindowTimer>([this] { TimerKaraokeTimer(); });
    TimerKaraoke->setInterval(50);
    timerDelay = std::make_unique<WindowTimer>([this] { timerDelayTimer(); });
    timerDelay->setSingleShot(true);
    timerNota = std::make_unique<WindowTimer>();
    timerNota->setInterval(500);
    timerNota->setSingleShot(true);

    AudioIn = new vozaro::audio::TAudioIn(this);
    AudioIn->setBufferSize(1024);
    AudioIn->setFrameRate(22050);
}

bool TformKaraoke::FormCreate() {
    // The lyrics and the darkened pictures need more than 256 colours.
    if (!vozaro::platform::displayShowsEnoughColours(vozaro::platform::displayDepth())) {
        showMessage("Para rodar o Vozaro, o Windows deve estar configurado para exibir mais de "
                    "256 cores. Abra a janela de propriedades de vídeo e altere o número de cores "
                    "para 16 bits ou mais.",
                    MessageIcon::Error);
        return false;
    }
    const QCursor hand = handCursor();
    for (QAbstractButton* button : panelBotoes->findChildren<QAbstractButton*>())
        button->setCursor(hand);

    vozaro::catalogue::setProgramFolder(vozaro::platform::findProgramFolder());
    setWindowTitle(QCoreApplication::applicationName());
    Silabas.clear();
    FilaPosicoes.clear();
    return checkCatalogue();
}

bool TformKaraoke::checkCatalogue() {
    // Entries whose song files have gone are removed, behind a status window
    // that is shown only when there are entries to look at.
    TformStatus status;
    status.Progress->setValue(0);
    status.lStatus->setText(QStringLiteral("Verificando pasta de músicas..."));
    vozaro::catalogue::CheckProgress progress;
    progress.started = [&status](std::int32_t entries) {
        // A range of 0..0 would turn the bar into a busy indicator.
        status.Progress->setMaximum(std::max(entries - 1, 1));
        status.show();
    };
    progress.progressed = [&status](std::int32_t position) {
        status.Progress->setValue(std::min(position, status.Progress->maximum()));
        QCoreApplication::processEvents();
    };
    const bool opened = vozaro::catalogue::removeMissingSongs(progress);
    status.close();
    return opened;
}

void TformKaraoke::showEvent(QShowEvent* event) {
    if (!shown_) {
        shown_ = true;
        FormShow();
    }
    QWidget::showEvent(event);
}

void TformKaraoke::FormShow() {
    if (formConfig && formConfig->Settings.Ajuda && formInicio)
        formInicio->exec();
    coverScreen(*this);
    random_.seed(static_cast<std::mt19937::result_type>(QDateTime::currentMSecsSinceEpoch()));
    FImg.setDirectory(QString::fromStdString(vozaro::catalogue::picturesFolder().string()));
    FImg.update();
    loadRandomPicture();
}

void TformKaraoke::loadRandomPicture() {
    if (FImg.count() == 0)
        return;
    std::uniform_int_distribution<int> pick(0, FImg.count() - 1);
    CarregarFundo(QDir(FImg.directory()).filePath(FImg.items()[pick(random_)]));
}

void TformKaraoke::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

void TformKaraoke::FormResize() {
    Fundo->setGeometry(rect());
    if (canvas().size() != Fundo->size())
        resizeCanvas(Fundo->size());
    // The bar and the level bar keep to the bottom edge.
    const int left = centredOffset(width(), panelBotoes->width());
    panelBotoes->move(left, height() - panelBotoes->height());
    MicProgress->move(left + 4, panelBotoes->y() - kMicProgressHeight);
}

void TformKaraoke::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TformKaraoke::FormClose() {
    if (timerDelay->isActive())
        timerDelayTimer();
    AudioIn->StopNow();
    FilaPosicoes.clear();
    QCoreApplication::processEvents();
    TimerKaraoke->stop();
    try {
        MidiPlayer.Stop();
        MidiData.setActive(false);
        OrMidi.setActive(false);
        TrackOutputs.setActive(false);
    } catch (const std::exception&) {
        // Closing goes on whatever the devices say.
    }
    QCoreApplication::processEvents();
    Silabas.clear();
    Tempos.clear();
    setWindowState(Qt::WindowNoState);
    resize(1, 1);
}

void TformKaraoke::timerDelayTimer() {
    timerDelay->stop();
    eraseTextBox();
}

void TformKaraoke::TimerKaraokeTimer() { AtualizarLetra(); }

void TformKaraoke::bCreditosClick() {
    if (formCreditos)
        formCreditos->exec();
}

void TformKaraoke::bPlayClick() {}
void TformKaraoke::bStopClick() {}
void TformKaraoke::bProximaClick() {}
void TformKaraoke::bConfigClick() {}
void TformKaraoke::bMusicasClick() {}
void TformKaraoke::bPedidosClick() {}
void TformKaraoke::bMelodiaClick() {}

void TformKaraoke::bSairClick() { close(); }
