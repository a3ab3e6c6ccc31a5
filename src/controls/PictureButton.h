// A picture button: a hot area over a picture that already shows the button's
// label.  It paints only a light veil while the pointer is over it and a dark
// one while it is pressed.
#pragma once

#include <QAbstractButton>

class PictureButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit PictureButton(QWidget* parent = nullptr);

    QSize sizeHint() const override { return size(); }

protected:
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;

private:
    bool hovered_ = false;
};

// The program's hand cursor, shown over every picture button.
QCursor handCursor();
