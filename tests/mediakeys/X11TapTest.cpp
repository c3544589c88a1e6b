// The media key tap on a real X server (Xvfb) with a window manager (openbox): keys
// pressed with xdotool, other applications played by xterms whose translations write
// every media key press and release they receive into a file.

#include "TestSupport.h"
#include "mediakeys/MediaKeyExampleApp.h"
#include "mediakeys/MprisService.h"
#include "mediakeys/SPMediaKeyTap.h"
#include "mediakeys/X11MediaKeyGrab.h"
#include "mediakeys/X11Support.h"
#include "platform/Log.h"
#include "shell/AppDelegate.h"

#include <QDir>
#include <QFile>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QThread>
#include <QWidget>
#include <gtest/gtest.h>
#include <unistd.h>

using namespace sondrel;
using test::ChildProgram;
using test::FakePlayer;
using test::waitUntil;

namespace {

// xterm translations: each media key press and release is typed as a word and a newline.
const QString kTranslations =
    QStringLiteral("*VT100.translations: #override \\n"
                   "<KeyPress>XF86AudioPlay: string(\"PLAY-DOWN\") string(0x0a)\\n"
                   "<KeyRelease>XF86AudioPlay: string(\"PLAY-UP\") string(0x0a)\\n"
                   "<KeyPress>XF86AudioForward: string(\"FORWARD-DOWN\") string(0x0a)\\n"
                   "<KeyRelease>XF86AudioForward: string(\"FORWARD-UP\") string(0x0a)");

// A stand-in application: an xterm of window class `windowClass` that writes what it is
// typed into a file.
struct Terminal {
    ChildProgram program;
    QString outputPath;
    QString window;

    QString output() const {
        QFile file(outputPath);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    }
};

class X11Tap : public testing::Test {
protected:
    void SetUp() override {
        for (const char* program : {"Xvfb", "openbox", "xdotool", "xterm"}) {
            if (!test::haveProgram(QString::fromLatin1(program))) {
                GTEST_SKIP() << program << " is not installed";
            }
        }
        ASSERT_TRUE(xvfb.start(QStringLiteral("Xvfb"),
                               {QStringLiteral("-displayfd"), QStringLiteral("1"),
                                QStringLiteral("-screen"), QStringLiteral("0"),
                                QStringLiteral("1024x768x24"), QStringLiteral("-nolisten"),
                                QStringLiteral("tcp"), QStringLiteral("-noreset")}));
        const QString number = xvfb.readLine();
        ASSERT_FALSE(number.isEmpty()) << "Xvfb did not report its display";
        display = QStringLiteral(":") + number;
        qputenv("DISPLAY", display.toLocal8Bit());
        qunsetenv("XDG_SESSION_TYPE");

        // openbox runs its startup command once it manages the screen.
        ASSERT_TRUE(windowManager.start(
            QStringLiteral("openbox"), {QStringLiteral("--sm-disable"), QStringLiteral("--startup"),
                                        QStringLiteral("echo openbox-ready")}));
        ASSERT_TRUE(waitUntil([&] {
                        while (windowManager.get().canReadLine()) {
                            if (windowManager.get().readLine().trimmed() == "openbox-ready") {
                                return true;
                            }
                        }
                        return windowManager.get().state() == QProcess::NotRunning;
                    }) &&
                    windowManager.get().state() == QProcess::Running)
            << "openbox did not start";
        x = x11::Connection::open(display.toLocal8Bit(), nullptr);
        ASSERT_TRUE(x);

        SPMediaKeyTap::registerDefaultMediaKeyUserBundleIdentifiers();
        AppDelegate::saveObjectWithKey(false, QStringLiteral("SPIgnoreMediaKeys"));
        ASSERT_TRUE(files.isValid());
    }

    void TearDown() override {
        if (tap) {
            tap->stopWatchingMediaKeys();
            tap.reset();
        }
        terminals.clear();
        x.reset();
        windowManager.stop();
        xvfb.stop();
    }

    void startTap() {
        tap = SPMediaKeyTap::create(&player);
        tap->startWatchingMediaKeys();
        ASSERT_TRUE(tap->isWatchingMediaKeys());
        ASSERT_TRUE(tap->isTapEnabled());
    }

