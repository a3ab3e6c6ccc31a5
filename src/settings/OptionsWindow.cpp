#include "settings/OptionsWindow.h"

#include <QCheckBox>
#include <QLabel>
#include <QPushButton>

#include "controls/Slider.h"
#include "controls/WindowLook.h"
#include "platform/ui/UiModal.h"

namespace {

constexpr int kClientWidth = 352;
constexpr int kClientHeight = 292;

QLabel* label(QWidget* parent, const QString& text, const QRect& geometry) {
    QLabel* l = whiteLabel(parent, text, arialPixels(11), Qt::AlignLeft | Qt::AlignVCenter);
    l->setGeometry(geometry);
    return l;
}

}  // namespace

OptionsWindow::OptionsWindow(OptionsLink link, QWidget* parent) : QDialog(parent), link_(std::move(link)) {
    settings_ = link_.settings ? link_.settings() : nullptr;
    if (!settings_) {
        loadMoreOptions(own_);
        settings_ = &own_;
    }
    createControls();
    showSettings();
}

void OptionsWindow::createControls() {
    setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QStringLiteral("Mais opções"));
    setFixedSize(kClientWidth, kClientHeight);
    setFont(arialPixels(11));
    paintBlack(*this);

    const auto box = [this](const char* name, const QString& text, int y) {
        QCheckBox* b = whiteCheckBox(this, text);
        b->setObjectName(QString::fromLatin1(name));
        b->setGeometry(10, y, 320, 18);
        return b;
    };
    const auto slider = [this](const char* name, const QString& caption, int y) {
        label(this, caption, QRect(30, y, 60, 20));
        auto* s = new Slider(this, 0, kOptionPercentMax);
        s->setObjectName(QString::fromLatin1(name));
        s->setGeometry(92, y, 250, 20);
        return s;
    };
    cbRetornoMic = box("cbRetornoMic", QStringLiteral("Ouvir o microfone nas caixas"), 10);
    VolumeRetorno = slider("VolumeRetorno", QStringLiteral("Volume"), 34);
    EcoRetorno = slider("EcoRetorno", QStringLiteral("Eco"), 58);
    lRetornoDica = whiteLabel(this, QString(), arialPixels(10), Qt::AlignLeft | Qt::AlignTop);
    lRetornoDica->setObjectName(QStringLiteral("lRetornoDica"));
    lRetornoDica->setWordWrap(true);
    lRetornoDica->setGeometry(30, 82, 312, 28);
    cbGuiaAfinacao = box("cbGuiaAfinacao", QStringLiteral("Mostrar as notas da melodia"), 118);
    VolumeMelodia = slider("VolumeMelodia", QStringLiteral("Melodia"), 142);
    cbRevezamento = box("cbRevezamento", QStringLiteral("Revezar cantores"), 176);
    lSenha = label(this, QString(), QRect(10, 206, 210, 24));
    lSenha->setObjectName(QStringLiteral("lSenha"));
    bNovaSenha = new QPushButton(QStringLiteral("Nova senha"), this);
    bNovaSenha->setObjectName(QStringLiteral("bNovaSenha"));
    bNovaSenha->setGeometry(232, 206, 110, 24);
    bFechar = new QPushButton(QStringLiteral("Fechar"), this);
    bFechar->setObjectName(QStringLiteral("bFechar"));
    bFechar->setGeometry(262, 256, 80, 26);
    bFechar->setDefault(true);

    const auto follow = [this](QCheckBox* b, bool TKaraokeSettings::*field) {
        connect(b, &QCheckBox::toggled, this, [this, field](bool on) {
            settings_->*field = on;
            store();
        });
    };
    follow(cbRetornoMic, &TKaraokeSettings::RetornoMic);
    follow(cbGuiaAfinacao, &TKaraokeSettings::GuiaAfinacao);
    follow(cbRevezamento, &TKaraokeSettings::Revezamento);
    const auto followSlider = [this](Slider* s, int TKaraokeSettings::*field) {
        connect(s, &QAbstractSlider::valueChanged, this, [this, field](int value) {
            settings_->*field = value;
            store();
        });
    };
    followSlider(VolumeRetorno, &TKaraokeSettings::VolumeRetorno);
    followSlider(EcoRetorno, &TKaraokeSettings::EcoRetorno);
    followSlider(VolumeMelodia, &TKaraokeSettings::VolumeMelodia);
    connect(bNovaSenha, &QPushButton::clicked, this, &OptionsWindow::bNovaSenhaClick);
    connect(bFechar, &QPushButton::clicked, this, &QDialog::accept);
}

void OptionsWindow::showSettings() {
    const TKaraokeSettings& s = *settings_;
    const QSignalBlocker blockers[] = {QSignalBlocker(cbRetornoMic), QSignalBlocker(VolumeRetorno),
                                       QSignalBlocker(EcoRetorno),   QSignalBlocker(cbGuiaAfinacao),
                                       QSignalBlocker(VolumeMelodia), QSignalBlocker(cbRevezamento)};
    cbRetornoMic->setChecked(s.RetornoMic);
    VolumeRetorno->setValue(s.VolumeRetorno);
    EcoRetorno->setValue(s.EcoRetorno);
    cbGuiaAfinacao->setChecked(s.GuiaAfinacao);
    VolumeMelodia->setValue(s.VolumeMelodia);
    cbRevezamento->setChecked(s.Revezamento);
    lSenha->setText(QStringLiteral("Senha do anfitrião: %1").arg(QString::fromStdString(hostPasswordText(s.SenhaAnfitriao))));
    lRetornoDica->setText(link_.microphoneHint ? link_.microphoneHint() : QString());
}

void OptionsWindow::store() {
    saveMoreOptions(*settings_);
    if (link_.changed)
        link_.changed();
}

void OptionsWindow::bNovaSenhaClick() {
    settings_->SenhaAnfitriao = drawHostPassword();
    showSettings();
    store();
}

void OptionsWindow::done(int result) {
    QDialog::done(result);
    if (link_.closed)
        link_.closed();
}

void showMoreOptions(QWidget* parent) {
    OptionsWindow window(optionsLinkOfProgram(), parent);
    vozaro::platform::execModal(window);
}
