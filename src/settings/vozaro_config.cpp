#include "settings/vozaro_config.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QGroupBox>
#include <QLabel>
#include <QListWidget>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSignalBlocker>

#include <algorithm>
#include <exception>
#include <vector>

#include "audio/AMixer.h"
#include "audio/AudioIO.h"
#include "stores/vozaro_colecao.h"
#include "controls/vozaro_status.h"
#include "controls/PictureBox.h"
#include "controls/ScreenGeometry.h"
#include "controls/Slider.h"
#include "controls/WindowLook.h"
#include "midi/cmpMidiData.h"
#include "midi/cmpMidiPlayer.h"
#include "midi/cmpTrackOutputs.h"
#include "platform/MessageBox.h"
#include "platform/devices/MidiDevices.h"
#include "platform/WindowTimer.h"
#include "settings/OptionsWindow.h"
#include "settings/vozaro_inicio.h"

using vozaro::audio::LineVolume;
using vozaro::platform::MessageButtons;
using vozaro::platform::MessageIcon;
using vozaro::platform::MessageResult;
using vozaro::platform::showMessage;

TformConfig* formConfig = nullptr;

namespace {

constexpr int kClientWidth = 592;
constexpr int kClientHeight = 398;
constexpr int kVolumeMax = 65535;
constexpr int kNoiseStep = 100;
constexpr int kCalibrationMs = 3000;
constexpr int kCalibrationMargin = 1500;
// The test song restarts at most this often, so that a song that ends at
// once cannot keep the player restarting.
constexpr std::int64_t kMinLoopMs = 1000;
// How often the end of the test song, noted on the player's timer thread, is
// looked for while the window is shown.
constexpr int kStopWatchMs = 10;

constexpr const char* kMuteWarning =
    "A opção \"Dar nota para os cantores\" foi desligada automaticamente, uma vez que não é "
    "possível calcular as notas com o microfone do PC mudo.";
constexpr const char* kCalibrationQuestion =
    "Para um resultado mais preciso, é necessário que você permaneça em silêncio enquanto a "
    "detecção estiver sendo feita, o que levará exatamente três segundos. Ligue o microfone e "
    "clique em OK para iniciar a detecção do ruído de fundo.";

QGroupBox* group(QWidget* parent, const QRect& geometry) {
    auto* box = new QGroupBox(parent);
    box->setGeometry(geometry);
    paintBlack(*box);
    return box;
}

QLabel* label(QWidget* parent, const QString& text, const QRect& geometry, bool bold = false) {
    QLabel* l = whiteLabel(parent, text, arialPixels(11, bold), Qt::AlignLeft | Qt::AlignVCenter);
    l->setGeometry(geometry);
    return l;
}

QCheckBox* checkBox(QWidget* parent, const QString& text, const QRect& geometry) {
    QCheckBox* box = whiteCheckBox(parent, text);
    box->setGeometry(geometry);
    return box;
}

}  // namespace

TformConfig::TformConfig(QWidget* parent) : QDialog(parent) {
    formConfig = this;
    createControls();
    FormCreate();
}

TformConfig::~TformConfig() {
    if (testRunning_)
        FormClose();
    MidiPlayer.reset();
    TrackOutputs.reset();
    MidiData.reset();
    if (formConfig == this)
        formConfig = nullptr;
}