    QString tool(const QStringList& arguments) {
        int exitCode = 0;
        const QString out = test::runProgram(QStringLiteral("xdotool"), arguments, &exitCode);
        EXPECT_EQ(exitCode, 0) << "xdotool " << arguments.join(u' ').toStdString();
        return out;
    }

    Terminal& startTerminal(const QString& windowClass) {
        auto terminal = std::make_unique<Terminal>();
        terminal->outputPath = QDir(files.path()).filePath(windowClass + QStringLiteral(".out"));
        EXPECT_TRUE(terminal->program.start(
            QStringLiteral("xterm"),
            {QStringLiteral("-class"), windowClass, QStringLiteral("-xrm"), kTranslations,
             QStringLiteral("-e"), QStringLiteral("sh"), QStringLiteral("-c"),
             QStringLiteral("exec cat > \"$0\""), terminal->outputPath}));
        terminal->window =
            tool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--class"),
                  QStringLiteral("^%1$").arg(windowClass)})
                .section(u'\n', 0, 0);
        EXPECT_FALSE(terminal->window.isEmpty());
        activate(terminal->window);
        terminals.push_back(std::move(terminal));
        return *terminals.back();
    }

    void activate(const QString& window) {
        tool({QStringLiteral("windowactivate"), QStringLiteral("--sync"), window});
        const xcb_atom_t active = x->atom("_NET_ACTIVE_WINDOW");
        ASSERT_TRUE(waitUntil([&] {
            return x11::windowCardinal(*x, x->root(), active) == window.toUInt();
        })) << "window "
            << window.toStdString() << " did not come to the front";
    }

    void press(const char* keysym) { tool({QStringLiteral("key"), QString::fromLatin1(keysym)}); }

    // Types a marker into the front terminal and waits until it has arrived, so every key
    // sent before it has been delivered (or not) by then.
    void syncWith(const Terminal& terminal) {
        const QString marker = QStringLiteral("sync%1").arg(++syncCount);
        tool({QStringLiteral("type"), QStringLiteral("--delay"), QStringLiteral("1"), marker});
        press("Return");
        ASSERT_TRUE(waitUntil([&] { return terminal.output().contains(marker); }))
            << terminal.output().toStdString();
    }

    // A window of this process, as the player's main window would be.
    QString createOwnWindow() {
        const xcb_window_t window = xcb_generate_id(x->get());
        xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(x->get())).data;
        xcb_create_window(x->get(), XCB_COPY_FROM_PARENT, window, x->root(), 10, 10, 200, 100, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const char wmClass[] = "sondrel\0Sondrel";
        xcb_change_property(x->get(), XCB_PROP_MODE_REPLACE, window, XCB_ATOM_WM_CLASS,
                            XCB_ATOM_STRING, 8, sizeof wmClass, wmClass);
        const std::uint32_t pid = static_cast<std::uint32_t>(getpid());
        xcb_change_property(x->get(), XCB_PROP_MODE_REPLACE, window, x->atom("_NET_WM_PID"),
                            XCB_ATOM_CARDINAL, 32, 1, &pid);
        xcb_map_window(x->get(), window);
        xcb_flush(x->get());
        const QString id = QString::number(window);
        tool({QStringLiteral("search"), QStringLiteral("--sync"), QStringLiteral("--class"),
              QStringLiteral("^Sondrel$")});
        activate(id);
        return id;
    }

    ChildProgram xvfb;
    ChildProgram windowManager;
    QString display;
    std::unique_ptr<x11::Connection> x;
    QTemporaryDir files;
    std::vector<std::unique_ptr<Terminal>> terminals;
    FakePlayer player;
    std::shared_ptr<SPMediaKeyTap> tap;
    int syncCount = 0;
};

} // namespace

