#pragma once
// One player per desktop session. The first start owns the session bus name
// "org.sondrel.Sondrel" and serves the desktop's application interface
// (org.freedesktop.Application at /org/sondrel/Sondrel): Activate shows and raises its
// window. A later start (from the menu, a launcher, a terminal) finds the name taken,
// asks the running player to show itself and ends, instead of opening a second window
// that would share the settings, the song store and the media keys with the first.
//
// Without a session bus every start runs on its own, as before. Main thread only.

#include <QDBusAbstractAdaptor>
#include <QDBusConnection>
#include <QStringList>
#include <QVariantMap>
#include <functional>

namespace sondrel {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    static constexpr const char* kBusName = "org.sondrel.Sondrel";
    static constexpr const char* kObjectPath = "/org/sondrel/Sondrel";

    enum class Start {
        First,     // this process is the player (or no bus: it runs on its own)
        HandedOver // another player was asked to show itself: this one should end
    };

    explicit SingleInstance(QDBusConnection bus = QDBusConnection::sessionBus());
    ~SingleInstance() override;

    // Takes the name, or hands over to the process that has it.
    Start claim();
    // What Activate does (the window shows and raises itself).
    void setActivate(std::function<void()> activate);

    void activate();

private:
    QDBusConnection bus;
    std::function<void()> onActivate;
    bool owner = false;
};

// org.freedesktop.Application, as the desktop calls it on a running application.
class ApplicationAdaptor : public QDBusAbstractAdaptor {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Application")
public:
    explicit ApplicationAdaptor(SingleInstance* instance);

public slots:
    void Activate(const QVariantMap& platformData);
    void Open(const QStringList& uris, const QVariantMap& platformData);
    void ActivateAction(const QString& name, const QVariantList& parameter,
                        const QVariantMap& platformData);

private:
    SingleInstance* instance;
};

} // namespace sondrel
