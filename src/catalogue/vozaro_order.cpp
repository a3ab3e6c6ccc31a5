#include "catalogue/vozaro_order.h"

#include <QCoreApplication>
#include <QGroupBox>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

#include "controls/ScreenGeometry.h"
#include "controls/WindowLook.h"

TformOrder* formOrder = nullptr;

TformOrder::TformOrder(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::Tool | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowCloseButtonHint) {
    formOrder = this;
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QCoreApplication::applicationName());
    setFixedSize(203, 112);
    paintBlack(*this);
    setFont(arialPixels(11));  // "MS Sans Serif" is a Windows bitmap font

    RG = new QGroupBox(QStringLiteral("Organizar lista por:"), this);
    RG->setGeometry(27, 9, 143, 57);
    rbMusica = new QRadioButton(QStringLiteral("Música"), RG);
    rbInterprete = new QRadioButton(QStringLiteral("Intérprete / Categoria"), RG);
    auto* items = new QVBoxLayout(RG);
    items->setContentsMargins(8, 2, 4, 2);
    items->setSpacing(0);
    items->addWidget(rbMusica);
    items->addWidget(rbInterprete);
    rbMusica->setChecked(true);

    bOk = new QPushButton(QStringLiteral("OK"), this);
    bOk->setGeometry(57, 79, 82, 25);
    bOk->setDefault(true);
    connect(bOk, &QPushButton::clicked, this, &QDialog::accept);
}

TformOrder::~TformOrder() {
    if (formOrder == this)
        formOrder = nullptr;
}

int TformOrder::itemIndex() const { return rbInterprete->isChecked() ? 1 : 0; }

void TformOrder::setItemIndex(int index) { (index == 1 ? rbInterprete : rbMusica)->setChecked(true); }

void TformOrder::showEvent(QShowEvent* event) {
    centreOnScreen(*this);
    QDialog::showEvent(event);
}
