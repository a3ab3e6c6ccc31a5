#include "stage/vozaro_main.h"

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFrame>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QSignalBlocker>
#include <algorithm>
#include <cmath>

#include "audio/AMixer.h"
#include "audio/AudioIO.h"
#include "stores/FirstStart.h"
#include "stores/vozaro_colecao.h"
#include "controls/vozaro_status.h"
#include "controls/PictureBox.h"
#include "controls/PictureButton.h"
#include "controls/ScreenGeometry.h"
#include "controls/Slider.h"
#include "controls/WindowLook.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "platform/ui/UiDisplay.h"
#include "stage/canvas/PhoneInvite.h"
#include "karaoke/Scoring.h"
#include "stage/canvas/StageButtons.h"

using vozaro::platform::MessageIcon;
using vozaro::platform::showMessage;

TformKaraoke* formKaraoke = nullptr;

namespace {
constexpr int kDesignWidth = 631;
constexpr int kDesignHeight = 425;
constexpr int kMicProgressHeight = 13;
constexpr int kPanelWidth = 287;
constexpr int kPanelHeight = 177;
// The adjustments panel grows downward for the button of more options.
constexpr int kAdjustmentPanelHeight = kPanelHeight + 22;
constexpr int kNormalTempo = 50;  // MidiTempo's value for 100 %
constexpr int kCaptionMargin = 3;  // between a panel's left edge and its caption
constexpr int kMicMonitorTellMs = 500;  // the longest the closing window waits for the first try

// A panel's header bar: its caption in the system's active-caption colours,
// and the close box at its right end.
PictureButton* panelHeader(QFrame* panel, const QString& caption) {
    auto* header = new QLabel(caption, panel);
    header->setGeometry(0, 0, kPanelWidth, 15);
    header->setContentsMargins(kCaptionMargin, 0, 0, 0);
    header->setFont(arialPixels(11, true));
    header->setAutoFillBackground(true);
    QPalette palette = header->palette();
    palette.setColor(QPalette::Window, palette.color(QPalette::Active, QPalette::Highlight));
    palette.setColor(QPalette::WindowText, palette.color(QPalette::Active, QPalette::HighlightedText));
    header->setPalette(palette);

    QImage box(10, 11, QImage::Format_RGB32);
    box.fill(QColor(192, 192, 192));
    {
        QPainter painter(&box);
        painter.setPen(Qt::black);
        painter.drawLine(2, 3, 7, 8);
        painter.drawLine(7, 3, 2, 8);
    }
    auto* picture = new PictureBox(panel);
    picture->setGeometry(kPanelWidth - 12, 2, 10, 11);
    picture->setPicture(box);
    auto* close = new PictureButton(panel);
    close->setGeometry(picture->geometry());
    close->setCursor(handCursor());
    return close;
}

QLabel* panelLabel(QFrame* panel, const QString& text, const QRect& geometry,
                   Qt::Alignment alignment = Qt::AlignLeft | Qt::AlignVCenter) {
    QLabel* label = whiteLabel(panel, text, arialPixels(11), alignment);
    label->setGeometry(geometry);
    return label;
}

bool isEnter(const QKeyEvent* key) { return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter; }

}  // namespace

TformKaraoke::TformKaraoke(QWidget* parent) : QWidget(parent) {
    formKaraoke = this;
    phone_.setStageTimes([this] { return flow_.stageTimes(); });
    createControls();
    created_ = FormCreate();
}

