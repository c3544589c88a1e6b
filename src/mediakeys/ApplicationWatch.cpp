#include "mediakeys/ApplicationWatch.h"

#include "platform/Log.h"

#include <QSocketNotifier>
#include <QTimer>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <sys/syscall.h>
#include <unistd.h>

#ifndef SYS_pidfd_open
#define SYS_pidfd_open 434
#endif

namespace sondrel {
namespace {

// The text of a window's desktop id, from GTK's or KDE's property.
QString desktopIdOf(const x11::Connection& c, xcb_window_t window) {
    for (const char* name : {"_GTK_APPLICATION_ID", "_KDE_NET_WM_DESKTOP_FILE"}) {
        const QByteArray value = x11::windowProperty(c, window, c.atom(name));
        if (!value.isEmpty()) {
            return QString::fromUtf8(value.constData()); // up to the first NUL
        }
    }
    return {};
}

// The class part of WM_CLASS ("instance\0class\0").
QString windowClassOf(const x11::Connection& c, xcb_window_t window) {
    const QByteArray value = x11::windowProperty(c, window, XCB_ATOM_WM_CLASS);
    const qsizetype split = value.indexOf('\0');
    if (split < 0) {
        return {};
    }
    return QString::fromUtf8(value.mid(split + 1).constData());
}

} // namespace

std::unique_ptr<ApplicationWatch>
ApplicationWatch::create(const QByteArray& display, const QString& ownIdentifier, QString* error) {
    std::unique_ptr<x11::Connection> c = x11::Connection::open(display, error);
    if (!c) {
        return nullptr;
    }
    return std::unique_ptr<ApplicationWatch>(new ApplicationWatch(std::move(c), ownIdentifier));
}

ApplicationWatch::ApplicationWatch(std::unique_ptr<x11::Connection> c, QString ownIdentifier)
    : connection(std::move(c)), ownId(std::move(ownIdentifier)) {
    activeWindowAtom = connection->atom("_NET_ACTIVE_WINDOW");
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(connection->get(), connection->root(), XCB_CW_EVENT_MASK, &mask);
    xcb_flush(connection->get());
    lastActive = x11::windowCardinal(*connection, connection->root(), activeWindowAtom).value_or(0);
    xNotifier = new QSocketNotifier(connection->fileDescriptor(), QSocketNotifier::Read, this);
    connect(xNotifier, &QSocketNotifier::activated, this, &ApplicationWatch::readEvents);
    // Events that arrived with the replies above are already queued inside XCB.
    QTimer::singleShot(0, this, &ApplicationWatch::readEvents);
}

ApplicationWatch::~ApplicationWatch() {
    for (const ProcessWatch& watch : std::as_const(processes)) {
        delete watch.notifier;
        close(watch.pidfd);
    }
    delete xNotifier;
}

void ApplicationWatch::readEvents() {
    // Replies read while handling a change may bring more events into XCB's queue, which
    // the notifier does not see: drain until a pass finds no change.
    for (;;) {
        bool changed = false;
        while (xcb_generic_event_t* event = xcb_poll_for_event(connection->get())) {
            if ((event->response_type & 0x7F) == XCB_PROPERTY_NOTIFY) {
                const auto* notify = reinterpret_cast<const xcb_property_notify_event_t*>(event);
                changed = changed || (notify->window == connection->root() &&
                                      notify->atom == activeWindowAtom);
            }
            std::free(event);
        }
        if (connection->hasError()) {
            xNotifier->setEnabled(false);
            logLine(
                QStringLiteral("Media key tap lost its X connection for application switching"));
            return;
        }
        if (!changed) {
            return;
        }
        activeWindowMayHaveChanged();
    }
}

void ApplicationWatch::activeWindowMayHaveChanged() {
    const xcb_window_t window =
        x11::windowCardinal(*connection, connection->root(), activeWindowAtom).value_or(0);
    if (window == XCB_WINDOW_NONE || window == lastActive) {
        return;
    }
    lastActive = window;
    const pid_t pid = x11::windowProcessId(*connection, window);
    if (pid <= 0) {
        return; // a window of an unknown process cannot be named
    }
    const bool self = pid == getpid();
    Application app{ProcessSerialNumber::forPid(pid),
                    bundleIdentifierForApplication(self, ownId, desktopIdOf(*connection, window),
                                                   windowClassOf(*connection, window))};
    if (!self) {
        watchTermination(pid);
    }
    if (frontSwitched) {
        frontSwitched(app);
    }
}

void ApplicationWatch::watchTermination(pid_t pid) {
    if (processes.contains(pid)) {
        return;
    }
    const int fd = static_cast<int>(syscall(SYS_pidfd_open, pid, 0));
    if (fd < 0) {
        if (errno == ESRCH) {
            // Already gone: report it after the front switch, like a later notice.
            QTimer::singleShot(0, this, [this, pid] { processEnded(pid); });
        } else {
            static bool logged = false;
            if (!logged) {
                logged = true;
                logLine(QStringLiteral("Media key tap cannot watch applications quitting: %1")
                            .arg(QString::fromLocal8Bit(strerror(errno))));
            }
        }
        return;
    }
    auto* notifier = new QSocketNotifier(fd, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this, pid] { processEnded(pid); });
    processes.insert(pid, {fd, notifier});
}

void ApplicationWatch::processEnded(pid_t pid) {
    if (auto it = processes.find(pid); it != processes.end()) {
        it->notifier->setEnabled(false);
        it->notifier->deleteLater();
        close(it->pidfd);
        processes.erase(it);
    }
    if (terminated) {
        terminated(ProcessSerialNumber::forPid(pid));
    }
}

} // namespace sondrel
