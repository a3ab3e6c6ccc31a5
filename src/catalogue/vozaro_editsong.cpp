#include "catalogue/vozaro_editsong.h"

#include <QCoreApplication>

TformMusica* formMusica = nullptr;

TformMusica::TformMusica(QWidget* parent) : QDialog(parent) {
    formMusica = this;
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QCoreApplication::applicationName());
}

TformMusica::~TformMusica() {
    if (formMusica == this)
        formMusica = nullptr;
}
