#pragma once
// The global media key tap: makes the keyboard's media keys control the player while
// another application is in front, without taking them from a media application that the
// user had in front more recently.
//
// On X11 the tap is a synchronous grab of the media keys (X11MediaKeyGrab) made on a tap
// thread of its own, with its own X connection and event loop. While the player heads the
// list of media applications (MediaKeyTapPolicy) the tap takes play, next, previous,
// forward and rewind and hands them to the delegate on the main thread; otherwise the
// grab is released on the tap thread, so the keys go to the application in front.
// Switching the tap on and off is posted to the tap thread as a call recorded with the
// invocation recorder (pauseTapOnTapThread).
//
// Where no tap can be made (no X11 display, a Wayland session, another client holding
// the keys) startWatchingMediaKeys logs that once and starts no tap thread; the player is
// then reached through MPRIS (MprisService), and MediaKeyExampleApp forwards the media
// keys that reach the player's own window.
//
// Ownership: create() gives a shared tap. While its tap thread runs, the thread holds
// the tap too, so call stopWatchingMediaKeys() before letting it go.
//
// Threads (field by field):
//  - main thread: delegate, appWatch, policy, tapThread, runLoop, the public operations
//    unless said otherwise;
//  - tap thread: eventPort (created, used and destroyed there), pauseTapOnTapThread,
//    the tap callback;
//  - interceptMutex guards shouldIntercept, which both threads read and write;
//  - tapThreadRL is written by both (set by the tap thread when it runs, cleared by the
//    main thread after it joined it) and read by the main thread: an atomic.

#include "mediakeys/MediaKeyEvent.h"
#include "mediakeys/MediaKeyTapPolicy.h"
#include "mediakeys/X11MediaKeyGrab.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <future>
#include <memory>
#include <mutex>
#include <thread>

namespace sondrel {

class ApplicationWatch;
class SPMediaKeyTap;
class TapRunLoop;

// The receiver of media key events; the main controller implements it.
class SPMediaKeyTapDelegate {
public:
    // A media key went down or up (or repeated). Always called on the main thread.
    // `tap` is the tap that took the key, or null when MediaKeyExampleApp forwards a key
    // that reached the player's window while the global tap is not in use. The handler
    // acts with mediaKeyActionForEvent(event): PlayPause -> playSelector, NextSong ->
    // forwardSelector, PreviousSong -> backwardSelector (each with no sender).
    virtual void mediaKeyTapReceivedMediaKeyEvent(SPMediaKeyTap* tap,
                                                  const MediaKeyEvent& event) = 0;

protected:
    ~SPMediaKeyTapDelegate() = default;
};

class SPMediaKeyTap : public std::enable_shared_from_this<SPMediaKeyTap> {
    struct Passkey {};

public:
    // The settings keys (in the settings store of AppDelegate).
    static inline const QString kIgnoreMediaKeysDefaultsKey = QStringLiteral("SPIgnoreMediaKeys");
    static inline const QString kMediaKeyUsingBundleIdentifiersDefaultsKey =
        QStringLiteral("SPApplicationsNeedingMediaKeys");

    // initWithDelegate: stores the delegate (not owned; it must outlive the tap or be
    // cleared with setDelegate(nullptr)) and starts watching application switching. The
    // media key tap itself starts with startWatchingMediaKeys().
    static std::shared_ptr<SPMediaKeyTap> create(SPMediaKeyTapDelegate* delegate);
    SPMediaKeyTap(Passkey, SPMediaKeyTapDelegate* delegate);
    // stopWatchingMediaKeys, then stopWatchingAppSwitching.
    ~SPMediaKeyTap();
    SPMediaKeyTap(const SPMediaKeyTap&) = delete;
    SPMediaKeyTap& operator=(const SPMediaKeyTap&) = delete;

    void setDelegate(SPMediaKeyTapDelegate* delegate) { tapDelegate = delegate; }

    // Switches interception on and starts the tap thread, which connects to the X display
    // and grabs the media keys; returns once the thread has reported. When no tap can be
    // made the reason is logged once, no tap thread remains, and
    // usesGlobalMediaKeyTap() answers false from then on (until a later start succeeds).
    void startWatchingMediaKeys();
    // Stops the tap thread (it releases the grabs and its connection) and waits for it.
    void stopWatchingMediaKeys();
    // True while the tap thread runs with its grab.
    bool isWatchingMediaKeys() const { return tapThreadRL.load() != nullptr; }

    // Install / remove the front-switch and termination handlers (an ApplicationWatch on
    // $DISPLAY). Without a display this is logged once and nothing is watched.
    void startWatchingAppSwitching();
    void stopWatchingAppSwitching();

    // The intercept switch; readable from any thread.
    bool shouldInterceptMediaKeyEvents() const;
    // Stores the switch; while the tap thread runs, a real change is posted to it as the
    // recorded call pauseTapOnTapThread(value).
    void setShouldInterceptMediaKeyEvents(bool value);

    // Tap thread: grabs (true) or releases (false) the media keys.
    void pauseTapOnTapThread(bool enable);

    // Main thread: passes the event to the delegate.
    void handleAndReleaseMediaKeyEvent(const MediaKeyEvent& event);

    // The application list (see MediaKeyTapPolicy); main thread.
    void appIsNowFrontmost(ProcessSerialNumber process, const QString& bundleIdentifier);
    void appTerminated(ProcessSerialNumber process);
    void mediaKeyAppListChanged();
    const QList<ProcessSerialNumber>& mediaKeyAppList() const { return policy.mediaKeyAppList(); }

    // True when the setting "SPIgnoreMediaKeys" is not set and a global tap can be made
    // here: an X11 session whose display can be reached, where no tap was refused.
    static bool usesGlobalMediaKeyTap();
    // This application's identifier, then the well-known media players (20 entries).
    static QStringList defaultMediaKeyUserBundleIdentifiers();
    // Registers that list as the default of "SPApplicationsNeedingMediaKeys".
    static void registerDefaultMediaKeyUserBundleIdentifiers();

    // Diagnostics and tests: whether the grab is currently made (false without a tap).
    bool isTapEnabled() const { return tapEnabled.load(); }
    // Tests: on the tap thread, the desktop switches the tap off with notice `type`
    // (kTapDisabledByTimeout or kTapDisabledByUserInput), as a slow callback would cause.
    void simulateTapDisabledForTesting(std::uint32_t type);

private:
    void eventTapThread(std::shared_ptr<SPMediaKeyTap> self, QByteArray display,
                        std::promise<QString> started);
    TapVerdict tapEventCallback2(X11MediaKeyGrab& tap, std::uint32_t type,
                                 const TapKeyEvent* event);

    SPMediaKeyTapDelegate* tapDelegate = nullptr;
    std::unique_ptr<ApplicationWatch> appWatch;
    MediaKeyTapPolicy policy;
    std::thread tapThread;
    std::unique_ptr<TapRunLoop> runLoop;
    std::atomic<TapRunLoop*> tapThreadRL{nullptr};
    X11MediaKeyGrab* eventPort = nullptr; // tap thread
    std::atomic<bool> tapEnabled{false};  // mirror of eventPort->isEnabled()
    mutable std::mutex interceptMutex;
    bool shouldIntercept = false; // guarded by interceptMutex
};

} // namespace sondrel
