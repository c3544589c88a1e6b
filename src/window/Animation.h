#pragma once
// A timed animation driven by the main loop: the player's stand-in for the desktop's
// animation class. It runs for `duration` seconds and hands its progress (0.0 to 1.0) to
// setCurrentProgress() at every frame and once more with exactly 1.0 at the end;
// subclasses override setCurrentProgress() to move something and call the base first.
//
// The animation curve shapes only currentValue(), not the progress handed in.
// Blocking modes: Nonblocking runs on the main loop while the window stays live; Blocking
// makes startAnimation() return only at the end (user input is held back meanwhile).
//
// Main thread only. The object must outlive its run; animationDidEnd() says when it is
// over (the owner may delete it later from there).

#include <QElapsedTimer>
#include <QObject>
#include <QTimer>

namespace sondrel {

class Animation : public QObject {
    Q_OBJECT

public:
    enum AnimationCurve {
        NSAnimationEaseInOut = 0,
        NSAnimationEaseIn = 1,
        NSAnimationEaseOut = 2,
        NSAnimationLinear = 3,
    };
    enum AnimationBlockingMode {
        NSAnimationBlocking = 0,
        NSAnimationNonblocking = 1,
        NSAnimationNonblockingThreaded = 2, // runs on the main loop like Nonblocking
    };

    // initWithDuration:animationCurve:
    Animation(double durationSeconds, AnimationCurve curve, QObject* parent = nullptr);
    ~Animation() override;

    double duration() const { return seconds; }
    AnimationCurve animationCurve() const { return curve; }
    AnimationBlockingMode animationBlockingMode() const { return blocking; }
    void setAnimationBlockingMode(AnimationBlockingMode mode) { blocking = mode; }
    // Frames per second (60 by default).
    float frameRate() const { return rate; }
    void setFrameRate(float framesPerSecond);

    virtual void startAnimation();
    // Ends the run where it stands (no final 1.0 is handed in).
    void stopAnimation();
    bool isAnimating() const { return running; }

    float currentProgress() const { return progress; }
    virtual void setCurrentProgress(float value);
    // The progress shaped by the animation curve.
    float currentValue() const;

signals:
    void animationDidEnd();

private:
    void frame();
    void finish();

    double seconds;
    AnimationCurve curve;
    AnimationBlockingMode blocking = NSAnimationBlocking;
    float rate = 60.0f;
    float progress = 0.0f;
    bool running = false;
    QTimer frameTimer;
    QElapsedTimer clock;
};

} // namespace sondrel
