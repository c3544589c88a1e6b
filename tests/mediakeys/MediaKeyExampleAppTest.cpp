// The application object forwards media keys that reach the player's window while the
// global tap is not in use, once per key event, and still delivers every event.

#include "mediakeys/MediaKeyExampleApp.h"

#include "TestSupport.h"
#include "shell/AppDelegate.h"

#include <QKeyEvent>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>

using namespace sondrel;

namespace {

class KeyRecorder : public QWidget {
public:
    QList<int> keysSeen;

protected:
    void keyPressEvent(QKeyEvent* event) override { keysSeen << event->key(); }
};

} // namespace

TEST(MediaKeyExampleApp, ForwardsMediaKeysReachingTheWindowWhenTheTapIsOff) {
    auto* app = qobject_cast<MediaKeyExampleApp*>(QCoreApplication::instance());
    ASSERT_NE(app, nullptr);
    test::FakePlayer player;
    app->setMediaKeyDelegate(&player);
    AppDelegate::saveObjectWithKey(true, QStringLiteral("SPIgnoreMediaKeys"));

    KeyRecorder window;
    window.show();
    window.setFocus();
    QWindow* handle = window.windowHandle();
    ASSERT_NE(handle, nullptr);

    QTest::keyClick(handle, Qt::Key_MediaPlay);
    QTest::keyClick(handle, Qt::Key_MediaNext);
    QTest::keyPress(handle, Qt::Key_MediaPrevious);
    QTest::keyClick(handle, Qt::Key_A);

    ASSERT_EQ(player.keyEvents.size(), 5U);
    EXPECT_EQ(player.keyEvents[0], MediaKeyEvent::make(NX_KEYTYPE_PLAY, true));
    EXPECT_EQ(player.keyEvents[1], MediaKeyEvent::make(NX_KEYTYPE_PLAY, false));
    EXPECT_EQ(player.keyEvents[2], MediaKeyEvent::make(NX_KEYTYPE_FAST, true));
    EXPECT_EQ(player.keyEvents[3], MediaKeyEvent::make(NX_KEYTYPE_FAST, false));
    EXPECT_EQ(player.keyEvents[4], MediaKeyEvent::make(NX_KEYTYPE_REWIND, true));
    for (bool hadTap : player.keyEventsHadTap) {
        EXPECT_FALSE(hadTap) << "forwarded keys come with a null tap";
    }
    EXPECT_EQ(player.calls, (QStringList{"playPause", "next", "previous"}));
    // The events still reach the window as the base class delivers them.
    EXPECT_EQ(window.keysSeen,
              (QList<int>{Qt::Key_MediaPlay, Qt::Key_MediaNext, Qt::Key_MediaPrevious, Qt::Key_A}));
    app->setMediaKeyDelegate(nullptr);
}

TEST(MediaKeyExampleApp, AutoRepeatOfAHeldKeyCarriesTheRepeatBit) {
    QKeyEvent repeat(QEvent::KeyPress, Qt::Key_MediaNext, Qt::NoModifier, QString(), true);
    const std::optional<MediaKeyEvent> event =
        MediaKeyExampleApp::mediaKeyEventFromKeyEvent(repeat);
    ASSERT_TRUE(event);
    EXPECT_EQ(*event, MediaKeyEvent::make(NX_KEYTYPE_FAST, true, true));

    QKeyEvent plain(QEvent::KeyPress, Qt::Key_Space, Qt::NoModifier);
    EXPECT_FALSE(MediaKeyExampleApp::mediaKeyEventFromKeyEvent(plain));
}
