#pragma once
// Fetches the whole MP3 file of the current song over HTTP(S) into one growing buffer,
// which the song player plays while it grows, and keeps finished songs in a memory
// cache keyed by the song's id. It also owns the two rules that tie playback to the
// transfer: when the player may start (calculateCompleteDownloadingPercentageForData)
// and whether a seek target lies far enough inside the bytes received (canISeekToTime).
// It talks to the player directly through SongPlayer::sharedInstance().
//
// Only http and https addresses are fetched: another scheme (a "file:" address in the
// service's answer) fails the transfer without reading anything.
//
// One buffer and one transfer at a time: starting a song while a transfer runs cancels
// that transfer first. A body whose HTTP status is not 2xx is collected (the player then
// fails to decode it) but never stored in the memory cache.
//
// A transfer that breaks off or stalls before the end is resumed from the byte reached
// (TransferRetry); when the tries run out the song is given up: never cached, and the
// player is told so it can move on. After the player ran dry it goes on once enough has
// arrived (RebufferGate) or the transfer has ended.
//
// Once the current song is whole in memory the song that will play next is fetched into
// the memory cache in advance (SongPrefetcher), one transfer at a time; it is cancelled
// whenever the player stops or starts another song.
//
// Bytes arriving are announced by downloadedShareChanged, at most every
// kShareSignalMs (at once when the song is whole or cleared), so a view of the
// downloaded share follows them without repainting for every batch.
//
// Threading: main thread only; the transfer's callbacks arrive on the main loop and the
// early start of the player is queued on the main loop after the current callback.

#include "platform/AudioPlayer.h"
#include "platform/SharedInstance.h"
#include "playback/RebufferGate.h"
#include "playback/SongMemoryCache.h"
#include "playback/SongPrefetcher.h"
#include "playback/TransferRetry.h"

#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <QUrl>
#include <cstdint>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

namespace sondrel {
class SongPlayer;
}

namespace sondrel {

// The text form of a song's "aid" (songs are the same when these are equal).
QString songIdText(const QJsonValue& aid);

class SongDownloader : public QObject, public SharedInstance<SongDownloader> {
    Q_OBJECT

public:
    // Until the expected length is known this many bytes, or the end of the transfer,
    // start playback (the percentage rule needs a length of at least 100 bytes).
    static constexpr std::int64_t kEarlyStartWithoutLength = 64 * 1024;
    // Inactivity time-out of a song transfer.
    static constexpr int kTimeoutMs = 10000;
    // Shortest time between two downloadedShareChanged while bytes arrive.
    static constexpr int kShareSignalMs = 200;

    // Creates the memory cache (`cacheBudget` bytes) and becomes the shared instance (a
    // second creation logs "Error: You are creating a second SongDownloader. Bad Olvik").
    explicit SongDownloader(QObject* parent = nullptr,
                            std::int64_t cacheBudget = SongMemoryCache::kDefaultBudget);
    ~SongDownloader() override;

    // Takes the current song from the memory cache (and calls the player's play at once)
    // or starts its transfer. Nothing happens when the player's position lies outside its
    // play list.
    void startDownloadingSong();
    // Cancels the running transfer, if any; the buffer stays.
    void abortDownloading();
    // buffer := none; currentSongDataLength := 0.
    void clearCurrentSongData();
    // The buffer object itself (null when cleared); it keeps growing while bytes arrive.
    std::shared_ptr<AudioData> getSongData() const { return buffer; }
    // The buffer's length (0 without one) equals currentSongDataLength.
    bool isSongCompletelyDownloaded() const;
    // A transfer is held: running, waiting to resume, finished or given up, until
    // abortDownloading().
    bool isInProgress() const { return transferHeld; }
    // The transfer ran out of tries: nothing more will arrive for this song.
    bool hasGivenUp() const { return gaveUp; }
    // Nothing more will arrive: the transfer finished, or was given up.
    bool hasTransferEnded() const { return transferDone; }
    // The player has heard every byte present; it goes on when enough more arrived.
    void playerRanDry();
    // Whether `seconds` lies far enough inside the bytes received (2 % of the song as
    // margin).
    bool canISeekToTime(std::uint64_t seconds) const;
    // The early-start rule, and the rule that lets a player that ran dry go on; run
    // after every batch of bytes and at the end of the transfer.
    void calculateCompleteDownloadingPercentageForData();

