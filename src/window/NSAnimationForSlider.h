#pragma once
// Glides a slider from its current value to a target value: the start-up animation of
// the volume slider. The value follows the progress handed in directly (the curve given
// at creation does not bend it), so the knob moves at an even pace, and setting it fires
// no slider action: the player's volume is not touched until it next asks for it.
//
// Main thread only. The slider is held weakly: a slider that goes away mid-run is left
// alone.

#include "window/Animation.h"

#include <QPointer>

namespace sondrel {

class FloatSlider;

class NSAnimationForSlider : public Animation {
    Q_OBJECT

public:
    using Animation::Animation;

    FloatSlider* delegateSlider() const { return slider; }
    void setDelegateSlider(FloatSlider* value) { slider = value; }
    float animateToValue() const { return target; }
    void setAnimateToValue(float value) { target = value; }

    // Notes the slider's value as the start and orders the two ends, then runs.
    void startAnimation() override;
    // Moves the slider to the value of progress `value` between start and target.
    void setCurrentProgress(float value) override;

private:
    QPointer<FloatSlider> slider;
    float target = 0.0f;
    double max = 0.0;       // the larger of the start value and the target
    double min = 0.0;       // the smaller of the two
    float initValue = 0.0f; // the slider's value when the run started
};

} // namespace sondrel
