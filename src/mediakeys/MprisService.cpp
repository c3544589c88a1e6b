#include "mediakeys/MprisService.h"

#include "mediakeys/MprisAdaptors.h"
#include "platform/Log.h"

#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <unistd.h>

namespace sondrel {
namespace {

const QString kNoTrack = QStringLiteral("/org/mpris/MediaPlayer2/TrackList/NoTrack");
const QString kTrackPrefix = QStringLiteral("/org/sondrel/Sondrel/Track/");

// A song id as one object path element: letters and digits stay, every other byte of
// its UTF-8 form becomes "_XX".
QString pathElement(const QString& id) {
    QString element;
    for (const char byte : id.toUtf8()) {
        const auto c = static_cast<unsigned char>(byte);
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9')) {
            element += QLatin1Char(static_cast<char>(c));
        } else {
            element += QStringLiteral("_%1").arg(c, 2, 16, QLatin1Char('0')).toUpper();
        }
    }
    return element.isEmpty() ? QStringLiteral("_") : element;
}

} // namespace

MprisService::MprisService(PlayerControl* control, QObject* parent)
    : QObject(parent), player(control), announced(control->playerState()) {
    new MprisRootAdaptor(this, this);
    new MprisPlayerAdaptor(this, this);
}

MprisService::~MprisService() {
    if (!busName.isEmpty()) {
        connection.unregisterService(busName);
        connection.unregisterObject(kObjectPath);
    }
}

bool MprisService::registerOnBus(QDBusConnection bus) {
    if (!bus.isConnected()) {
        logLine(QStringLiteral("MPRIS unavailable: no session bus (%1)")
                    .arg(bus.lastError().message()));
        return false;
    }
    connection = bus;
    if (!connection.registerObject(kObjectPath, this, QDBusConnection::ExportAdaptors)) {
        logLine(QStringLiteral("MPRIS unavailable: cannot export %1").arg(kObjectPath));
        return false;
    }
    const QStringList names = {kServiceName,
                               kServiceName + QStringLiteral(".instance%1").arg(getpid())};
    for (const QString& name : names) {
        if (connection.registerService(name)) {
            busName = name;
            announced = player->playerState();
            return true;
        }
    }
    connection.unregisterObject(kObjectPath);
    logLine(QStringLiteral("MPRIS unavailable: the bus name %1 is taken").arg(kServiceName));
    return false;
}

QString MprisService::playbackStatusText(PlaybackStatus status) {
    switch (status) {
    case PlaybackStatus::Playing:
        return QStringLiteral("Playing");
    case PlaybackStatus::Paused:
        return QStringLiteral("Paused");
    case PlaybackStatus::Stopped:
        break;
    }
    return QStringLiteral("Stopped");
}

QString MprisService::loopStatusText(bool repeatOneSong) {
    // Without repeat the player goes on from the last song to the first.
    return repeatOneSong ? QStringLiteral("Track") : QStringLiteral("Playlist");
}

QString MprisService::trackIdFor(const std::optional<NowPlaying>& song) {
    return song ? kTrackPrefix + pathElement(song->songId) : kNoTrack;
}

QVariantMap MprisService::metadataFor(const std::optional<NowPlaying>& song) {
    QVariantMap metadata;
    metadata.insert(QStringLiteral("mpris:trackid"),
                    QVariant::fromValue(QDBusObjectPath(trackIdFor(song))));
    if (!song) {
        return metadata;
    }
    if (song->lengthUs > 0) {
        metadata.insert(QStringLiteral("mpris:length"),
                        QVariant::fromValue<qlonglong>(song->lengthUs));
    }
    metadata.insert(QStringLiteral("xesam:title"), song->title);
    metadata.insert(QStringLiteral("xesam:artist"), QStringList{song->artist});
    if (!song->url.isEmpty()) {
        metadata.insert(QStringLiteral("xesam:url"), song->url);
    }
    return metadata;
}

void MprisService::playerStateChanged() {
    const PlayerState now = player->playerState();
    const PlayerState before = announced;
    announced = now;
    announceChanges(before, now);
}

void MprisService::announceChanges(const PlayerState& before, const PlayerState& now) {
    if (busName.isEmpty()) {
        return;
    }
    QVariantMap changed;
    if (before.status != now.status) {
        changed.insert(QStringLiteral("PlaybackStatus"), playbackStatusText(now.status));
    }
    if (before.repeatOneSong != now.repeatOneSong) {
        changed.insert(QStringLiteral("LoopStatus"), loopStatusText(now.repeatOneSong));
    }
    if (before.shuffle != now.shuffle) {
        changed.insert(QStringLiteral("Shuffle"), now.shuffle);
    }
    if (before.volume != now.volume) {
        changed.insert(QStringLiteral("Volume"), now.volume);
    }
    if (before.song != now.song) {
        changed.insert(QStringLiteral("Metadata"), metadataFor(now.song));
    }
    const std::pair<const char*, bool PlayerState::*> flags[] = {
        {"CanGoNext", &PlayerState::canGoNext},
        {"CanGoPrevious", &PlayerState::canGoPrevious},
        {"CanPlay", &PlayerState::canPlay},
        {"CanPause", &PlayerState::canPause},
        {"CanSeek", &PlayerState::canSeek}};
    for (const auto& [name, field] : flags) {
        if (before.*field != now.*field) {
            changed.insert(QString::fromLatin1(name), now.*field);
        }
    }
    if (changed.isEmpty()) {
        return;
    }
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, QStringLiteral("org.freedesktop.DBus.Properties"),
                                   QStringLiteral("PropertiesChanged"));
    signal << kPlayerInterface << changed << QStringList();
    connection.send(signal);
}

void MprisService::seeked(qint64 positionUs) {
    if (busName.isEmpty()) {
        return;
    }
    QDBusMessage signal =
        QDBusMessage::createSignal(kObjectPath, kPlayerInterface, QStringLiteral("Seeked"));
    signal << QVariant::fromValue<qlonglong>(positionUs);
    connection.send(signal);
}

void MprisService::seek(qint64 offsetUs) {
    const PlayerState now = player->playerState();
    if (!now.canSeek || !now.song) {
        return;
    }
    const qint64 target = now.positionUs + offsetUs;
    if (now.song->lengthUs > 0 && target > now.song->lengthUs) {
        player->next();
        playerStateChanged();
        return;
    }
    const qint64 position = std::max<qint64>(0, target);
    player->setPosition(position);
    playerStateChanged();
    seeked(position);
}

void MprisService::setPosition(const QString& trackId, qint64 positionUs) {
    const PlayerState now = player->playerState();
    if (!now.canSeek || !now.song || trackId != trackIdFor(now.song) || positionUs < 0 ||
        (now.song->lengthUs > 0 && positionUs > now.song->lengthUs)) {
        return;
    }
    player->setPosition(positionUs);
    playerStateChanged();
    seeked(positionUs);
}

void MprisService::setLoopStatus(const QString& loopStatus) {
    if (loopStatus == QLatin1String("Track")) {
        player->setRepeatOneSong(true);
    } else if (loopStatus == QLatin1String("None") || loopStatus == QLatin1String("Playlist")) {
        player->setRepeatOneSong(false);
    } else {
        return;
    }
    playerStateChanged();
}

void MprisService::setShuffle(bool on) {
    player->setShuffle(on);
    playerStateChanged();
}

void MprisService::setVolume(double volume) {
    if (volume != volume) { // NaN
        return;
    }
    player->setVolume(std::clamp(volume, 0.0, 1.0));
    playerStateChanged();
}

} // namespace sondrel