void TformConfig::createControls() {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    setModal(true);
    setFixedSize(kClientWidth, kClientHeight);
    setFont(arialPixels(11));
    paintBlack(*this);

    Logo = new PictureBox(this);
    Logo->setObjectName(QStringLiteral("Logo"));
    Logo->setGeometry(6, 6, 197, 102);

    QGroupBox* options = group(this, QRect(210, 2, 376, 166));
    Label12 = label(options, QStringLiteral("Escolha o dispositivo MIDI no qual a música será reproduzida"),
                    QRect(8, 10, 360, 16));
    ListBox = new QListWidget(options);
    ListBox->setObjectName(QStringLiteral("ListBox"));
    ListBox->setGeometry(8, 28, 360, 46);
    cbAutoNext = checkBox(options, QString(), QRect(8, 78, 16, 18));
    cbAutoNext->setObjectName(QStringLiteral("cbAutoNext"));
    Label3 = label(options, QStringLiteral("Tocar próxima música da lista automaticamente"),
                   QRect(26, 78, 340, 18));
    cbAjuda = checkBox(options, QStringLiteral("Exibir ajuda inicial"), QRect(8, 96, 170, 18));
    cbAjuda->setObjectName(QStringLiteral("cbAjuda"));
    cbNota = checkBox(options, QStringLiteral("Dar nota para os cantores"), QRect(184, 96, 184, 18));
    cbNota->setObjectName(QStringLiteral("cbNota"));
    // Below it, beside the darkening list, in space no other control uses.
    cbAfinacao = checkBox(options, QStringLiteral("Avaliar afinação"), QRect(262, 118, 108, 18));
    cbAfinacao->setObjectName(QStringLiteral("cbAfinacao"));
    Label11 = label(options, QStringLiteral("Escurecer imagem de fundo em"), QRect(8, 118, 170, 18));
    comboDark = new QComboBox(options);
    comboDark->setObjectName(QStringLiteral("comboDark"));
    comboDark->setGeometry(184, 116, 72, 22);
    for (int step = 0; step < kDarkImgSteps; ++step)
        comboDark->addItem(QStringLiteral("%1 %").arg(step * 5));
    Label10 = label(options,
                    QStringLiteral("Escureça a imagem de fundo para facilitar a leitura da letra das "
                                   "músicas."),
                    QRect(8, 138, 360, 26));

    QGroupBox* volumes = group(this, QRect(6, 172, 262, 192));
    Label5 = label(volumes, QStringLiteral("Ajustes de Volume"), QRect(8, 8, 246, 16), true);
    Label6 = label(volumes,
                   QStringLiteral("Ajuste o volume geral, o das caixas de som e o do microfone até que "
                                  "o som fique agradável.  Em seguida, reveja o ajuste do ruído de "
                                  "fundo, caso queira que o Vozaro dê notas aos cantores "
                                  "corretamente."),
                   QRect(8, 24, 246, 82));
    Label6->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    struct Row {
        const char* caption;
        Slider** slider;
        QCheckBox** box;
        const char* sliderName;
        const char* boxName;
    };
    const Row rows[] = {{"Microfone", &MicVolume, &cbMicMudo, "MicVolume", "cbMicMudo"},
                        {"Música MIDI", &MidiVolume, &cbMidiMudo, "MidiVolume", "cbMidiMudo"},
                        {"Volume Geral", &Volume, &cbMudo, "Volume", "cbMudo"}};
    int y = 112;
    for (const Row& row : rows) {
        label(volumes, QString::fromUtf8(row.caption), QRect(8, y, 72, 22));
        *row.slider = new Slider(volumes, 0, kVolumeMax, 1);
        (*row.slider)->setObjectName(QString::fromLatin1(row.sliderName));
        (*row.slider)->setGeometry(80, y, 122, 22);
        *row.box = checkBox(volumes, QStringLiteral("Mudo"), QRect(204, y, 54, 22));
        (*row.box)->setObjectName(QString::fromLatin1(row.boxName));
        y += 26;
    }

    QGroupBox* noise = group(this, QRect(274, 172, 312, 192));
    Label4 = label(noise, QStringLiteral("Ajuste do ruído de fundo"), QRect(8, 8, 296, 16), true);
    Label1 = label(noise,
                   QStringLiteral(
                       "Este ajuste deve ser feito com o microfone ligado ao PC e com as caixas de "
                       "som funcionando no volume adequado, caso contrário as notas dos cantores "
                       "não serão calculadas corretamente. Fique em silêncio e use o mouse para "
                       "ajustar a barrinha até que ela fique à frente do nível de ruído (ele é "
                       "indicado na barra de som do microfone). Caso você prefira detectar o nível "
                       "de ruído automaticamente, basta usar o botão Ajuste Automático."),
                   QRect(8, 24, 296, 106));
    Label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    MicSlider = new Slider(noise, 0, kNoiseLevelMax, kNoiseStep);
    MicSlider->setObjectName(QStringLiteral("MicSlider"));
    MicSlider->setGeometry(8, 130, 296, 20);
    MicProgress = new QProgressBar(noise);
    MicProgress->setObjectName(QStringLiteral("MicProgress"));
    MicProgress->setGeometry(8, 150, 296, 10);
    MicProgress->setRange(0, kNoiseLevelMax);
    MicProgress->setValue(0);
    MicProgress->setTextVisible(false);
    Label2 = label(noise, QStringLiteral("Som do Microfone"), QRect(8, 164, 150, 22));
    Button1 = new QPushButton(QStringLiteral("Ajuste Automático"), noise);
    Button1->setObjectName(QStringLiteral("Button1"));
    Button1->setGeometry(176, 162, 128, 24);

    bOk = new QPushButton(QStringLiteral("OK"), this);
    bOk->setObjectName(QStringLiteral("bOk"));
    bOk->setGeometry(420, 368, 80, 26);
    bOk->setDefault(true);
    bCancel = new QPushButton(QStringLiteral("Cancelar"), this);
    bCancel->setObjectName(QStringLiteral("bCancel"));
    bCancel->setGeometry(506, 368, 80, 26);
    // Free space under the logo.
    bMaisOpcoes = new QPushButton(QStringLiteral("Mais opções"), this);
    bMaisOpcoes->setObjectName(QStringLiteral("bMaisOpcoes"));
    bMaisOpcoes->setGeometry(40, 136, 130, 26);
    connect(bMaisOpcoes, &QPushButton::clicked, this, [this] { showMoreOptions(this); });
    // Free space at the bottom left, beside the buttons.
    cbCelular = checkBox(this, QStringLiteral("Pedidos pelo celular"), QRect(10, 372, 190, 18));
    cbCelular->setObjectName(QStringLiteral("cbCelular"));
    cbTelaCantores = checkBox(this, QStringLiteral("Tela para os cantores"), QRect(204, 372, 190, 18));
    cbTelaCantores->setObjectName(QStringLiteral("cbTelaCantores"));

    // The live settings follow the controls.
    // A device chosen with the mouse or the arrow keys takes the test song
    // at once; the program's own selection at creation is made with the
    // list's signals blocked.
    connect(ListBox, &QListWidget::currentRowChanged, this, [this](int row) {
        Settings.MIDIPort = row;
        ListBoxClick();
    });
    connect(cbAutoNext, &QCheckBox::toggled, this, [this](bool on) { Settings.AutoNext = on; });
    connect(cbAjuda, &QCheckBox::toggled, this, [this](bool on) { Settings.Ajuda = on; });
    connect(cbNota, &QCheckBox::toggled, this, [this](bool on) {
        Settings.DarNota = on;
        cbAfinacao->setEnabled(on && cbNota->isEnabled());
    });
    connect(cbAfinacao, &QCheckBox::toggled, this, [this](bool on) { Settings.AfinacaoNota = on; });
    connect(cbCelular, &QCheckBox::toggled, this, [this](bool on) { Settings.Celular = on; });
    connect(cbTelaCantores, &QCheckBox::toggled, this, [this](bool on) { Settings.TelaCantores = on; });
    connect(comboDark, &QComboBox::currentIndexChanged, this, [this](int index) {
        // No selection counts as the default step.
        Settings.DarkImg = index >= 0 ? index : TKaraokeSettings{}.DarkImg;
    });
    connect(MicSlider, &QAbstractSlider::valueChanged, this, [this](int value) { Settings.NoiseLevel = value; });
    connect(Volume, &QAbstractSlider::valueChanged, this, &TformConfig::VolumeChange);
    connect(MidiVolume, &QAbstractSlider::valueChanged, this, &TformConfig::MidiVolumeChange);
    connect(MicVolume, &QAbstractSlider::valueChanged, this, &TformConfig::MicVolumeChange);
    connect(cbMudo, &QCheckBox::toggled, this, &TformConfig::cbMudoClick);
    connect(cbMidiMudo, &QCheckBox::toggled, this, &TformConfig::cbMidiMudoClick);
    connect(cbMicMudo, &QCheckBox::toggled, this, [this](bool on) {
        Settings.MicMute = on;
        cbMicMudoClick();
    });
    connect(Button1, &QPushButton::clicked, this, &TformConfig::Button1Click);
    connect(bOk, &QPushButton::clicked, this, &TformConfig::bOkClick);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);

    AudioIn = new vozaro::audio::TAudioIn(this);
    AudioIn->setBufferSize(1024);
    AudioIn->setFrameRate(22050);
    AudioIn->OnBufferFilled = [this](void* data, std::int32_t& size) { return AudioInBufferFilled(data, size); };

    Mixer = new vozaro::audio::TAudioMixer(this);
    Mixer->setMixerId(0);
    Mixer->OnControlChange = [this](QObject*, std::uintptr_t, std::uint32_t) { MixerControlChange(); };

    MidiData = std::make_unique<vozaro::midi::TMidiData>();
    MidiData->setPPQN(180);
    TrackOutputs = std::make_unique<vozaro::midi::TTrackOutputs>();
    TrackOutputs->setDefaultOutputPort(0);
    TrackOutputs->setMidiData(MidiData.get());
    MidiPlayer = std::make_unique<vozaro::midi::TMidiPlayer>(vozaro::platform::currentTimerService());
    MidiPlayer->setTimerPeriod(1);
    MidiPlayer->setTimerResolution(4);
    MidiPlayer->setTrackOutputs(TrackOutputs.get());
    MidiPlayer->OnStop = [this](vozaro::midi::TMidiPlayer*) { MidiPlayerStop(); };
    stopWatch_ = std::make_unique<vozaro::platform::WindowTimer>([this] {
        if (stopPosted_.exchange(false))
            restartTestSong(false);
    });
    stopWatch_->setInterval(kStopWatchMs);

    timerDelay = std::make_unique<vozaro::platform::WindowTimer>([this] { timerDelayTimer(); });
    timerDelay->setSingleShot(true);
    loopDelay_ = std::make_unique<vozaro::platform::WindowTimer>([this] { restartTestSong(true); });
    loopDelay_->setSingleShot(true);
}

