// The song notification against a notification server that the test puts on a private
// session bus (a second connection of this process, so every call crosses the bus).

#include "WindowFixture.h"
#include "platform/Log.h"
#include "window/DesktopNotifier.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QElapsedTimer>
#include <QMap>

namespace sondrel::test {
namespace {

// A notification server: keeps the notifications on "screen" by id, as a desktop does.
class FakeNotificationServer : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    struct Shown {
        QString appName;
        QString summary;
        QString body;
        int timeout = 0;
    };
    QMap<quint32, Shown> onScreen;
    int notifyCalls = 0;
    QStringList capabilities{QStringLiteral("body")};

    explicit FakeNotificationServer(const QString& connectionName)
        : bus(QDBusConnection::connectToBus(QDBusConnection::SessionBus, connectionName)) {}
    ~FakeNotificationServer() override {
        stop();
        QDBusConnection::disconnectFromBus(bus.name());
    }

    bool start() {
        return bus.registerObject(QStringLiteral("/org/freedesktop/Notifications"), this,
                                  QDBusConnection::ExportAllSlots) &&
               bus.registerService(DesktopNotifier::kService);
    }
    void stop() {
        bus.unregisterService(DesktopNotifier::kService);
        bus.unregisterObject(QStringLiteral("/org/freedesktop/Notifications"));
    }

public slots:
    quint32 Notify(const QString& appName, quint32 replacesId, const QString& /*icon*/,
                   const QString& summary, const QString& body, const QStringList& /*actions*/,
                   const QVariantMap& /*hints*/, int timeout) {
        ++notifyCalls;
        quint32 id = replacesId;
        if (id == 0 || !onScreen.contains(id)) {
            id = ++lastId;
        }
        onScreen[id] = Shown{appName, summary, body, timeout};
        return id;
    }
    QStringList GetCapabilities() { return capabilities; }
    void CloseNotification(quint32 id) { onScreen.remove(id); }
    QString GetServerInformation(QString& vendor, QString& version, QString& specVersion) {
        vendor = QStringLiteral("sondrel tests");
        version = QStringLiteral("1");
        specVersion = QStringLiteral("1.2");
        return QStringLiteral("fake");
    }

private:
    QDBusConnection bus;
    quint32 lastId = 0;
};

class Notifications : public WindowFixture {};

TEST_F(Notifications, TwoSongsInARowLeaveOneNotification) {
    FakeNotificationServer server(QStringLiteral("fake-notifications-1"));
    ASSERT_TRUE(server.start());
    clickRowButton(0);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(0); }));
    const QString first = player()->getCurrentPlayingAttributedTitle().text;
    ASSERT_TRUE(waitFor(
        [&] { return !server.onScreen.isEmpty() && server.onScreen.first().body == first; }));
    clickRowButton(3);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(3); }));
    const QString second = player()->getCurrentPlayingAttributedTitle().text;
    ASSERT_NE(first, second);
    ASSERT_TRUE(waitFor([&] {
        return !controller->notifier()->isCallPending() && server.onScreen.first().body == second;
    }));
    EXPECT_EQ(server.onScreen.size(), 1);
    const FakeNotificationServer::Shown shown = server.onScreen.first();
    EXPECT_EQ(shown.summary, QStringLiteral("Sondrel"));
    EXPECT_EQ(shown.appName, QStringLiteral("Sondrel"));
    EXPECT_EQ(shown.body, second);
    EXPECT_GE(server.notifyCalls, 2);
    server.stop();
}