TEST_F(X11Tap, PlayKeyToggleThePlayerAndTheAppInFrontSeesNeitherPressNorRelease) {
    startTap();
    Terminal& other = startTerminal(QStringLiteral("Otherapp"));
    ASSERT_TRUE(tap->mediaKeyAppList().isEmpty()) << "an unlisted app changes nothing";

    press("XF86AudioPlay");
    ASSERT_TRUE(waitUntil([&] { return player.keyEvents.size() == 2; }));
    EXPECT_EQ(player.keyEvents[0], MediaKeyEvent::make(NX_KEYTYPE_PLAY, true));
    EXPECT_EQ(player.keyEvents[1], MediaKeyEvent::make(NX_KEYTYPE_PLAY, false));
    EXPECT_TRUE(player.keyEventsHadTap[0]);
    EXPECT_EQ(player.calls, QStringList{QStringLiteral("playPause")});
    EXPECT_EQ(player.state.status, PlaybackStatus::Playing);

    // The forward key is taken too, though the player does nothing with it.
    press("XF86AudioForward");
    ASSERT_TRUE(waitUntil([&] { return player.keyEvents.size() == 4; }));
    EXPECT_EQ(player.keyEvents[2], MediaKeyEvent::make(NX_KEYTYPE_NEXT, true));
    EXPECT_EQ(player.calls, QStringList{QStringLiteral("playPause")});

    syncWith(other);
    EXPECT_FALSE(other.output().contains(QStringLiteral("PLAY"))) << other.output().toStdString();
    EXPECT_FALSE(other.output().contains(QStringLiteral("FORWARD")))
        << other.output().toStdString();

    // Once the tap is stopped the keys go to the application in front again.
    tap->stopWatchingMediaKeys();
    EXPECT_FALSE(tap->isWatchingMediaKeys());
    press("XF86AudioPlay");
    syncWith(other);
    EXPECT_TRUE(other.output().contains(QStringLiteral("PLAY-DOWN\nPLAY-UP\n")));
    EXPECT_EQ(player.keyEvents.size(), 4U);
}

TEST_F(X11Tap, ListedMediaAppInFrontGetsTheKeysUntilItQuits) {
    startTap();
    createOwnWindow();
    const ProcessSerialNumber self = ProcessSerialNumber::current();
    ASSERT_TRUE(waitUntil([&] { return tap->mediaKeyAppList() == QList{self}; }));
    EXPECT_TRUE(tap->isTapEnabled());

    Terminal& vlc = startTerminal(QStringLiteral("vlc"));
    const ProcessSerialNumber vlcProcess =
        ProcessSerialNumber::forPid(static_cast<pid_t>(vlc.program.pid()));
    ASSERT_TRUE(waitUntil([&] { return tap->mediaKeyAppList() == (QList{vlcProcess, self}); }));
    EXPECT_FALSE(tap->shouldInterceptMediaKeyEvents());
    ASSERT_TRUE(waitUntil([&] { return !tap->isTapEnabled(); })) << "the tap thread drops the grab";

    press("XF86AudioPlay");
    ASSERT_TRUE(waitUntil([&] {
        return vlc.output().contains(QStringLiteral("PLAY-DOWN\nPLAY-UP\n"));
    })) << vlc.output().toStdString();
    syncWith(vlc);
    EXPECT_TRUE(player.keyEvents.empty());

    vlc.program.stop();
    ASSERT_TRUE(waitUntil([&] { return tap->mediaKeyAppList() == QList{self}; }));
    EXPECT_TRUE(tap->shouldInterceptMediaKeyEvents());
    ASSERT_TRUE(waitUntil([&] { return tap->isTapEnabled(); }));

    press("XF86AudioPlay");
    ASSERT_TRUE(waitUntil([&] { return player.calls.size() == 1; }));
    EXPECT_EQ(player.calls, QStringList{QStringLiteral("playPause")});
}

TEST_F(X11Tap, TimeoutNoticeReEnablesTheTap) {
    startTap();
    Terminal& other = startTerminal(QStringLiteral("Otherapp"));
    LogCapture log;
    tap->simulateTapDisabledForTesting(kTapDisabledByTimeout);
    ASSERT_TRUE(waitUntil([&] {
        return log.contains(QStringLiteral("Media key event tap was disabled by timeout"));
    }));
    ASSERT_TRUE(waitUntil([&] { return tap->isTapEnabled(); }));

    press("XF86AudioPlay");
    ASSERT_TRUE(waitUntil([&] { return player.calls.size() == 1; }));
    syncWith(other);
    EXPECT_FALSE(other.output().contains(QStringLiteral("PLAY")));
}