TformKaraoke::~TformKaraoke() {
    flow_.close();
    // No stop may reach a window that is going: a stop raised by the timer
    // thread is let finish its handler before the handler goes.
    MidiPlayer.clearStopHandler();
    MidiPlayer.Stop();
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
    attachCanvas(&Fundo->canvas(), [this](const QRect& rect) {
        Fundo->repaintRect(rect);
        singers_.canvasChanged(rect);
    });
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

    createQueuePanel();
    createAdjustmentPanel();

    TimerKaraoke = std::make_unique<vozaro::platform::WindowTimer>([this] { TimerKaraokeTimer(); });
    TimerKaraoke->setInterval(kLyricStepMs);
    displayStepDue = [this] { flow_.displayStep(); };
    timerDelay->setOnTimer([this] { timerDelayTimer(); });
    timerNota->setOnTimer([this] { timerNotaTimer(); });

    AudioIn = new vozaro::audio::TAudioIn(this);
    AudioIn->setBufferSize(1024);
    AudioIn->setFrameRate(22050);
    AudioIn->OnBufferFilled = [this](void* data, std::int32_t& size) { return AudioInBufferFilled(data, size); };
    AudioIn->OnStart = [this](QObject*) { AudioInStart(); };
    AudioIn->OnStop = [this](QObject*) { AudioInStop(); };
    MidiPlayer.OnPlay = [this](vozaro::midi::TMidiPlayer*) { MidiPlayerPlay(); };
    MidiPlayer.OnFastForward = [this](vozaro::midi::TMidiPlayer*) { MidiPlayerFastForward(); };
}

void TformKaraoke::createQueuePanel() {
    panelLista = new QFrame(this);
    panelLista->setObjectName(QStringLiteral("panelLista"));
    panelLista->resize(kPanelWidth, kPanelHeight);
    paintBlack(*panelLista);
    panelLista->hide();
    bFechaPedido = panelHeader(panelLista, QStringLiteral("Pedidos de Músicas"));
    pTitulo = panelLista->findChild<QLabel*>();
    bFechaPedido->setObjectName(QStringLiteral("bFechaPedido"));
    connect(bFechaPedido, &QAbstractButton::clicked, this, &TformKaraoke::bFechaPedidoClick);

    Pedidos = new QListWidget(panelLista);
    Pedidos->setObjectName(QStringLiteral("Pedidos"));
    Pedidos->setGeometry(1, 17, 285, 96);
    Pedidos->setFrameShape(QFrame::Box);
    Pedidos->setFrameShadow(QFrame::Plain);
    Pedidos->setSelectionMode(QAbstractItemView::SingleSelection);
    Pedidos->setFont(arialPixels(11));
    Pedidos->installEventFilter(this);
    Pedidos->viewport()->installEventFilter(this);

    Label1 = panelLabel(panelLista, QStringLiteral("Número:"), QRect(2, 117, 42, 15));
    eNumero = new QLineEdit(panelLista);
    eNumero->setObjectName(QStringLiteral("eNumero"));
    eNumero->setGeometry(44, 115, 75, 19);
    eNumero->setMaxLength(5);
    eNumero->installEventFilter(this);
    Label2 = panelLabel(panelLista, QStringLiteral("Cantor(a):"), QRect(134, 117, 48, 15));
    eCantor = new QLineEdit(panelLista);
    eCantor->setObjectName(QStringLiteral("eCantor"));
    eCantor->setGeometry(182, 115, 104, 19);
    eCantor->setMaxLength(15);
    eCantor->installEventFilter(this);
    Label3 = panelLabel(panelLista,
                        QStringLiteral("Para tocar uma música da coleção, digite o seu número e o nome de "
                                       "quem vai cantá-la, seguido da tecla [Enter]. Para excluir uma "
                                       "música desta lista, selecione-a e tecle [Del]."),
                        QRect(2, 134, 280, 40), Qt::AlignHCenter | Qt::AlignTop);
    Label3->setFont(arialPixels(10));  // four lines in its 40 pixels
}

