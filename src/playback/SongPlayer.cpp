#include "playback/SongPlayer.h"

#include "platform/Log.h"
#include "playback/SongDownloader.h"

#include <cmath>
#include <cstdlib>
#include <utility>

namespace sondrel {

void SongPlayer::AudioDeleter::operator()(CustomAVAudioPlayer* player) const {
    // The player may be the one whose callback is running right now: stop its sound at
    // once, free it from the main loop.
    player->setDelegate(nullptr);
    player->AudioPlayer::stop();
    player->deleteLater();
}

SongPlayer::SongPlayer(QObject* parent) : QObject(parent) {
    becomeSharedInstance(this, "SongPlayer");
}

SongPlayer::~SongPlayer() {
    dropTimer();
    audio.reset();
    resignSharedInstance(this);
}

void SongPlayer::resetProcessWideState() {
    currentSongNumber = 0;
    shufflePlaying = false;
    repeatOneSong = false;
    drawnPick.reset();
    CustomAVAudioPlayer::resetPausedFlag();
    std::srand(1); // the sequence of a fresh process, which never seeds rand
}

// ---- Lists

void SongPlayer::setListOnScreenWithArray(const SongList& songs) {
    // A list equal to the play list shares the play list's records: the equality asked
    // for every row built and at every tick then answers at once, however long the list.
    showSongs = songs == playSongs ? playSongs : songs;
    if (playSongs.isEmpty()) {
        playSongs = showSongs;
    }
}

void SongPlayer::setListOnScreenAsCurrentPlaylist() {
    playSongs = showSongs;
    logLine(QStringLiteral("setListOnScreenAsCurrentPlaylist"));
    logLine(QStringLiteral("self.playList.count=%1").arg(playSongs.size()));
    logLine(QStringLiteral("self.showList.count=%1").arg(showSongs.size()));
}

void SongPlayer::clearPlaylists() {
    showSongs = SongList();
    playSongs = SongList();
}

std::uint64_t SongPlayer::getQuantityFromListOnScreen() const {
    return std::uint64_t(showSongs.size());
}

std::uint64_t SongPlayer::getQuantityFromPlayList() const {
    return std::uint64_t(playSongs.size());
}

bool SongPlayer::isCurrentPlaylistEqualToListOnScreen() const {
    return showSongs == playSongs;
}

bool SongPlayer::isCurrentSongEqualToSongInRowInListOnScreen() const {
    return isCurrentSongEqualToSongInRow(currentSongNumber);
}

bool SongPlayer::isCurrentSongEqualToSongInRow(std::uint64_t row) const {
    if (row >= std::uint64_t(showSongs.size())) {
        return false;
    }
    const QJsonObject song = showSongs.at(qsizetype(row));
    return songIdText(current.value(QLatin1String("aid"))) ==
           songIdText(song.value(QLatin1String("aid")));
}

// ---- Current song

void SongPlayer::setSongForPlay(std::uint64_t position) {
    if (isCurrentPlaylistEqualToListOnScreen() && position == currentSongNumber &&
        isCurrentSongEqualToSongInRowInListOnScreen()) {
        playPause(); // the same song chosen again: pause or resume
    } else {
        stop();
        currentSongNumber = position;
        playPause();
    }
    if (isCurrentPlaylistEqualToListOnScreen() && delegateRef) {
        delegateRef->songPlayerHighlightSongInListWithNumber(position);
    }
}

void SongPlayer::setCurrentSong() {
    current = currentSongNumber < std::uint64_t(playSongs.size())
                  ? playSongs.at(qsizetype(currentSongNumber))
                  : QJsonObject();
}

QJsonValue SongPlayer::getCurrentSongID() const {
    return current.value(QLatin1String("aid"));
}

QUrl SongPlayer::getCurrentSongURL() const {
    return QUrl(current.value(QLatin1String("url")).toString());
}

// ---- Transport

void SongPlayer::playPause() {
    logLine(QStringLiteral("--playPause--"));
    SongDownloader* downloader = SongDownloader::sharedInstance();
    if (audio) {
        logLine(QStringLiteral("1 "));
        if (audio->isPlaying()) {
            logLine(QStringLiteral("2"));
            audio->pause();
            if (delegateRef) {
                delegateRef->songPlayerPaused();
            }
        } else {
            logLine(QStringLiteral("3"));
            if (downloader && audio->reachedEnd() && !audio->hasUnreadBytes() &&
                downloader->isInProgress() && !downloader->isSongCompletelyDownloaded()) {
                // Ran dry with nothing new yet: a press holds the wait (as a pause), the
                // next press lets it go on by itself again. Playing now would start over.
                if (audio->isPaused()) {
                    audio->stop(); // clears the paused flag; the position stays
                    if (delegateRef) {
                        delegateRef->songPlayerBuffering();
                    }
                    downloader->calculateCompleteDownloadingPercentageForData();
                } else {
                    audio->pause();
                    if (delegateRef) {
                        delegateRef->songPlayerPaused();
                    }
                }
                return;
            }
            if (downloader &&
                (downloader->isSongCompletelyDownloaded() || downloader->isInProgress())) {
                logLine(QStringLiteral("4"));
                audio->play();
                if (delegateRef) {
                    delegateRef->songPlayerPlaying();
                }
            } else if (downloader) {
                downloader->startDownloadingSong();
            }
        }
    } else {
        logLine(QStringLiteral("5"));
        if (downloader) {
            downloader->startDownloadingSong();
        }
    }
}

void SongPlayer::play() {
    SongDownloader* downloader = SongDownloader::sharedInstance();
    const std::shared_ptr<AudioData> data = downloader ? downloader->getSongData() : nullptr;
    // A new player for the bytes the previous one played (it ran dry, or several starts
    // were queued) goes on from where that one is, instead of from the beginning.
    const double goOnFrom = audio && data && audio->data() == data ? audio->currentTime() : 0.0;
    AudioPointer fresh(new CustomAVAudioPlayer);
    QString error;
    const bool made = fresh->initWithData(data, &error, outputSpec);
    audio.reset();
    if (!made) {
        logLine(QStringLiteral("Error play song: %1").arg(error));
        emit songCouldNotPlay(error);
        if (delegateRef) {
            delegateRef->songPlayerStopped();
        }
        moveOnFromUnplayableSong();
        return;
    }
    unplayableInARow = 0;
    audio = std::move(fresh);
    if (resumeAt > 0 && !applyResumePoint()) {
        audio.reset(); // silent until the bytes up to the resume point are here
        return;
    }
    if (delegateRef) {
        delegateRef->songPlayerPlaying();
    }
    audio->setDelegate(this);
    setVolume();
    if (goOnFrom > 0) {
        audio->setCurrentTime(goOnFrom);
    }
    audio->play();
    dropTimer();
    timer = new QTimer(this);
    timer->setInterval(500);
    connect(timer, &QTimer::timeout, this, [this] { tick(); });
    timer->start();
    if (delegateRef) {
        delegateRef->songPlayerUpdateCurrentPlaying();
    }
}

bool SongPlayer::applyResumePoint() {
    SongDownloader* downloader = SongDownloader::sharedInstance();
    const bool allBytesHere = downloader == nullptr || downloader->isSongCompletelyDownloaded() ||
                              downloader->hasTransferEnded();
    if (!allBytesHere && !downloader->canISeekToTime(std::uint64_t(resumeAt))) {
        return false;
    }
    audio->setCurrentTime(resumeAt);
    resumeAt = 0;
    return true;
}

void SongPlayer::setResumePoint(std::uint64_t position, double seconds) {
    currentSongNumber = position;
    setCurrentSong();
    const double duration = recordDuration();
    resumeAt = std::isfinite(seconds) && seconds > 0 && seconds < duration * kLatestResumeShare
                   ? seconds
                   : 0.0;
}

void SongPlayer::stop() {
    resumeAt = 0;
    SongDownloader* downloader = SongDownloader::sharedInstance();
    if (downloader) {
        downloader->abortDownloading();
    }
    if (audio) {
        audio->stop();
        audio.reset();
    }
    if (timer) {
        tick(); // a last tick, which already sees no audio player
        dropTimer();
    }
    if (downloader) {
        downloader->clearCurrentSongData();
    }
    if (delegateRef) {
        delegateRef->songPlayerStopped();
    }
}

void SongPlayer::next() {
    stop();
    const std::uint64_t count = getQuantityFromPlayList();
    if (count == 0) {
        return;
    }
    if (shufflePlaying) {
        const int r = drawnPick ? *std::exchange(drawnPick, std::nullopt) : std::rand();
        setSongForPlay(std::uint64_t(r) % count);
        return;
    }
    const std::uint64_t k = currentSongNumber;
    if (k == count - 1) {
        setSongForPlay(0); // the list wraps: playback never ends by itself
    } else if (k < count - 1) {
        setSongForPlay(k + 1);
    } else {
        stop(); // the position lies beyond a shorter play list
    }
}

void SongPlayer::prev() {
    stop();
    const std::uint64_t count = getQuantityFromPlayList();
    if (count == 0) {
        return;
    }
    setSongForPlay(currentSongNumber != 0 ? currentSongNumber - 1 : count - 1);
}

std::optional<QJsonObject> SongPlayer::upcomingSong() {
    const std::uint64_t count = getQuantityFromPlayList();
    if (repeatOneSong || count == 0) {
        return std::nullopt;
    }
    std::uint64_t position = 0;
    if (shufflePlaying) {
        if (!drawnPick) {
            drawnPick = std::rand();
        }
        position = std::uint64_t(*drawnPick) % count;
    } else if (currentSongNumber < count) {
        position = (currentSongNumber + 1) % count; // the last song is followed by the first
    } else {
        return std::nullopt; // `next` stops there
    }
    return playSongs.at(qsizetype(position));
}

void SongPlayer::audioPlayerDidFinishPlaying(AudioPlayer* player, bool /*successfully*/) {
    if (player != audio.get()) {
        return;
    }
    SongDownloader* downloader = SongDownloader::sharedInstance();
    if (audio->hasUnreadBytes() && downloader &&
        (downloader->isSongCompletelyDownloaded() || downloader->hasTransferEnded())) {
        // The last bytes arrived while the sound before them ran out: play them too.
        QTimer::singleShot(0, this, [this, ended = audio.get()] {
            if (audio.get() == ended) {
                continueAfterRunningDry();
            }
        });
        return;
    }
    if (downloader && !downloader->isSongCompletelyDownloaded() &&
        !downloader->hasTransferEnded()) {
        // Ran dry: the downloader lets it go on once enough more has arrived.
        if (delegateRef) {
            delegateRef->songPlayerBuffering();
        }
        downloader->playerRanDry();
        return;
    }
    songEnded();
}

void SongPlayer::songEnded() {
    SongDownloader* downloader = SongDownloader::sharedInstance();
    if (repeatOneSong && downloader && !downloader->hasGivenUp()) {
        setSongForPlay(currentSongNumber);
    } else {
        next(); // a song given up cannot be repeated whole either
    }
}

void SongPlayer::moveOnFromUnplayableSong() {
    const SongDownloader* downloader = SongDownloader::sharedInstance();
    if (downloader == nullptr ||
        !(downloader->isSongCompletelyDownloaded() || downloader->hasTransferEnded())) {
        return; // more bytes may still make it playable: the next batch tries again
    }
    if (++unplayableInARow >= getQuantityFromPlayList()) {
        unplayableInARow = 0; // nothing in the list plays: stop rather than go round
        return;
    }
    // From the main loop: a song taken from the memory cache fails inside the start of
    // the one before, and a list of broken songs must not nest one start in another.
    const std::uint64_t failed = currentSongNumber;
    QTimer::singleShot(0, this, [this, failed] {
        if (currentSongNumber == failed && !audio) {
            next();
        }
    });
}

void SongPlayer::continueAfterRunningDry() {
    if (!audio || audio->isPlaying() || audio->isPaused()) {
        return;
    }
    if (audio->reachedEnd() && !audio->hasUnreadBytes()) {
        SongDownloader* downloader = SongDownloader::sharedInstance();
        if (!downloader || downloader->isSongCompletelyDownloaded() ||
            downloader->hasTransferEnded()) {
            songEnded(); // the transfer ended exactly where the sound did
        }
        return;
    }
    if (audio->play() && delegateRef) {
        delegateRef->songPlayerPlaying();
    }
}

void SongPlayer::songDataStartedOver() {
    if (audio) {
        audio.reset();
        if (delegateRef) {
            delegateRef->songPlayerBuffering();
        }
    }
}

void SongPlayer::songTransferGaveUp(const QString& reason) {
    if (delegateRef) {
        delegateRef->songPlayerSongFailed(currentSongNumber, reason);
    }
    if (!audio) {
        moveOnFromUnplayableSong(); // nothing of it played
    } else if (isBuffering()) {
        songEnded();
    }
}

void SongPlayer::seekToWithMax(float value, float maximum) {
    if (!audio && resumeAt > 0) {
        // Not started yet: the slider moves the place the next play starts from.
        setResumePoint(currentSongNumber, recordDuration() / maximum * value);
        return;
    }
    const float d = audio ? float(audio->duration()) : 0.0f;
    const float t = d / maximum * value;
    if (!audio || !std::isfinite(t) || t < 0) {
        return;
    }
    SongDownloader* downloader = SongDownloader::sharedInstance();
    if (downloader && downloader->canISeekToTime(std::uint64_t(t))) {
        audio->setCurrentTime(t);
    }
}

void SongPlayer::setVolume() {
    const float level = delegateRef ? delegateRef->songPlayerGetVolumeLevel() : 1.0f;
    if (audio) {
        audio->setVolume(level);
    }
}

bool SongPlayer::isPlaying() const {
    return audio && audio->isPlaying();
}

bool SongPlayer::isPaused() const {
    return audio && audio->isPaused();
}

bool SongPlayer::isBuffering() const {
    return audio && !audio->isPlaying() && !audio->isPaused();
}

float SongPlayer::getCurrentPlayingDuration() const {
    return audio ? float(audio->duration()) : 0.0f;
}

float SongPlayer::getCurrentPlayingCurrentTime() const {
    return audio ? float(audio->currentTime()) : 0.0f;
}

float SongPlayer::getCurrentPlayingPercentageProgress() const {
    if (!audio) {
        const double duration = recordDuration();
        return resumeAt > 0 && duration > 0 ? float(resumeAt / duration) : 0.0f;
    }
    const double duration = audio->duration();
    return duration > 0 ? float(audio->currentTime() / duration) : 0.0f;
}

void SongPlayer::tick() {
    if (delegateRef) {
        delegateRef->songPlayerPlaybackTimerTick(timer);
    }
}

void SongPlayer::dropTimer() {
    if (timer) {
        timer->stop();
        timer->deleteLater(); // may be the timer whose tick is running
        timer = nullptr;
    }
}

} // namespace sondrel
