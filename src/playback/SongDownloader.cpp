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
    : QObject(parent), cache(cacheBudget), network(newNetworkAccessManager(this)),
      prefetcher(network, cache) {
    becomeSharedInstance(this, "SongDownloader");
    shareTimer.setSingleShot(true);
    shareTimer.setInterval(kShareSignalMs);
    connect(&shareTimer, &QTimer::timeout, this, &SongDownloader::downloadedShareChanged);
    retryTimer.setSingleShot(true);
    connect(&retryTimer, &QTimer::timeout, this, [this] {
        // Bytes held count only when this transfer's own first answer brought them.
        sendRequest(songAnswered && buffer ? buffer->bytes.size() : 0);
    });
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
    startQueued = false;
    dryAt = -1;
    gaveUp = false;
    const QString id = songIdText(player->getCurrentSongID());
    if (const std::optional<QByteArray> cached = cache.objectForKey(id)) {
        buffer = std::make_shared<AudioData>();
        buffer->bytes = *cached;
        buffer->expectedLength = cached->size();
        currentSongDataLength = cached->size();
        announceShare(true);
        player->play();
        prefetchNext();
        return;
    }
    transferUrl = player->getCurrentSongURL();
    // Song addresses come from the service's answer: only the web's own schemes are
    // fetched (a "file:" address would read the local disk).
    const QString scheme = transferUrl.scheme().toLower();
    if (scheme != QLatin1String("http") && scheme != QLatin1String("https")) {
        const QString reason =
            QStringLiteral("the song's address is not an http or https address: %1")
                .arg(transferUrl.toString(QUrl::RemoveQuery | QUrl::RemoveFragment).left(200));
        logLine(QStringLiteral("didFailWithError: %1").arg(reason));
        emit songTransferFailed(reason);
        // Nothing will ever arrive: the player goes on as after a transfer given up.
        gaveUp = true;
        transferDone = true;
        dispatchMain([reason, failed = player->getCurrentSongNumber()] {
            SongPlayer* p = SongPlayer::sharedInstance();
            SongDownloader* d = SongDownloader::sharedInstance();
            if (p && d && d->hasGivenUp() && p->getCurrentSongNumber() == failed) {
                p->songTransferGaveUp(reason);
            }
        });
        return;
    }
    transferSongId = id;
    transferHeld = true;
    transferDone = false;
    transferOk = false;
    songAnswered = false;
    lastStartLength = 0;
    retry.begin();
    sendRequest(0);
}

void SongDownloader::sendRequest(std::int64_t held) {
    QNetworkRequest request(transferUrl);
    askForStoredBytes(request);
    request.setTransferTimeout(stallTimeoutMs);
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::PreferNetwork);
    retry.prepareResume(request, held);
    QNetworkReply* reply = network->get(request);
    theConnectionRef = reply;
    responseSeen = false;
    resumed = held > 0;
    skipRemaining = 0;
    rate.restart(held);
    connect(reply, &QNetworkReply::metaDataChanged, this, [this, reply] {
        if (reply == theConnectionRef && !responseSeen &&
            reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).isValid()) {
            didReceiveResponse(reply);
        }
    });
    connect(reply, &QNetworkReply::readyRead, this, [this, reply] { didReceiveData(reply); });
    connect(reply, &QNetworkReply::finished, this, [this, reply] { didFinish(reply); });
}

void SongDownloader::dropReply() {
    if (QNetworkReply* reply = theConnectionRef) {
        theConnectionRef = nullptr;
        disconnect(reply, nullptr, this, nullptr);
        reply->abort();
        reply->deleteLater();
    }
}

void SongDownloader::abortDownloading() {
    prefetcher.cancel();
    dropReply();
    retryTimer.stop();
    transferHeld = false;
}

void SongDownloader::clearCurrentSongData() {
    buffer.reset();
    currentSongDataLength = 0;
    dryAt = -1;
    announceShare(true);
}

void SongDownloader::setPrefetchNext(bool on) {
    prefetchOn = on;
    if (!on) {
        prefetcher.cancel();
    }
}

