#include "window/NSAnimationForSlider.h"

#include "window/FloatSlider.h"

namespace sondrel {

void NSAnimationForSlider::startAnimation() {
    initValue = slider ? static_cast<float>(slider->doubleValue()) : 0.0f;
    if (target >= initValue) {
        min = initValue;
        max = target;
    } else {
        min = target;
        max = initValue;
    }
    Animation::startAnimation();
}

void NSAnimationForSlider::setCurrentProgress(float value) {
    Animation::setCurrentProgress(value);
    const double p = value;
    const double position = target >= initValue ? min + (max - min) * p : max - (max - min) * p;
    if (slider) {
        slider->setDoubleValue(position);
    }
}

} // namespace sondrel
