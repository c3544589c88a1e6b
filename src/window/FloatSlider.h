#pragma once
// A horizontal slider with a floating-point value between a minimum and a maximum, the
// way the window's volume slider (0 to 100) and progress slider (0 to 1) need it.
//
// Two ways to change the value, as with the desktop's own sliders:
//  - the user (drag, click on the groove, keys, wheel): the value changes and `action`
//    is emitted — the control's target-action;
//  - setDoubleValue(): the value changes quietly, `action` is not emitted (the slider
//    animation and the player callbacks use it).
// A click on the groove moves the knob straight to the click.
//
// A second, lighter fill can show how much of the range is available (the downloaded
// share of a song): it runs from the knob to that point, behind the knob and beside the
// played part, so the groove reads "played, available, not yet here".
//
// Main thread only (a widget).

#include <QSlider>

namespace sondrel {

class FloatSlider : public QSlider {
    Q_OBJECT
    Q_PROPERTY(double minValue READ minValue WRITE setMinValue)
    Q_PROPERTY(double maxValue READ maxValue WRITE setMaxValue)
    Q_PROPERTY(double doubleValue READ doubleValue WRITE setDoubleValue)

public:
    // Steps of the underlying integer slider: the resolution of a drag.
    static constexpr int kSteps = 10000;

    explicit FloatSlider(QWidget* parent = nullptr);

    double minValue() const { return low; }
    double maxValue() const { return high; }
    void setMinValue(double value);
    void setMaxValue(double value);

    // The value last set, or the knob's position after the user moved it.
    double doubleValue() const { return exact; }
    // Sets the value without emitting `action`. Values outside the range are clamped;
    // NaN counts as the minimum.
    void setDoubleValue(double value);

    // The available share of the range, 0 to 1 (clamped; NaN counts as 0). Repaints only
    // when the drawn fill would change.
    void setAvailableFraction(double fraction);
    double availableFraction() const { return available; }

signals:
    // The user changed the value.
    void action();

protected:
    void mousePressEvent(QMouseEvent* event) override;
    void paintEvent(QPaintEvent* event) override;

private:
    int stepsFor(double value) const;
    double valueFor(int steps) const;
    void userChanged(int steps);

    double low = 0.0;
    double high = 1.0;
    double exact = 0.0;
    double available = 0.0;
    bool quiet = false; // inside setDoubleValue
};

} // namespace sondrel
