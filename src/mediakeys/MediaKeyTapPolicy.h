#pragma once
// Who owns the media keys: the list of media-capable applications in the order they were
// last in front, and the intercept switch that follows from it. The media key tap feeds
// it the desktop's front-switch and termination events and applies the answers; the
// policy itself does no I/O, so it can be checked event by event.
//
// Also: how an application on this desktop is named in the media application list (its
// "bundle identifier").
//
// Not thread-safe: the tap uses it on the main thread only.

#include <QList>
#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>
#include <sys/types.h>

namespace sondrel {

// A process of the desktop. On Linux the pair is (0, process id).
struct ProcessSerialNumber {
    std::uint32_t highLongOfPSN = 0;
    std::uint32_t lowLongOfPSN = 0;

    static ProcessSerialNumber forPid(pid_t pid) { return {0, static_cast<std::uint32_t>(pid)}; }
    static ProcessSerialNumber current();
    pid_t pid() const { return static_cast<pid_t>(lowLongOfPSN); }
    friend bool operator==(const ProcessSerialNumber&, const ProcessSerialNumber&) = default;
};

class MediaKeyTapPolicy {
public:
    explicit MediaKeyTapPolicy(ProcessSerialNumber self) : selfProcess(self) {}

    // `process`, named `bundleIdentifier`, came to the front. When the identifier is in
    // `mediaApplications` the process moves to the head of the list and the answer is the
    // new intercept switch; otherwise nothing changes and the answer is empty.
    std::optional<bool> appIsNowFrontmost(ProcessSerialNumber process,
                                          const QString& bundleIdentifier,
                                          const QStringList& mediaApplications);

    // `process` ended: it leaves the list. The answer is the new intercept switch, or
    // empty when the list is now empty (the switch then keeps its value).
    std::optional<bool> appTerminated(ProcessSerialNumber process);

    // The switch that follows from the list: true exactly when this process heads it;
    // empty for an empty list.
    std::optional<bool> mediaKeyAppListChanged() const;

    const QList<ProcessSerialNumber>& mediaKeyAppList() const { return list; }

    // Whether a change of the switch from `oldValue` to `newValue` has to be posted to the
    // tap thread (only a real change, and only while the tap thread runs).
    static bool schedulesTapChange(bool oldValue, bool newValue, bool tapThreadRunning) {
        return tapThreadRunning && oldValue != newValue;
    }

private:
    const ProcessSerialNumber selfProcess;
    QList<ProcessSerialNumber> list; // most recently in front first
};

// The name of an application in the media application list: `ownIdentifier` for this
// process, else the desktop id (without ".desktop"), else the window class; the
// well-known players are given the identifiers of the default list (a VLC window, for
// instance, is "org.videolan.vlc"). Empty when nothing names it.
QString bundleIdentifierForApplication(bool isThisProcess, const QString& ownIdentifier,
                                       const QString& desktopId, const QString& windowClass);

} // namespace sondrel
