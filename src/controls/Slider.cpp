#include "controls/Slider.h"

#include <algorithm>

Slider::Slider(QWidget* parent, int minimum, int maximum, int increment)
    : QSlider(Qt::Horizontal, parent) {
    setRange(minimum, maximum);
    setIncrement(increment);
    setTracking(true);
    connect(this, &QAbstractSlider::actionTriggered, this, &Slider::snapUserMove);
}

void Slider::setIncrement(int increment) {
    increment_ = std::max(increment, 1);
    setSingleStep(increment_);
    setPageStep(increment_ * 10);
}

void Slider::snapUserMove(int action) {
    if (action != SliderMove || increment_ <= 1)
        return;
    const int position = sliderPosition();
    if (position >= maximum())
        return;
    const long long offset = static_cast<long long>(position) - minimum();
    const long long steps = (offset + increment_ / 2) / increment_;
    const long long snapped = minimum() + steps * increment_;
    setSliderPosition(static_cast<int>(std::clamp<long long>(snapped, minimum(), maximum())));
}
