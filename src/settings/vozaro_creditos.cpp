#include "settings/vozaro_creditos.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

#include "settings/vozaro_inicio.h"
#include "stage/PictureBox.h"
#include "stage/ScreenGeometry.h"

TformCreditos* formCreditos = nullptr;

namespace {

constexpr int kClientWidth = 236;
constexpr int kClientHeight = 183;

QLabel* whiteText(QWidget* parent, const QString& text, bool bold, const QRect& place) {
    auto* label = new QLabel(text, parent);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(12);
    font.setBold(bold);
    label->setFont(font);
    label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    label->setGeometry(place);
    return label;
}

}  // namespace

TformCreditos::TformCreditos(QWidget* parent) : QDialog(parent) {
    formCreditos = this;
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QCoreApplication::applicationName());
    setFixedSize(kClientWidth, kClientHeight);
    QPalette black = palette();
    black.setColor(QPalette::Window, Qt::black);
    setPalette(black);
    setAutoFillBackground(true);

    Logo = new PictureBox(this);
    Logo->setObjectName(QStringLiteral("Logo"));
    Logo->setGeometry((kClientWidth - 197) / 2, 4, 197, 102);
    Logo->setPicture(withTransparentBackground(logoPicture()));

    const int half = kClientWidth / 2;
    whiteText(this, QStringLiteral("Programação"), true, QRect(4, 110, half - 4, 16));
    whiteText(this, QStringLiteral("Equipe Vozaro"), false, QRect(4, 126, half - 4, 16));
    whiteText(this, QStringLiteral("Ilustrações"), true, QRect(half, 110, half - 4, 16));
    whiteText(this, QStringLiteral("Equipe Vozaro"), false, QRect(half, 126, half - 4, 16));

    bOk = new QPushButton(QStringLiteral("OK"), this);
    bOk->setObjectName(QStringLiteral("bOk"));
    bOk->setGeometry((kClientWidth - 75) / 2, 150, 75, 25);
    bOk->setDefault(true);
    connect(bOk, &QPushButton::clicked, this, &QDialog::accept);
}

TformCreditos::~TformCreditos() {
    if (formCreditos == this)
        formCreditos = nullptr;
}

void TformCreditos::showEvent(QShowEvent* event) {
    if (const QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.x() + centredOffset(area.width(), frameGeometry().width()),
             area.y() + centredOffset(area.height(), frameGeometry().height()));
    }
    QDialog::showEvent(event);
}
