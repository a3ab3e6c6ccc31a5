#include "stage/singers/SingersView.h"

#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

namespace vozaro::stage {

QRect SingersView::fitted(const QSize& canvas, const QSize& screen) {
    if (canvas.isEmpty() || screen.isEmpty())
        return QRect();
    const QSize size = canvas.scaled(screen, Qt::KeepAspectRatio);
    return QRect(QPoint((screen.width() - size.width()) / 2, (screen.height() - size.height()) / 2), size);
}

void SingersView::setScreenSize(const QSize& screen, const QImage& canvas) {
    picture_ = QImage(screen, QImage::Format_RGB32);
    picture_.fill(Qt::black);
    canvasSize_ = canvas.size();
    fit_ = fitted(canvasSize_, screen);
    pending_ = QRegion();
    draw(canvas, fit_);
}

QRect SingersView::toScreen(const QRect& canvasRect) const {
    if (fit_.isEmpty() || canvasSize_.isEmpty())
        return QRect();
    if (fit_.size() == canvasSize_)
        return canvasRect.translated(fit_.topLeft()).intersected(fit_);
    const double sx = double(fit_.width()) / canvasSize_.width();
    const double sy = double(fit_.height()) / canvasSize_.height();
    const QRectF scaled(fit_.x() + canvasRect.x() * sx, fit_.y() + canvasRect.y() * sy, canvasRect.width() * sx,
                        canvasRect.height() * sy);
    return scaled.toAlignedRect().adjusted(-1, -1, 1, 1).intersected(fit_);
}

void SingersView::changed(const QRect& canvasRect) { pending_ += canvasRect; }

QRect SingersView::update(const QImage& canvas) {
    if (picture_.isNull())
        return QRect();
    if (canvas.size() != canvasSize_) {
        // The stage was resized: everything moves.
        setScreenSize(picture_.size(), canvas);
        return picture_.rect();
    }
    if (pending_.isEmpty())
        return QRect();
    QRect area;
    for (const QRect& part : pending_) {
        const QRect onScreen = toScreen(part);
        draw(canvas, onScreen);
        area |= onScreen;
    }
    pending_ = QRegion();
    return area;
}

void SingersView::draw(const QImage& canvas, const QRect& screenRect) {
    const QRect target = screenRect.intersected(fit_);
    if (target.isEmpty() || canvas.isNull())
        return;
    if (fit_.size() == canvas.size() && canvas.format() == picture_.format()) {
        // One to one: a plain copy of the rows.
        const QRect source = target.translated(-fit_.topLeft());
        const auto bytes = static_cast<std::size_t>(target.width()) * 4;
        for (int y = 0; y < target.height(); ++y)
            std::memcpy(picture_.scanLine(target.top() + y) + target.left() * 4,
                        canvas.constScanLine(source.top() + y) + source.left() * 4, bytes);
        return;
    }
    // The whole canvas drawn scaled, clipped to the part: every pixel gets
    // the same value as when the whole picture is drawn at once.
    QPainter painter(&picture_);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.setClipRect(target);
    painter.drawImage(QRectF(fit_), canvas);
}

}  // namespace vozaro::stage
