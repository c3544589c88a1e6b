#include "window/FloatSlider.h"

#include <QMouseEvent>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QStylePainter>
#include <algorithm>
#include <cmath>

namespace sondrel {

FloatSlider::FloatSlider(QWidget* parent) : QSlider(Qt::Horizontal, parent) {
    setRange(0, kSteps);
    setPageStep(kSteps / 20);
    setSingleStep(kSteps / 100);
    connect(this, &QAbstractSlider::valueChanged, this, &FloatSlider::userChanged);
}

void FloatSlider::setMinValue(double value) {
    low = value;
    if (high < low) {
        high = low;
    }
    setDoubleValue(exact);
}

void FloatSlider::setMaxValue(double value) {
    high = value;
    if (low > high) {
        low = high;
    }
    setDoubleValue(exact);
}

void FloatSlider::setDoubleValue(double value) {
    if (std::isnan(value)) {
        value = low;
    }
    exact = std::clamp(value, low, high);
    quiet = true;
    setValue(stepsFor(exact));
    quiet = false;
}

int FloatSlider::stepsFor(double value) const {
    if (high <= low) {
        return 0;
    }
    return static_cast<int>(std::lround((value - low) / (high - low) * kSteps));
}

double FloatSlider::valueFor(int steps) const {
    return low + (high - low) * static_cast<double>(steps) / kSteps;
}

void FloatSlider::userChanged(int steps) {
    if (quiet) {
        return;
    }
    exact = valueFor(steps);
    emit action();
}

void FloatSlider::mousePressEvent(QMouseEvent* event) {
    if (event->button() == Qt::LeftButton) {
        QStyleOptionSlider option;
        initStyleOption(&option);
        const QRect handle =
            style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
        if (!handle.contains(event->position().toPoint())) {
            // Jump to the click, then let the base class start a drag from there.
            const QRect groove =
                style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
            const int span = std::max(1, groove.width() - handle.width());
            const int position =
                static_cast<int>(event->position().x()) - groove.x() - handle.width() / 2;
            setValue(QStyle::sliderValueFromPosition(minimum(), maximum(), position, span,
                                                     option.upsideDown));
        }
    }
    QSlider::mousePressEvent(event);
}

} // namespace sondrel

namespace sondrel {

void FloatSlider::setAvailableFraction(double fraction) {
    fraction = std::isnan(fraction) ? 0.0 : std::clamp(fraction, 0.0, 1.0);
    // A thousandth of the groove is less than a pixel: no repaint for it.
    const bool visible = std::abs(fraction - available) * 1000.0 >= 1.0 ||
                         (fraction != available && (fraction == 0.0 || fraction == 1.0));
    available = fraction;
    if (visible) {
        update();
    }
}

void FloatSlider::paintEvent(QPaintEvent* event) {
    if (available <= 0.0) {
        QSlider::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SC_SliderGroove;
    painter.drawComplexControl(QStyle::CC_Slider, option);

    const QRect groove =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    const QRect handle =
        style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderHandle, this);
    const int span = std::max(1, groove.width() - handle.width());
    const int availableSteps = static_cast<int>(std::lround(available * kSteps));
    const int availableX =
        groove.x() + handle.width() / 2 +
        QStyle::sliderPositionFromValue(minimum(), maximum(), availableSteps, span, false);
    const int playedX = handle.center().x();
    if (availableX > playedX) {
        // The band the style fills for the played part: a few pixels around the
        // groove's middle line.
        const int thickness = std::max(2, groove.height() / 4);
        const QRect band(playedX, groove.center().y() - thickness / 2 + 1, availableX - playedX,
                         thickness);
        QColor fill = palette().color(QPalette::Highlight);
        fill.setAlphaF(0.35f);
        painter.fillRect(band, fill);
    }

    option.subControls = QStyle::SC_SliderHandle;
    if (tickPosition() != NoTicks) {
        option.subControls |= QStyle::SC_SliderTickmarks;
    }
    painter.drawComplexControl(QStyle::CC_Slider, option);
}

} // namespace sondrel
