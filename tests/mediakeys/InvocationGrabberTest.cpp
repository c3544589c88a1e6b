// The invocation recorder: recording without running, performing on other threads and
// event loops, the exception report with the saved stack, and the clean-up.

#include "TestSupport.h"
#include "mediakeys/SPInvocationGrabber.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdexcept>
#include <thread>
#include <unistd.h>

using namespace sondrel;

namespace {

struct Target {
    std::atomic<int> calls{0};
    std::atomic<bool> lastValue{false};
    std::thread::id lastThread;
    std::string lastText;

    void pauseTapOnTapThread(bool enable) {
        lastValue = enable;
        lastThread = std::this_thread::get_id();
        ++calls;
    }
    void remember(std::string text, std::shared_ptr<int> keepAlive) {
        lastText = text + ":" + std::to_string(*keepAlive);
        lastThread = std::this_thread::get_id();
        ++calls;
    }
    int fail(int) { throw std::runtime_error("the tap is gone"); }
    int twice(int value) {
        lastThread = std::this_thread::get_id();
        ++calls;
        return 2 * value;
    }
    // Returns once `count` calls are inside at the same time (or after a long wait).
    std::atomic<int> met{0};
    void meet(int count) {
        ++met;
        const auto giveUp = std::chrono::steady_clock::now() + std::chrono::seconds(60);
        while (met < count && std::chrono::steady_clock::now() < giveUp) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        ++calls;
    }
};

// Collects what is written to standard output while it exists.
class StdoutCapture {
public:
    StdoutCapture() {
        std::fflush(stdout);
        saved = dup(STDOUT_FILENO);
        file = std::tmpfile();
        dup2(fileno(file), STDOUT_FILENO);
    }
    ~StdoutCapture() { restore(); }
    std::string text() {
        restore();
        std::rewind(file);
        std::string result;
        char buffer[4096];
        while (size_t n = std::fread(buffer, 1, sizeof buffer, file)) {
            result.append(buffer, n);
        }
        return result;
    }

private:
    void restore() {
        if (saved >= 0) {
            std::fflush(stdout);
            dup2(saved, STDOUT_FILENO);
            close(saved);
            saved = -1;
        }
    }
    int saved = -1;
    std::FILE* file = nullptr;
};

} // namespace

TEST(InvocationGrabber, GrabRecordsTheCallWithoutRunningItAndAnyThreadCanPerformIt) {
    auto target = std::make_shared<Target>();
    std::shared_ptr<SPInvocationGrabber> grabber =
        grab(target).send(&Target::pauseTapOnTapThread, true);

    EXPECT_EQ(target->calls, 0);
    const std::shared_ptr<SPInvocation> call = grabber->invocation();
    ASSERT_TRUE(call);
    EXPECT_EQ(call->target().get(), target.get());
    EXPECT_TRUE(call->isOperation(&Target::pauseTapOnTapThread));
    EXPECT_FALSE(call->isOperation(&Target::fail));
    ASSERT_NE(call->arguments<bool>(), nullptr);
    EXPECT_TRUE(std::get<0>(*call->arguments<bool>()));
    EXPECT_EQ(call->arguments<int>(), nullptr);

    // The recorder is gone; the call lives on by itself and runs on another thread.
    grabber.reset();
    std::thread other([call] { call->invoke(); });
    const std::thread::id otherId = other.get_id();
    other.join();
    EXPECT_EQ(target->calls, 1);
    EXPECT_TRUE(target->lastValue);
    EXPECT_EQ(target->lastThread, otherId);
}

TEST(InvocationGrabber, ArgumentsAreCopiesThatOutliveTheSender) {
    auto target = std::make_shared<Target>();
    std::shared_ptr<SPInvocationGrabber> grabber;
    std::weak_ptr<int> argumentAlive;
    {
        std::string text = "before";
        auto number = std::make_shared<int>(7);
        argumentAlive = number;
        grabber = grab(target).send(&Target::remember, text, number);
        text = "changed";
    }
    EXPECT_FALSE(argumentAlive.expired()) << "the recorded call must own its arguments";
    std::thread([grabber] { grabber->invoke(); }).join();
    EXPECT_EQ(target->lastText, "before:7");
    EXPECT_TRUE(argumentAlive.expired()) << "performed calls release their arguments";
}