void TformConfig::FormCreate() {
    setWindowTitle(QCoreApplication::applicationName());
    Logo->setPicture(logoPicture());
    FindMixerLines();
    SavedMicMute = false;
    if (micLinePresent())
        Mixer->ReadLineMute(0, MicLine, SavedMicMute);
    QuietMuteChange = true;
    SelectMicrophoneForRecording(true);
    QuietMuteChange = false;
    FillMidiDeviceList();

    loadKaraokeSettings(Settings);
    // Without a microphone line, or one without a mute, there is nothing to mute.
    const bool micMute = Settings.MicMute && micLineMutable();
    const bool scoring = Settings.DarNota;
    {
        const QSignalBlocker block(ListBox);
        ListBox->setCurrentRow(chooseMidiPort(Settings.MIDIPort, ListBox->count()));
    }
    Settings.MIDIPort = ListBox->currentRow();
    cbAutoNext->setChecked(Settings.AutoNext);
    Settings.AutoNext = cbAutoNext->isChecked();
    cbAjuda->setChecked(Settings.Ajuda);
    Settings.Ajuda = cbAjuda->isChecked();
    comboDark->setCurrentIndex(Settings.DarkImg);
    cbCelular->setChecked(Settings.Celular);
    cbTelaCantores->setChecked(Settings.TelaCantores);
    MicSlider->setValue(Settings.NoiseLevel);
    Settings.NoiseLevel = MicSlider->value();
    if (stage.setLevelFloor)
        stage.setLevelFloor(MicSlider->value());
    // A stored mute must not warn at every start: the rule runs quietly here.
    QuietMuteChange = true;
    cbMicMudo->setChecked(micMute);
    QuietMuteChange = false;
    Settings.MicMute = cbMicMudo->isChecked();
    cbNota->setChecked(scoring && !micMute);
    Settings.DarNota = cbNota->isChecked();
    cbNota->setEnabled(!cbMicMudo->isChecked());
    cbAfinacao->setChecked(Settings.AfinacaoNota);
    Settings.AfinacaoNota = cbAfinacao->isChecked();
    cbAfinacao->setEnabled(cbNota->isChecked() && cbNota->isEnabled());
    if (micLinePresent())
        Mixer->WriteLineMute(0, MicLine, cbMicMudo->isChecked());
    ApplySettings();
}

