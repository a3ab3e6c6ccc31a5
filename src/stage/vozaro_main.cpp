#include "stage/vozaro_main.h"

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
#include <QPointer>
#include <QProgressBar>
#include <QSignalBlocker>
#include <algorithm>
#include <cmath>
#include <filesystem>
#include <utility>

#include "audio/AMixer.h"
#include "audio/AudioIO.h"
#include "catalogue/FirstStart.h"
#include "catalogue/vozaro_album.h"
#include "catalogue/vozaro_colecao.h"
#include "catalogue/vozaro_status.h"
#include "platform/MessageBox.h"
#include "platform/Paths.h"
#include "platform/SoundPlayer.h"
#include "platform/TextEncoding.h"
#include "platform/UiDisplay.h"
#include "settings/vozaro_config.h"
#include "settings/vozaro_creditos.h"
#include "settings/vozaro_inicio.h"
#include "controls/PictureBox.h"
#include "controls/PictureButton.h"
#include "controls/ScreenGeometry.h"
#include "controls/Slider.h"
#include "stage/Scoring.h"
#include "stage/StageButtons.h"
#include "controls/WindowLook.h"

using vozaro::platform::MessageButtons;
using vozaro::platform::MessageIcon;
using vozaro::platform::MessageResult;
using vozaro::platform::showMessage;
using vozaro::platform::waitWhile;

TformKaraoke* formKaraoke = nullptr;