TEST(InvocationGrabber, NormalRunClearsTheCallAndTheTargetAndRunsOnce) {
    auto target = std::make_shared<Target>();
    auto grabber = grab(target).send(&Target::pauseTapOnTapThread, false);
    EXPECT_EQ(target.use_count(), 3); // ours, the recorder's, the call's

    grabber->invoke();
    EXPECT_EQ(target->calls, 1);
    EXPECT_EQ(grabber->invocation(), nullptr);
    EXPECT_EQ(grabber->object(), nullptr);
    EXPECT_EQ(target.use_count(), 1);

    grabber->invoke(); // nothing recorded any more
    EXPECT_EQ(target->calls, 1);
}

TEST(InvocationGrabber, ThrowingTargetIsReportedWithTheSavedStackAndPassedOn) {
    auto target = std::make_shared<Target>();
    auto grabber = grab(target).send(&Target::fail, 3);
    ASSERT_GE(grabber->frameCount(), 4);

    LogCapture log;
    StdoutCapture out;
    bool caught = false;
    try {
        grabber->invoke();
    } catch (const std::runtime_error& e) {
        caught = std::string(e.what()) == "the tap is gone";
    }
    const std::string printed = out.text();
    EXPECT_TRUE(caught) << "the same exception must reach the caller";

    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_EQ(
        log.lines().first(),
        QStringLiteral("SPInvocationGrabber's target raised std::runtime_error:\n\tthe tap is "
                       "gone\nInvocation was originally scheduled at:"));

    std::string expected;
    for (int i = 3; i < grabber->frameCount(); ++i) {
        expected += std::string(grabber->frameString(i)) + "\n";
    }
    expected += "\n";
    EXPECT_EQ(printed, expected);
    // The saved stack leads back to this test, which scheduled the call.
    EXPECT_NE(printed.find("ThrowingTargetIsReported"), std::string::npos) << printed;

    // A failed run keeps the recorder as it was.
    EXPECT_EQ(grabber->object().get(), target.get());
    EXPECT_NE(grabber->invocation(), nullptr);
}

TEST(InvocationGrabber, RecorderWithoutSavedStackPrintsNoFrames) {
    SPInvocationGrabber grabber(std::make_shared<Target>(), false);
    EXPECT_EQ(grabber.frameCount(), 0);
    StdoutCapture out;
    grabber.printBacktrace();
    EXPECT_EQ(out.text(), "");
}

TEST(InvocationGrabber, NextRunloopRunsAtTheNextPassNotDuringThisOne) {
    auto target = std::make_shared<Target>();
    nextRunloop(target).send(&Target::pauseTapOnTapThread, true);
    EXPECT_EQ(target->calls, 0);
    ASSERT_TRUE(test::waitUntil([&] { return target->calls == 1; }));
    EXPECT_EQ(target->lastThread, std::this_thread::get_id());
    QCoreApplication::processEvents();
    EXPECT_EQ(target->calls, 1);
    EXPECT_EQ(target.use_count(), 1) << "the timer lets go of the recorder after it fired";
}

TEST(InvocationGrabber, InvokeAfterRunsOnTheEventLoopOfTheSendingThread) {
    auto target = std::make_shared<Target>();
    std::atomic<bool> recorded{false};
    std::atomic<int> callsWhenRecorded{-1};
    std::thread::id workerId;
    QThread worker;
    QObject context;
    context.moveToThread(&worker);
    worker.start();
    QMetaObject::invokeMethod(
        &context,
        [&] {
            workerId = std::this_thread::get_id();
            invokeAfter(target, 0.01).send(&Target::pauseTapOnTapThread, true);
            callsWhenRecorded = target->calls.load();
            recorded = true;
        },
        Qt::QueuedConnection);
    const bool ran = test::waitUntil([&] { return target->calls == 1; });
    worker.quit();
    worker.wait();
    ASSERT_TRUE(ran);
    EXPECT_EQ(callsWhenRecorded, 0) << "the call is recorded before the timer can fire";
    EXPECT_EQ(target->lastThread, workerId);
}