TEST_F(X11Tap, KeysLetThroughReachTheAppInFrontUnchanged) {
    startTap();
    Terminal& other = startTerminal(QStringLiteral("Otherapp"));
    tap->setShouldInterceptMediaKeyEvents(false);
    ASSERT_TRUE(waitUntil([&] { return !tap->isTapEnabled(); }));
    // The timeout notice enables the tap whatever the switch says; with the switch off the
    // tap lets each key through to the application in front.
    tap->simulateTapDisabledForTesting(kTapDisabledByTimeout);
    ASSERT_TRUE(waitUntil([&] { return tap->isTapEnabled(); }));

    press("XF86AudioPlay");
    ASSERT_TRUE(waitUntil([&] {
        return other.output().contains(QStringLiteral("PLAY-DOWN\nPLAY-UP\n"));
    })) << other.output().toStdString();
    EXPECT_TRUE(player.keyEvents.empty());
}

TEST_F(X11Tap, UserInputNoticeLeavesTheTapOffUntilTheSwitchChanges) {
    startTap();
    Terminal& other = startTerminal(QStringLiteral("Otherapp"));
    tap->simulateTapDisabledForTesting(kTapDisabledByUserInput);
    ASSERT_TRUE(waitUntil([&] { return !tap->isTapEnabled(); }));

    press("XF86AudioPlay");
    ASSERT_TRUE(waitUntil([&] { return other.output().contains(QStringLiteral("PLAY-DOWN")); }));
    EXPECT_TRUE(player.keyEvents.empty());

    // Setting the switch to the value it has schedules nothing; a real change does.
    tap->setShouldInterceptMediaKeyEvents(true);
    syncWith(other);
    EXPECT_FALSE(tap->isTapEnabled());
    tap->setShouldInterceptMediaKeyEvents(false);
    tap->setShouldInterceptMediaKeyEvents(true);
    ASSERT_TRUE(waitUntil([&] { return tap->isTapEnabled(); }));
    press("XF86AudioPlay");
    ASSERT_TRUE(waitUntil([&] { return player.calls.size() == 1; }));
}

TEST_F(X11Tap, AnotherClientHoldingTheKeysMeansNoTapButMprisStillWorks) {
    if (test::privateBusMissing() || !test::haveProgram(QStringLiteral("playerctl"))) {
        GTEST_SKIP() << "dbus-run-session or playerctl is not installed";
    }
    ChildProgram holder;
    ASSERT_TRUE(holder.start(QCoreApplication::applicationFilePath(),
                             {QStringLiteral("--hold-media-keys")}));
    ASSERT_EQ(holder.readLine(), QStringLiteral("holding"));

    LogCapture log;
    tap = SPMediaKeyTap::create(&player);
    tap->startWatchingMediaKeys();
    EXPECT_FALSE(tap->isWatchingMediaKeys()) << "no tap thread without a grab";
    EXPECT_FALSE(tap->isTapEnabled());
    EXPECT_TRUE(
        log.contains(QStringLiteral("Media key tap unavailable: another client holds the "
                                    "media keys; media keys reach the player through MPRIS")));
    EXPECT_FALSE(SPMediaKeyTap::usesGlobalMediaKeyTap());

    MprisService mpris(&player);
    ASSERT_TRUE(mpris.registerOnBus());
    test::runProgram(QStringLiteral("playerctl"),
                     {QStringLiteral("--player=sondrel"), QStringLiteral("play-pause")});
    EXPECT_EQ(player.calls, QStringList{QStringLiteral("playPause")});

    // Once the other client lets go, a new start takes the keys.
    holder.stop();
    tap->startWatchingMediaKeys();
    EXPECT_TRUE(tap->isWatchingMediaKeys());
    EXPECT_TRUE(SPMediaKeyTap::usesGlobalMediaKeyTap());
}