void TformKaraoke::createAdjustmentPanel() {
    panelMelodia = new QFrame(this);
    panelMelodia->setObjectName(QStringLiteral("panelMelodia"));
    panelMelodia->resize(kPanelWidth, kAdjustmentPanelHeight);
    paintBlack(*panelMelodia);
    panelMelodia->hide();
    FechaMelodia = panelHeader(panelMelodia, QStringLiteral("Ajustes de Tom, Ritmo e Acompanhamento"));
    FechaMelodia->setObjectName(QStringLiteral("FechaMelodia"));
    connect(FechaMelodia, &QAbstractButton::clicked, this, &TformKaraoke::FechaMelodiaClick);
    panelLabel(panelMelodia,
               QStringLiteral("Ajuste delicadamente as barras abaixo para adequar a música ao estilo do "
                              "cantor. A velocidade e o tom voltam automaticamente ao normal quando a "
                              "música é parada."),
               QRect(4, 18, 279, 42), Qt::AlignHCenter | Qt::AlignTop);

    struct Row {
        Slider** slider;
        const char* name;
        int minimum, maximum, start;
        QString middle, left, right;
        void (TformKaraoke::*changed)();
    };
    const Row rows[] = {
        {&VolMidi, "VolMidi", 0, 65535, 0, QStringLiteral("Volume do Acompanhamento"), QStringLiteral("Baixo"),
         QStringLiteral("Alto"), &TformKaraoke::VolMidiChange},
        {&MidiTempo, "MidiTempo", 0, 100, kNormalTempo, QStringLiteral("Velocidade da Música"),
         QStringLiteral("Lenta"), QStringLiteral("Rápida"), &TformKaraoke::MidiTempoChange},
        {&MidiTone, "MidiTone", -24, 24, 0, QStringLiteral("Tom da Música"), QStringLiteral("Grave"),
         QStringLiteral("Agudo"), &TformKaraoke::MidiToneChange},
    };
    int y = 62;
    for (const Row& row : rows) {
        panelLabel(panelMelodia, row.middle, QRect(50, y, 187, 14), Qt::AlignHCenter | Qt::AlignVCenter);
        panelLabel(panelMelodia, row.left, QRect(4, y + 15, 44, 18));
        panelLabel(panelMelodia, row.right, QRect(240, y + 15, 44, 18), Qt::AlignRight | Qt::AlignVCenter);
        auto* slider = new Slider(panelMelodia, row.minimum, row.maximum);
        slider->setObjectName(QString::fromLatin1(row.name));
        slider->setGeometry(50, y + 15, 187, 18);
        slider->setValue(row.start);
        connect(slider, &QAbstractSlider::valueChanged, this, row.changed);
        *row.slider = slider;
        y += 37;
    }
    bMaisOpcoes = new QPushButton(QStringLiteral("Mais opções"), panelMelodia);
    bMaisOpcoes->setObjectName(QStringLiteral("bMaisOpcoes"));
    bMaisOpcoes->setFont(arialPixels(10));
    bMaisOpcoes->setGeometry(kPanelWidth - 92, y + 2, 88, 18);
    connect(bMaisOpcoes, &QPushButton::clicked, this, &TformKaraoke::bMaisOpcoesClick);
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
    // A program folder gets the bundled songs once its catalogue exists, at
    // the first start that finds them not installed yet.  Both write the
    // catalogue: they wait for an importer's writing to end, and are left
    // for the next start when it goes on past the wait.
    const auto writing = vozaro::catalogue::lockForWriting();
    if (!writing)
        return true;
    if (!checkCatalogue())
        return false;
    vozaro::catalogue::installBundledContent();
    return true;
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
    // Repainted now and then, not once per entry: with a full catalogue the
    // repaints would cost several times the check itself.
    StatusProgress repaint(status);
    progress.progressed = [&repaint](std::int32_t position) { repaint.step(position); };
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
    const TKaraokeSettings* settings = liveSettings();
    if (settings && settings->Ajuda && windows.showStartScreen)
        windows.showStartScreen();
    coverScreen(*this);
    random_.seed(static_cast<std::mt19937::result_type>(QDateTime::currentMSecsSinceEpoch()));
    if (windows.logo)
        logo = windows.logo();
    FImg.setDirectory(QString::fromStdString(vozaro::catalogue::picturesFolder().string()));
    FImg.update();
    loadRandomPicture();
    applyFairTurnsSetting();
    applyPhoneSetting();
    applySingersScreenSetting();
    applyMicMonitorSetting();
    applyMelodyGuideSetting();
    // The accompaniment slider starts where the mixer's MIDI line stands.
    if (const auto volume = config.midiVolume ? config.midiVolume() : std::nullopt) {
        const QSignalBlocker blocker(VolMidi);
        VolMidi->setValue(*volume);
    }
}

