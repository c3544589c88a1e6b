#pragma once
// The invocation recorder: records one call (target, operation, copies of the
// arguments) so that it can be performed later and on another thread, and remembers the
// call stack at which it was made, so that an exception thrown by the later call can be
// traced back to the code that scheduled it.
//
//     // record only; the tap thread performs it later:
//     std::shared_ptr<SPInvocation> call =
//         grab(tap).send(&SPMediaKeyTap::pauseTapOnTapThread, true)->invocation();
//     // run on the main loop and wait for it:
//     onMainAsync(player, false).send(&Player::stop);
//
// The category operations grab / invokeAfter / nextRunloop / inBackground / onMainAsync
// each return a recorder aimed at the target; `send` records the call on it (a call the
// target's class does not have is rejected by the compiler).
//
// Threads: a recorder is made and sent its call on one thread and performed on another;
// it takes no locks, so one thread at a time uses it (the hand-off between threads is
// the queue that carries it). A recorded SPInvocation keeps its target and its argument
// copies alive by itself and may be performed on any thread.

#include <functional>
#include <memory>
#include <tuple>
#include <type_traits>
#include <utility>

namespace sondrel {

// A recorded call: target, operation and owned copies of the arguments.
class SPInvocation {
public:
    virtual ~SPInvocation() = default;
    SPInvocation(const SPInvocation&) = delete;
    SPInvocation& operator=(const SPInvocation&) = delete;

    // Performs the call on its target with its arguments, on the calling thread. The
    // target's result is discarded; its exceptions pass through.
    virtual void invoke() = 0;

    // The target the call goes to (kept alive by the invocation).
    const std::shared_ptr<void>& target() const { return targetRef; }

    // True when the recorded operation is `method` (a pointer to a member function).
    template <typename M> bool isOperation(M method) const;

    // The argument copies, when they have exactly these types; nullptr otherwise.
    template <typename... A> const std::tuple<A...>* arguments() const;

protected:
    explicit SPInvocation(std::shared_ptr<void> target) : targetRef(std::move(target)) {}

private:
    std::shared_ptr<void> targetRef;
};

namespace detail {

template <typename M> class InvocationOperation {
public:
    explicit InvocationOperation(M m) : method(m) {}
    virtual ~InvocationOperation() = default;
    const M method;
};

template <typename... A> class InvocationArguments {
public:
    explicit InvocationArguments(A... a) : values(std::move(a)...) {}
    virtual ~InvocationArguments() = default;
    std::tuple<A...> values;
};

template <typename T, typename M, typename... A>
class BoundInvocation final : public SPInvocation,
                              public InvocationOperation<M>,
                              public InvocationArguments<A...> {
public:
    BoundInvocation(std::shared_ptr<T> target, M method, A... args)
        : SPInvocation(target), InvocationOperation<M>(method), InvocationArguments<A...>(
                                                                    std::move(args)...),
          object(target.get()) {}

    void invoke() override {
        std::apply([this](auto&... a) { std::invoke(this->method, object, a...); }, this->values);
    }

private:
    T* object; // kept alive by SPInvocation::target()
};

} // namespace detail

template <typename M> bool SPInvocation::isOperation(M method) const {
    const auto* operation = dynamic_cast<const detail::InvocationOperation<M>*>(this);
    return operation && operation->method == method;
}

template <typename... A> const std::tuple<A...>* SPInvocation::arguments() const {
    const auto* holder = dynamic_cast<const detail::InvocationArguments<A...>*>(this);
    return holder ? &holder->values : nullptr;
}

class SPInvocationGrabber : public std::enable_shared_from_this<SPInvocationGrabber> {
public:
    // Holds `object`; saves the current call stack when `stacktraceSaving` is true.
    explicit SPInvocationGrabber(std::shared_ptr<void> object, bool stacktraceSaving = true);
    ~SPInvocationGrabber();
    SPInvocationGrabber(const SPInvocationGrabber&) = delete;
    SPInvocationGrabber& operator=(const SPInvocationGrabber&) = delete;

    // Stores `invocation` (replacing any earlier one), then, by mode: performs it on a
    // background pool thread (backgroundAfterForward), or on the main loop, waiting for it
    // when waitUntilDone (onMainAfterForward; from the main thread itself with waiting it
    // runs at once), or leaves it recorded. Must be called on a shared recorder.
    void forwardInvocation(std::shared_ptr<SPInvocation> invocation);

    // Performs the recorded call on the calling thread (nothing when none is recorded).
    // On success the recorder lets go of the call and the target. When the call throws,
    // logs "SPInvocationGrabber's target raised <name>:\n\t<exception>\nInvocation was
    // originally scheduled at:", prints the saved stack and an empty line to standard
    // output and rethrows the same exception; the recorder then keeps its target and call.
    void invoke();