void SongDownloader::prefetchNext() {
    SongPlayer* player = SongPlayer::sharedInstance();
    if (!prefetchOn || !player || !buffer || !isSongCompletelyDownloaded()) {
        return;
    }
    const std::optional<QJsonObject> song = player->upcomingSong();
    if (!song) {
        return;
    }
    const QString id = songIdText(song->value(QLatin1String("aid")));
    if (id.isEmpty() || id == songIdText(player->getCurrentSongID()) || cache.objectForKey(id)) {
        return;
    }
    // The current song stays cached: the next one gets only the rest of the budget.
    prefetcher.fetch(id, QUrl(song->value(QLatin1String("url")).toString()),
                     cache.budget() - buffer->bytes.size());
}

void SongDownloader::announceShare(bool now) {
    if (now) {
        shareTimer.stop();
        emit downloadedShareChanged();
    } else if (!shareTimer.isActive()) {
        shareTimer.start();
    }
}

bool SongDownloader::isSongCompletelyDownloaded() const {
    const std::int64_t have = buffer ? buffer->bytes.size() : 0;
    return have == currentSongDataLength;
}

void SongDownloader::didReceiveResponse(QNetworkReply* reply) {
    responseSeen = true;
    if (resumed && buffer) {
        const ResumedAnswer use = takeResumedAnswer(reply);
        if (use != ResumedAnswer::StartOver) {
            return; // appending to (or skipping) the bytes held, or the try failed
        }
    }
    retry.rememberFirstAnswer(*reply);
    songAnswered = true;
    buffer = std::make_shared<AudioData>();
    const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
    currentSongDataLength = length.isValid() ? length.toLongLong() : -1;
    buffer->expectedLength = currentSongDataLength;
    buffer->httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    lastStartLength = 0;
    dryAt = -1;
}