    // How resumed transfers pause and give up, and how long a transfer may go without a
    // byte (tests shorten them).
    void setRetrySchedule(const TransferRetry::Schedule& s) { retry.setSchedule(s); }
    void setStallTimeoutMs(int ms) {
        stallTimeoutMs = ms;
        prefetcher.setStallTimeoutMs(ms);
    }

    // Whether the next song is fetched in advance (on by default).
    void setPrefetchNext(bool on);
    SongPrefetcher& nextSongPrefetcher() { return prefetcher; }

    // Accessors.
    SongMemoryCache& songsCache() { return cache; }
    QObject* delegate() const { return delegateRef; }
    void setDelegate(QObject* d) { delegateRef = d; } // not owned; nothing is sent to it
    const std::shared_ptr<AudioData>& currentSongData() const { return buffer; }
    void setCurrentSongData(std::shared_ptr<AudioData> data) { buffer = std::move(data); }
    QNetworkReply* theConnection() const { return theConnectionRef; }

    // Bytes expected for the current song (-1 when the response gave no length), process
    // wide.
    static std::int64_t currentSongDataLengthValue() { return currentSongDataLength; }
    static void setCurrentSongDataLength(std::int64_t bytes) { currentSongDataLength = bytes; }
    static void resetProcessWideState() { currentSongDataLength = 0; }

signals:
    // A song's transfer could not start or broke off without an answer; `reason` is a
    // short text (the log has the same in its "didFailWithError:" line).
    void songTransferFailed(const QString& reason);
    // More of the current song arrived, it became whole, or it was cleared.
    void downloadedShareChanged();

private:
    // Fetches the song that plays next when the current one is whole in memory.
    void prefetchNext();
    // Announces new bytes within kShareSignalMs; `now`: at once.
    void announceShare(bool now);
    // Sends the request for the current song, going on after `held` bytes when > 0.
    void sendRequest(std::int64_t held);
    void didReceiveResponse(QNetworkReply* reply);
    enum class ResumedAnswer { KeepHeld, StartOver, Failed };
    ResumedAnswer takeResumedAnswer(QNetworkReply* reply);
    void didReceiveData(QNetworkReply* reply);
    void didFinish(QNetworkReply* reply);
    void dropReply();
    void transferFailed(const QString& error);
    // Queues `step` for the player on the main loop, once at a time, for this buffer only.
    void queueForPlayer(void (SongPlayer::*step)());

    // All fields: main thread.
    SongMemoryCache cache;
    QObject* delegateRef = nullptr;
    std::shared_ptr<AudioData> buffer;
    QNetworkReply* theConnectionRef = nullptr; // owned; deleted on abort
    QNetworkAccessManager* network = nullptr;  // child of this object
    QString transferSongId;                    // "aid" of the song the running transfer fetches
    QUrl transferUrl;
    bool transferHeld = false;        // a song transfer was started and not aborted
    bool songAnswered = false;        // the song's first answer came (the buffer is its)
    bool responseSeen = false;        // the running request has its response
    bool resumed = false;             // the running request goes on after held bytes
    std::int64_t skipRemaining = 0;   // body bytes of a full answer that are held already
    bool transferDone = false;        // the transfer has ended (finished, or given up)
    bool transferOk = false;          // ...and it finished with a 2xx answer
    bool gaveUp = false;              // the tries ran out
    bool startQueued = false;         // a call of the player waits on the main loop
    std::int64_t lastStartLength = 0; // buffer length when a start was last queued
    std::int64_t dryAt = -1;          // buffer length when the player ran dry, -1: it did not
    int stallTimeoutMs = kTimeoutMs;
    TransferRetry retry;
    DownloadRate rate;
    QTimer retryTimer; // the pause before the next try
    QTimer shareTimer; // holds back downloadedShareChanged while bytes arrive
    bool prefetchOn = true;
    SongPrefetcher prefetcher; // declared after `network`, which it uses

    static inline std::int64_t currentSongDataLength = 0; // process wide, main thread
};

} // namespace sondrel