TEST_F(X11Tap, TheApplicationObjectForwardsNothingWhileTheGlobalTapIsUsed) {
    auto* app = qobject_cast<MediaKeyExampleApp*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    app->setMediaKeyDelegate(&player);
    startTap();
    ASSERT_TRUE(SPMediaKeyTap::usesGlobalMediaKeyTap());

    QWidget window;
    window.show();
    QTest::keyClick(window.windowHandle(), Qt::Key_MediaPlay);
    EXPECT_TRUE(player.keyEvents.empty()) << "a key must never be handled twice";

    AppDelegate::saveObjectWithKey(true, QStringLiteral("SPIgnoreMediaKeys"));
    EXPECT_FALSE(SPMediaKeyTap::usesGlobalMediaKeyTap());
    QTest::keyClick(window.windowHandle(), Qt::Key_MediaPlay);
    EXPECT_EQ(player.keyEvents.size(), 2U);
    app->setMediaKeyDelegate(nullptr);
    AppDelegate::saveObjectWithKey(false, QStringLiteral("SPIgnoreMediaKeys"));
}

TEST_F(X11Tap, HeldNextKeySkipsOncePerRepeatAndItsReleaseDoesNothing) {
    startTap();
    startTerminal(QStringLiteral("Otherapp"));
    tool({QStringLiteral("keydown"), QStringLiteral("XF86AudioNext")});
    // The server repeats the held key; each repeat arrives as another press.
    const bool repeated = waitUntil([&] { return player.calls.size() >= 3; });
    tool({QStringLiteral("keyup"), QStringLiteral("XF86AudioNext")});
    ASSERT_TRUE(repeated) << "the X server did not repeat the held key";
    ASSERT_TRUE(waitUntil([&] { return !player.keyEvents.back().isPressed(); }));

    const MediaKeyEvent& first = player.keyEvents.front();
    EXPECT_EQ(first, MediaKeyEvent::make(NX_KEYTYPE_FAST, true));
    int repeats = 0;
    for (std::size_t i = 1; i + 1 < player.keyEvents.size(); ++i) {
        EXPECT_EQ(player.keyEvents[i], MediaKeyEvent::make(NX_KEYTYPE_FAST, true, true)) << i;
        ++repeats;
    }
    EXPECT_EQ(player.keyEvents.back(), MediaKeyEvent::make(NX_KEYTYPE_FAST, false));
    EXPECT_EQ(player.calls, QStringList(repeats + 1, QStringLiteral("next")));
}

TEST_F(X11Tap, SlowCallbackSwitchesTheGrabOffWithTheTimeoutNotice) {
    startTerminal(QStringLiteral("Otherapp"));
    std::vector<std::uint32_t> seen;
    QString error;
    std::unique_ptr<X11MediaKeyGrab> grab = X11MediaKeyGrab::create(
        display.toLocal8Bit(),
        [&](X11MediaKeyGrab& tap, std::uint32_t type, const TapKeyEvent* event) {
            seen.push_back(type);
            if (event && seen.size() == 1) {
                // Longer than the desktop allows a callback to hold the keyboard.
                QThread::msleep(X11MediaKeyGrab::kCallbackTimeout.count() + 500);
            }
            if (type == kTapDisabledByTimeout) {
                EXPECT_FALSE(tap.isEnabled());
            }
            return TapVerdict::Drop;
        },
        &error);
    ASSERT_TRUE(grab) << error.toStdString();

    press("XF86AudioPlay");
    ASSERT_TRUE(waitUntil([&] {
        grab->dispatchEvents();
        return seen.size() >= 2;
    }));
    EXPECT_EQ(seen[0], 14U);
    EXPECT_EQ(seen[1], kTapDisabledByTimeout);
    EXPECT_FALSE(grab->isEnabled());
}

TEST_F(X11Tap, KeyboardMapChangesKeepTheKeysTaken) {
    startTap();
    Terminal& other = startTerminal(QStringLiteral("Otherapp"));
    // xdotool binds a character missing from the keyboard map to a spare keycode and
    // back again: keyboard map changes, after each of which the tap grabs the keys anew.
    tool({QStringLiteral("type"), QString(QChar(0x0298))});
    press("XF86AudioPlay");
    ASSERT_TRUE(waitUntil([&] { return player.calls.size() == 1; }));
    syncWith(other);
    EXPECT_FALSE(other.output().contains(QStringLiteral("PLAY")));
    EXPECT_TRUE(tap->isTapEnabled());
}