void TformConfig::FindMixerLines() {
    MidiLine = -1;
    MasterLine = -1;
    MicLine = -1;
    midiPresent_ = false;
    micPresent_ = false;
    const auto* destinations = Mixer->Destinations();
    const auto* playback = destinations ? destinations->Destination(0) : nullptr;
    if (!playback)
        return;
    for (int i = 0; i < playback->Connections->Count(); ++i) {
        const std::uint32_t type = playback->Connections->Connection(i)->Line.componentType;
        if (type == vozaro::platform::MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE) {
            MicLine = i;
            micPresent_ = true;
        } else if (type == vozaro::platform::MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER) {
            MidiLine = i;
            midiPresent_ = true;
        }
    }
}

bool TformConfig::micLineMutable() {
    LineVolume v;
    return micLinePresent() && Mixer->ReadLineVolume(0, MicLine, v) && v.Mute != -1;
}

void TformConfig::SelectMicrophoneForRecording(bool save) {
    const auto* destinations = Mixer->Destinations();
    const auto* recording = destinations ? destinations->Destination(1) : nullptr;
    if (!recording)
        return;
    struct Source {
        LineVolume volume;
        std::int32_t target = 0;
    };
    // Every state is read before anything is written: on a card choosing
    // one source (a MUX), a write changes what the other sources read.
    std::vector<Source> sources(static_cast<std::size_t>(recording->Connections->Count()));
    for (std::size_t i = 0; i < sources.size(); ++i) {
        Source& source = sources[i];
        Mixer->ReadLineVolume(1, static_cast<int>(i), source.volume);
        const bool microphone = recording->Connections->Connection(static_cast<int>(i))->Line.componentType ==
                                vozaro::platform::MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
        source.target = source.volume.MuteIsSelection == microphone ? 1 : 0;
        if (save && i < SavedRecordingStates.size())
            SavedRecordingStates[i] = source.volume.Mute;
    }
    // Deselections first: selecting a source of a MUX deselects the others,
    // and a later deselection would clear the MUX altogether.
    for (const bool selecting : {false, true}) {
        for (std::size_t i = 0; i < sources.size(); ++i) {
            const Source& source = sources[i];
            const bool selects = source.volume.MuteIsSelection ? source.target == 1 : source.target == 0;
            if (selects == selecting)
                Mixer->WriteLineVolume(1, static_cast<int>(i), source.volume.Left, source.volume.Right,
                                       source.target);
        }
    }
}

