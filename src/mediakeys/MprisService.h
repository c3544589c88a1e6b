#pragma once
// The player on the session bus as an MPRIS 2 media player
// ("org.mpris.MediaPlayer2.sondrel", or "org.mpris.MediaPlayer2.sondrel.instance<pid>"
// when that name is taken), at the object path "/org/mpris/MediaPlayer2". Desktops and
// tools such as playerctl drive the player through it, and it is how media keys reach the
// player on Wayland and on desktops that keep the keys to themselves.
//
// Every call goes to a PlayerControl (the main controller). Property changes are sent as
// org.freedesktop.DBus.Properties.PropertiesChanged by comparing the player's state with
// the state last announced; Seeked is sent after every jump.
//
// Main thread only (the bus calls arrive on the main loop).

#include "mediakeys/PlayerControl.h"

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QVariantMap>

namespace sondrel {

class MprisService : public QObject {
    Q_OBJECT

public:
    static inline const QString kObjectPath = QStringLiteral("/org/mpris/MediaPlayer2");
    static inline const QString kServiceName = QStringLiteral("org.mpris.MediaPlayer2.sondrel");
    static inline const QString kPlayerInterface = QStringLiteral("org.mpris.MediaPlayer2.Player");
    static inline const QString kRootInterface = QStringLiteral("org.mpris.MediaPlayer2");

    // `control` is not owned and must outlive the service.
    explicit MprisService(PlayerControl* control, QObject* parent = nullptr);
    ~MprisService() override;

    // Exports the object and takes the bus name on `bus`. False (logged once) when there
    // is no session bus or no name could be taken; the player goes on without MPRIS.
    bool registerOnBus(QDBusConnection bus = QDBusConnection::sessionBus());
    // The bus name taken, or empty.
    QString serviceName() const { return busName; }

    // The player's state may have changed: announce what did.
    void playerStateChanged();
    // The current song jumped to `positionUs`.
    void seeked(qint64 positionUs);

    // --- used by the bus adaptors ---
    PlayerControl& control() const { return *player; }
    PlayerState state() const { return player->playerState(); }
    void seek(qint64 offsetUs);
    void setPosition(const QString& trackId, qint64 positionUs);
    void setLoopStatus(const QString& loopStatus);
    void setShuffle(bool on);
    void setVolume(double volume);

    // The MPRIS views of the player's state.
    static QString playbackStatusText(PlaybackStatus status);
    static QString loopStatusText(bool repeatOneSong);
    static QString trackIdFor(const std::optional<NowPlaying>& song);
    static QVariantMap metadataFor(const std::optional<NowPlaying>& song);

private:
    // Sends PropertiesChanged for the player properties that differ between the two.
    void announceChanges(const PlayerState& before, const PlayerState& now);

    PlayerControl* player;
    QDBusConnection connection{QString()};
    QString busName;
    PlayerState announced; // what the bus was last told
};

} // namespace sondrel