TEST_F(Notifications, NoServerNoWaitNoCrashAndBackWhenItAppears) {
    LogCapture log;
    DesktopNotifier notifier;
    QElapsedTimer clock;
    clock.start();
    notifier.deliver(QStringLiteral("Sondrel"), QStringLiteral("first"));
    notifier.deliver(QStringLiteral("Sondrel"), QStringLiteral("second"));
    // deliver() only queues the call: it returns before the bus could even answer.
    EXPECT_TRUE(notifier.isCallPending());
    ASSERT_TRUE(waitFor([&] { return !notifier.isEnabled(); }));
    notifier.deliver(QStringLiteral("Sondrel"), QStringLiteral("third"));
    EXPECT_FALSE(notifier.isCallPending());
    QStringList offLines;
    for (const QString& line : log.lines()) {
        if (line.startsWith(QStringLiteral("Notifications are off: "))) {
            offLines << line;
        }
    }
    EXPECT_EQ(offLines.size(), 1) << log.lines().join('\n').toStdString();

    // The service appears: notifications are on again.
    FakeNotificationServer server(QStringLiteral("fake-notifications-2"));
    ASSERT_TRUE(server.start());
    ASSERT_TRUE(waitFor([&] { return notifier.isEnabled(); }));
    notifier.deliver(QStringLiteral("Sondrel"), QStringLiteral("fourth"));
    ASSERT_TRUE(waitFor([&] { return server.onScreen.size() == 1; }));
    EXPECT_EQ(server.onScreen.first().body, QStringLiteral("fourth"));
    server.stop();
}

TEST_F(Notifications, ThePlayerPlaysOnWithoutANotificationServer) {
    clickRowButton(1);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(1); }));
    ASSERT_TRUE(waitFor([&] { return !controller->notifier()->isEnabled(); }));
    clickRowButton(2);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(2); }));
    EXPECT_EQ(controller->notification()->informativeText,
              player()->getCurrentPlayingAttributedTitle().text);
}

TEST_F(Notifications, ABodyIsShownLiterallyWhenTheServerReadsMarkup) {
    FakeNotificationServer server(QStringLiteral("fake-notifications-3"));
    server.capabilities << QStringLiteral("body-markup");
    ASSERT_TRUE(server.start());
    DesktopNotifier notifier;
    notifier.deliver(QStringLiteral("Sondrel"), QStringLiteral("Simon & Garfunkel - <Live>"));
    ASSERT_TRUE(waitFor([&] { return server.onScreen.size() == 1; }));
    EXPECT_EQ(server.onScreen.first().body, QStringLiteral("Simon &amp; Garfunkel - &lt;Live&gt;"));
    server.stop();
}

TEST_F(Notifications, ANewestSongWaitsForTheAnswerBeforeReplacing) {
    FakeNotificationServer server(QStringLiteral("fake-notifications-4"));
    ASSERT_TRUE(server.start());
    DesktopNotifier notifier;
    notifier.deliver(QStringLiteral("Sondrel"), QStringLiteral("first"));
    ASSERT_TRUE(waitFor([&] { return !notifier.isCallPending() && server.onScreen.size() == 1; }));
    // Three songs before an answer came back: "a" goes out, "c" replaces it once its id
    // is known, and "b" never goes out.
    notifier.deliver(QStringLiteral("Sondrel"), QStringLiteral("a"));
    notifier.deliver(QStringLiteral("Sondrel"), QStringLiteral("b"));
    notifier.deliver(QStringLiteral("Sondrel"), QStringLiteral("c"));
    ASSERT_TRUE(waitFor([&] {
        return !notifier.isCallPending() && server.onScreen.first().body == QStringLiteral("c");
    }));
    EXPECT_EQ(server.onScreen.size(), 1);
    EXPECT_EQ(server.notifyCalls, 3);
    server.stop();
}

TEST(NotificationsWithoutABus, AreOffWithOneLogLine) {
    LogCapture log;
    const QDBusConnection none = QDBusConnection::connectToBus(
        QStringLiteral("unix:path=/nonexistent/sondrel-no-bus"), QStringLiteral("no-bus"));
    ASSERT_FALSE(none.isConnected());
    DesktopNotifier notifier(none);
    notifier.deliver(QStringLiteral("Sondrel"), QStringLiteral("one"));
    notifier.deliver(QStringLiteral("Sondrel"), QStringLiteral("two"));
    EXPECT_FALSE(notifier.isEnabled());
    EXPECT_FALSE(notifier.isCallPending());
    EXPECT_EQ(log.count(QStringLiteral("Notifications are off: no session bus")), 1);
}

} // namespace
} // namespace sondrel::test

#include "NotificationTest.moc"