void TformConfig::RestoreMixerState() {
    QuietMuteChange = true;
    const auto* destinations = Mixer->Destinations();
    const auto* recording = destinations ? destinations->Destination(1) : nullptr;
    if (recording) {
        const int count = std::min(recording->Connections->Count(), kSavedSources);
        std::vector<LineVolume> volumes(static_cast<std::size_t>(count));
        for (int i = 0; i < count; ++i)
            Mixer->ReadLineVolume(1, i, volumes[static_cast<std::size_t>(i)]);
        // As when selecting: what goes off first, then what comes on.
        for (const bool selecting : {false, true}) {
            for (int i = 0; i < count; ++i) {
                const LineVolume& v = volumes[static_cast<std::size_t>(i)];
                const std::int32_t saved = SavedRecordingStates[static_cast<std::size_t>(i)];
                if (saved < 0)
                    continue;  // nothing was found to save
                const bool selects = v.MuteIsSelection ? saved != 0 : saved == 0;
                if (selects == selecting)
                    Mixer->WriteLineVolume(1, i, v.Left, v.Right, saved);
            }
        }
    }
    if (micLinePresent())
        Mixer->WriteLineMute(0, MicLine, SavedMicMute);
}

void TformConfig::FillMidiDeviceList() {
    const QSignalBlocker block(ListBox);
    ListBox->clear();
    const int count = vozaro::platform::midiOutputDeviceCount();
    for (int device = 0; device < count; ++device)
        ListBox->addItem(QString::fromStdString(vozaro::platform::midiOutputDeviceName(device)));
}

void TformConfig::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    if (!testRunning_)
        FormShow();
}

