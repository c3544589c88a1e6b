#include "shell/AppDelegate.h"

#include "platform/Network.h"
#include "shell/SettingsStore.h"
#include "shell/SongStoreContext.h"
#include "shell/SongStoreCoordinator.h"

#include <QWidget>

namespace sondrel {

AppDelegate::AppDelegate(QObject* parent) : QObject(parent) {
    becomeSharedInstance(this, "AppDelegate");
}

AppDelegate::~AppDelegate() {
    resignSharedInstance(this);
    context.reset(); // before the coordinator whose connection it uses
    coordinator.reset();
}

QVariant AppDelegate::getObjectWithKey(const QString& key) {
    return SettingsStore::standard().value(key);
}

void AppDelegate::saveObjectWithKey(const QVariant& object, const QString& key) {
    SettingsStore::standard().save(key, object);
}

void AppDelegate::applicationDidBecomeActive() {
    sharedCookieJar().setAcceptPolicy(CookieAcceptPolicy::Always);
}

QWidget* AppDelegate::window() const {
    return windowRef.data();
}

void AppDelegate::setWindow(QWidget* window) {
    windowRef = window;
}

} // namespace sondrel
