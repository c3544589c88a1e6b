#pragma once
// The application delegate: the process-wide shared instance that answers the
// application's launch and activation events and the notification centre's question,
// and fronts the settings store for the rest of the player.
//
// Lives on the main thread; the two settings operations may be called from any thread.

#include "platform/SharedInstance.h"

#include <QObject>
#include <QPointer>
#include <QVariant>

class QWidget;

namespace sondrel {

class AppDelegate : public QObject, public SharedInstance<AppDelegate> {
    Q_OBJECT

public:
    // Becomes the shared instance; a second creation logs
    // "Error: You are creating a second AppDelegate. Bad Olvik" and replaces the first.
    explicit AppDelegate(QObject* parent = nullptr);
    ~AppDelegate() override;

    // The stored value under `key`, or an invalid QVariant when the key is absent.
    static QVariant getObjectWithKey(const QString& key);
    // Stores `object` under `key`; written through to disk before returning. A failed
    // write is logged by the store and otherwise ignored here.
    static void saveObjectWithKey(const QVariant& object, const QString& key);

    // Launch finished: the delegate answers the notification centre from now on.
    void applicationDidFinishLaunching();
    // Every activation: the shared cookie jar accepts every cookie.
    void applicationDidBecomeActive();
    // Song notifications are shown even while the player is in front.
    bool userNotificationCenterShouldPresentNotification() const { return true; }

    QWidget* window() const;
    void setWindow(QWidget* window);

    bool isNotificationCenterDelegate() const { return notificationDelegate; }

private:
    QPointer<QWidget> windowRef;
    bool notificationDelegate = false;
};

} // namespace sondrel