void TformKaraoke::loadRandomPicture() {
    if (FImg.count() == 0)
        return;
    darkLevel = currentSettings().DarkLevel;
    std::uniform_int_distribution<int> pick(0, FImg.count() - 1);
    // A new picture replaces everything drawn: the invitation is drawn again.
    if (CarregarFundo(QDir(FImg.directory()).filePath(FImg.items()[pick(random_)])) && !phoneInvite_.isEmpty()) {
        phoneInvite_ = QRect();
        showPhoneInvite();
    }
}

// --- requests by phone ----------------------------------------------------------------

void TformKaraoke::applyPhoneSetting() {
    applyHostPassword();
    const TKaraokeSettings* settings = liveSettings();
    const bool on = settings && settings->Celular;
    if (!on && phoneServer_) {
        phone_.setAccepting(false);
        phoneServer_->close();
        phoneServer_.reset();
    }
    if (on && !phoneServer_) {
        if (phone_.code().isEmpty())
            phone_.setCode(vozaro::stage::PhoneRequests::drawCode());
        auto server = makePhoneServer([this](const vozaro::platform::HttpRequest& request,
                                             vozaro::platform::HttpResponder respond) {
            if (vozaro::stage::HostApi::serves(request.path))
                return hostApi_.handle(request, std::move(respond));
            phoneApi_.handle(request, std::move(respond));
        });
        const int first = settings->PortaCelular;
        if (server && server->listen(first, first + kPhonePortTries - 1, phoneLoopbackOnly) > 0) {
            phoneServer_ = std::move(server);
        } else if (!phoneOnMessageShown_) {
            // Said once; the setting stays on for the next start.
            phoneOnMessageShown_ = true;
            showMessage(QStringLiteral("Não foi possível receber pedidos pelo celular: as portas %1 a %2 "
                                       "estão ocupadas.")
                            .arg(first)
                            .arg(first + kPhonePortTries - 1)
                            .toStdString(),
                        MessageIcon::Warning);
        }
    }
    phone_.setAccepting(on && phoneServer_);
    hidePhoneInvite();
    if (!MidiPlayer.Play() && !announcing())
        showPhoneInvite();
}

QString TformKaraoke::phoneUrl() const {
    if (!phone_.accepting() || phoneAddress_.isEmpty() || !phoneServer_ || phoneInvite_.isEmpty())
        return QString();
    return vozaro::stage::phoneAddress(phoneAddress_, phoneServer_->port(), phone_.code());
}

void TformKaraoke::showPhoneInvite() {
    if (!phone_.accepting() || !phoneInvite_.isEmpty())
        return;
    // Looked up each time: the machine may have joined another network.
    phoneAddress_ = networkAddress ? networkAddress() : QString();
    QStringList upNext;
    for (const vozaro::stage::Request& request : queue_.requests().mid(0, 3))
        upNext << vozaro::stage::upNextEntry(request);
    phoneInvite_ = vozaro::stage::drawPhoneInvite(*this, phoneAddress_, phoneServer_->port(), phone_.code(), upNext);
    flow_.queueChanged();  // it shows who sings next in place of the up-next line
}

void TformKaraoke::hidePhoneInvite() {
    if (phoneInvite_.isEmpty())
        return;
    eraseRect(phoneInvite_);
    phoneInvite_ = QRect();
    flow_.queueChanged();
}

void TformKaraoke::applySingersScreenSetting() {
    singers_.apply(currentSettings().TelaCantores);
}

void TformKaraoke::applyFairTurnsSetting() {
    queue_.setFairTurns(currentSettings().Revezamento);
}

