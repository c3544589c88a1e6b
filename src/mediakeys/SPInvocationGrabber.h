#pragma once
// The invocation recorder: records one call (target, operation, copies of the
// arguments) so that it can be performed later and on another thread, and remembers the
// call stack at which it was made, so that an exception thrown by the later call can be
// traced back to the code that scheduled it.
//
//     // record only; the tap thread performs it later:
//     std::shared_ptr<SPInvocation> call =
//         grab(tap).send(&SPMediaKeyTap::pauseTapOnTapThread, true)->invocation();
//     // run on the main loop, wait for it and take its result:
//     std::optional<bool> stopped = onMainAsync(player, false).send(&Player::stop).result;
//
// The category operations grab / invokeAfter / nextRunloop / inBackground / onMainAsync
// each return a recorder aimed at the target; `send` records the call on it (a call the
// target's class does not have is rejected by the compiler).
//
// Threads: a recorder is made and sent its call on one thread and performed on another;
// it takes no locks, so one thread at a time uses it (the hand-off between threads is
// the queue that carries it). A recorded SPInvocation keeps its target and its argument
// copies alive by itself and may be performed on any thread. Each background performance
// runs on a thread of its own, which is joined after it ends (see
// joinBackgroundInvocations); none is detached.

#include <functional>
#include <memory>
#include <optional>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>

namespace sondrel {

// A recorded call: target, operation and owned copies of the arguments.
class SPInvocation {
public:
    virtual ~SPInvocation() = default;
    SPInvocation(const SPInvocation&) = delete;
    SPInvocation& operator=(const SPInvocation&) = delete;

    // Performs the call on its target with its arguments, on the calling thread. The
    // target's result is kept (see result()); its exceptions pass through.
    virtual void invoke() = 0;

    // A copy of the target's result of the last performance, when the call has run and
    // its operation returns R (std::monostate for an operation without a result).
    template <typename R> std::optional<R> result() const;

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

// What a performed call of an operation returning R keeps: a copy of the value.
template <typename R>
using StoredResult = std::conditional_t<std::is_void_v<R>, std::monostate, std::decay_t<R>>;

template <typename S> class InvocationResult {
public:
    virtual ~InvocationResult() = default;
    std::optional<S> value;
};

template <typename... A> class InvocationArguments {
public:
    explicit InvocationArguments(A... a) : values(std::move(a)...) {}
    virtual ~InvocationArguments() = default;
    std::tuple<A...> values;
};

template <typename T, typename M, typename... A>
class BoundInvocation final
    : public SPInvocation,
      public InvocationOperation<M>,
      public InvocationResult<StoredResult<std::invoke_result_t<M, T*, A&...>>>,
      public InvocationArguments<A...> {
public:
    BoundInvocation(std::shared_ptr<T> target, M method, A... args)
        : SPInvocation(target), InvocationOperation<M>(method), InvocationArguments<A...>(
                                                                    std::move(args)...),
          object(target.get()) {}

    void invoke() override {
        std::apply(
            [this](auto&... a) {
                if constexpr (std::is_void_v<R>) {
                    std::invoke(this->method, object, a...);
                    this->value.emplace();
                } else {
                    this->value.emplace(std::invoke(this->method, object, a...));
                }
            },
            this->values);
    }

private:
    using R = std::invoke_result_t<M, T*, A&...>;
    T* object; // kept alive by SPInvocation::target()
};

} // namespace detail

template <typename M> bool SPInvocation::isOperation(M method) const {
    const auto* operation = dynamic_cast<const detail::InvocationOperation<M>*>(this);
    return operation && operation->method == method;
}

template <typename R> std::optional<R> SPInvocation::result() const {
    const auto* holder = dynamic_cast<const detail::InvocationResult<R>*>(this);
    return holder ? holder->value : std::nullopt;
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
    // new thread of its own (backgroundAfterForward), or on the main loop, waiting for it
    // when waitUntilDone (onMainAfterForward; from the main thread itself with waiting it
    // runs at once), or leaves it recorded. Must be called on a shared recorder.
    void forwardInvocation(std::shared_ptr<SPInvocation> invocation);

    // Performs the recorded call on the calling thread (nothing when none is recorded).
    // On success the recorder lets go of the call and the target. When the call throws,
    // logs "SPInvocationGrabber's target raised <name>:\n\t<exception>\nInvocation was
    // originally scheduled at:", prints the saved stack and an empty line to standard
    // output and rethrows the same exception; the recorder then keeps its target and call.
    void invoke();

    // The body of a background performance: invoke(). An exception of the target is
    // reported by invoke() and ends here, not the process.
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

// Joins the thread of every background performance started so far, waiting for those
// still running (the calling thread's own is left for later). The process's exit does
// the same; a finished thread is also joined when the next one starts.
void joinBackgroundInvocations();

// What `send` gives back: the recorder, and the target's result when the sender waited
// for the call on the main thread (empty in every other mode: the call has not run yet).
// For an operation without a result, `result` holds std::monostate once it ran.
template <typename R> struct SPSent {
    std::shared_ptr<SPInvocationGrabber> recorder;
    std::optional<detail::StoredResult<R>> result;

    SPInvocationGrabber* operator->() const { return recorder.get(); }
    operator std::shared_ptr<SPInvocationGrabber>() const { return recorder; }
};

// A recorder aimed at a target of type T, as returned by the category operations.
template <typename T> class SPGrabbed {
public:
    SPGrabbed(std::shared_ptr<SPInvocationGrabber> grabber, std::shared_ptr<T> target)
        : recorder(std::move(grabber)), object(std::move(target)) {}

    // Records `method` with copies of `args` and hands the call to the recorder's mode.
    // Returns the recorder (e.g. to take the recorded invocation out of it) and, when the
    // call ran while the sender waited, the target's result.
    template <typename C, typename R, typename... P, typename... Args>
    SPSent<R> send(R (C::*method)(P...), Args&&... args) {
        static_assert(std::is_base_of_v<C, T>, "the target has no such operation");
        static_assert(sizeof...(P) == sizeof...(Args), "wrong number of arguments");
        using Invocation = detail::BoundInvocation<T, R (C::*)(P...), std::decay_t<P>...>;
        auto call = std::make_shared<Invocation>(object, method,
                                                 std::decay_t<P>(std::forward<Args>(args))...);
        recorder->forwardInvocation(call);
        SPSent<R> sent{recorder, std::nullopt};
        if (recorder->onMainAfterForward() && recorder->waitUntilDone()) {
            sent.result = call->template result<detail::StoredResult<R>>();
        }
        return sent;
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

// The next call runs at once on a new thread of its own.
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
