#include "controls/PictureButton.h"

#include <QPainter>
#include <QPixmap>

PictureButton::PictureButton(QWidget* parent) : QAbstractButton(parent) {
    setFocusPolicy(Qt::NoFocus);
}

void PictureButton::paintEvent(QPaintEvent*) {
    if (!isEnabled() || (!hovered_ && !isDown()))
        return;
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    painter.setBrush(isDown() ? QColor(0, 0, 0, 90) : QColor(255, 255, 255, 40));
    const qreal radius = qMin(width(), height()) / 2.0;
    painter.drawRoundedRect(QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5), radius, radius);
}

void PictureButton::enterEvent(QEnterEvent* event) {
    hovered_ = true;
    update();
    QAbstractButton::enterEvent(event);
}

void PictureButton::leaveEvent(QEvent* event) {
    hovered_ = false;
    update();
    QAbstractButton::leaveEvent(event);
}

QCursor handCursor() {
    // The drawing's finger tip is the hot spot.
    const QPixmap hand(QStringLiteral(":/mao.png"));
    if (hand.isNull())
        return QCursor(Qt::PointingHandCursor);
    return QCursor(hand, 10, 1);
}
