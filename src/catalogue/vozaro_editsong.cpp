#include "catalogue/vozaro_editsong.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "stores/vozaro_colecao.h"
#include "controls/ScreenGeometry.h"
#include "controls/WindowLook.h"
#include "platform/MessageBox.h"
#include "platform/TextEncoding.h"

TformMusica* formMusica = nullptr;

namespace {

QLabel* label(QWidget* parent, const QString& text, int left, int top, bool bold = false) {
    QLabel* l = whiteLabel(parent, text, arialPixels(11, bold), Qt::AlignLeft | Qt::AlignTop);
    l->setWordWrap(false);
    l->move(left, top);
    l->adjustSize();
    return l;
}

}  // namespace

TformMusica::TformMusica(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    formMusica = this;
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QCoreApplication::applicationName());
    setFixedSize(258, 210);
    paintBlack(*this);
    setFont(arialPixels(11));  // "MS Sans Serif" is a Windows bitmap font

    label(this, QStringLiteral("Detalhes da música"), 8, 8, true);
    label(this, QStringLiteral("Arquivo:"), 8, 32, true);
    lMusica = whiteLabel(this, QString(), arialPixels(11), Qt::AlignLeft | Qt::AlignTop);
    lMusica->setGeometry(8, 48, 241, 33);
    label(this, QStringLiteral("Intérprete / Categoria"), 8, 88);
    eInterprete = new QLineEdit(this);
    eInterprete->setMaxLength(vozaro::catalogue::kInterpreteSize);
    eInterprete->setGeometry(8, 104, 241, 21);
    label(this, QStringLiteral("Música"), 8, 128);
    eMusica = new QLineEdit(this);
    eMusica->setMaxLength(vozaro::catalogue::kMusicaSize);
    eMusica->setGeometry(8, 144, 241, 21);

    bOk = new QPushButton(QStringLiteral("OK"), this);
    bOk->setGeometry(47, 178, 82, 25);
    bOk->setDefault(true);
    bOk->setAutoDefault(true);
    bCancel = new QPushButton(QStringLiteral("Cancelar"), this);
    bCancel->setGeometry(135, 178, 82, 25);
    bCancel->setAutoDefault(false);
    connect(bOk, &QPushButton::clicked, this, &TformMusica::bOkClick);
    connect(bCancel, &QPushButton::clicked, this, &QDialog::reject);  // also Esc

    cbDemais = new QCheckBox(QStringLiteral("Usar os nomes dos arquivos para as demais músicas"), this);
    cbDemais->setGeometry(8, 210, 245, 17);
    cbDemais->setStyleSheet(QStringLiteral("QCheckBox { color: white; }"));
    cbDemais->hide();
}

void TformMusica::showOthersBox(bool shown) {
    cbDemais->setChecked(false);
    cbDemais->setVisible(shown);
    setFixedSize(258, shown ? 232 : 210);
}

TformMusica::~TformMusica() {
    if (formMusica == this)
        formMusica = nullptr;
}

void TformMusica::fillFrom(const TRegistroAlbum& entry) {
    using vozaro::platform::windows1252ToUtf8;
    eInterprete->setText(QString::fromStdString(windows1252ToUtf8(entry.Interprete)));
    eMusica->setText(QString::fromStdString(windows1252ToUtf8(entry.Musica)));
    lMusica->setText(QString::fromStdString(windows1252ToUtf8(entry.Arquivo)));
}

void TformMusica::bOkClick() {
    // The album holds Windows-1252 texts: a character it cannot write is
    // refused here, while the user can still change it, rather than lost.
    std::optional<std::string> interprete =
        vozaro::platform::utf8ToWindows1252(eInterprete->text().toStdString());
    std::optional<std::string> musica = vozaro::platform::utf8ToWindows1252(eMusica->text().toStdString());
    if (!interprete || !musica) {
        vozaro::platform::showMessage(
            "O texto tem caracteres que o álbum de músicas não aceita. Altere-o para continuar.",
            vozaro::platform::MessageIcon::Error);
        (interprete ? eMusica : eInterprete)->setFocus();
        return;
    }
    RegistroAtual.Interprete = vozaro::catalogue::trimmedField(*interprete, vozaro::catalogue::kInterpreteSize);
    RegistroAtual.Musica = vozaro::catalogue::trimmedField(*musica, vozaro::catalogue::kMusicaSize);
    accept();
}

void TformMusica::showEvent(QShowEvent* event) {
    centreOnScreen(*this);
    QDialog::showEvent(event);
}
