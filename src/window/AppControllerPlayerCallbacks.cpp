// AppController: the song player's delegate callbacks and the play button's states.

#include "playback/PlaybackResume.h"
#include "playback/SongDownloader.h"
#include "playback/SongPlayer.h"
#include "shell/AppDelegate.h"
#include "window/AppController.h"
#include "window/AuthorLinks.h"
#include "window/FloatSlider.h"
#include "window/Images.h"
#include "window/LyricsPanel.h"
#include "window/StatusMessage.h"
#include "window/TitleText.h"
#include "window/ViewTags.h"

#include <QLabel>
#include <QMainWindow>
#include <QToolButton>

namespace sondrel {

void AppController::playButtonState(int state) {
    switch (state) {
    case kStatePlaying:
        setButtonImage(playButton(), QStringLiteral("pauseBig"));
        setRowButtonImageOfCurrentSong(QStringLiteral("pause"));
        songPlayerUpdateCurrentPlaying();
        setCurrentPlayingInProfileStatus(true);
        break;
    case kStatePaused:
        if (popover() != nullptr && popover()->isVisible()) {
            popover()->hide();
        }
        setButtonImage(playButton(), QStringLiteral("playBig"));
        if (currentSongTitle() != nullptr) {
            currentSongTitle()->setTextFormat(Qt::PlainText);
            currentSongTitle()->setText(kPausedTitle);
        }
        setRowButtonImageOfCurrentSong(QStringLiteral("play"));
        break;
    case kStateStopped:
        setButtonImage(playButton(), QStringLiteral("playBig"));
        setStoppedTitle();
        if (progressSlider() != nullptr) {
            progressSlider()->setDoubleValue(0.0);
        }
        setRowButtonImageOfCurrentSong(QStringLiteral("play"));
        setCurrentPlayingInProfileStatus(false);
        break;
    default:
        return;
    }
    showDownloadedShare();
    announcePlayerState();
}

void AppController::setRowButtonImageOfCurrentSong(const QString& name) {
    currentRowImage = name;
    SongPlayer* songPlayer = player();
    if (songPlayer == nullptr || songsTableView() == nullptr ||
        !songPlayer->isCurrentPlaylistEqualToListOnScreen()) {
        return;
    }
    QWidget* rowView = songsTableView()->rowViewAtRow(
        static_cast<std::int64_t>(songPlayer->getCurrentSongNumber()), false);
    setButtonImage(viewWithTag<QAbstractButton>(rowView, kSongCellButtonTag), name);
}

void AppController::setStoppedTitle() {
    if (currentSongTitle() != nullptr) {
        currentSongTitle()->setTextFormat(Qt::PlainText);
        currentSongTitle()->setText(kAuthorWebAddress);
    }
}

void AppController::showAttributedTitle() {
    SongPlayer* songPlayer = player();
    if (songPlayer == nullptr || currentSongTitle() == nullptr) {
        return;
    }
    showTitle(currentSongTitle(), songPlayer->getCurrentPlayingAttributedTitle());
}

void AppController::songPlayerStopped() {
    playButtonState(kStateStopped);
}

void AppController::songPlayerPaused() {
    playButtonState(kStatePaused);
    if (resume) {
        resume->save();
    }
}

void AppController::songPlayerPlaying() {
    statusMessage()->resolve(StatusMessage::Topic::Playback);
    playButtonState(kStatePlaying);
}

void AppController::songPlayerBuffering() {
    // Silence while bytes arrive: never "playing"; the button pauses the wait.
    setButtonImage(playButton(), QStringLiteral("pauseBig"));
    if (currentSongTitle() != nullptr) {
        currentSongTitle()->setTextFormat(Qt::PlainText);
        currentSongTitle()->setText(kBufferingTitle);
    }
}

void AppController::songPlayerSongFailed(std::uint64_t number, const QString& reason) {
    const QString title = player() != nullptr ? player()->getCurrentPlayingAttributedTitle().text
                                              : QString::number(number);
    window()->setWindowTitle(
        QStringLiteral("Sondrel — не удалось загрузить: %1 (%2)").arg(title, reason));
}

void AppController::songPlayerUpdateCurrentPlaying() {
    if (player() != nullptr && // the song that had failed plays now
        window()->windowTitle().contains(player()->getCurrentPlayingAttributedTitle().text)) {
        window()->setWindowTitle(QStringLiteral("Sondrel"));
    }
    deliverSongNotification();
    showAttributedTitle();
    showCurrentSongLyrics();
    if (resume) {
        resume->songChanged();
    }
}

void AppController::showResumedSong() {
    SongPlayer* songPlayer = player();
    if (songPlayer == nullptr || songsTableView() == nullptr) {
        return;
    }
    const std::uint64_t row = songPlayer->getCurrentSongNumber();
    songsTableView()->scrollRowToVisible(static_cast<std::int64_t>(row));
    songPlayerHighlightSongInListWithNumber(row);
    setRowButtonImageOfCurrentSong(QStringLiteral("play"));
    showAttributedTitle();
    showCurrentSongLyrics();              // read before it plays, when the panel is open
    songPlayerPlaybackTimerTick(nullptr); // the slider and both times at the point
}

namespace {

// The share of the current song's bytes that have arrived: 1 when it is whole (or came
// from the memory cache), 0 without a song or while its length is unknown.
double downloadedShareOfCurrentSong() {
    const SongDownloader* downloader = SongDownloader::sharedInstance();
    if (downloader == nullptr || downloader->getSongData() == nullptr) {
        return 0.0;
    }
    if (downloader->isSongCompletelyDownloaded()) {
        return 1.0;
    }
    const std::int64_t expected = SongDownloader::currentSongDataLengthValue();
    if (expected <= 0) {
        return 0.0;
    }
    return static_cast<double>(downloader->getSongData()->bytes.size()) /
           static_cast<double>(expected);
}

} // namespace

void AppController::showDownloadedShare() {
    if (progressSlider() != nullptr) {
        progressSlider()->setAvailableFraction(downloadedShareOfCurrentSong());
    }
}

void AppController::showCurrentSongLyrics() {
    SongPlayer* songPlayer = player();
    if (lyricsPanelObject == nullptr || songPlayer == nullptr) {
        return;
    }
    const QJsonObject& song = songPlayer->currentSong();
    lyricsPanelObject->showSong(songIdText(song.value(QStringLiteral("aid"))), song);
}

void AppController::songPlayerPlaybackTimerTick(QTimer* /*timer*/) {
    SongPlayer* songPlayer = player();
    if (songPlayer == nullptr) {
        return;
    }
    showDownloadedShare();
    // A knob the user is holding stays under the pointer; the seek comes on release.
    if (progressSlider() != nullptr && !progressSlider()->isSliderDown()) {
        progressSlider()->setDoubleValue(songPlayer->getCurrentPlayingPercentageProgress());
    }
    if (songsTableView() != nullptr && songPlayer->isCurrentPlaylistEqualToListOnScreen() &&
        songPlayer->isCurrentSongEqualToSongInRowInListOnScreen()) {
        QWidget* rowView = songsTableView()->rowViewAtRow(
            static_cast<std::int64_t>(songPlayer->getCurrentSongNumber()), false);
        if (auto* timeField = viewWithTag<QLabel>(rowView, kSongCellTimeTag)) {
            timeField->setText(songPlayer->getCurrentPlayingTimeLeft());
        }
    }
    if (currentSongTimeLeft() != nullptr) {
        currentSongTimeLeft()->setText(songPlayer->getCurrentPlayingTimeLeft());
    }
}

void AppController::songPlayerHighlightSongInListWithNumber(std::uint64_t number) {
    if (songsTableView() == nullptr) {
        return;
    }
    songsTableView()->selectRowIndexes({static_cast<std::int64_t>(number)}, false);
    selectSongRow(number, songsTableView());
    announcePlayerState();
}

float AppController::songPlayerGetVolumeLevel() {
    if (volumeSlider() == nullptr) {
        return 1.0f;
    }
    const auto value = static_cast<float>(volumeSlider()->doubleValue());
    const QString text = QString::asprintf("%f", static_cast<double>(value));
    const QString key = QStringLiteral("lastVolume");
    // Each save is a durable write: skip the ones that would write the same text again.
    if (AppDelegate::getObjectWithKey(key) != QVariant(text)) {
        AppDelegate::saveObjectWithKey(text, key);
    }
    return static_cast<float>(volumeSlider()->doubleValue()) / 100.0f;
}

} // namespace sondrel