TEST(InvocationGrabber, OnMainWithWaitingGivesTheTargetsResultOnlyAfterItRan) {
    auto target = std::make_shared<Target>();
    std::optional<int> fromOtherThread;
    std::atomic<int> callsSeenBySender{-1};
    std::atomic<bool> senderDone{false};
    std::thread sender([&] {
        fromOtherThread = onMainAsync(target, false).send(&Target::twice, 21).result;
        callsSeenBySender = target->calls.load();
        senderDone = true;
    });
    ASSERT_TRUE(test::waitUntil([&] { return senderDone.load(); }));
    sender.join();
    EXPECT_EQ(fromOtherThread, 42);
    EXPECT_EQ(callsSeenBySender, 1);
    EXPECT_EQ(target->lastThread, std::this_thread::get_id());

    // From the main thread itself it runs at once.
    EXPECT_EQ(onMainAsync(target, false).send(&Target::twice, 5).result, 10);
    EXPECT_TRUE(onMainAsync(target, false).send(&Target::pauseTapOnTapThread, true).result);
    EXPECT_EQ(target->calls, 3);
}

TEST(InvocationGrabber, ModesThatDoNotWaitGiveNoResult) {
    auto target = std::make_shared<Target>();
    EXPECT_FALSE(grab(target).send(&Target::twice, 1).result);
    EXPECT_FALSE(nextRunloop(target).send(&Target::twice, 1).result);
    EXPECT_FALSE(onMainAsync(target, true).send(&Target::twice, 1).result);
    EXPECT_EQ(target->calls, 0) << "none of them has run yet";
    ASSERT_TRUE(test::waitUntil([&] { return target->calls == 2; }));
}

TEST(InvocationGrabber, OnMainAsyncFromTheMainThreadRunsLater) {
    auto target = std::make_shared<Target>();
    onMainAsync(target, true).send(&Target::pauseTapOnTapThread, false);
    EXPECT_EQ(target->calls, 0);
    ASSERT_TRUE(test::waitUntil([&] { return target->calls == 1; }));
    EXPECT_FALSE(target->lastValue);
}

TEST(InvocationGrabber, EachBackgroundCallRunsOnAThreadOfItsOwnThatIsJoined) {
    // Every thread of the shared background pool is busy with a blocking job: a
    // background call must not wait behind them.
    std::atomic<bool> releasePool{false};
    std::atomic<int> poolJobsRunning{0};
    const int poolSize = backgroundPool().maxThreadCount();
    for (int i = 0; i < poolSize; ++i) {
        dispatchBackground([&] {
            ++poolJobsRunning;
            while (!releasePool) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
    }
    ASSERT_TRUE(test::waitUntil([&] { return poolJobsRunning == poolSize; }));

    // Three calls that each wait until all three run: only separate threads get there.
    auto target = std::make_shared<Target>();
    for (int i = 0; i < 3; ++i) {
        inBackground(target).send(&Target::meet, 3);
    }
    const bool allMet = test::waitUntil([&] { return target->met == 3; });
    releasePool = true;
    joinBackgroundInvocations();
    backgroundPool().waitForDone();
    ASSERT_TRUE(allMet);
    EXPECT_EQ(target->calls, 3);
    EXPECT_EQ(target.use_count(), 1) << "joined threads have let go of their recorders";

    // A target that throws on a background thread is reported; the player goes on.
    LogCapture log;
    StdoutCapture out;
    inBackground(target).send(&Target::fail, 1);
    joinBackgroundInvocations();
    EXPECT_EQ(log.lines().size(), 1);
}
