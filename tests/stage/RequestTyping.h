// Requests typed into the stage's queue panel as a host types them: the keys
// go where the focus is.  The stage must be shown and active.
#pragma once

#include <QApplication>
#include <QLineEdit>
#include <QListWidget>
#include <QTest>

#include "stage/vozaro_main.h"

namespace vozaro::test {

inline void typeRequest(TformKaraoke& stage, const QString& number, const QString& singer) {
    if (!stage.panelLista->isVisible())
        stage.bPedidosClick();
    stage.eNumero->setFocus();
    QTest::keyClicks(QApplication::focusWidget(), number);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QTest::keyClicks(QApplication::focusWidget(), singer);
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
}

// The request lines shown, in queue order.
inline QStringList requestLines(const TformKaraoke& stage) {
    QStringList shown;
    for (int i = 0; i < stage.Pedidos->count(); ++i)
        shown << stage.Pedidos->item(i)->text();
    return shown;
}

}  // namespace vozaro::test