    // The body of a background performance: invoke().
    void runInBackground();

    // Captures up to 128 frames of the current stack with their descriptions.
    void saveBacktrace();
    // Prints the saved frame descriptions from the fourth on (the first three are the
    // recorder's own creation), one per line, to standard output.
    void printBacktrace() const;

    const std::shared_ptr<void>& object() const { return objectRef; }
    void setObject(std::shared_ptr<void> object) { objectRef = std::move(object); }
    const std::shared_ptr<SPInvocation>& invocation() const { return recorded; }
    void setInvocation(std::shared_ptr<SPInvocation> invocation) {
        recorded = std::move(invocation);
    }
    bool backgroundAfterForward() const { return background; }
    void setBackgroundAfterForward(bool value) { background = value; }
    bool onMainAfterForward() const { return onMain; }
    void setOnMainAfterForward(bool value) { onMain = value; }
    bool waitUntilDone() const { return waitDone; }
    void setWaitUntilDone(bool value) { waitDone = value; }

    int frameCount() const { return savedFrameCount; }
    // Description of saved frame `index` (0 <= index < frameCount()), or nullptr.
    const char* frameString(int index) const;

    static constexpr int kMaxFrames = 128;

private:
    std::shared_ptr<void> objectRef;
    std::shared_ptr<SPInvocation> recorded;
    int savedFrameCount = 0;
    char** frameStrings = nullptr; // one malloc'd block from backtrace_symbols
    bool background = false;
    bool onMain = false;
    bool waitDone = false;
};

// A recorder aimed at a target of type T, as returned by the category operations.
template <typename T> class SPGrabbed {
public:
    SPGrabbed(std::shared_ptr<SPInvocationGrabber> grabber, std::shared_ptr<T> target)
        : recorder(std::move(grabber)), object(std::move(target)) {}

    // Records `method` with copies of `args` and hands the call to the recorder's mode.
    // Returns the recorder (e.g. to take the recorded invocation out of it).
    template <typename C, typename R, typename... P, typename... Args>
    std::shared_ptr<SPInvocationGrabber> send(R (C::*method)(P...), Args&&... args) {
        static_assert(std::is_base_of_v<C, T>, "the target has no such operation");
        static_assert(sizeof...(P) == sizeof...(Args), "wrong number of arguments");
        using Invocation = detail::BoundInvocation<T, R (C::*)(P...), std::decay_t<P>...>;
        recorder->forwardInvocation(std::make_shared<Invocation>(
            object, method, std::decay_t<P>(std::forward<Args>(args))...));
        return recorder;
    }

    const std::shared_ptr<SPInvocationGrabber>& grabber() const { return recorder; }

private:
    std::shared_ptr<SPInvocationGrabber> recorder;
    std::shared_ptr<T> object;
};

namespace detail {
// Makes a recorder for `target` with stack saving (not inlined, so that the saved stack
// has a fixed number of the recorder's own frames at its top).
std::shared_ptr<SPInvocationGrabber> makeGrabber(std::shared_ptr<void> target);
// Schedules `grabber->invoke()` after `seconds` on the calling thread's event loop.
void scheduleInvoke(const std::shared_ptr<SPInvocationGrabber>& grabber, double seconds);
} // namespace detail

// The next call is only recorded.
template <typename T> SPGrabbed<T> grab(std::shared_ptr<T> target) {
    auto grabber = detail::makeGrabber(target);
    return SPGrabbed<T>(std::move(grabber), std::move(target));
}

// The next call runs after `seconds` on the calling thread's event loop (a one-shot
// timer, which holds the recorder until it fires). The thread needs a Qt event loop.
template <typename T> SPGrabbed<T> invokeAfter(std::shared_ptr<T> target, double seconds) {
    auto grabber = detail::makeGrabber(target);
    detail::scheduleInvoke(grabber, seconds);
    return SPGrabbed<T>(std::move(grabber), std::move(target));
}

// The next call runs at the calling thread's next timer pass.
template <typename T> SPGrabbed<T> nextRunloop(std::shared_ptr<T> target) {
    return invokeAfter(std::move(target), 0.0);
}

// The next call runs on the background pool at once.
template <typename T> SPGrabbed<T> inBackground(std::shared_ptr<T> target) {
    auto grabber = detail::makeGrabber(target);
    grabber->setBackgroundAfterForward(true);
    return SPGrabbed<T>(std::move(grabber), std::move(target));
}

// The next call runs on the main loop; with async false the sender waits until it ran.
template <typename T> SPGrabbed<T> onMainAsync(std::shared_ptr<T> target, bool async) {
    auto grabber = detail::makeGrabber(target);
    grabber->setOnMainAfterForward(true);
    grabber->setWaitUntilDone(!async);
    return SPGrabbed<T>(std::move(grabber), std::move(target));
}

} // namespace sondrel
