#include "settings/vozaro_creditos.h"

#include <QCoreApplication>
#include <QLabel>
#include <QPushButton>

#include "settings/vozaro_inicio.h"
#include "controls/PictureBox.h"
#include "stage/canvas/BackgroundPicture.h"
#include "controls/ScreenGeometry.h"
#include "controls/WindowLook.h"

TformCreditos* formCreditos = nullptr;

namespace {

constexpr int kClientWidth = 236;
constexpr int kClientHeight = 183;

}  // namespace

TformCreditos::TformCreditos(QWidget* parent) : QDialog(parent) {
    formCreditos = this;
    setWindowFlags(Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                   Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QCoreApplication::applicationName());
    setFixedSize(kClientWidth, kClientHeight);
    paintBlack(*this);

    Logo = new PictureBox(this);
    Logo->setObjectName(QStringLiteral("Logo"));
    Logo->setGeometry((kClientWidth - 197) / 2, 4, 197, 102);
    Logo->setPicture(withTransparentBackground(logoPicture()));

    // Two columns: a bold heading with the credited name beneath it.
    const int half = kClientWidth / 2;
    const std::pair<QString, int> columns[] = {{QStringLiteral("Programação"), 4},
                                               {QStringLiteral("Ilustrações"), half}};
    for (const auto& [heading, left] : columns) {
        whiteLabel(this, heading, arialPixels(12, true), Qt::AlignHCenter | Qt::AlignTop)
            ->setGeometry(left, 110, half - 4, 16);
        whiteLabel(this, QStringLiteral("Equipe Vozaro"), arialPixels(12),
                   Qt::AlignHCenter | Qt::AlignTop)
            ->setGeometry(left, 126, half - 4, 16);
    }

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
    centreOnScreen(*this);
    QDialog::showEvent(event);
}
