#include "controls/vozaro_status.h"

#include <QApplication>
#include <QPalette>

#include <algorithm>

#include "controls/ScreenGeometry.h"

namespace {
constexpr int kWidth = 337;
constexpr int kHeight = 58;
constexpr int kBarHeight = 20;
}  // namespace

TformStatus::TformStatus(QWidget* parent)
    : QWidget(parent,
              Qt::Tool | Qt::WindowStaysOnTopHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      lStatus(new QLabel(this)),
      Progress(new QProgressBar(this)) {
    setFixedSize(kWidth, kHeight);
    setAutoFillBackground(true);
    QPalette background = palette();
    background.setColor(QPalette::Window, Qt::black);
    setPalette(background);

    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);

    lStatus->setGeometry(0, 0, kWidth, kHeight - kBarHeight);
    QFont bold = font;
    bold.setBold(true);
    lStatus->setFont(bold);
    lStatus->setAlignment(Qt::AlignCenter);
    lStatus->setAttribute(Qt::WA_TranslucentBackground);
    QPalette white = lStatus->palette();
    white.setColor(QPalette::WindowText, Qt::white);
    lStatus->setPalette(white);

    Progress->setGeometry(0, kHeight - kBarHeight, kWidth, kBarHeight);
    Progress->setRange(0, 100);
    Progress->setValue(0);
    Progress->setTextVisible(false);

    FormCreate();
}

void TformStatus::FormCreate() { setWindowTitle(QApplication::applicationName()); }

void TformStatus::showEvent(QShowEvent* event) {
    // Centred on the screen each time it is shown.
    centreOnScreen(*this);
    QWidget::showEvent(event);
}

StatusProgress::StatusProgress(TformStatus& status, Clock clock) : status_(status), clock_(std::move(clock)) {
    if (!clock_) {
        elapsed_.start();
        clock_ = [this] { return static_cast<std::int64_t>(elapsed_.elapsed()); };
    }
}

void StatusProgress::step(int position) {
    const int last = status_.Progress->maximum();
    const std::int64_t now = clock_();
    if (repaints_ > 0 && position < last && now - lastRepaint_ < kRepaintMs)
        return;
    lastRepaint_ = now;
    ++repaints_;
    status_.Progress->setValue(std::min(position, last));
    QCoreApplication::processEvents();
}