namespace {
constexpr int kDesignWidth = 631;
constexpr int kDesignHeight = 425;
constexpr int kMicProgressHeight = 13;
constexpr int kPanelWidth = 287;
constexpr int kPanelHeight = 177;
constexpr int kNormalTempo = 50;  // MidiTempo's value for 100 %

// Round to the nearest integer, halves to the even neighbour.
int roundHalfEven(double value) { return static_cast<int>(std::nearbyint(value)); }

// A panel's header bar: its caption in the system's active-caption colours,
// and the close box at its right end.
PictureButton* panelHeader(QFrame* panel, const QString& caption) {
    auto* header = new QLabel(QStringLiteral(" ") + caption, panel);
    header->setGeometry(0, 0, kPanelWidth, 15);
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

QString fromCatalogue(const std::string& text) {
    return QString::fromStdString(vozaro::platform::windows1252ToUtf8(text));
}

int noiseLevel() { return formConfig ? formConfig->Settings.NoiseLevel : TKaraokeSettings{}.NoiseLevel; }
bool scoringOn() { return formConfig ? formConfig->Settings.DarNota : TKaraokeSettings{}.DarNota; }

}  // namespace

void FileList::setMask(const QString& mask) {
    patterns_ = mask.split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

void FileList::update() {
    items_ = QDir(directory_).entryList(patterns_, QDir::Files | QDir::Readable, QDir::Name);
}

TformKaraoke::TformKaraoke(QWidget* parent) : QWidget(parent), uiThread_(std::this_thread::get_id()) {
    formKaraoke = this;
    createControls();
    created_ = FormCreate();
}

TformKaraoke::~TformKaraoke() {
    closing_ = true;
    announcing_ = false;
    // No stop may reach a window that is going: a stop raised by the timer
    // thread is let finish its handler before the handler goes.
    MidiPlayer.Stop();
    MidiPlayer.clearStopHandler();
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

    createQueuePanel();
    createAdjustmentPanel();

    using vozaro::platform::WindowTimer;
    TimerKaraoke = std::make_unique<WindowTimer>([this] { TimerKaraokeTimer(); });
    TimerKaraoke->setInterval(50);
    timerDelay = std::make_unique<WindowTimer>([this] { timerDelayTimer(); });
    timerDelay->setSingleShot(true);
    timerNota = std::make_unique<WindowTimer>([this] { timerNotaTimer(); });
    timerNota->setInterval(500);
    timerNota->setSingleShot(true);

    AudioIn = new vozaro::audio::TAudioIn(this);
    AudioIn->setBufferSize(1024);
    AudioIn->setFrameRate(22050);
    AudioIn->OnBufferFilled = [this](void* data, std::int32_t& size) { return AudioInBufferFilled(data, size); };
    AudioIn->OnStart = [this](QObject*) { AudioInStart(); };
    AudioIn->OnStop = [this](QObject*) { AudioInStop(); };
    syllableSung = [this] { ++(VozPresente ? Acertos : Erros); };
    connectPlayer();
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
    panelMelodia->resize(kPanelWidth, kPanelHeight);
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
}

void TformKaraoke::connectPlayer() {
    MidiPlayer.OnPlay = [this](vozaro::midi::TMidiPlayer*) { MidiPlayerPlay(); };
    MidiPlayer.OnFastForward = [this](vozaro::midi::TMidiPlayer*) { MidiPlayerFastForward(); };
    // thread: the player's timer thread when a song ends by itself, else this
    // window's.  A stop this window causes is handled in place, so that it
    // has been handled when Stop returns; the end of a song is only handed
    // over (a tick on the test clock runs on this thread, but is handed over
    // all the same).
    MidiPlayer.OnStop = [this](vozaro::midi::TMidiPlayer*) {
        if (std::this_thread::get_id() == uiThread_ &&
            (stopping_.load() || vozaro::midi::TMidiPlayer::TickInProgress() == 0)) {
            MidiPlayerStop();
            return;
        }
        stopPosted_.store(true);
        const std::uint64_t song = song_.load();
        QMetaObject::invokeMethod(this, [this, song] { stopFromTimer(song); }, Qt::QueuedConnection);
    };
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
    // A new program folder gets the bundled songs once its catalogue exists.
    const bool firstStart = vozaro::catalogue::catalogueMissing();
    if (!checkCatalogue())
        return false;
    if (firstStart)
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
    // The accompaniment slider starts where the mixer's MIDI line stands.
    if (formConfig && formConfig->Mixer && formConfig->MidiLine >= 0) {
        vozaro::audio::LineVolume volume;
        if (formConfig->Mixer->ReadLineVolume(0, formConfig->MidiLine, volume)) {
            const QSignalBlocker blocker(VolMidi);
            VolMidi->setValue(std::max(volume.Left, volume.Right));
        }
    }
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
    panelLista->move(width() - panelLista->width(), 0);
    panelMelodia->move(width() - panelMelodia->width(), 0);
}

void TformKaraoke::closeEvent(QCloseEvent* event) {
    FormClose();
    event->accept();
}

void TformKaraoke::FormClose() {
    // An announcement waiting in one of its pauses ends there.
    closing_ = true;
    announcing_ = false;
    if (timerDelay->isActive())
        timerDelayTimer();
    AudioIn->StopNow();
    // The sound card's recording sources and microphone mute as they were
    // before the program started.
    if (formConfig)
        formConfig->RestoreMixerState();
    queue_.clear();
    showQueue();
    QCoreApplication::processEvents();
    TimerKaraoke->stop();
    try {
        if (MidiPlayer.FastForward())
            MidiPlayer.setFastForward(false);
        stopPlaying();
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

void TformKaraoke::timerDelayTimer() {
    timerDelay->stop();
    eraseTextBox();
}

void TformKaraoke::TimerKaraokeTimer() { AtualizarLetra(); }

void TformKaraoke::bCreditosClick() {
    if (formCreditos)
        formCreditos->exec();
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
    Pedidos->addItems(pedidoLines_);
    if (row >= 0 && row < Pedidos->count())
        Pedidos->setCurrentRow(row);
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
        else if (type == QEvent::FocusOut)
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
        if (AbrirAlbum()) {
            try {
                PosicaoEncontrada = LocalizarMusica(*number);
            } catch (const std::exception&) {
                PosicaoEncontrada = -1;
            }
            FecharAlbum();
        }
    }
    if (PosicaoEncontrada >= 0) {
        encontrado_ = RegistroAtual;
        return;
    }
    eNumero->clear();
    if (panelLista->isVisible())
        eNumero->setFocus();
}

void TformKaraoke::eCantorKeyPress(QKeyEvent* key) {
    if (!isEnter(key))
        return;
    key->accept();
    // The line is built from the entry this request's own lookup found: an
    // automatic next may have changed RegistroAtual since.
    if (!eNumero->text().trimmed().isEmpty() && PosicaoEncontrada >= 0) {
        queue_.append(vozaro::stage::requestLine(encontrado_, eCantor->text().trimmed()), PosicaoEncontrada);
        showQueue();
    }
    if (panelLista->isVisible())
        eNumero->setFocus();
}

void TformKaraoke::eCantorExit() {
    eNumero->clear();
    eCantor->clear();
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
    eCantor->clear();
    eNumero->setText(QString::number(numero));
    eCantorEnter();
    const int before = queue_.count();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    eCantorKeyPress(&enter);
    eCantorExit();
    if (queue_.count() > before) {
        queue_.move(queue_.count() - 1, 0);
        showQueue();
    }
    bProximaClick();
}

// --- playback ------------------------------------------------------------------------

bool& TformKaraoke::autoNextSwitch() {
    return formConfig ? formConfig->Settings.autoNextSwitch : autoNextFallback_;
}

// Automatic next switched off while the stage stops a song itself or asks
// and shows another window, so that no stop in between starts the next
// request; put back as it was at the end, unless the configuration window's
// OK has set it anew.
class TformKaraoke::AutoNextOff {
public:
    explicit AutoNextOff(TformKaraoke& stage) : stage_(stage), remembered_(stage.autoNextSwitch()) {
        stage.autoNextSwitch() = false;
    }
    ~AutoNextOff() {
        if (restore_)
            stage_.autoNextSwitch() = remembered_;
    }
    AutoNextOff(const AutoNextOff&) = delete;
    AutoNextOff& operator=(const AutoNextOff&) = delete;
    void keepNewValue() { restore_ = false; }

private:
    TformKaraoke& stage_;
    const bool remembered_;
    bool restore_ = true;
};

void TformKaraoke::runDelayOut() {
    if (timerDelay->isActive())
        timerDelayTimer();
}

void TformKaraoke::stopWithoutAutoNext() {
    const AutoNextOff autoNextOff(*this);
    stopping_.store(true);
    try {
        MidiPlayer.Stop();  // MidiPlayerStop has run when it returns
    } catch (...) {
    }
    stopping_.store(false);
}

void TformKaraoke::stopPlaying() {
    if (MidiPlayer.Play() || MidiPlayer.FastForward() || MidiPlayer.Paused())
        stopWithoutAutoNext();
}

void TformKaraoke::selectMicrophone() {
    if (!formConfig || !formConfig->Mixer)
        return;
    formConfig->QuietMuteChange = true;
    formConfig->SelectMicrophoneForRecording(false);
    formConfig->QuietMuteChange = false;
}

void TformKaraoke::showTitle() {
    if (Titulo.isEmpty())
        return;
    const int W = canvasWidth();
    const int H = canvasHeight();
    int size = 100;
    QSize text = textSize(Titulo, size);
    while (size > 1 && (text.width() > roundHalfEven(0.7 * W) || text.height() > roundHalfEven(0.08 * H)))
        text = textSize(Titulo, --size);
    CaixaLargura = text.width();
    CaixaAltura = text.height() + 4;
    CaixaX = (W - text.width()) / 2;
    CaixaY = (H - text.height() - 4) / 2;
    drawOutlinedText(CaixaX, CaixaY, Titulo, size, Qt::black, kYellow);
    timerDelay->start(3000);
}

void TformKaraoke::bPlayClick() {
    if (MidiPlayer.Play())
        return;
    runDelayOut();
    selectMicrophone();
    // A RIFF song's name is changed by loading: the file it came from counts.
    std::string file = songFile_.empty() ? MidiData.FileName() : songFile_;
    if (!QFileInfo(QFile::decodeName(file.c_str())).isFile()) {
        file.clear();
        songFile_.clear();
        MidiData.setFileName(std::string());
    }
    if (QString::fromStdString(file).trimmed().isEmpty()) {
        bProximaClick();
        return;
    }
    try {
        if (!MidiData.Active()) {
            showTitle();
            MidiData.setFileName(file);
            OrMidi.setFileName(file);
            MidiData.setActive(true);
            OrMidi.setActive(true);
            TrackOutputs.setActive(true);
            MidiPlayer.UpdateMidiData();
            MidiPlayer.setStopAtEnd(true);
            MidiPlayer.Rewind();
            // A key chosen while nothing played applies from the start.
            if (MidiTone->value() != 0)
                Transpor(MidiTone->value());
        }
        Acertos = 0;
        Erros = 0;
        AudioIn->StartCapture();
        song_.fetch_add(1);
        stopPosted_.store(false);
        vozaro::platform::soundPlayer().stop();  // a fanfare still sounding ends with the new song
        MidiPlayer.setPlay(true);
    } catch (const std::exception& error) {
        showMessage(songFailureMessage(QFile::decodeName(file.c_str()), error), MessageIcon::Error);
    }
}

void TformKaraoke::bStopClick() {
    runDelayOut();
    LimparAreaLetra();
    if (MidiPlayer.Play())
        stopWithoutAutoNext();
}

void TformKaraoke::bProximaClick() {
    // Called from inside the announcement (its pauses let other handlers run,
    // such as the catalogue window's "Tocar Agora"): the announcement can only
    // go on once this returns, so waiting here for it would never end.  The
    // request starts as soon as the announcement is over.
    if (announcing_) {
        nextAfterAnnouncement_ = true;
        return;
    }
    QPointer<TformKaraoke> self(this);
    bProxima->setEnabled(false);
    struct EnableAgain {
        QPointer<TformKaraoke>& stage;
        ~EnableAgain() {
            if (stage)
                stage->bProxima->setEnabled(true);
        }
    } enableAgain{self};

    runDelayOut();
    if (queue_.isEmpty()) {
        bMusicasClick();
        return;
    }
    runDelayOut();
    if (MidiPlayer.Play()) {
        stopWithoutAutoNext();
        QCoreApplication::processEvents();
    }
    // The end of the song reported by the timer thread and not handled yet is
    // handled now, so that its score comes before the next song.
    if (stopPosted_.exchange(false))
        MidiPlayerStop();
    waitWhile([&] { return self && !closing_ && (timerNota->isActive() || announcing_); });
    if (!self || closing_)
        return;
    // The host may have deleted the last request during the announcement.
    if (queue_.isEmpty()) {
        bMusicasClick();
        return;
    }
    if (FImg.count() > 1)
        loadRandomPicture();

    const auto request = queue_.takeFirst();
    showQueue();
    const auto entry = vozaro::stage::requestedEntry(*request);
    if (!entry) {
        // The song left the catalogue since it was requested.
        showMessage("Música não localizada", MessageIcon::Error);
        return;
    }
    RegistroAtual = *entry;
    Titulo = vozaro::stage::titleOf(request->line, fromCatalogue(entry->Musica));
    const auto path = vozaro::catalogue::songFilePath(entry->Arquivo);
    const QString song = path ? QFile::decodeName(path->c_str()) : QString();
    songFile_ = path ? path->string() : std::string();
    try {
        if (CarregarMusica(song))
            bPlayClick();
    } catch (const std::exception& error) {
        // A file the MIDI engine cannot read.
        showMessage(songFailureMessage(song, error), MessageIcon::Error);
    }
}

void TformKaraoke::MidiPlayerPlay() { TimerKaraoke->start(); }
void TformKaraoke::MidiPlayerFastForward() { TimerKaraoke->start(); }

void TformKaraoke::stopFromTimer(std::uint64_t song) {
    // Stale when Next has handled it already or another song started since.
    if (!stopPosted_.exchange(false) || song != song_.load() || MidiPlayer.Play() || closing_)
        return;
    MidiPlayerStop();
}

void TformKaraoke::MidiPlayerStop() {
    try {
        panelBotoes->setEnabled(false);
        AudioIn->StopNow();
        TimerKaraoke->stop();
        {
            const QSignalBlocker toneBlocker(MidiTone);
            const QSignalBlocker tempoBlocker(MidiTempo);
            MidiTone->setValue(0);
            MidiTempo->setValue(kNormalTempo);
        }
        MidiToneChange();
        MidiTempoChange();
        LimparAreaLetra();
        MidiData.setActive(false);
        OrMidi.setActive(false);
        TrackOutputs.setActive(false);
        TempoLimpeza = 0;
        UltimaCarregada = -1;
        SilabaAtual = -1;
        LinhaAtual = 0;
        Contagem.clear();
        ContagemAcesa.clear();
        TempoContagem = firstCountdown();
        for (int slot : {1, 2}) {
            Linha[slot].clear();
            Cantado[slot].clear();
        }
    } catch (...) {
        // Scoring and the next request follow whatever failed.
    }
    timerNotaTag = autoNextSwitch() ? 0 : 1;
    timerNota->start();
}

void TformKaraoke::releaseCheckedSong() {
    {
        const AutoNextOff autoNextOff(*this);
        MidiPlayerStop();
    }
    songFile_.clear();
    MidiData.setFileName(std::string());
    OrMidi.setFileName(std::string());
}

void TformKaraoke::bMusicasClick() {
    runDelayOut();
    // A song ending while the question or the window is open must not start
    // the next request inside them: automatic next is off from here on.
    const AutoNextOff autoNextOff(*this);
    if (MidiPlayer.Play() &&
        showMessage("Para incluir músicas sem parar a reprodução,\n"
                    "utilize a janela \"Pedidos\". Deseja realmente\n"
                    "parar a reprodução atual e abrir o Catálogo de Músicas?",
                    MessageIcon::Question, MessageButtons::YesNo) != MessageResult::Yes)
        return;
    stopPlaying();
    if (formAlbum)
        formAlbum->exec();
}

void TformKaraoke::bConfigClick() {
    runDelayOut();
    AutoNextOff autoNextOff(*this);
    if (MidiPlayer.Play() &&
        showMessage("Deseja realmente parar a reprodução atual e alterar as configurações do Vozaro?",
                    MessageIcon::Question, MessageButtons::YesNo) != MessageResult::Yes)
        return;
    if (!formConfig)
        return;
    const int darkLevelBefore = formConfig->Settings.DarkLevel;
    stopPlaying();
    if (formConfig->exec() == QDialog::Accepted)
        autoNextOff.keepNewValue();  // saving has set the switch anew
    if (formConfig->Settings.DarkLevel != darkLevelBefore && FImg.count() >= 1)
        loadRandomPicture();
}

void TformKaraoke::bMelodiaClick() {
    panelMelodia->setVisible(!panelMelodia->isVisible());
    if (!panelMelodia->isVisible())
        return;
    panelLista->hide();
    panelMelodia->raise();
}

void TformKaraoke::FechaMelodiaClick() { panelMelodia->hide(); }

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
}

void TformKaraoke::VolMidiChange() {
    if (!formConfig || !formConfig->Mixer || formConfig->MidiLine < 0)
        return;
    const int v = VolMidi->value();
    formConfig->IgnoreMixerEvents = true;
    formConfig->Mixer->WriteLineVolume(0, formConfig->MidiLine, v, v,
                                       formConfig->cbMidiMudo && formConfig->cbMidiMudo->isChecked() ? 1 : 0);
    formConfig->IgnoreMixerEvents = false;
}

// --- scoring -----------------------------------------------------------------------------

bool TformKaraoke::AudioInBufferFilled(void* data, std::int32_t size) {
    const std::int32_t peak =
        vozaro::audio::bufferPeak(static_cast<const std::int16_t*>(data), static_cast<std::size_t>(size / 2));
    VozPresente = vozaro::stage::voicePresent(peak, noiseLevel());
    // The bar starts at the noise level: below it, it shows its floor.
    MicProgress->setValue(std::clamp(peak, MicProgress->minimum(), MicProgress->maximum()));
    return true;
}

void TformKaraoke::AudioInStart() { MicProgress->show(); }
void TformKaraoke::AudioInStop() { MicProgress->hide(); }

void TformKaraoke::timerNotaTimer() {
    timerNota->stop();
    if (closing_)
        return;
    // A stop handled during the announcement (its pauses let other handlers
    // run) is scored once this announcement is over, never inside it.
    if (announcing_) {
        timerNota->start();
        return;
    }
    QPointer<TformKaraoke> self(this);
    // A pause lets window messages be handled; afterwards the stage may be
    // gone or closed, and then nothing more of the announcement is done.
    auto pause = [&](int ms) {
        timerDelay->start(ms);
        waitWhile([&] { return self && timerDelay->isActive(); });
        return self && announcing_ && !closing_;
    };
    announcing_ = true;
    try {
        if (scoringOn() && Acertos + Erros > 0) {
            const vozaro::stage::Score score = vozaro::stage::scoreOf(Acertos, Erros);
            lastScore_ = score;
            ++announcements_;
            Acertos = 0;
            Erros = 0;
            const int W = canvasWidth();
            const int H = canvasHeight();
            const QString question = QStringLiteral("E a nota do cantor é...");
            const QSize asked = textSize(question, 34);
            CaixaLargura = asked.width();
            CaixaAltura = asked.height();
            CaixaX = (W - CaixaLargura) / 2;
            CaixaY = (H - CaixaAltura) / 2 - 80;
            drawOutlinedText(CaixaX, CaixaY, question, 34, Qt::black, kYellow);
            const auto fanfare = vozaro::catalogue::programFolder() / "nota.wav";
            std::error_code unreadable;  // a folder we may not look into: no fanfare
            if (std::filesystem::exists(fanfare, unreadable))
                vozaro::platform::soundPlayer().play(fanfare.string());
            if (!pause(2000))
                return;

            const QSize number = textSize(score.text, 150);
            const QSize verdict = textSize(score.verdict, 34);
            CaixaLargura = number.width();
            CaixaAltura = number.height();
            CaixaX = (W - CaixaLargura) / 2;
            const int x = (W - verdict.width()) / 2;
            CaixaY = (H - CaixaAltura) / 2 - verdict.height();
            const int y = CaixaY + CaixaAltura;
            drawOutlinedText(CaixaX, CaixaY, score.text, 150, Qt::black, kYellow);
            drawOutlinedText(x, y, score.verdict, 34, Qt::black, kYellow);
            QCoreApplication::processEvents();
            if (!self || closing_)
                return;
            CaixaX = std::min(CaixaX, x);
            CaixaLargura = std::max(CaixaLargura, verdict.width());
            CaixaAltura = y + verdict.height() - CaixaY;
            if (!pause(5000))
                return;
        }
    } catch (...) {
        // The bar is enabled again and the queue goes on whatever failed.
    }
    announcing_ = false;
    panelBotoes->setEnabled(true);
    const bool nextAsked = std::exchange(nextAfterAnnouncement_, false);
    if (nextAsked || (timerNotaTag == 0 && !queue_.isEmpty()))
        bProximaClick();
}
