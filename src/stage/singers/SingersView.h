// The stage picture as the singers' screen shows it: the whole canvas scaled
// to that screen with its proportions kept, centred, black bars where the
// proportions differ.  The stage reports every rectangle it changes; the
// view brings only those parts up to date, once per repaint, however many
// rectangles a display step changed.
//
// thread: user-interface thread only.
#pragma once

#include <QImage>
#include <QRect>
#include <QRegion>
#include <QSize>

namespace vozaro::stage {

class SingersView {
public:
    // A screen of that size showing the canvas: the picture is made anew.
    void setScreenSize(const QSize& screen, const QImage& canvas);
    QSize screenSize() const { return picture_.size(); }
    const QSize& canvasSize() const { return canvasSize_; }

    // Where a canvas of that size lands on a screen of that size.
    static QRect fitted(const QSize& canvas, const QSize& screen);
    // The screen rectangle showing a canvas rectangle (rounded outward, with
    // the pixel on each side that smooth scaling blends in).
    QRect toScreen(const QRect& canvasRect) const;

    // The stage changed a rectangle of its canvas.
    void changed(const QRect& canvasRect);
    // Brings the picture up to date with the canvas; the screen area that
    // changed (empty: nothing was pending).
    QRect update(const QImage& canvas);

    const QImage& picture() const { return picture_; }
    const QRect& fit() const { return fit_; }

private:
    void draw(const QImage& canvas, const QRect& screenRect);

    QImage picture_;
    QSize canvasSize_;
    QRect fit_;
    QRegion pending_;  // in canvas coordinates
};

}  // namespace vozaro::stage
