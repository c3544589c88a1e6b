#include "mediakeys/SPInvocationGrabber.h"

#include "platform/Dispatch.h"
#include "platform/Log.h"

#include <QTimer>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cxxabi.h>
#include <exception>
#include <execinfo.h>
#include <future>
#include <list>
#include <mutex>
#include <thread>
#include <typeinfo>

namespace sondrel {
namespace {

QString demangled(const char* name) {
    int status = 0;
    char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
    QString result = QString::fromUtf8(status == 0 && readable ? readable : name);
    std::free(readable);
    return result;
}

// The name and the description of the exception being handled.
std::pair<QString, QString> describeCurrentException() {
    const std::type_info* type = abi::__cxa_current_exception_type();
    const QString name = type ? demangled(type->name()) : QStringLiteral("unknown exception");
    try {
        throw;
    } catch (const std::exception& e) {
        return {name, QString::fromUtf8(e.what())};
    } catch (...) {
        return {name, name};
    }
}

// The threads of background performances, one per recorded call. A finished thread is
// joined when the next one starts; joinAll() joins every one, and so does the process's
// exit, so no thread is ever left detached.
class BackgroundInvocationThreads {
public:
    ~BackgroundInvocationThreads() { joinAll(); }

    void start(std::function<void()> body) {
        auto done = std::make_shared<std::atomic<bool>>(false);
        std::thread thread([body = std::move(body), done] {
            body();
            *done = true;
        });
        std::list<Running> finished;
        {
            std::lock_guard lock(mutex);
            running.push_back({std::move(thread), std::move(done)});
            for (auto it = running.begin(); it != running.end();) {
                const auto next = std::next(it);
                if (*it->done) {
                    finished.splice(finished.end(), running, it);
                }
                it = next;
            }
        }
        joinEach(finished);
    }

    // Joins every thread but the calling one (a performance that asks for the join
    // cannot wait for itself: it stays listed and is joined later).
    void joinAll() {
        std::list<Running> all;
        {
            std::lock_guard lock(mutex);
            all.swap(running);
        }
        std::list<Running> self;
        for (auto it = all.begin(); it != all.end();) {
            const auto next = std::next(it);
            if (it->thread.get_id() == std::this_thread::get_id()) {
                self.splice(self.end(), all, it);
            }
            it = next;
        }
        joinEach(all);
        std::lock_guard lock(mutex);
        running.splice(running.end(), self);
    }

private:
    struct Running {
        std::thread thread;
        std::shared_ptr<std::atomic<bool>> done;
    };
    static void joinEach(std::list<Running>& threads) {
        for (Running& running : threads) {
            running.thread.join();
        }
    }
    std::mutex mutex;
    std::list<Running> running; // guarded by mutex
};

BackgroundInvocationThreads& backgroundThreads() {
    static BackgroundInvocationThreads threads;
    return threads;
}

} // namespace

void joinBackgroundInvocations() {
    backgroundThreads().joinAll();
}

__attribute__((noinline))
SPInvocationGrabber::SPInvocationGrabber(std::shared_ptr<void> object, bool stacktraceSaving)
    : objectRef(std::move(object)) {
    if (stacktraceSaving) {
        saveBacktrace();
    }
}

SPInvocationGrabber::~SPInvocationGrabber() {
    std::free(frameStrings);
}

void SPInvocationGrabber::forwardInvocation(std::shared_ptr<SPInvocation> invocation) {
    recorded = std::move(invocation);
    if (background) {
        backgroundThreads().start([self = shared_from_this()] { self->runInBackground(); });
    } else if (onMain) {
        if (waitDone && isMainThread()) {
            invoke();
        } else if (waitDone) {
            std::promise<void> done;
            std::future<void> finished = done.get_future();
            dispatchMain([self = shared_from_this(), &done] {
                // Released also when invoke() throws, so the sender never waits forever.
                struct Release {
                    std::promise<void>& promise;
                    ~Release() { promise.set_value(); }
                } release{done};
                self->invoke();
            });
            finished.wait();
        } else {
            dispatchMain([self = shared_from_this()] { self->invoke(); });
        }
    }
}

void SPInvocationGrabber::invoke() {
    if (!recorded) {
        return;
    }
    try {
        recorded->invoke();
    } catch (...) {
        const auto [name, description] = describeCurrentException();
        logLine(QStringLiteral("SPInvocationGrabber's target raised %1:\n\t%2\nInvocation was "
                               "originally scheduled at:")
                    .arg(name, description));
        printBacktrace();
        std::printf("\n");
        std::fflush(stdout);
        throw;
    }
    recorded.reset();
    objectRef.reset();
}

void SPInvocationGrabber::runInBackground() {
    try {
        invoke();
    } catch (...) {
        // invoke() has reported it with the saved stack; an exception leaving a thread
        // would end the whole player.
    }
}

__attribute__((noinline)) void SPInvocationGrabber::saveBacktrace() {
    void* frames[kMaxFrames];
    const int count = backtrace(frames, kMaxFrames);
    std::free(frameStrings);
    frameStrings = count > 0 ? backtrace_symbols(frames, count) : nullptr;
    savedFrameCount = frameStrings ? count : 0;
}

void SPInvocationGrabber::printBacktrace() const {
    for (int i = 3; i < savedFrameCount; ++i) {
        if (!frameStrings[i]) {
            break;
        }
        std::printf("%s\n", frameStrings[i]);
    }
    std::fflush(stdout);
}

const char* SPInvocationGrabber::frameString(int index) const {
    if (index < 0 || index >= savedFrameCount) {
        return nullptr;
    }
    return frameStrings[index];
}

namespace detail {

__attribute__((noinline)) std::shared_ptr<SPInvocationGrabber>
makeGrabber(std::shared_ptr<void> target) {
    // Constructed directly here (not through make_shared) so that the saved stack reads
    // saveBacktrace, the constructor, makeGrabber, then the scheduling code.
    return std::shared_ptr<SPInvocationGrabber>(new SPInvocationGrabber(std::move(target), true));
}

void scheduleInvoke(const std::shared_ptr<SPInvocationGrabber>& grabber, double seconds) {
    const int msec = seconds <= 0 ? 0 : static_cast<int>(seconds * 1000.0 + 0.5);
    // Without a context object the timer lives in the calling thread's event loop.
    QTimer::singleShot(msec, [grabber] { grabber->invoke(); });
}

} // namespace detail
} // namespace sondrel
