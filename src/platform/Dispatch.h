#pragma once
// The player's two work queues:
//  - the main loop (Qt's event loop of the main thread): window, player, timers;
//  - the background pool: blocking network requests and other slow jobs, which end
//    by queuing their results back on the main loop.

#include <functional>

class QThreadPool;

namespace sondrel {

// Queues fn to run on the main loop, after everything queued before it. Callable from
// any thread; needs a QCoreApplication.
void dispatchMain(std::function<void()> fn);

// Runs fn on the background pool (high priority). Jobs are neither ordered nor cancelled.
void dispatchBackground(std::function<void()> fn);

// The background pool itself, e.g. to wait for it at shutdown or in tests.
QThreadPool& backgroundPool();

// True on the thread that runs the main loop.
bool isMainThread();

} // namespace sondrel
