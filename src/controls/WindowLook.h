// The look the program's windows share: black backgrounds with white text in
// Arial (Liberation Sans where Arial itself is missing).
#pragma once

#include <QString>
#include <Qt>

class QCheckBox;
class QFont;
class QLabel;
class QWidget;

// Fills the widget's background with black and draws its text white.
void paintBlack(QWidget& widget);

// Arial at a size in pixels, so that the layout does not depend on the
// screen's resolution.
QFont arialPixels(int pixelSize, bool bold = false);

// A white, word-wrapping label.
QLabel* whiteLabel(QWidget* parent, const QString& text, const QFont& font,
                   Qt::Alignment alignment);

// A check box in white on black, grey while disabled.
QCheckBox* whiteCheckBox(QWidget* parent, const QString& text);
