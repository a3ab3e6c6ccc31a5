#include "catalogue/vozaro_album.h"

#include <QCoreApplication>

TformAlbum* formAlbum = nullptr;

TformAlbum::TformAlbum(QWidget* parent) : QDialog(parent) {
    formAlbum = this;
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QCoreApplication::applicationName());
}

TformAlbum::~TformAlbum() {
    if (formAlbum == this)
        formAlbum = nullptr;
}
