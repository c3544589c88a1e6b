#include "PlayerRecorder.h"

#include "playback/SongDownloader.h"

namespace sondrel::test {

void PlayerRecorder::songPlayerPlaying() {
    events << "playing";
    const SongDownloader* d = SongDownloader::sharedInstance();
    bytesAtPlaying.push_back(d && d->getSongData() ? d->getSongData()->bytes.size() : 0);
}

void PlayerRecorder::songPlayerUpdateCurrentPlaying() {
    const SongPlayer* p = SongPlayer::sharedInstance();
    events << QStringLiteral("now %1").arg(p ? p->getCurrentSongNumber() : 0);
    timeAtUpdate.push_back(p ? p->getCurrentPlayingCurrentTime() : 0);
}

QString PlayerRecorder::story() const {
    QStringList kept;
    for (const QString& e : events) {
        if (e != QLatin1String("tick")) {
            kept << e;
        }
    }
    return kept.join(QStringLiteral(", "));
}

} // namespace sondrel::test
