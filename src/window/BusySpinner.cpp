#include "window/BusySpinner.h"

#include <QPainter>
#include <algorithm>

namespace sondrel {
namespace {

constexpr int kSpokes = 12;
constexpr int kStepMs = 80;

} // namespace

BusySpinner::BusySpinner(QWidget* parent) : QWidget(parent) {
    turn.setInterval(kStepMs);
    connect(&turn, &QTimer::timeout, this, [this] {
        step = (step + 1) % kSpokes;
        update();
    });
}

void BusySpinner::paintEvent(QPaintEvent* /*event*/) {
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const qreal side = std::min(width(), height());
    painter.translate(width() / 2.0, height() / 2.0);
    QPen pen(palette().color(QPalette::WindowText));
    pen.setWidthF(std::max<qreal>(1.5, side / 10.0));
    pen.setCapStyle(Qt::RoundCap);
    for (int i = 0; i < kSpokes; ++i) {
        QColor colour = pen.color();
        colour.setAlphaF(0.15 + 0.85 * ((i + kSpokes - step) % kSpokes) / (kSpokes - 1.0));
        pen.setColor(colour);
        painter.setPen(pen);
        painter.drawLine(QPointF(0, side * 0.22), QPointF(0, side * 0.45));
        painter.rotate(360.0 / kSpokes);
    }
}

void BusySpinner::showEvent(QShowEvent* event) {
    QWidget::showEvent(event);
    turn.start();
}

void BusySpinner::hideEvent(QHideEvent* event) {
    QWidget::hideEvent(event);
    turn.stop();
}

} // namespace sondrel
