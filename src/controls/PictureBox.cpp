#include "controls/PictureBox.h"

#include <QPaintEvent>
#include <QPainter>
#include <algorithm>

PictureBox::PictureBox(QWidget* parent) : QWidget(parent) {}

void PictureBox::setPicture(const QImage& picture) {
    picture_ = picture;
    update();
}

void PictureBox::setStretch(bool stretch) {
    stretch_ = stretch;
    update();
}

void PictureBox::repaintRect(const QRect& rect) {
    if (!stretch_ || picture_.size() == size()) {
        update(rect);
        return;
    }
    // Stretched: the rectangle in the control's coordinates, rounded outward.
    const double sx = double(width()) / std::max(picture_.width(), 1);
    const double sy = double(height()) / std::max(picture_.height(), 1);
    update(QRectF(rect.x() * sx, rect.y() * sy, rect.width() * sx, rect.height() * sy)
               .toAlignedRect()
               .adjusted(-1, -1, 1, 1));
}

void PictureBox::paintEvent(QPaintEvent* event) {
    if (picture_.isNull())
        return;
    QPainter painter(this);
    if (!stretch_ || picture_.size() == size()) {
        // One to one: only the part that changed is copied to the screen.
        const QRect part = event->rect().intersected(picture_.rect());
        painter.drawImage(part.topLeft(), picture_, part);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(rect(), picture_);
    }
}
