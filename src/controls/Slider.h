// The program's horizontal slider: a whole-number value clamped to its range,
// moved by the user in steps of its increment, and a change event
// (QAbstractSlider::valueChanged) raised whenever the value really changes,
// also when the program sets it.  Values set by the program are kept as they
// are, even between two steps of the increment.
#pragma once

#include <QSlider>

class Slider : public QSlider {
    Q_OBJECT
public:
    Slider(QWidget* parent, int minimum, int maximum, int increment = 1);

    int increment() const { return increment_; }
    void setIncrement(int increment);

private:
    // Where a drag or a click of the user lands: on the nearest step of the
    // increment counted from the minimum, or on the maximum.
    void snapUserMove(int action);

    int increment_ = 1;
};
