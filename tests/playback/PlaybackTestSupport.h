#pragma once
// Small helpers of the playback tests: running the main loop until a condition holds.

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <functional>

namespace sondrel::test {

// Runs the event loop until `condition` holds or `timeoutMs` passed; returns the condition.
inline bool waitUntil(const std::function<bool()>& condition, int timeoutMs = 30000) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(2);
    }
    return true;
}

// Runs the event loop for `ms` milliseconds (to let sound play, never to time anything).
inline void spin(int ms) {
    waitUntil([] { return false; }, ms);
}

} // namespace sondrel::test
