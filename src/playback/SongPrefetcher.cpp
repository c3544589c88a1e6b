#include "playback/SongPrefetcher.h"

#include "platform/Log.h"
#include "platform/Network.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace sondrel {

SongPrefetcher::SongPrefetcher(QNetworkAccessManager* network, SongMemoryCache& cache,
                               QObject* parent)
    : QObject(parent), network(network), cache(cache) {}

SongPrefetcher::~SongPrefetcher() {
    drop();
}

void SongPrefetcher::fetch(const QString& id, const QUrl& url, std::int64_t room) {
    if (reply && id == songId) {
        return;
    }
    drop();
    if (room <= 0) {
        return;
    }
    songId = id;
    roomBytes = room;
    bytes.clear();
    QNetworkRequest request(url);
    askForStoredBytes(request);
    request.setPriority(QNetworkRequest::LowPriority);
    request.setTransferTimeout(stallTimeoutMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::PreferNetwork);
    reply = network->get(request);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this] {
        const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
        if (length.isValid() && length.toLongLong() > roomBytes) {
            giveUp(QStringLiteral("%1 bytes do not fit into the cache").arg(length.toLongLong()));
        }
    });
    connect(reply, &QNetworkReply::readyRead, this, &SongPrefetcher::receive);
    connect(reply, &QNetworkReply::finished, this, &SongPrefetcher::finish);
}

void SongPrefetcher::cancel() {
    drop();
}

void SongPrefetcher::drop() {
    if (QNetworkReply* r = reply) {
        reply = nullptr;
        disconnect(r, nullptr, this, nullptr);
        r->abort();
        r->deleteLater();
    }
    bytes.clear();
}

void SongPrefetcher::receive() {
    bytes.append(reply->readAll());
    if (bytes.size() > roomBytes) {
        giveUp(QStringLiteral("more than %1 bytes do not fit into the cache").arg(roomBytes));
    }
}

void SongPrefetcher::finish() {
    receive();
    if (!reply) {
        return; // it outgrew its room
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    if (reply->error() != QNetworkReply::NoError) {
        giveUp(reply->errorString());
    } else if (status < 200 || status >= 300) {
        giveUp(QStringLiteral("the server answered %1").arg(status));
    } else if (length.isValid() && length.toLongLong() != bytes.size()) {
        giveUp(QStringLiteral("the answer ended after %1 of %2 bytes")
                   .arg(bytes.size())
                   .arg(length.toLongLong()));
    } else {
        const QString id = songId;
        bytes.squeeze(); // the cache counts bytes, so it should hold no spare room
        cache.setObjectForKey(bytes, id);
        drop();
        emit fetchEnded(id, true);
    }
}

void SongPrefetcher::giveUp(const QString& reason) {
    const QString id = songId;
    logLine(QStringLiteral("Fetching the next song %1 in advance failed: %2").arg(id, reason));
    drop();
    emit fetchEnded(id, false);
}

} // namespace sondrel
