#pragma once
// Watches which application is in front and when it quits, for the media key tap.
//
// "In front" is the window manager's _NET_ACTIVE_WINDOW on the root window: each time it
// names a new window (0, which it holds briefly during a switch, is skipped), the owner
// process of that window (its _NET_WM_PID, or the X-Resource answer) and its name in the
// media application list are reported. Each process reported in front is then watched
// through a pidfd, and its end is reported once.
//
// Threads: main thread only. It keeps its own X connection and reads it from the main
// loop through a socket notifier; all fields belong to the main thread.

#include "mediakeys/MediaKeyTapPolicy.h"
#include "mediakeys/X11Support.h"

#include <QHash>
#include <QObject>
#include <QString>
#include <functional>
#include <memory>

class QSocketNotifier;

namespace sondrel {

class ApplicationWatch : public QObject {
    Q_OBJECT

public:
    struct Application {
        ProcessSerialNumber process;
        QString bundleIdentifier; // empty when nothing names it
    };

    // Watches the X display `display` (empty: $DISPLAY); this process is named
    // `ownIdentifier`. Null, with `error` set, when the display cannot be reached.
    static std::unique_ptr<ApplicationWatch> create(const QByteArray& display,
                                                    const QString& ownIdentifier, QString* error);
    ~ApplicationWatch() override;

    // The front-switch and termination handlers; either may be empty.
    std::function<void(const Application&)> frontSwitched;
    std::function<void(ProcessSerialNumber)> terminated;

    // The window currently in front (0 when none), as last read.
    xcb_window_t activeWindow() const { return lastActive; }

private:
    ApplicationWatch(std::unique_ptr<x11::Connection> c, QString ownIdentifier);
    void readEvents();
    void activeWindowMayHaveChanged();
    void watchTermination(pid_t pid);
    void processEnded(pid_t pid);

    std::unique_ptr<x11::Connection> connection;
    const QString ownId;
    xcb_atom_t activeWindowAtom = XCB_ATOM_NONE;
    xcb_window_t lastActive = XCB_WINDOW_NONE;
    QSocketNotifier* xNotifier = nullptr;
    struct ProcessWatch {
        int pidfd = -1;
        QSocketNotifier* notifier = nullptr;
    };
    QHash<pid_t, ProcessWatch> processes; // processes seen in front that still run
};

} // namespace sondrel
