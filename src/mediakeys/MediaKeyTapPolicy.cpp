#include "mediakeys/MediaKeyTapPolicy.h"

#include <QHash>
#include <unistd.h>

namespace sondrel {

ProcessSerialNumber ProcessSerialNumber::current() {
    return forPid(getpid());
}

std::optional<bool> MediaKeyTapPolicy::appIsNowFrontmost(ProcessSerialNumber process,
                                                         const QString& bundleIdentifier,
                                                         const QStringList& mediaApplications) {
    if (bundleIdentifier.isEmpty() || !mediaApplications.contains(bundleIdentifier)) {
        return std::nullopt;
    }
    list.removeAll(process);
    list.prepend(process);
    return mediaKeyAppListChanged();
}

std::optional<bool> MediaKeyTapPolicy::appTerminated(ProcessSerialNumber process) {
    list.removeAll(process);
    return mediaKeyAppListChanged();
}

std::optional<bool> MediaKeyTapPolicy::mediaKeyAppListChanged() const {
    if (list.isEmpty()) {
        return std::nullopt;
    }
    return list.first() == selfProcess;
}

QString bundleIdentifierForApplication(bool isThisProcess, const QString& ownIdentifier,
                                       const QString& desktopId, const QString& windowClass) {
    if (isThisProcess) {
        return ownIdentifier;
    }
    // Desktop ids and window classes of the Linux builds of the players in the default
    // list, lower-cased.
    static const QHash<QString, QString> wellKnown = {
        {QStringLiteral("spotify"), QStringLiteral("com.spotify.client")},
        {QStringLiteral("com.spotify.client"), QStringLiteral("com.spotify.client")},
        {QStringLiteral("vlc"), QStringLiteral("org.videolan.vlc")},
        {QStringLiteral("org.videolan.vlc"), QStringLiteral("org.videolan.vlc")},
        {QStringLiteral("clementine"), QStringLiteral("org.clementine-player.clementine")},
        {QStringLiteral("org.clementine_player.clementine"),
         QStringLiteral("org.clementine-player.clementine")},
        {QStringLiteral("plexmediaplayer"), QStringLiteral("com.plexsquared.Plex")},
        {QStringLiteral("plex"), QStringLiteral("com.plexsquared.Plex")},
        {QStringLiteral("tv.plex.plexdesktop"), QStringLiteral("com.plexsquared.Plex")},
        {QStringLiteral("mplayer"), QStringLiteral("org.niltsh.MPlayerX")},
        {QStringLiteral("gmplayer"), QStringLiteral("org.niltsh.MPlayerX")},
        {QStringLiteral("last.fm"), QStringLiteral("fm.last.Last.fm")},
        {QStringLiteral("lastfm"), QStringLiteral("fm.last.Last.fm")},
    };
    QString name = desktopId.trimmed();
    if (name.endsWith(QLatin1String(".desktop"))) {
        name.chop(8);
    }
    if (name.isEmpty()) {
        name = windowClass.trimmed();
    }
    return wellKnown.value(name.toLower(), name);
}

} // namespace sondrel
