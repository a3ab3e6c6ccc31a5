#include "catalogue/vozaro_order.h"

#include <QCoreApplication>

TformOrder* formOrder = nullptr;

TformOrder::TformOrder(QWidget* parent) : QDialog(parent) {
    formOrder = this;
    setAttribute(Qt::WA_QuitOnClose, false);
    setWindowTitle(QCoreApplication::applicationName());
}

TformOrder::~TformOrder() {
    if (formOrder == this)
        formOrder = nullptr;
}