void TformConfig::FormShow() {
    centreOnScreen(*this);
    // On a screen of 480 lines or fewer the window keeps to the top edge.
    if (const QScreen* screen = this->screen(); screen && screen->geometry().height() <= 480)
        move(x(), screen->geometry().y());
    // The stage's player stops while the window is open (the stage has
    // switched automatic next off before, so this stop starts no other song).
    if (stage.stopPlayer)
        stage.stopPlayer();
    saved_ = false;
    FindMixerLines();
    Calibrating = false;
    IgnoreMixerEvents = false;
    MixerControlChange();
    AudioIn->StartCapture();
    testRunning_ = true;
    stopPosted_.store(false);
    stopWatch_->start();
    startTestSong();
}

void TformConfig::startTestSong() {
    // Any failure leaves the window without test music, silently.
    try {
        TrackOutputs->setDefaultOutputPort(ListBox->currentRow());
        MidiData->setFileName((vozaro::catalogue::programFolder() / "config.mid").string());
        MidiData->setActive(true);
        TrackOutputs->setActive(true);
        MidiPlayer->UpdateMidiData();
        MidiPlayer->setStopAtEnd(true);
        MidiPlayer->setPlay(true);
    } catch (const std::exception&) {
        MidiPlayerTag = 1;
        MidiPlayer->Stop();
        MidiPlayerTag = 0;
        TrackOutputs->setActive(false);
    }
}

void TformConfig::MidiPlayerStop() {
    // A stop the window made itself; exchange, so that the mark never
    // outlives the stop it was set for.  The end of the song is only noted:
    // the stop watch restarts it on the user-interface thread.
    if (MidiPlayerTag.exchange(0) != 0)
        return;
    stopPosted_.store(true);
}

void TformConfig::restartTestSong(bool waited) {
    if (!testRunning_ || !TrackOutputs->Active() || MidiPlayer->State() != vozaro::midi::psStopped)
        return;
    const std::int64_t played = MidiPlayer->Time();
    if (!waited && played < kMinLoopMs) {
        loopDelay_->start(static_cast<int>(kMinLoopMs - std::max<std::int64_t>(played, 0)));
        return;
    }
    MidiPlayer->Rewind();
    MidiPlayer->setPlay(true);
}

void TformConfig::ListBoxClick() {
    if (!testRunning_)
        return;
    loopDelay_->stop();
    MidiPlayerTag = 1;
    MidiPlayer->Stop();
    MidiPlayerTag = 0;
    try {
        TrackOutputs->setActive(false);
        TrackOutputs->setDefaultOutputPort(ListBox->currentRow());
        TrackOutputs->setActive(true);
        MidiPlayer->setPlay(true);
    } catch (const std::exception& error) {
        // The test music stops until another device is chosen.
        TrackOutputs->setActive(false);
        showMessage(error.what(), MessageIcon::Error);
    }
}

void TformConfig::mirrorLine(std::int32_t line, bool present, Slider* slider, QCheckBox* box) {
    if (!present) {
        slider->setEnabled(false);
        box->setEnabled(false);
        return;
    }
    LineVolume v;
    Mixer->ReadLineVolume(0, line, v);
    slider->setValue(std::max(v.Left, v.Right));
    if (slider == MidiVolume && stage.showMidiVolume)
        stage.showMidiVolume(MidiVolume->value());
    // A line without a mute shows a checked box, except the microphone's:
    // a microphone that cannot be muted is heard, and its box would switch
    // scoring off.
    box->setChecked(box == cbMicMudo ? v.Mute > 0 : v.Mute != 0);
    box->setEnabled(!v.MuteDisabled);
    slider->setEnabled(!v.VolumeDisabled);
}

void TformConfig::MixerControlChange() {
    if (IgnoreMixerEvents)
        return;
    // The controls only show the mixer here: nothing is written back, so
    // that a line's balance stays until the user moves its slider.
    mirroring_ = true;
    mirrorLine(MasterLine, true, Volume, cbMudo);
    mirrorLine(MidiLine, midiPresent_, MidiVolume, cbMidiMudo);
    mirrorLine(MicLine, micPresent_, MicVolume, cbMicMudo);
    mirroring_ = false;
}

void TformConfig::writeLineVolume(std::int32_t line, bool present, int value, QCheckBox* box) {
    if (mirroring_ || !present)
        return;
    IgnoreMixerEvents = true;
    Mixer->WriteLineVolume(0, line, value, value, box->isChecked() ? 1 : 0);
    IgnoreMixerEvents = false;
}

