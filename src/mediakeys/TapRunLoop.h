#pragma once
// The event loop of the media key tap thread: it waits on the tap's X connection and on
// a wake-up descriptor, hands X events to the tap, and runs the zero-delay timers that
// other threads add (the recorded calls that switch the tap on and off).
//
// Threads: run() on the tap thread; addTimer() and stop() from any thread. The timer
// queue and the stop flag are guarded by `mutex`.

#include <functional>
#include <mutex>
#include <vector>

namespace sondrel {

class X11MediaKeyGrab;

class TapRunLoop {
public:
    TapRunLoop();
    ~TapRunLoop();
    TapRunLoop(const TapRunLoop&) = delete;
    TapRunLoop& operator=(const TapRunLoop&) = delete;

    // Queues `fn` to run on the tap thread at the loop's next pass.
    void addTimer(std::function<void()> fn);

    // Makes run() return at its next pass. Timers not run by then are dropped.
    void stop();

    // Runs until stop(): X events of `source` (may be null) and timers. When the X
    // connection breaks, that is logged and the loop goes on with timers only.
    void run(X11MediaKeyGrab* source);

private:
    void wake();

    int wakeFd = -1;
    std::mutex mutex;
    std::vector<std::function<void()>> timers; // guarded by mutex
    bool stopped = false;                      // guarded by mutex
};

} // namespace sondrel
