// A picture control: shows an image, either at its own size from the top
// left or stretched over the whole control.
#pragma once

#include <QImage>
#include <QWidget>

class PictureBox : public QWidget {
    Q_OBJECT
public:
    explicit PictureBox(QWidget* parent = nullptr);

    void setPicture(const QImage& picture);
    const QImage& picture() const { return picture_; }

    // The picture to draw on in place; after drawing, repaintRect() shows the
    // rectangle that changed (in picture coordinates) without repainting the
    // rest.
    QImage& canvas() { return picture_; }
    void repaintRect(const QRect& rect);

    void setStretch(bool stretch);
    bool stretch() const { return stretch_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    bool stretch_ = false;
};