// Decides how the answer to a resumed request is used; on Failed the next try is
// already scheduled.
SongDownloader::ResumedAnswer SongDownloader::takeResumedAnswer(QNetworkReply* reply) {
    const std::int64_t held = buffer->bytes.size();
    switch (retry.classify(*reply, held)) {
    case TransferRetry::Answer::Append:
        return ResumedAnswer::KeepHeld;
    case TransferRetry::Answer::SkipHeld:
        skipRemaining = held;
        return ResumedAnswer::KeepHeld;
    case TransferRetry::Answer::StartOver:
        logLine(QStringLiteral("Song file changed on the server: its bytes start over"));
        if (SongPlayer* player = SongPlayer::sharedInstance()) {
            player->songDataStartedOver();
        }
        return ResumedAnswer::StartOver;
    case TransferRetry::Answer::Fail:
        break;
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    dropReply();
    transferFailed(QStringLiteral("resumed request answered %1").arg(status));
    return ResumedAnswer::Failed;
}

void SongDownloader::didReceiveData(QNetworkReply* reply) {
    if (reply != theConnectionRef) {
        return;
    }
    if (!responseSeen) {
        didReceiveResponse(reply);
        if (reply != theConnectionRef) {
            return; // the answer did not fit
        }
    }
    QByteArray bytes = reply->readAll();
    if (skipRemaining > 0) {
        const qsizetype skip = qsizetype(std::min<std::int64_t>(skipRemaining, bytes.size()));
        bytes.remove(0, skip);
        skipRemaining -= skip;
    }
    if (bytes.isEmpty()) {
        return;
    }
    buffer->bytes.append(bytes);
    announceShare(false);
    retry.madeProgress();
    calculateCompleteDownloadingPercentageForData();
}

void SongDownloader::didFinish(QNetworkReply* reply) {
    if (reply != theConnectionRef) {
        return;
    }
    if (reply->bytesAvailable() > 0) {
        didReceiveData(reply);
        if (reply != theConnectionRef) {
            return;
        }
    }
    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const bool success = status >= 200 && status < 300;
    const std::int64_t have = buffer ? buffer->bytes.size() : 0;
    // A 2xx answer that ends short of its stated length broke off too.
    if (!isHttpAnswer(reply) ||
        (success && currentSongDataLength > 0 && have < currentSongDataLength)) {
        const QString error = reply->error() != QNetworkReply::NoError
                                  ? hideAccessTokens(reply->errorString())
                                  : QStringLiteral("the answer ended after %1 of %2 bytes")
                                        .arg(have)
                                        .arg(currentSongDataLength);
        dropReply();
        transferFailed(error);
        return;
    }
    transferDone = true;
    if (!responseSeen) {
        didReceiveResponse(reply); // an answer without a body
    }
    if (currentSongDataLength < 0) {
        // No length was stated: the end of the answer tells it, so the song completes.
        currentSongDataLength = buffer->bytes.size();
        buffer->expectedLength = currentSongDataLength;
    }
    transferOk = success;
    if (transferOk) {
        buffer->bytes.squeeze(); // the cache counts bytes, so it should hold no spare room
        cache.setObjectForKey(buffer->bytes, transferSongId);
    }
    announceShare(true);
    calculateCompleteDownloadingPercentageForData();
    if (transferOk) {
        prefetchNext();
    }
}

void SongDownloader::transferFailed(const QString& error) {
    logLine(QStringLiteral("didFailWithError: %1").arg(error));
    const int pause = retry.pauseAfterFailure();
    if (pause >= 0) {
        const std::int64_t held = buffer ? buffer->bytes.size() : 0;
        logLine(QStringLiteral("Song transfer resumes at byte %1 in %2 ms (try %3)")
                    .arg(held)
                    .arg(pause)
                    .arg(retry.failureCount() + 1));
        retryTimer.start(pause);
        return;
    }
    logLine(QStringLiteral("Song transfer given up after %1 tries").arg(retry.failureCount()));
    gaveUp = true;
    transferDone = true;
    emit songTransferFailed(error);
    // The player learns it from the main loop: it may move on to the next song, which
    // must not happen inside this transfer's own callback.
    std::weak_ptr<AudioData> target = buffer;
    const QString reason = error;
    dispatchMain([target, reason, hadBuffer = bool(buffer)] {
        SongPlayer* p = SongPlayer::sharedInstance();
        SongDownloader* d = SongDownloader::sharedInstance();
        if (p && d && d->hasGivenUp() && d->isInProgress() &&
            (!hadBuffer || d->getSongData() == target.lock())) {
            p->songTransferGaveUp(reason);
        }
    });
}

void SongDownloader::playerRanDry() {
    dryAt = buffer ? buffer->bytes.size() : 0;
    calculateCompleteDownloadingPercentageForData();
}

void SongDownloader::queueForPlayer(void (SongPlayer::*step)()) {
    startQueued = true;
    std::weak_ptr<AudioData> target = buffer;
    dispatchMain([target, step] {
        SongPlayer* p = SongPlayer::sharedInstance();
        SongDownloader* d = SongDownloader::sharedInstance();
        if (d) {
            d->startQueued = false;
        }
        // A call queued for a buffer that has since been dropped has nothing to play.
        if (p && d && !target.expired() && d->getSongData() == target.lock()) {
            (p->*step)();
        }
    });
}

void SongDownloader::calculateCompleteDownloadingPercentageForData() {
    SongPlayer* player = SongPlayer::sharedInstance();
    if (!player || !buffer || startQueued || player->isPlaying() || player->isPaused()) {
        return;
    }
    const std::int64_t have = buffer->bytes.size();
    if (player->isBuffering()) {
        // It ran dry: go on once, when enough for the rest is here or nothing more comes.
        if (dryAt < 0) {
            dryAt = have;
        }
        const float duration = player->getCurrentPlayingDuration();
        RebufferInput in;
        in.expected = currentSongDataLength;
        in.have = have;
        in.dryAt = dryAt;
        in.audioBytesPerSecond =
            duration > 0
                ? double(currentSongDataLength > 0 ? currentSongDataLength : dryAt) / duration
                : 0;
        in.downloadBytesPerSecond = rate.bytesPerSecond(have);
        if (transferDone || mayResumeAfterRunningDry(in)) {
            dryAt = -1;
            queueForPlayer(&SongPlayer::continueAfterRunningDry);
        }
        return;
    }
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
    if (due) {
        lastStartLength = have;
        queueForPlayer(&SongPlayer::play);
    }
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
