#pragma once
// The real main window against the stand-in service on loopback, signed in with the
// service's demo token: the controller is made, the window shown and set up, and the
// own list (the demo library) is on screen when a test starts.

#include "common/StandInService.h"
#include "platform/CustomAVAudioPlayer.h"
#include "platform/Dispatch.h"
#include "playback/PlaybackResume.h"
#include "playback/SongDownloader.h"
#include "playback/SongPlayer.h"
#include "shell/AppDelegate.h"
#include "window/AppController.h"
#include "window/Images.h"
#include "window/ViewTags.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDateTime>
#include <QLabel>
#include <QMainWindow>
#include <QSignalSpy>
#include <QTest>
#include <QThreadPool>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace sondrel::test {

// Generous: the machine may be busy; nothing here measures time.
inline constexpr int kWaitMs = 30000;
// Own-list requests of a signed-in start.
inline constexpr int kStartupListRequests = 2;

inline bool waitFor(const std::function<bool()>& condition, int timeoutMs = kWaitMs) {
    return QTest::qWaitFor(condition, timeoutMs);
}

class WindowFixture : public ::testing::Test {
protected:
    // The shared stand-in service, reset, as the configured service, and the player's
    // process-wide state as at a fresh start.
    void connectFreshService() {
        service = sharedService();
        ASSERT_TRUE(service->isReady()) << service->errorString().toStdString();
        ASSERT_TRUE(service->reset());
        setServiceConfig(service->config());
        AppController::resetProcessWideState();
        SongPlayer::resetProcessWideState();
        SongDownloader::resetProcessWideState();
        CustomAVAudioPlayer::resetPausedFlag();
    }

    void SetUp() override {
        connectFreshService();
        if (HasFatalFailure()) {
            return;
        }

        delegate = std::make_unique<AppDelegate>();
        // Signed in: the demo token, stored just now.
        AppDelegate::saveObjectWithKey(QStringLiteral("demo-token"), QStringLiteral("accessToken"));
        AppDelegate::saveObjectWithKey(QDateTime::currentDateTimeUtc(),
                                       QStringLiteral("accessTokenDate"));
        // No place left off by an earlier test.
        AppDelegate::saveObjectWithKey(QString(), PlaybackResume::kSettingsKey);
        startWindow(QStringLiteral("/method/audio.get"));
    }

    // Makes the controller, shows the window and waits until the start-up list requests
    // (to `listMethod`) have been answered.
    void startWindow(const QString& listMethod) {
        const qsizetype before = service->requestTargets(listMethod).size();
        controller = std::make_unique<AppController>();
        controller->window()->resize(560, 680);
        controller->window()->show();
        controller->window()->activateWindow(); // as main() does
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
        // As on a desktop: the window is active when it becomes main (the sign-in
        // popover opens over it and gives the keyboard back to it when it closes).
        ASSERT_TRUE(QTest::qWaitForWindowActive(controller->window()));
        controller->windowDidBecomeMain();
        // The start-up check asks for the list twice: at once, and again when the
        // stored token has proved usable.
        ASSERT_TRUE(waitFor([&] {
            return service->requestTargets(listMethod).size() == before + kStartupListRequests &&
                   !listLoading() && rowCount() > 0;
        })) << "the start-up list did not arrive";
        // The offscreen platform leaves the closed sign-in popover the active window; a
        // desktop gives the keyboard back to the main window.
        ASSERT_TRUE(waitFor([this] {
            controller->window()->activateWindow();
            return QApplication::activeWindow() == controller->window();
        }));
    }

    void TearDown() override {
        controller.reset();
        delegate.reset();
        // Background jobs of this test end before the next test's service starts.
        backgroundPool().waitForDone(kWaitMs);
        QCoreApplication::processEvents();
    }

    // One service for the whole test process: every service makes its own self-signed
    // certificate with the same name, and a process that trusts two of them cannot tell
    // which one a connection shows. Tests start from its reset state.
    static StandInService* sharedService() {
        static StandInService* shared = [] {
            auto* made = new StandInService();
            if (made->isReady()) {
                made->trustCertificate();
            }
            qAddPostRoutine([] { delete shared; });
            return made;
        }();
        return shared;
    }

    SongPlayer* player() const { return SongPlayer::sharedInstance(); }
    SongTableView* table() const { return controller->songsTableView(); }
    std::int64_t rowCount() const { return table()->numberOfRows(); }
    bool listLoading() const { return controller->listRequestsRunning() > 0; }

    // Runs `action` and waits until the list request it starts has been answered.
    void waitForListAfter(const std::function<void()>& action) {
        QSignalSpy finished(controller.get(), &AppController::listRequestFinished);
        action();
        ASSERT_TRUE(waitFor([&] { return finished.count() > 0; })) << "no list answer";
    }

    QWidget* rowView(std::int64_t row) const { return table()->rowViewAtRow(row, false); }
    QAbstractButton* rowButton(std::int64_t row) const {
        return viewWithTag<QAbstractButton>(rowView(row), kSongCellButtonTag);
    }
    QLabel* rowTitle(std::int64_t row) const {
        return viewWithTag<QLabel>(rowView(row), kSongCellTitleTag);
    }
    QLabel* rowTime(std::int64_t row) const {
        return viewWithTag<QLabel>(rowView(row), kSongCellTimeTag);
    }
    bool rowMarked(std::int64_t row) const {
        QWidget* highlight = viewWithTag(rowView(row), kSongCellHighlightTag);
        return highlight != nullptr && highlight->isVisible();
    }
    // The colour the label draws its text in.
    static QColor textColour(const QLabel* label) {
        return label->palette().color(label->foregroundRole());
    }

    void clickRowButton(std::int64_t row) {
        QAbstractButton* button = rowButton(row);
        ASSERT_NE(button, nullptr) << "row " << row << " is not on screen";
        QTest::mouseClick(button, Qt::LeftButton);
    }

    bool isPlayingSong(std::uint64_t number) const {
        return player()->isPlaying() && player()->getCurrentSongNumber() == number;
    }

    StandInService* service = nullptr;
    std::unique_ptr<AppDelegate> delegate;
    std::unique_ptr<AppController> controller;
};

} // namespace sondrel::test
