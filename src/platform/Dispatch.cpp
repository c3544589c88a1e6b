#include "platform/Dispatch.h"

#include <QCoreApplication>
#include <QMetaObject>
#include <QThread>
#include <QThreadPool>

namespace sondrel {

void dispatchMain(std::function<void()> fn) {
    QCoreApplication* app = QCoreApplication::instance();
    Q_ASSERT(app);
    // Queued calls posted to one receiver run in the order they were posted.
    QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

QThreadPool& backgroundPool() {
    // Blocking jobs (network waits) dominate, so allow more threads than cores.
    static QThreadPool* pool = [] {
        auto* p = new QThreadPool;
        p->setMaxThreadCount(std::max(8, QThread::idealThreadCount() * 2));
        p->setThreadPriority(QThread::HighPriority);
        p->setExpiryTimeout(30000);
        return p;
    }();
    return *pool;
}

void dispatchBackground(std::function<void()> fn) {
    backgroundPool().start(std::move(fn), QThread::HighPriority);
}

bool isMainThread() {
    QCoreApplication* app = QCoreApplication::instance();
    return app && QThread::currentThread() == app->thread();
}

} // namespace sondrel
