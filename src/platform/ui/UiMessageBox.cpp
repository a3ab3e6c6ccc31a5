#include "platform/ui/UiMessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <QWindow>

#include <fcntl.h>
#include <unistd.h>

#include <array>
#include <deque>

#include "platform/MessageBox.h"

namespace vozaro::platform {

namespace {

// Whether the process has file descriptors to spare for a new window (the
// display's shared memory, fonts, icons): a window made without them may be
// created and never drawn, and its box never answered.
bool descriptorsToSpare() {
    constexpr int kSpare = 8;
    std::array<int, kSpare> taken{};
    int n = 0;
    while (n < kSpare && (taken[static_cast<size_t>(n)] = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0)
        ++n;
    for (int k = 0; k < n; ++k)
        ::close(taken[static_cast<size_t>(k)]);
    return n == kSpare;
}

MessageResult showWindowMessage(const MessageRequest& request, std::chrono::milliseconds unseenWait) {
    QMessageBox box(QApplication::activeWindow());
    box.setWindowTitle(QApplication::applicationName());
    // Texts come from files, guests and the catalogue: never read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(QString::fromUtf8(request.text));
    box.setWindowModality(Qt::ApplicationModal);
    // A box the window system never shows can never be answered, and would
    // hold everything behind it for good: it gives up with its safe answer
    // (its escape button, else OK).
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
    unseen.start(unseenWait);
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

// Messages that need no answer, held back while no descriptor is to spare:
// each is shown once descriptors are free again, and the program goes on
// meanwhile.
class HeldMessages {
public:
    void hold(const MessageRequest& request, std::chrono::milliseconds unseenWait) {
        held_.push_back(request);
        unseenWait_ = unseenWait;
        if (!timer_) {
            timer_ = new QTimer(QCoreApplication::instance());
            timer_->setInterval(500);
            QObject::connect(timer_, &QTimer::timeout, [this] { showHeld(); });
        }
        timer_->start();
    }

private:
    void showHeld() {
        if (!descriptorsToSpare())
            return;
        timer_->stop();
        while (!held_.empty()) {
            const MessageRequest request = held_.front();
            held_.pop_front();
            showWindowMessage(request, unseenWait_);
        }
    }

    std::deque<MessageRequest> held_;
    std::chrono::milliseconds unseenWait_{kUnseenBoxWait};
    QPointer<QTimer> timer_;
};

}  // namespace

void installWindowMessageBoxes(std::chrono::milliseconds unseenWait) {
    static HeldMessages held;
    setMessageResponder([unseenWait](const MessageRequest& request) {
        // A message that needs no answer waits until its box can be drawn; a
        // question is asked at once (and gives up if it is never shown).
        if (request.buttons == MessageButtons::Ok && !descriptorsToSpare()) {
            held.hold(request, unseenWait);
            return MessageResult::Ok;
        }
        return showWindowMessage(request, unseenWait);
    });
}

}  // namespace vozaro::platform