void TformConfig::writeLineMute(std::int32_t line, bool present, QCheckBox* box) {
    if (mirroring_ || !present)
        return;
    IgnoreMixerEvents = true;
    Mixer->WriteLineMute(0, line, box->isChecked());
    IgnoreMixerEvents = false;
}

void TformConfig::VolumeChange() { writeLineVolume(MasterLine, true, Volume->value(), cbMudo); }
void TformConfig::MidiVolumeChange() { writeLineVolume(MidiLine, midiPresent_, MidiVolume->value(), cbMidiMudo); }
void TformConfig::MicVolumeChange() { writeLineVolume(MicLine, micPresent_, MicVolume->value(), cbMicMudo); }
void TformConfig::cbMudoClick() { writeLineMute(MasterLine, true, cbMudo); }
void TformConfig::cbMidiMudoClick() { writeLineMute(MidiLine, midiPresent_, cbMidiMudo); }

void TformConfig::cbMicMudoClick() {
    writeLineMute(MicLine, micPresent_, cbMicMudo);
    // Scoring needs to hear the microphone.
    if (cbMicMudo->isChecked() && cbNota->isChecked() && !QuietMuteChange) {
        showMessage(kMuteWarning, MessageIcon::Warning);
        cbNota->setChecked(false);
    } else {
        QuietMuteChange = false;
    }
    if (cbMicMudo->isChecked())
        cbNota->setChecked(false);
    cbNota->setEnabled(!cbMicMudo->isChecked());
    cbAfinacao->setEnabled(cbNota->isChecked() && cbNota->isEnabled());
}

bool TformConfig::AudioInBufferFilled(void* data, std::int32_t size) {
    const auto* samples = static_cast<const std::int16_t*>(data);
    const std::int32_t peak = vozaro::audio::bufferPeak(samples, static_cast<std::size_t>(std::max(size, 0) / 2));
    MicProgress->setValue(peak);
    if (Calibrating && peak > MicSlider->value())
        MicSlider->setValue(std::min(peak + kCalibrationMargin, kNoiseLevelMax));
    return true;
}

void TformConfig::Button1Click() {
    if (showMessage(kCalibrationQuestion, MessageIcon::Warning, MessageButtons::OkCancel) !=
        MessageResult::Ok)
        return;
    auto status = std::make_unique<TformStatus>();
    status->lStatus->setText(QStringLiteral("Aguarde. Detectando o nível de ruído do ambiente..."));
    status->Progress->hide();
    status->show();
    struct Restore {
        TformConfig* window;
        ~Restore() {
            window->Calibrating = false;
            window->setEnabled(true);
        }
    } restore{this};
    setEnabled(false);
    MicSlider->setValue(0);
    Calibrating = true;
    timerDelay->setInterval(kCalibrationMs);
    timerDelay->start();
    vozaro::platform::waitWhile([this] { return timerDelay->isActive(); });
}

void TformConfig::timerDelayTimer() { timerDelay->stop(); }

bool TformConfig::ApplySettings() {
    try {
        if (stage.switchMidiDevice)
            stage.switchMidiDevice(ListBox->currentRow());
    } catch (const std::exception&) {
        showMessage("Erro ao escolher porta MIDI.", MessageIcon::Error);
        return false;
    }
    Settings.MIDIPort = ListBox->currentRow();
    saveKaraokeSettings(Settings);
    if (stage.setLevelFloor)
        stage.setLevelFloor(MicSlider->value());
    return true;
}

void TformConfig::bOkClick() {
    saved_ = ApplySettings();
    accept();
}

void TformConfig::done(int result) {
    if (testRunning_)
        FormClose();
    QDialog::done(result);
}

void TformConfig::FormClose() {
    testRunning_ = false;
    stopWatch_->stop();
    QuietMuteChange = false;
    loopDelay_->stop();
    MidiPlayerTag = 1;
    MidiPlayer->Stop();
    MidiPlayerTag = 0;
    TrackOutputs->setActive(false);
    MidiData->setActive(false);
    Calibrating = false;
    IgnoreMixerEvents = false;
    AudioIn->StopNow();
}
