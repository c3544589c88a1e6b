#include "mediakeys/SPMediaKeyTap.h"

#include "mediakeys/ApplicationWatch.h"
#include "mediakeys/SPInvocationGrabber.h"
#include "mediakeys/TapRunLoop.h"
#include "platform/AppPaths.h"
#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "shell/AppDelegate.h"
#include "shell/SettingsStore.h"

#include <QSet>

namespace sondrel {
namespace {

// Whether this desktop session can have a global tap at all: an X11 session whose
// display answers, and no tap refused since the last successful one.
std::mutex availabilityMutex;
QByteArray probedDisplay;     // guarded by availabilityMutex
bool probedReachable = false; // guarded by availabilityMutex
bool probed = false;          // guarded by availabilityMutex
std::atomic<bool> tapRefused{false};

// Why no X11 tap can be made in this session, or empty when one may be.
QString x11SessionProblem() {
    if (qEnvironmentVariable("XDG_SESSION_TYPE") == QLatin1String("wayland")) {
        return QStringLiteral("this is a Wayland session");
    }
    if (qEnvironmentVariable("DISPLAY").isEmpty()) {
        return QStringLiteral("there is no X11 display");
    }
    return {};
}

bool x11DisplayReachable() {
    const QByteArray display = qgetenv("DISPLAY");
    std::lock_guard lock(availabilityMutex);
    if (!probed || probedDisplay != display) {
        probedReachable = x11::Connection::open(display, nullptr) != nullptr;
        probedDisplay = display;
        probed = true;
    }
    return probedReachable;
}

// Logs each distinct reason for running without a tap once per process.
void logOnce(const QString& line) {
    static std::mutex mutex;
    static QSet<QString> logged;
    {
        std::lock_guard lock(mutex);
        if (logged.contains(line)) {
            return;
        }
        logged.insert(line);
    }
    logLine(line);
}

} // namespace

std::shared_ptr<SPMediaKeyTap> SPMediaKeyTap::create(SPMediaKeyTapDelegate* delegate) {
    auto tap = std::make_shared<SPMediaKeyTap>(Passkey{}, delegate);
    tap->startWatchingAppSwitching();
    return tap;
}

SPMediaKeyTap::SPMediaKeyTap(Passkey, SPMediaKeyTapDelegate* delegate)
    : tapDelegate(delegate), policy(ProcessSerialNumber::current()) {}

SPMediaKeyTap::~SPMediaKeyTap() {
    stopWatchingMediaKeys();
    stopWatchingAppSwitching();
}

void SPMediaKeyTap::startWatchingMediaKeys() {
    stopWatchingMediaKeys();
    setShouldInterceptMediaKeyEvents(true);

    QString problem = x11SessionProblem();
    if (problem.isEmpty()) {
        runLoop = std::make_unique<TapRunLoop>();
        std::promise<QString> started;
        std::future<QString> outcome = started.get_future();
        tapThread = std::thread(&SPMediaKeyTap::eventTapThread, this, shared_from_this(),
                                qgetenv("DISPLAY"), std::move(started));
        problem = outcome.get();
        if (problem.isEmpty()) {
            tapRefused = false;
            return;
        }
        tapThread.join();
        runLoop.reset();
    }
    tapRefused = true;
    logOnce(QStringLiteral("Media key tap unavailable: %1; media keys reach the player through "
                           "MPRIS")
                .arg(problem));
}

void SPMediaKeyTap::eventTapThread(std::shared_ptr<SPMediaKeyTap> self, QByteArray display,
                                   std::promise<QString> started) {
    QString error;
    std::unique_ptr<X11MediaKeyGrab> tap = X11MediaKeyGrab::create(
        display,
        [this](X11MediaKeyGrab& t, std::uint32_t type, const TapKeyEvent* event) {
            return tapEventCallback2(t, type, event);
        },
        &error);
    if (!tap) {
        started.set_value(error.isEmpty() ? QStringLiteral("the media key grab failed") : error);
        return;
    }
    tap->setEnabledObserver([this](bool enabled) { tapEnabled = enabled; });
    tapEnabled = tap->isEnabled();
    eventPort = tap.get();
    TapRunLoop* loop = runLoop.get();
    tapThreadRL = loop;
    started.set_value(QString());

    loop->run(tap.get());

    eventPort = nullptr;
    tap.reset();
    tapEnabled = false;
    self.reset(); // the joining thread holds the tap as well, so this is never the last
}

void SPMediaKeyTap::stopWatchingMediaKeys() {
    if (tapThread.joinable() && tapThread.get_id() == std::this_thread::get_id()) {
        logLine(QStringLiteral("Media key tap cannot be stopped from its own thread"));
        return;
    }
    if (TapRunLoop* loop = tapThreadRL.load()) {
        loop->stop();
    }
    if (tapThread.joinable()) {
        tapThread.join();
    }
    tapThreadRL = nullptr;
    runLoop.reset();
}

void SPMediaKeyTap::startWatchingAppSwitching() {
    if (appWatch) {
        return;
    }
    QString problem = x11SessionProblem();
    if (problem.isEmpty()) {
        appWatch = ApplicationWatch::create(qgetenv("DISPLAY"), QString::fromLatin1(kApplicationId),
                                            &problem);
    }
    if (!appWatch) {
        logOnce(
            QStringLiteral("Media key tap cannot watch application switching: %1").arg(problem));
        return;
    }
    appWatch->frontSwitched = [this](const ApplicationWatch::Application& app) {
        appIsNowFrontmost(app.process, app.bundleIdentifier);
    };
    appWatch->terminated = [this](ProcessSerialNumber process) { appTerminated(process); };
}

void SPMediaKeyTap::stopWatchingAppSwitching() {
    appWatch.reset();
}

bool SPMediaKeyTap::shouldInterceptMediaKeyEvents() const {
    std::lock_guard lock(interceptMutex);
    return shouldIntercept;
}

void SPMediaKeyTap::setShouldInterceptMediaKeyEvents(bool value) {
    bool oldValue = false;
    {
        std::lock_guard lock(interceptMutex);
        oldValue = shouldIntercept;
        shouldIntercept = value;
    }
    TapRunLoop* loop = tapThreadRL.load();
    if (MediaKeyTapPolicy::schedulesTapChange(oldValue, value, loop != nullptr)) {
        std::shared_ptr<SPInvocation> call =
            grab(shared_from_this()).send(&SPMediaKeyTap::pauseTapOnTapThread, value)->invocation();
        loop->addTimer([call] { call->invoke(); });
    }
}

void SPMediaKeyTap::pauseTapOnTapThread(bool enable) {
    if (eventPort) {
        eventPort->setEnabled(enable);
    }
}

void SPMediaKeyTap::simulateTapDisabledForTesting(std::uint32_t type) {
    if (TapRunLoop* loop = tapThreadRL.load()) {
        loop->addTimer([self = shared_from_this(), type] {
            if (self->eventPort) {
                self->eventPort->disableWithNotice(type);
            }
        });
    }
}

TapVerdict SPMediaKeyTap::tapEventCallback2(X11MediaKeyGrab& tap, std::uint32_t type,
                                            const TapKeyEvent* event) {
    if (type == kTapDisabledByTimeout) {
        logLine(QStringLiteral("Media key event tap was disabled by timeout"));
        tap.setEnabled(true);
        return TapVerdict::Pass;
    }
    if (type == kTapDisabledByUserInput || !event) {
        return TapVerdict::Pass;
    }
    QString error;
    const std::optional<MediaKeyEvent> keyEvent = tap.mediaKeyEventFor(*event, &error);
    if (!keyEvent) {
        logLine(
            QStringLiteral("Strange CGEventType: %1: %2").arg(static_cast<int>(type)).arg(error));
        return TapVerdict::Pass;
    }
    if (type != static_cast<std::uint32_t>(kSystemDefinedEventType) ||
        keyEvent->subtype != kMediaKeyEventSubtype) {
        return TapVerdict::Pass;
    }
    if (!isTappedMediaKeyCode(keyEvent->keyCode())) {
        return TapVerdict::Pass;
    }
    if (!shouldInterceptMediaKeyEvents()) {
        return TapVerdict::Pass;
    }
    dispatchMain([weak = weak_from_this(), e = *keyEvent] {
        if (std::shared_ptr<SPMediaKeyTap> self = weak.lock()) {
            self->handleAndReleaseMediaKeyEvent(e);
        }
    });
    return TapVerdict::Drop;
}

void SPMediaKeyTap::handleAndReleaseMediaKeyEvent(const MediaKeyEvent& event) {
    if (tapDelegate) {
        tapDelegate->mediaKeyTapReceivedMediaKeyEvent(this, event);
    }
}

void SPMediaKeyTap::appIsNowFrontmost(ProcessSerialNumber process,
                                      const QString& bundleIdentifier) {
    const QStringList mediaApplications =
        AppDelegate::getObjectWithKey(kMediaKeyUsingBundleIdentifiersDefaultsKey).toStringList();
    if (const std::optional<bool> value =
            policy.appIsNowFrontmost(process, bundleIdentifier, mediaApplications)) {
        setShouldInterceptMediaKeyEvents(*value);
    }
}

void SPMediaKeyTap::appTerminated(ProcessSerialNumber process) {
    if (const std::optional<bool> value = policy.appTerminated(process)) {
        setShouldInterceptMediaKeyEvents(*value);
    }
}

void SPMediaKeyTap::mediaKeyAppListChanged() {
    if (const std::optional<bool> value = policy.mediaKeyAppListChanged()) {
        setShouldInterceptMediaKeyEvents(*value);
    }
}

bool SPMediaKeyTap::usesGlobalMediaKeyTap() {
    if (AppDelegate::getObjectWithKey(kIgnoreMediaKeysDefaultsKey).toBool()) {
        return false;
    }
    return x11SessionProblem().isEmpty() && !tapRefused.load() && x11DisplayReachable();
}

QStringList SPMediaKeyTap::defaultMediaKeyUserBundleIdentifiers() {
    return {QString::fromLatin1(kApplicationId),
            QStringLiteral("com.spotify.client"),
            QStringLiteral("com.apple.iTunes"),
            QStringLiteral("com.apple.QuickTimePlayerX"),
            QStringLiteral("com.apple.quicktimeplayer"),
            QStringLiteral("com.apple.iWork.Keynote"),
            QStringLiteral("com.apple.iPhoto"),
            QStringLiteral("org.videolan.vlc"),
            QStringLiteral("com.apple.Aperture"),
            QStringLiteral("com.plexsquared.Plex"),
            QStringLiteral("com.soundcloud.desktop"),
            QStringLiteral("org.niltsh.MPlayerX"),
            QStringLiteral("com.ilabs.PandorasHelper"),
            QStringLiteral("com.mahasoftware.pandabar"),
            QStringLiteral("com.bitcartel.pandorajam"),
            QStringLiteral("org.clementine-player.clementine"),
            QStringLiteral("fm.last.Last.fm"),
            QStringLiteral("com.beatport.BeatportPro"),
            QStringLiteral("com.Timenut.SongKey"),
            QStringLiteral("com.macromedia.fireworks")};
}

void SPMediaKeyTap::registerDefaultMediaKeyUserBundleIdentifiers() {
    SettingsStore::standard().registerDefaults(
        {{kMediaKeyUsingBundleIdentifiersDefaultsKey, defaultMediaKeyUserBundleIdentifiers()}});
}

} // namespace sondrel
