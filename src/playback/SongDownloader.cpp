#include "playback/SongDownloader.h"

#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/Network.h"
#include "playback/SongPlayer.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>

namespace sondrel {

namespace {

// An answer of the server (any status), as opposed to a transfer that broke off.
bool isHttpAnswer(QNetworkReply* reply) {
    if (reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() <= 0) {
        return false;
    }
    const QNetworkReply::NetworkError e = reply->error();
    return e == QNetworkReply::NoError ||
           (e >= QNetworkReply::ContentAccessDenied && e <= QNetworkReply::UnknownContentError) ||
           e == QNetworkReply::ProtocolInvalidOperationError ||
           (e >= QNetworkReply::InternalServerError && e <= QNetworkReply::UnknownServerError);
}

} // namespace

QString songIdText(const QJsonValue& aid) {
    if (aid.isDouble()) {
        const double d = aid.toDouble();
        if (d == double(qint64(d))) {
            return QString::number(qint64(d));
        }
    }
    return aid.toVariant().toString();
}

SongDownloader::SongDownloader(QObject* parent, std::int64_t cacheBudget)
    : QObject(parent), cache(cacheBudget), network(newNetworkAccessManager(this)) {
    becomeSharedInstance(this, "SongDownloader");
}

SongDownloader::~SongDownloader() {
    abortDownloading();
    resignSharedInstance(this);
}

void SongDownloader::startDownloadingSong() {
    SongPlayer* player = SongPlayer::sharedInstance();
    if (!player) {
        return;
    }
    if (player->getCurrentSongNumber() >= player->getQuantityFromPlayList()) {
        logLine(QStringLiteral("startDownloadingSong: no song at position %1 of the play list")
                    .arg(player->getCurrentSongNumber()));
        return;
    }
    player->setCurrentSong();
    // One transfer at a time: a running one would append to the new song's buffer.
    abortDownloading();
    const QString id = songIdText(player->getCurrentSongID());
    if (const std::optional<QByteArray> cached = cache.objectForKey(id)) {
        buffer = std::make_shared<AudioData>();
        buffer->bytes = *cached;
        buffer->expectedLength = cached->size();
        currentSongDataLength = cached->size();
        player->play();
        return;
    }
    const QUrl url = player->getCurrentSongURL();
    // Song addresses come from the service's answer: only the web's own schemes are
    // fetched (a "file:" address would read the local disk).
    const QString scheme = url.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        const QString reason =
            QStringLiteral("the song's address is not an http or https address: %1")
                .arg(url.toString(QUrl::RemoveQuery | QUrl::RemoveFragment).left(200));
        logLine(QStringLiteral("didFailWithError: %1").arg(reason));
        emit songTransferFailed(reason);
        return;
    }
    QNetworkRequest request(url);
    request.setTransferTimeout(kTimeoutMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::PreferNetwork);
    QNetworkReply* reply = network->get(request);
    theConnectionRef = reply;
    transferSongId = id;
    responseSeen = false;
    transferDone = false;
    transferOk = false;
    lastStartLength = 0;
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        if (reply == theConnectionRef && !responseSeen &&
            reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
            didReceiveResponse(reply);
        }
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { didReceiveData(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { didFinish(reply); });
}

void SongDownloader::abortDownloading() {
    if (QNetworkReply* reply = theConnectionRef) {
        theConnectionRef = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}

void SongDownloader::clearCurrentSongData() {
    buffer.reset();
    currentSongDataLength = 0;
}

bool SongDownloader::isSongCompletelyDownloaded() const {
    const std::int64_t have = buffer ? buffer->bytes.size() : 0;
    return have == currentSongDataLength;
}

void SongDownloader::didReceiveResponse(QNetworkReply* reply) {
    responseSeen = true;
    buffer = std::make_shared<AudioData>();
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    currentSongDataLength = length.isValid() ? length.toLongLong() : -1;
    buffer->expectedLength = currentSongDataLength;
    buffer->httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    lastStartLength = 0;
}

void SongDownloader::didReceiveData(QNetworkReply* reply) {
    if (reply != theConnectionRef) {
        return;
    }
    if (!responseSeen) {
        didReceiveResponse(reply);
    }
    const QByteArray bytes = reply->readAll();
    if (bytes.isEmpty()) {
        return;
    }
    buffer->bytes.append(bytes);
    calculateCompleteDownloadingPercentageForData();
}

void SongDownloader::didFinish(QNetworkReply* reply) {
    if (reply != theConnectionRef) {
        return;
    }
    if (reply->bytesAvailable() > 0) {
        didReceiveData(reply);
    }
    transferDone = true;
    if (!isHttpAnswer(reply)) {
        const QString reason = hideAccessTokens(reply->errorString());
        logLine(QStringLiteral("didFailWithError: %1").arg(reason));
        emit songTransferFailed(reason);
        return;
    }
    if (!responseSeen) {
        didReceiveResponse(reply); // an answer without a body
    }
    const bool lengthWasUnknown = currentSongDataLength < 100;
    if (currentSongDataLength < 0) {
        // No length was stated: the end of the answer tells it, so the song completes.
        currentSongDataLength = buffer->bytes.size();
        buffer->expectedLength = currentSongDataLength;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    transferOk = status >= 200 && status < 300;
    if (transferOk) {
        buffer->bytes.squeeze(); // the cache counts bytes, so it should hold no spare room
        cache.setObjectForKey(buffer->bytes, transferSongId);
    }
    if (lengthWasUnknown) {
        calculateCompleteDownloadingPercentageForData();
    }
}

void SongDownloader::calculateCompleteDownloadingPercentageForData() {
    SongPlayer* player = SongPlayer::sharedInstance();
    if (!player || !buffer) {
        return;
    }
    const std::int64_t have = buffer->bytes.size();
    bool due = false;
    if (currentSongDataLength >= 100) {
        const float downloaded = float(have / (currentSongDataLength / 100));
        const float threshold = player->getCurrentPlayingPercentageProgress() * 100.0f + 2.0f;
        due = downloaded > threshold;
    } else {
        // Without a usable length there is no percentage: start once enough new bytes
        // arrived since the last start, or the transfer is over.
        due = have > lastStartLength &&
              (have - lastStartLength >= kEarlyStartWithoutLength || transferDone);
    }
    if (!due || player->isPlaying() || player->isPaused()) {
        return;
    }
    lastStartLength = have;
    std::weak_ptr<AudioData> target = buffer;
    dispatchMain([target] {
        // A start queued for a buffer that has since been dropped has nothing to play.
        SongPlayer* p = SongPlayer::sharedInstance();
        SongDownloader* d = SongDownloader::sharedInstance();
        if (p && d && !target.expired() && d->getSongData() == target.lock()) {
            p->play();
        }
    });
}

bool SongDownloader::canISeekToTime(std::uint64_t seconds) const {
    SongPlayer* player = SongPlayer::sharedInstance();
    const float duration = player ? player->getCurrentPlayingDuration() : 0.0f;
    if (currentSongDataLength <= 0 || duration <= 0) {
        return false; // nothing known to measure the target against
    }
    const float received = float(buffer ? buffer->bytes.size() : 0);
    const float needed = float(currentSongDataLength) / duration * float(seconds);
    const float margin = float(2 * (currentSongDataLength / 100));
    return received - needed > margin;
}

} // namespace sondrel
