#pragma once
// Fetches the song that will play next into the downloader's memory cache, so that
// skipping to it, or reaching it at the end of the current one, starts at once from
// memory. The song downloader asks for it once the current song is whole in memory, and
// cancels it whenever the player stops or starts another song.
//
// One transfer at a time, at low network priority, never resumed or retried: a fetch
// that fails, breaks off or is cancelled leaves nothing in the cache. A song is kept
// only when it arrived whole with a 2xx answer. A song larger than the room it is given
// (the cache budget less the current song) is not fetched: the transfer stops as soon as
// its stated length, or the bytes received, go beyond it.
//
// Threading: main thread only; the transfer's callbacks arrive on the main loop.

#include "playback/SongMemoryCache.h"

#include <QObject>
#include <QString>
#include <QUrl>
#include <cstdint>

class QNetworkAccessManager;
class QNetworkReply;

namespace sondrel {

class SongPrefetcher : public QObject {
    Q_OBJECT

public:
    // Fetches through `network` into `cache`; neither is owned, both outlive this object.
    SongPrefetcher(QNetworkAccessManager* network, SongMemoryCache& cache,
                   QObject* parent = nullptr);
    ~SongPrefetcher() override;

    // Starts fetching song `id` from `url`, keeping it only if it takes at most `room`
    // bytes. Nothing happens when that song is being fetched already; a fetch of another
    // song is cancelled first.
    void fetch(const QString& id, const QUrl& url, std::int64_t room);
    // Cancels the running fetch, if any; nothing of it is kept.
    void cancel();
    bool isFetching() const { return reply != nullptr; }
    // The id of the song being fetched (empty when none).
    QString fetchingId() const { return reply ? songId : QString(); }
    // How long a fetch may go without a byte.
    void setStallTimeoutMs(int ms) { stallTimeoutMs = ms; }

signals:
    // A fetch ended (not when cancelled): `stored` tells whether the song is now cached.
    void fetchEnded(const QString& id, bool stored);

private:
    void receive();
    void finish();
    // Ends the fetch without keeping anything, logging why.
    void giveUp(const QString& reason);
    void drop();

    // All fields: main thread.
    QNetworkAccessManager* network; // not owned
    SongMemoryCache& cache;         // not owned
    QNetworkReply* reply = nullptr; // owned; deleted when the fetch ends
    QString songId;
    std::int64_t roomBytes = 0;
    QByteArray bytes;
    int stallTimeoutMs = 10000;
};

} // namespace sondrel
