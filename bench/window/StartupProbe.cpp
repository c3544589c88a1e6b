// Start-up probe for the window benchmark (run_window_bench.py). It starts like the
// player does and reports on stdout, each line as soon as it is true:
//   shown <ms>      the window has painted itself on screen for the first time (ms
//                   since the process started, in clock ticks; the driver times the line)
//   list <ms>       the own list is on screen (window mode only)
//   rss <KiB>       the resident set right after the window was shown
//   rss_list <KiB>  the resident set with the list on screen (window mode only)
//   children <n>    processes this process started (web engine helpers would show here)
//   webengine <0|1> whether the web engine's library is mapped (linked in) at all
//
//   sondrel-startup-probe          the main window, signed in with "demo-token", against
//                                  the service named by SONDREL_SERVICE_INFO, started as
//                                  the player's main() starts it
//   sondrel-bare-window-probe      a bare Qt Widgets window with a label, for comparison:
//                                  the same source built with SONDREL_PROBE_BARE, linked
//                                  with Qt Widgets only

#ifndef SONDREL_PROBE_BARE
#include "app/SingleInstance.h"
#include "mediakeys/MediaKeyExampleApp.h"
#include "platform/AppPaths.h"
#include "platform/ServiceConfig.h"
#include "shell/AppDelegate.h"
#include "window/AppController.h"
#endif

#include <QApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QLabel>
#include <QMainWindow>
#include <QTimer>
#include <QWindow>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <unistd.h>

namespace {

// Milliseconds since this process started (its start time in /proc, on the boot clock).
double msSinceProcessStart() {
    QFile stat(QStringLiteral("/proc/self/stat"));
    stat.open(QIODevice::ReadOnly);
    const QByteArray text = stat.readAll();
    const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
    const double startTicks = fields.value(19).toDouble(); // field 22 of the whole line
    timespec now{};
    clock_gettime(CLOCK_BOOTTIME, &now);
    const double nowMs = static_cast<double>(now.tv_sec) * 1000.0 + now.tv_nsec / 1e6;
    return nowMs - startTicks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

long statusKiB(const char* key) {
    QFile status(QStringLiteral("/proc/self/status"));
    status.open(QIODevice::ReadOnly);
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith(key)) {
            return line.mid(static_cast<qsizetype>(std::strlen(key)))
                .trimmed()
                .split(' ')[0]
                .toLong();
        }
    }
    return -1;
}

// 1 when the web engine's library is mapped into this process (linked in), else 0.
[[maybe_unused]] int webEngineMapped() { // unused by the bare-window probe
    QFile maps(QStringLiteral("/proc/self/maps"));
    maps.open(QIODevice::ReadOnly);
    return maps.readAll().contains("libQt6WebEngineCore") ? 1 : 0;
}

int childCount() {
    int count = 0;
    const QString self = QString::number(getpid());
    for (const QString& entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!stat.open(QIODevice::ReadOnly)) {
            continue;
        }
        const QByteArray text = stat.readAll();
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        if (QString::fromLatin1(fields.value(1)) == self) {
            ++count;
        }
    }
    return count;
}

void report(const char* what, double value);

// Runs the main loop until `window` has painted itself on screen for the first time and
// reports "shown" and "rss" right then, before anything else the loop has queued runs
// (the driver times the arrival of the line). False when no paint came.
bool reportFirstPaint(QWidget* window) {
    struct FirstPaint : QObject {
        QEventLoop loop;
        bool eventFilter(QObject* watched, QEvent* event) override {
            if (event->type() == QEvent::Paint) {
                watched->removeEventFilter(this);
                QTimer::singleShot(0, &loop, [this] {
                    report("shown", msSinceProcessStart());
                    report("rss", static_cast<double>(statusKiB("VmRSS:")));
                    loop.quit();
                });
            }
            return false;
        }
    } watcher;
    window->installEventFilter(&watcher);
    QTimer::singleShot(60000, &watcher.loop, [&] { watcher.loop.exit(1); });
    return watcher.loop.exec() == 0;
}

void report(const char* what, double value) {
    std::printf("%s %.1f\n", what, value);
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
#ifdef SONDREL_PROBE_BARE
    QApplication app(argc, argv);
    QMainWindow window;
    window.setCentralWidget(new QLabel(QStringLiteral("Sondrel")));
    window.resize(560, 680);
    window.show();
    if (!reportFirstPaint(&window)) {
        return 1;
    }
    report("children", childCount());
    return 0;
#else
    sondrel::MediaKeyExampleApp app(argc, argv);
    QApplication::setApplicationName(QString::fromLatin1(sondrel::kApplicationName));
    // As the player's main() does.
    sondrel::setServiceConfig(sondrel::loadServiceConfig(QApplication::arguments()));
    sondrel::AppDelegate delegate;
    // Signed in: the first run stores the demo token, later runs find it stored.
    if (sondrel::AppDelegate::getObjectWithKey(QStringLiteral("accessToken")).toString() !=
        QStringLiteral("demo-token")) {
        sondrel::AppDelegate::saveObjectWithKey(QStringLiteral("demo-token"),
                                                QStringLiteral("accessToken"));
        sondrel::AppDelegate::saveObjectWithKey(QDateTime::currentDateTimeUtc(),
                                                QStringLiteral("accessTokenDate"));
    }
    sondrel::SingleInstance instance;
    if (instance.claim() == sondrel::SingleInstance::Start::HandedOver) {
        return 1;
    }
    delegate.applicationDidFinishLaunching();
    delegate.applicationDidBecomeActive();
    sondrel::AppController controller;
    app.setMediaKeyDelegate(&controller);
    controller.window()->show();
    controller.window()->activateWindow();
    if (!reportFirstPaint(controller.window())) {
        return 1;
    }
    QDeadlineTimer deadline(60000);
    while (controller.songsTableView()->numberOfRows() == 0) {
        if (deadline.hasExpired()) {
            return 1;
        }
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 100);
    }
    report("list", msSinceProcessStart());
    report("rss_list", static_cast<double>(statusKiB("VmRSS:")));
    report("children", childCount());
    report("webengine", webEngineMapped());
    app.setMediaKeyDelegate(nullptr);
    return 0;
#endif
}
