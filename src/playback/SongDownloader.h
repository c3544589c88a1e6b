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
// Threading: main thread only; the transfer's callbacks arrive on the main loop and the
// early start of the player is queued on the main loop after the current callback.

#include "platform/AudioPlayer.h"
#include "platform/SharedInstance.h"
#include "playback/SongMemoryCache.h"

#include <QJsonValue>
#include <QObject>
#include <QPointer>
#include <cstdint>
#include <memory>

class QNetworkAccessManager;
class QNetworkReply;

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
    // A transfer is held: running, finished or failed, until abortDownloading().
    bool isInProgress() const { return theConnectionRef != nullptr; }
    // Whether `seconds` lies far enough inside the bytes received (2 % of the song as
    // margin).
    bool canISeekToTime(std::uint64_t seconds) const;
    // The early-start rule; run after every batch of bytes.
    void calculateCompleteDownloadingPercentageForData();

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

private:
    void didReceiveResponse(QNetworkReply* reply);
    void didReceiveData(QNetworkReply* reply);
    void didFinish(QNetworkReply* reply);

    // All fields: main thread.
    SongMemoryCache cache;
    QObject* delegateRef = nullptr;
    std::shared_ptr<AudioData> buffer;
    QNetworkReply* theConnectionRef = nullptr; // owned; deleted on abort
    QNetworkAccessManager* network = nullptr;  // child of this object
    QString transferSongId;                    // "aid" of the song the running transfer fetches
    bool responseSeen = false;                 // the running transfer has its response
    bool transferDone = false;        // the running transfer has ended (finished or failed)
    bool transferOk = false;          // ...and it finished with a 2xx answer
    std::int64_t lastStartLength = 0; // buffer length when a start was last queued

    static inline std::int64_t currentSongDataLength = 0; // process wide, main thread
};

} // namespace sondrel
