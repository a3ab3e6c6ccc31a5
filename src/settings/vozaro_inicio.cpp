#include "settings/vozaro_inicio.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QPainter>
#include <QPushButton>

#include "stores/vozaro_uteis.h"
#include "controls/PictureBox.h"
#include "controls/ScreenGeometry.h"
#include "stage/canvas/StageButtons.h"
#include "controls/WindowLook.h"

TformInicio* formInicio = nullptr;

namespace {

constexpr int kPanelWidth = 640;
constexpr int kPanelHeight = 480;
constexpr int kBarLeft = (kPanelWidth - vozaro::stage::kBarWidth) / 2;
constexpr int kBarTop = 330;
constexpr int kBarPictureHeight = 48;
constexpr int kPointerHeight = 24;

// A caption and the button it explains; the caption's box is wider than the
// button and need not be centred on it, so that neighbours do not overlap.
struct Caption {
    const char* button;
    int left, right;  // the caption's box on the panel
    const char* text;
};

constexpr Caption kCaptionsAbove[] = {
    {"bPlay", 26, 110, "Toca a Música"},
    {"bProxima", 114, 196, "Próxima Música"},
    {"bMusicas", 200, 356, "Exibe lista de músicas cadastradas e permite a inclusão de novas músicas"},
    {"bMelodia", 378, 550, "Ajusta em tempo real o tom, o volume e a velocidade da música"},
    {"bSair", 556, 640, "Sai do Vozaro"},
};

constexpr Caption kCaptionsBelow[] = {
    {"bCreditos", 0, 62, "Créditos"},
    {"bStop", 64, 140, "Pára a Música"},
    {"bConfig", 144, 330, "Seleciona o dispositivo MIDI que vai reproduzir a música, ajusta o volume do microfone e outras opções"},
    {"bPedidos", 336, 604, "Exibe a janela de pedidos de música, na qual é possível incluir as músicas que serão cantadas pelo número."},
};

// Every caption points at a button of the bar.
template <std::size_t N>
constexpr bool pointsAtBarButtons(const Caption (&captions)[N]) {
    for (const Caption& caption : captions)
        vozaro::stage::barButton(caption.button);
    return true;
}
static_assert(pointsAtBarButtons(kCaptionsAbove) && pointsAtBarButtons(kCaptionsBelow));

// The pointer from a caption to its button: a small white bar.
void addPointer(QWidget* parent, const char* button, int top) {
    const auto& place = vozaro::stage::barButton(button);
    auto* bar = new QWidget(parent);
    bar->setAutoFillBackground(true);
    bar->setPalette(QPalette(Qt::white, Qt::white));
    bar->setGeometry(kBarLeft + place.x + place.width / 2 - 2, top, 5, kPointerHeight);
}

}  // namespace

QImage logoPicture() {
    if (formInicio && formInicio->Logo)
        return formInicio->Logo->picture();
    return QImage(QStringLiteral(":/logo.png"));
}

TformInicio::TformInicio(QWidget* parent) : QDialog(parent) {
    formInicio = this;
    createControls();
    setWindowTitle(QCoreApplication::applicationName());
}

TformInicio::~TformInicio() {
    // Leave no window of the full size on screen while the program ends.
    setWindowState(Qt::WindowNoState);
    resize(1, 1);
    if (formInicio == this)
        formInicio = nullptr;
}

