#pragma once
// The song notification on the desktop, through the session bus service
// org.freedesktop.Notifications.
//
// deliver() shows one notification and replaces the one shown before it (Notify with
// the previous notification's id as replaces_id), so at most one song notification is
// on screen. Every bus call is asynchronous with a 3-second time-out: the player never
// waits for the notification service.
//
// A deliver() made while the previous call has not answered yet (its id is not known)
// waits for that answer and then replaces it; only the newest waiting one is sent.
//
// No notification service (no session bus, or nobody owns the name): one log line
// ("Notifications are off: <reason>"), then notifications stay off until the service
// appears on the bus; then they are sent again, starting a fresh notification.
// Texts go out as plain text; when the service reads markup in the body (capability
// "body-markup"), the body is escaped so it shows literally.
//
// Main thread only; the bus answers arrive on the main loop.

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <optional>

class QDBusPendingCallWatcher;
class QDBusServiceWatcher;

namespace sondrel {

class DesktopNotifier : public QObject {
    Q_OBJECT

public:
    static constexpr int kCallTimeoutMs = 3000;
    static inline const QString kService = QStringLiteral("org.freedesktop.Notifications");

    explicit DesktopNotifier(const QDBusConnection& bus = QDBusConnection::sessionBus(),
                             QObject* parent = nullptr);
    ~DesktopNotifier() override;

    // Shows `title` and `body`, replacing the notification shown before. Returns at once.
    void deliver(const QString& title, const QString& body);

    // False while there is no notification service.
    bool isEnabled() const { return enabled; }
    // The id the service gave the notification now shown (0: none).
    quint32 currentId() const { return shownId; }
    // True while a Notify call has not answered.
    bool isCallPending() const { return pending; }

signals:
    // The service answered a Notify call with this id (tests, diagnostics).
    void delivered(quint32 id);
    // A Notify call failed (the reason as the bus gave it).
    void deliveryFailed(const QString& reason);

private:
    struct Message {
        QString title;
        QString body;
    };

    void askCapabilities();
    void send(const Message& message);
    void notifyAnswered(QDBusPendingCallWatcher* call);
    void turnOff(const QString& reason);
    void serviceAppeared();

    // All fields: main thread.
    QDBusConnection connection;
    QDBusServiceWatcher* watcher = nullptr;
    bool enabled = true;
    bool loggedOff = false;
    bool pending = false;           // a Notify call (or the capability question) runs
    std::optional<Message> waiting; // the newest message held back meanwhile
    std::optional<bool> bodyMarkup; // the service's "body-markup" capability
    quint32 shownId = 0;
};

} // namespace sondrel
