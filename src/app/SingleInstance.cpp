#include "app/SingleInstance.h"

#include "platform/Log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>

namespace sondrel {
namespace {

// A running player that does not answer within this is left alone, and this start runs
// on its own.
constexpr int kActivateTimeoutMs = 5000;

} // namespace

SingleInstance::SingleInstance(QDBusConnection connection) : bus(std::move(connection)) {}

SingleInstance::~SingleInstance() {
    if (owner) {
        bus.unregisterObject(QString::fromLatin1(kObjectPath));
        bus.unregisterService(QString::fromLatin1(kBusName));
    }
}

SingleInstance::Start SingleInstance::claim() {
    if (!bus.isConnected()) {
        return Start::First;
    }
    const QString name = QString::fromLatin1(kBusName);
    // The object first, so that a start racing this one finds it as soon as the name is
    // taken.
    new ApplicationAdaptor(this);
    bus.registerObject(QString::fromLatin1(kObjectPath), this, QDBusConnection::ExportAdaptors);
    const QDBusReply<QDBusConnectionInterface::RegisterServiceReply> reply =
        bus.interface()->registerService(name, QDBusConnectionInterface::DontQueueService,
                                         QDBusConnectionInterface::DontAllowReplacement);
    if (reply.isValid() && reply.value() == QDBusConnectionInterface::ServiceRegistered) {
        owner = true;
        return Start::First;
    }
    bus.unregisterObject(QString::fromLatin1(kObjectPath));
    QDBusMessage call = QDBusMessage::createMethodCall(
        name, QString::fromLatin1(kObjectPath), QStringLiteral("org.freedesktop.Application"),
        QStringLiteral("Activate"));
    call << QVariantMap();
    const QDBusMessage answer = bus.call(call, QDBus::Block, kActivateTimeoutMs);
    if (answer.type() == QDBusMessage::ReplyMessage) {
        logLine(QStringLiteral("Sondrel is already running: its window is shown instead"));
        return Start::HandedOver;
    }
    logLine(QStringLiteral("Sondrel is already running but does not answer (%1): starting anyway")
                .arg(answer.errorMessage()));
    return Start::First;
}

void SingleInstance::setActivate(std::function<void()> activate) {
    onActivate = std::move(activate);
}

void SingleInstance::activate() {
    if (onActivate) {
        onActivate();
    }
}

ApplicationAdaptor::ApplicationAdaptor(SingleInstance* owner)
    : QDBusAbstractAdaptor(owner), instance(owner) {}

void ApplicationAdaptor::Activate(const QVariantMap& /*platformData*/) {
    instance->activate();
}

void ApplicationAdaptor::Open(const QStringList& /*uris*/, const QVariantMap& /*platformData*/) {
    // The player opens no files or addresses: opening shows the window.
    instance->activate();
}

void ApplicationAdaptor::ActivateAction(const QString& /*name*/, const QVariantList& /*parameter*/,
                                        const QVariantMap& /*platformData*/) {
    instance->activate(); // the player has no named actions
}

} // namespace sondrel
