#include "window/DesktopNotifier.h"

#include "platform/AppPaths.h"
#include "platform/Log.h"

#include <QCoreApplication>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>
#include <QDBusServiceWatcher>
#include <QVariantMap>

namespace sondrel {
namespace {

const QString kPath = QStringLiteral("/org/freedesktop/Notifications");

QDBusMessage call(const QString& method) {
    return QDBusMessage::createMethodCall(DesktopNotifier::kService, kPath,
                                          DesktopNotifier::kService, method);
}

// Errors that mean nobody serves notifications (as opposed to one refused call).
bool meansNoService(QDBusError::ErrorType type) {
    switch (type) {
    case QDBusError::ServiceUnknown:
    case QDBusError::NoReply:
    case QDBusError::Timeout:
    case QDBusError::TimedOut:
    case QDBusError::Disconnected:
    case QDBusError::NoServer:
    case QDBusError::NoNetwork:
        return true;
    default:
        return false;
    }
}

} // namespace

DesktopNotifier::DesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), connection(bus) {
    if (connection.isConnected()) {
        watcher = new QDBusServiceWatcher(kService, connection,
                                          QDBusServiceWatcher::WatchForRegistration, this);
        connect(watcher, &QDBusServiceWatcher::serviceRegistered, this,
                &DesktopNotifier::serviceAppeared);
    }
}

DesktopNotifier::~DesktopNotifier() = default;

void DesktopNotifier::deliver(const QString& title, const QString& body) {
    if (!connection.isConnected()) {
        turnOff(QStringLiteral("no session bus"));
        return;
    }
    if (!enabled) {
        return;
    }
    const Message message{title, body};
    if (pending) {
        waiting = message;
        return;
    }
    if (!bodyMarkup.has_value()) {
        waiting = message;
        askCapabilities();
        return;
    }
    send(message);
}

void DesktopNotifier::askCapabilities() {
    pending = true;
    auto* watch = new QDBusPendingCallWatcher(
        connection.asyncCall(call(QStringLiteral("GetCapabilities")), kCallTimeoutMs), this);
    connect(watch, &QDBusPendingCallWatcher::finished, this, [this](QDBusPendingCallWatcher* w) {
        w->deleteLater();
        pending = false;
        const QDBusPendingReply<QStringList> reply = *w;
        if (reply.isError()) {
            if (meansNoService(reply.error().type())) {
                turnOff(reply.error().message());
                return;
            }
            bodyMarkup = false; // a service that cannot say gets plain text
        } else {
            bodyMarkup = reply.value().contains(QStringLiteral("body-markup"));
        }
        if (waiting && enabled) {
            const Message next = *waiting;
            waiting.reset();
            send(next);
        }
    });
}

void DesktopNotifier::send(const Message& message) {
    QDBusMessage notify = call(QStringLiteral("Notify"));
    const QVariantMap hints{
        {QStringLiteral("desktop-entry"), QString::fromLatin1(kApplicationId)},
    };
    notify << QCoreApplication::applicationName() << shownId << QString() << message.title
           << (bodyMarkup.value_or(false) ? message.body.toHtmlEscaped() : message.body)
           << QStringList() << hints << -1;
    pending = true;
    auto* watch = new QDBusPendingCallWatcher(connection.asyncCall(notify, kCallTimeoutMs), this);
    connect(watch, &QDBusPendingCallWatcher::finished, this, &DesktopNotifier::notifyAnswered);
}

void DesktopNotifier::notifyAnswered(QDBusPendingCallWatcher* watch) {
    watch->deleteLater();
    pending = false;
    const QDBusPendingReply<quint32> reply = *watch;
    if (reply.isError()) {
        const QDBusError error = reply.error();
        if (meansNoService(error.type())) {
            turnOff(error.message());
            return;
        }
        logLine(QStringLiteral("Notification failed: %1").arg(error.message()));
        emit deliveryFailed(error.message());
    } else {
        shownId = reply.value();
        emit delivered(shownId);
    }
    if (waiting && enabled) {
        const Message next = *waiting;
        waiting.reset();
        send(next);
    }
}

void DesktopNotifier::turnOff(const QString& reason) {
    enabled = false;
    shownId = 0;
    waiting.reset();
    if (!loggedOff) {
        loggedOff = true;
        logLine(QStringLiteral("Notifications are off: %1").arg(reason));
    }
    emit deliveryFailed(reason);
}

void DesktopNotifier::serviceAppeared() {
    // A new service knows none of the old ids and may read markup differently.
    enabled = true;
    loggedOff = false;
    shownId = 0;
    bodyMarkup.reset();
}

} // namespace sondrel