void TformInicio::createControls() {
    setWindowFlags(Qt::Dialog | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    paintBlack(*this);
    resize(kPanelWidth, kPanelHeight);

    panelFundo = new QWidget(this);
    panelFundo->setObjectName(QStringLiteral("panelFundo"));
    paintBlack(*panelFundo);
    panelFundo->resize(kPanelWidth, kPanelHeight);

    Logo = new PictureBox(panelFundo);
    Logo->setObjectName(QStringLiteral("Logo"));
    Logo->setGeometry(10, 8, 197, 102);
    Logo->setPicture(QImage(QStringLiteral(":/logo.png")));

    QLabel* welcome = whiteLabel(panelFundo,
        QStringLiteral("Bem-vindo ao Vozaro 2, o Karaokê da Editora Lumbra."), arialPixels(16, true),
        Qt::AlignCenter);
    welcome->setGeometry(222, 24, 408, 62);

    const QString paragraphs[] = {
        QStringLiteral("O Vozaro 2 é diversão garantida para toda a família. Você pode utilizar as "
                       "músicas que já vêm com o programa, ou copiar as músicas KAR mais recentes "
                       "da Internet e adicioná-las à sua coleção. O Vozaro 2 numera as músicas "
                       "automaticamente para você."),
        QStringLiteral("Imprima a lista de músicas e faça a festa. Basta utilizar a opção pedidos "
                       "para incluir as músicas pelo número, indicando também quem vai cantar "
                       "cada uma delas. Você nunca mais vai ficar sem saber qual será a próxima "
                       "música, nem quem pediu primeiro."),
        QStringLiteral("Veja a seguir como usar todas as ferramentas do Vozaro 2."),
    };
    int top = 118;
    for (const QString& text : paragraphs) {
        QLabel* paragraph = whiteLabel(panelFundo, text, arialPixels(12), Qt::AlignHCenter | Qt::AlignTop);
        const int height = paragraph->heightForWidth(620);
        paragraph->setGeometry(10, top, 620, height);
        top += height + 8;
    }

    // The bar's artwork is 46 pixels high; the picture here has a black line
    // above and below it.
    QImage bar(vozaro::stage::kBarWidth, kBarPictureHeight, QImage::Format_RGB32);
    bar.fill(Qt::black);
    {
        QPainter painter(&bar);
        painter.drawImage(0, (kBarPictureHeight - vozaro::stage::kBarHeight) / 2,
                          QImage(QStringLiteral(":/botoes.png")));
    }
    Botoes = new PictureBox(panelFundo);
    Botoes->setObjectName(QStringLiteral("Botoes"));
    Botoes->setGeometry(kBarLeft, kBarTop, vozaro::stage::kBarWidth, kBarPictureHeight);
    Botoes->setPicture(bar);

    const QFont captionFont = arialPixels(11);
    const int aboveBottom = kBarTop - kPointerHeight;
    for (const Caption& caption : kCaptionsAbove) {
        QLabel* label = whiteLabel(panelFundo, QString::fromUtf8(caption.text), captionFont,
                                   Qt::AlignHCenter | Qt::AlignBottom);
        label->setGeometry(caption.left, aboveBottom - 60, caption.right - caption.left, 60);
        addPointer(panelFundo, caption.button, aboveBottom);
    }
    const int belowTop = kBarTop + kBarPictureHeight;
    for (const Caption& caption : kCaptionsBelow) {
        QLabel* label = whiteLabel(panelFundo, QString::fromUtf8(caption.text), captionFont,
                                   Qt::AlignHCenter | Qt::AlignTop);
        label->setGeometry(caption.left, belowTop + kPointerHeight, caption.right - caption.left,
                           46);
        addPointer(panelFundo, caption.button, belowTop);
    }

    cbExibe = new QCheckBox(QStringLiteral("Não exibir mais esta tela."), panelFundo);
    cbExibe->setObjectName(QStringLiteral("cbExibe"));
    cbExibe->setFont(arialPixels(12));
    cbExibe->setGeometry(10, 452, 240, 22);

    bOk = new QPushButton(QStringLiteral("OK"), panelFundo);
    bOk->setObjectName(QStringLiteral("bOk"));
    bOk->setGeometry((kPanelWidth - 75) / 2, 450, 75, 25);
    bOk->setDefault(true);
    connect(bOk, &QPushButton::clicked, this, &TformInicio::bOkClick);
}

void TformInicio::bOkClick() {
    // Only the stored value changes: the live setting stays as it is, so a
    // later save of the settings writes its own state again.
    if (cbExibe->isChecked())
        WriteSettingBool("Ajuda", false);
    accept();
}

void TformInicio::showEvent(QShowEvent* event) {
    coverScreen(*this);
    QDialog::showEvent(event);
}

void TformInicio::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    FormResize();
}

void TformInicio::FormResize() {
    const QSize outer = frameGeometry().size();
    panelFundo->move(centredOffset(outer.width(), panelFundo->width()),
                     centredOffset(outer.height(), panelFundo->height()));
}