void TformKaraoke::applyMelodyVolume() {
    setMelodyVolume(currentSettings().VolumeMelodia);
}

void TformKaraoke::songStarting() {
    hidePhoneInvite();
    applyMelodyVolume();
}
void TformKaraoke::stageIdle() { showPhoneInvite(); }

void TformKaraoke::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    FormResize();
}

void TformKaraoke::FormResize() {
    Fundo->setGeometry(rect());
    if (canvas().size() != Fundo->size()) {
        resizeCanvas(Fundo->size());
        if (!phoneInvite_.isEmpty()) {
            phoneInvite_ = QRect();
            showPhoneInvite();
        }
    }
    // The bar and the level bar keep to the bottom edge.
    const int left = centredOffset(width(), panelBotoes->width());
    panelBotoes->move(left, height() - panelBotoes->height());
    MicProgress->move(left + 4, panelBotoes->y() - kMicProgressHeight);
    panelLista->move(width() - panelLista->width(), 0);
    panelMelodia->move(width() - panelMelodia->width(), 0);
}

void TformKaraoke::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TformKaraoke::FormClose() {
    flow_.close();
    singers_.close();
    // No request by phone reaches a stage that is closing.
    if (phoneServer_)
        phoneServer_->close();
    phone_.setAccepting(false);
    AudioIn->StopNow();
    // The sound card's recording sources and microphone mute as they were
    // before the program started.
    if (config.restoreMixerState)
        config.restoreMixerState();
    queue_.clear();
    showQueue();
    QCoreApplication::processEvents();
    TimerKaraoke->stop();
    stopDisplaySteps();
    try {
        if (MidiPlayer.FastForward())
            MidiPlayer.setFastForward(false);
        flow_.stopPlaying();
        timerNota->stop();
        QCoreApplication::processEvents();
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

void TformKaraoke::timerDelayTimer() { flow_.delayOver(); }
void TformKaraoke::TimerKaraokeTimer() { flow_.lyricStep(); }
void TformKaraoke::timerNotaTimer() { flow_.announceScore(); }

void TformKaraoke::bCreditosClick() {
    if (windows.showCredits)
        windows.showCredits();
}

void TformKaraoke::bSairClick() { close(); }

// --- the request queue -------------------------------------------------------------

void TformKaraoke::bPedidosClick() {
    panelLista->setVisible(!panelLista->isVisible());
    if (!panelLista->isVisible())
        return;
    panelMelodia->hide();
    eNumero->setFocus();
    panelLista->raise();
}

void TformKaraoke::bFechaPedidoClick() { panelLista->hide(); }

void TformKaraoke::showQueue() {
    const int row = Pedidos->currentRow();
    Pedidos->clear();
    Pedidos->addItems(queue_.lines());
    if (row >= 0 && row < Pedidos->count())
        Pedidos->setCurrentRow(row);
    // The invitation's list of who sings next follows the queue.
    if (!phoneInvite_.isEmpty()) {
        hidePhoneInvite();
        showPhoneInvite();
    }
    flow_.queueChanged();
}

bool TformKaraoke::eventFilter(QObject* watched, QEvent* event) {
    const QEvent::Type type = event->type();
    if (watched == eNumero && type == QEvent::KeyPress) {
        eNumeroKeyPress(static_cast<QKeyEvent*>(event));
        return event->isAccepted();
    }
    if (watched == eCantor) {
        if (type == QEvent::FocusIn)
            eCantorEnter();
        else if (type == QEvent::FocusOut && leavesForAnotherControl(static_cast<QFocusEvent*>(event)))
            eCantorExit();
        else if (type == QEvent::KeyPress && isEnter(static_cast<QKeyEvent*>(event))) {
            eCantorKeyPress(static_cast<QKeyEvent*>(event));
            return true;
        }
        return false;
    }
    if (watched == Pedidos) {
        if (type == QEvent::FocusIn)
            PedidosEnter();
        else if (type == QEvent::KeyPress && static_cast<QKeyEvent*>(event)->key() == Qt::Key_Delete) {
            PedidosKeyDown(static_cast<QKeyEvent*>(event));
            return true;
        }
        return false;
    }
    if (watched == Pedidos->viewport()) {
        // The list selects the row under the pointer when the button goes
        // down and, while it is held, follows the pointer.
        if (type != QEvent::MouseButtonPress && type != QEvent::MouseMove && type != QEvent::MouseButtonRelease)
            return false;
        const auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton && !(mouse->buttons() & Qt::LeftButton))
            return false;
        if (type == QEvent::MouseButtonRelease) {
            PedidosMouseUp();
            return false;
        }
        const int row = Pedidos->indexAt(mouse->position().toPoint()).row();
        if (row >= 0)
            Pedidos->setCurrentRow(row);
        if (type == QEvent::MouseButtonPress) {
            Pedidos->setFocus();
            PedidosMouseDown();
        } else {
            PedidosMouseMove();
        }
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void TformKaraoke::eNumeroKeyPress(QKeyEvent* key) {
    // Digits and control characters (Backspace) only; Enter goes on to the
    // singer.  Keys without a character (arrows) are left to the field.
    key->ignore();
    if (isEnter(key)) {
        key->accept();
        eCantor->setFocus();
        return;
    }
    const QString text = key->text();
    if (!text.isEmpty() && text.at(0).unicode() > 31 &&
        (text.at(0) < QLatin1Char('0') || text.at(0) > QLatin1Char('9')))
        key->accept();  // discarded
}

void TformKaraoke::eCantorEnter() {
    if (eNumero->text().isEmpty()) {
        if (panelLista->isVisible())
            eNumero->setFocus();
        return;
    }
    PosicaoEncontrada = -1;
    if (const auto number = vozaro::stage::requestedNumber(eNumero->text())) {
        const vozaro::stage::FoundSong found = vozaro::stage::findSong(*number);
        if (found.result == vozaro::stage::FoundSong::CatalogueUnavailable) {
            catalogueUnavailable();
            return;
        }
        if (found.result == vozaro::stage::FoundSong::CatalogueNotNow)
            return;  // the number stays for another try
        if (found.result == vozaro::stage::FoundSong::Found) {
            PosicaoEncontrada = found.position;
            RegistroAtual = found.entry;
            encontrado_ = found.entry;
            return;
        }
    }
    eNumero->clear();
    if (panelLista->isVisible())
        eNumero->setFocus();
}

void TformKaraoke::eCantorKeyPress(QKeyEvent* key) {
    if (!isEnter(key))
        return;
    key->accept();
    // The request is built from the entry this request's own lookup found: an
    // automatic next may have changed RegistroAtual since.
    if (!eNumero->text().trimmed().isEmpty() && PosicaoEncontrada >= 0) {
        queue_.append(vozaro::stage::requestFor(encontrado_, PosicaoEncontrada, eCantor->text().trimmed()));
        showQueue();
    }
    if (panelLista->isVisible())
        eNumero->setFocus();
}

void TformKaraoke::eCantorExit() {
    eNumero->clear();
    eCantor->clear();
}

bool TformKaraoke::leavesForAnotherControl(const QFocusEvent* event) const {
    // Another window taking the focus (a message box, another program) or a
    // menu of the field's own (Paste) leaves the field as it is.
    if (event->reason() == Qt::ActiveWindowFocusReason || event->reason() == Qt::PopupFocusReason)
        return false;
    const QWidget* next = QApplication::focusWidget();
    return next != nullptr && next != eCantor && isAncestorOf(next);
}

void TformKaraoke::PedidosKeyDown(QKeyEvent* /*key*/) {
    const int row = Pedidos->currentRow();
    if (queue_.isEmpty() || row < 0 || !Pedidos->item(row)->isSelected())
        return;
    queue_.removeAt(row);
    showQueue();
}

void TformKaraoke::PedidosEnter() { drag_.release(); }
void TformKaraoke::PedidosMouseUp() { drag_.release(); }
void TformKaraoke::PedidosMouseDown() { drag_.press(Pedidos->currentRow()); }

void TformKaraoke::PedidosMouseMove() {
    if (drag_.moveTo(queue_, Pedidos->currentRow())) {
        showQueue();
        Pedidos->setCurrentRow(drag_.tag());
    }
}

void TformKaraoke::playNow(std::int32_t numero) {
    // A singer half typed in the request panel is not this request's singer.
    eNumero->clear();
    eCantor->clear();
    flow_.playNow(numero);
}

// --- playback ------------------------------------------------------------------------

void TformKaraoke::bPlayClick() { flow_.play(); }
void TformKaraoke::bStopClick() { flow_.stop(); }
void TformKaraoke::bProximaClick() { flow_.next(); }
void TformKaraoke::bMusicasClick() { flow_.openCatalogue(); }
void TformKaraoke::bConfigClick() { flow_.openConfiguration(); }
void TformKaraoke::MidiPlayerPlay() {
    TimerKaraoke->start();
    startDisplaySteps();
}

// Fast forward shows the song as playing does.
void TformKaraoke::MidiPlayerFastForward() { MidiPlayerPlay(); }
void TformKaraoke::MidiPlayerStop() { flow_.playerStopped(); }

void TformKaraoke::bMelodiaClick() {
    panelMelodia->setVisible(!panelMelodia->isVisible());
    if (!panelMelodia->isVisible())
        return;
    panelLista->hide();
    panelMelodia->raise();
}

void TformKaraoke::FechaMelodiaClick() { panelMelodia->hide(); }

void TformKaraoke::optionsChanged() {
    applyFairTurnsSetting();
    applyHostPassword();
    applyMelodyVolume();
    applyMicMonitorSetting();
    applyMelodyGuideSetting();
}

void TformKaraoke::optionsClosed() { tellMicMonitorFailure(); }

// --- the microphone through the speakers ------------------------------------------------

void TformKaraoke::applyMicMonitorSetting() {
    const TKaraokeSettings& s = currentSettings();
    if (!micMonitor_ && !s.RetornoMic)
        return;
    if (!micMonitor_)
        micMonitor_ = std::make_unique<vozaro::audio::MicMonitor>(openMicMonitor);
    micMonitor_->apply(s.RetornoMic, s.VolumeRetorno, s.EcoRetorno);
}

// A failing try ends within milliseconds (no server, no input); a server
// that does not answer is not waited for past kMicMonitorTellMs.
void TformKaraoke::tellMicMonitorFailure() {
    if (!micMonitor_)
        return;
    if (const auto why = micMonitor_->failureToTell(std::chrono::milliseconds(kMicMonitorTellMs)))
        showMessage("Não foi possível ouvir o microfone nas caixas (" + *why + ").", MessageIcon::Warning);
}

void TformKaraoke::applyMelodyGuideSetting() {
    melodyBand.setEnabled(currentSettings().GuiaAfinacao);
    melodyBand.refresh(MidiPlayer.DisplayTime());
}

void TformKaraoke::bMaisOpcoesClick() {
    if (windows.showMoreOptions)
        windows.showMoreOptions();
}

void TformKaraoke::MidiTempoChange() {
    const int v = MidiTempo->value();
    MidiPlayer.setTempoPercent(v > kNormalTempo ? 2 * v : v + 50);
}

void TformKaraoke::MidiToneChange() { Transpor(MidiTone->value()); }

void TformKaraoke::Transpor(int shift) {
    try {
        MidiPlayer.transpose(OrMidi, MidiData, shift);
    } catch (...) {
    }
    melodyBand.setKey(shift);
}

void TformKaraoke::VolMidiChange() {
    if (config.setMidiVolume)
        config.setMidiVolume(VolMidi->value());
}

void TformKaraoke::switchMidiDevice(int port) {
    const bool active = TrackOutputs.Active();
    const int previous = TrackOutputs.DefaultOutputPort();
    TrackOutputs.setActive(false);
    TrackOutputs.setDefaultOutputPort(port);
    try {
        TrackOutputs.setActive(active);
    } catch (...) {
        TrackOutputs.setActive(false);
        TrackOutputs.setDefaultOutputPort(previous);
        try {
            TrackOutputs.setActive(active);
        } catch (...) {
            TrackOutputs.setActive(false);
        }
        throw;
    }
}

// --- what the evening's flow asks of the window ---------------------------------------------

TKaraokeSettings* TformKaraoke::liveSettings() const { return config.settings ? config.settings() : nullptr; }

const TKaraokeSettings& TformKaraoke::currentSettings() const {
    static const TKaraokeSettings defaults;
    const TKaraokeSettings* live = liveSettings();
    return live ? *live : defaults;
}

bool& TformKaraoke::autoNextSwitch() {
    TKaraokeSettings* settings = liveSettings();
    return settings ? settings->autoNextSwitch : autoNextFallback_;
}

bool TformKaraoke::pitchScoringOn() {
    return currentSettings().AfinacaoNota;
}

bool TformKaraoke::scoringOn() {
    return currentSettings().DarNota;
}

void TformKaraoke::setButtonBarEnabled(bool enabled) { panelBotoes->setEnabled(enabled); }
void TformKaraoke::setNextEnabled(bool enabled) { bProxima->setEnabled(enabled); }

void TformKaraoke::selectMicrophone() {
    if (config.selectMicrophone)
        config.selectMicrophone();
}

void TformKaraoke::startListening() {
    // What the microphone heard before this song is forgotten.
    pitchDetector.reset();
    Afinacao = pitchDetector.last();
    AudioIn->StartCapture();
}
int TformKaraoke::key() { return MidiTone->value(); }

void TformKaraoke::songStopped() {
    AudioIn->StopNow();
    TimerKaraoke->stop();
    stopDisplaySteps();
    {
        const QSignalBlocker toneBlocker(MidiTone);
        const QSignalBlocker tempoBlocker(MidiTempo);
        MidiTone->setValue(0);
        MidiTempo->setValue(kNormalTempo);
    }
    MidiToneChange();
    MidiTempoChange();
}

void TformKaraoke::showCatalogue() {
    if (windows.showCatalogue)
        windows.showCatalogue();
}

bool TformKaraoke::showConfiguration() {
    if (!config.showConfiguration)
        return false;
    const TKaraokeSettings* settings = liveSettings();
    const int darkLevelBefore = settings ? settings->DarkLevel : -1;
    const bool saved = config.showConfiguration();
    // A new darkening shows at once.
    settings = liveSettings();
    if (settings && settings->DarkLevel != darkLevelBefore && FImg.count() >= 1)
        loadRandomPicture();
    if (saved) {
        applyPhoneSetting();
        applySingersScreenSetting();
    }
    return saved;
}

void TformKaraoke::catalogueUnavailable() {
    if (endProgram)
        endProgram();
}

// --- scoring -----------------------------------------------------------------------------

bool TformKaraoke::AudioInBufferFilled(void* data, std::int32_t size) {
    const std::int32_t peak =
        vozaro::audio::bufferPeak(static_cast<const std::int16_t*>(data), static_cast<std::size_t>(size / 2));
    VozPresente = vozaro::stage::voicePresent(peak, currentSettings().NoiseLevel);
    // The bar starts at the noise level: below it, it shows its floor.
    MicProgress->setValue(std::clamp(peak, MicProgress->minimum(), MicProgress->maximum()));
    Afinacao = pitchDetector.feed(static_cast<const std::int16_t*>(data), static_cast<std::size_t>(std::max(size, 0) / 2));
    melodyBand.heard(Afinacao.note, VozPresente && Afinacao.heard(), MidiPlayer.DisplayTime());
    flow_.bufferHeard();
    return true;
}

void TformKaraoke::AudioInStart() { MicProgress->show(); }
void TformKaraoke::AudioInStop() { MicProgress->hide(); }
