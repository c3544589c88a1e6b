#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QThread>
#include <QThreadPool>
#include <atomic>
#include <gtest/gtest.h>

namespace {

// Runs the main loop until `done` holds or a generous deadline passes.
bool spinUntil(const std::function<bool()>& done) {
    QDeadlineTimer deadline(30000);
    while (!done() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

TEST(Dispatch, MainQueueRunsInOrderOfQueuingFromAnyThread) {
    std::vector<int> order;
    for (int i = 0; i < 5; ++i) {
        sondrel::dispatchMain([&order, i] { order.push_back(i); });
    }
    EXPECT_TRUE(order.empty()) << "queued work never runs inside the call";
    ASSERT_TRUE(spinUntil([&] { return order.size() == 5; }));
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4}));

    // From a background job: the job's follow-ups keep their order on the main loop.
    std::vector<int> fromWorker;
    std::atomic<bool> workerOnMain{true};
    sondrel::dispatchBackground([&] {
        workerOnMain = sondrel::isMainThread();
        for (int i = 0; i < 100; ++i) {
            sondrel::dispatchMain([&fromWorker, i] {
                EXPECT_TRUE(sondrel::isMainThread());
                fromWorker.push_back(i);
            });
        }
    });
    ASSERT_TRUE(spinUntil([&] { return fromWorker.size() == 100; }));
    EXPECT_FALSE(workerOnMain);
    for (int i = 0; i < 100; ++i) {
        EXPECT_EQ(fromWorker[static_cast<size_t>(i)], i);
    }
}

TEST(Dispatch, BackgroundJobsRunConcurrently) {
    // Two jobs that wait for each other finish only if they run at the same time: the
    // blocking list requests must not queue behind one another.
    std::atomic<int> arrived{0};
    std::atomic<int> finished{0};
    for (int i = 0; i < 2; ++i) {
        sondrel::dispatchBackground([&] {
            ++arrived;
            QDeadlineTimer deadline(30000);
            while (arrived < 2 && !deadline.hasExpired()) {
                QThread::msleep(1);
            }
            if (arrived == 2) {
                ++finished;
            }
        });
    }
    sondrel::backgroundPool().waitForDone();
    EXPECT_EQ(finished, 2);
}

} // namespace
