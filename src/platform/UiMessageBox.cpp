#include "platform/UiMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include "platform/MessageBox.h"

namespace vozaro::platform {

namespace {

// How long a box may stay unseen before it gives up.
constexpr int kUnseenBoxMs = 10000;

MessageResult showWindowMessage(const MessageRequest& request) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QApplication::applicationName());
    // Texts come from files, guests and the catalogue: never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromUtf8(request.text));
    box.setWindowModality(Qt::ApplicationModal);
    // A box the window system never shows (its window could not be made
    // while no descriptor was left, a display that stopped answering) can
    // never be answered, and would hold everything behind it for good: it
    // gives up with its safe answer (its escape button, else OK).
    QTimer unseen;
    unseen.setSingleShot(true);
    QObject::connect(&unseen, &QTimer::timeout, &box, [&box] {
        const QWindow* window = box.windowHandle();
        if (window && window->isExposed())
            return;
        QAbstractButton* safe = box.escapeButton() ? box.escapeButton() : box.button(QMessageBox::Ok);
        if (safe)
            safe->click();
        else
            box.reject();
    });
    unseen.start(kUnseenBoxMs);
    switch (request.icon) {
    case MessageIcon::Error: box.setIcon(QMessageBox::Critical); break;
    case MessageIcon::Warning: box.setIcon(QMessageBox::Warning); break;
    case MessageIcon::Question: box.setIcon(QMessageBox::Question); break;
    case MessageIcon::Information: box.setIcon(QMessageBox::Information); break;
    }
    if (request.buttons == MessageButtons::YesNo) {
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.button(QMessageBox::Yes)->setText(QStringLiteral("Sim"));
        box.button(QMessageBox::No)->setText(QStringLiteral("Não"));
        box.setDefaultButton(QMessageBox::No);
        box.setEscapeButton(QMessageBox::No);
        return box.exec() == QMessageBox::Yes ? MessageResult::Yes : MessageResult::No;
    }
    if (request.buttons == MessageButtons::OkCancel) {
        box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel);
        box.button(QMessageBox::Cancel)->setText(QStringLiteral("Cancelar"));
        box.setEscapeButton(QMessageBox::Cancel);
        return box.exec() == QMessageBox::Ok ? MessageResult::Ok : MessageResult::Cancel;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MessageResult::Ok;
}
}  // namespace

void installWindowMessageBoxes() { setMessageResponder(showWindowMessage); }

}  // namespace vozaro::platform
