#include "window/Animation.h"

#include <QEventLoop>
#include <algorithm>
#include <cmath>

namespace sondrel {

Animation::Animation(double durationSeconds, AnimationCurve animationCurve, QObject* parent)
    : QObject(parent), seconds(std::max(0.0, durationSeconds)), curve(animationCurve) {
    frameTimer.setTimerType(Qt::PreciseTimer);
    frameTimer.setInterval(static_cast<int>(1000.0f / rate));
    connect(&frameTimer, &QTimer::timeout, this, &Animation::frame);
}

Animation::~Animation() = default;

void Animation::setFrameRate(float framesPerSecond) {
    if (framesPerSecond > 0.0f) {
        rate = framesPerSecond;
        frameTimer.setInterval(std::max(1, static_cast<int>(1000.0f / rate)));
    }
}

void Animation::startAnimation() {
    if (running) {
        return;
    }
    running = true;
    clock.start();
    setCurrentProgress(0.0f);
    if (seconds <= 0.0) {
        finish();
        return;
    }
    frameTimer.start();
    if (blocking == NSAnimationBlocking) {
        QEventLoop loop;
        connect(this, &Animation::animationDidEnd, &loop, &QEventLoop::quit);
        if (running) {
            loop.exec(QEventLoop::ExcludeUserInputEvents);
        }
    }
}

void Animation::stopAnimation() {
    if (!running) {
        return;
    }
    frameTimer.stop();
    running = false;
    emit animationDidEnd();
}

void Animation::setCurrentProgress(float value) {
    progress = std::clamp(value, 0.0f, 1.0f);
}

float Animation::currentValue() const {
    const float p = progress;
    switch (curve) {
    case NSAnimationEaseIn:
        return p * p;
    case NSAnimationEaseOut:
        return 1.0f - (1.0f - p) * (1.0f - p);
    case NSAnimationEaseInOut:
        return 0.5f - 0.5f * std::cos(p * 3.14159265f);
    case NSAnimationLinear:
        break;
    }
    return p;
}

void Animation::frame() {
    const double elapsed = static_cast<double>(clock.nsecsElapsed()) / 1e9;
    if (elapsed >= seconds) {
        finish();
        return;
    }
    setCurrentProgress(static_cast<float>(elapsed / seconds));
}

void Animation::finish() {
    frameTimer.stop();
    setCurrentProgress(1.0f);
    running = false;
    emit animationDidEnd();
}

} // namespace sondrel
