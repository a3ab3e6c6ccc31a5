#include "controls/WindowLook.h"

#include <QCheckBox>
#include <QFont>
#include <QLabel>
#include <QWidget>

void paintBlack(QWidget& widget) {
    QPalette palette = widget.palette();
    palette.setColor(QPalette::Window, Qt::black);
    palette.setColor(QPalette::WindowText, Qt::white);
    widget.setPalette(palette);
    widget.setAutoFillBackground(true);
}

QFont arialPixels(int pixelSize, bool bold) {
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(pixelSize);
    font.setBold(bold);
    return font;
}

QLabel* whiteLabel(QWidget* parent, const QString& text, const QFont& font,
                   Qt::Alignment alignment) {
    auto* label = new QLabel(text, parent);
    label->setFont(font);
    label->setWordWrap(true);
    label->setAlignment(alignment);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, Qt::white);
    label->setPalette(palette);
    return label;
}

// A check box fills its background with its button colour and draws its
// caption in the button text colour.
QCheckBox* whiteCheckBox(QWidget* parent, const QString& text) {
    auto* box = new QCheckBox(text, parent);
    paintBlack(*box);
    QPalette palette = box->palette();
    palette.setColor(QPalette::Button, Qt::black);
    palette.setColor(QPalette::ButtonText, Qt::white);
    palette.setColor(QPalette::Disabled, QPalette::ButtonText, Qt::gray);
    palette.setColor(QPalette::Disabled, QPalette::WindowText, Qt::gray);
    box->setPalette(palette);
    return box;
}
