// AppController: the media keys (from the global tap, or from the window when there is
// no tap) and the desktop's media controls (MPRIS), which act with the same actions as
// the window's buttons.

#include "mediakeys/MprisService.h"
#include "playback/SongPlayer.h"
#include "ui_MainWindow.h"
#include "window/AppController.h"

#include <QCoreApplication>
#include <QMainWindow>

namespace sondrel {

void AppController::mediaKeyTapReceivedMediaKeyEvent(SPMediaKeyTap* /*tap*/,
                                                     const MediaKeyEvent& event) {
    switch (mediaKeyActionForEvent(event)) {
    case MediaKeyAction::PlayPause:
        playSelector(nullptr);
        break;
    case MediaKeyAction::NextSong:
        forwardSelector(nullptr);
        break;
    case MediaKeyAction::PreviousSong:
        backwardSelector(nullptr);
        break;
    case MediaKeyAction::None:
        break;
    }
}

void AppController::announcePlayerState() {
    if (mpris) {
        mpris->playerStateChanged();
    }
}

PlayerState AppController::playerState() const {
    PlayerState state;
    const SongPlayer* songPlayer = player();
    if (songPlayer == nullptr) {
        return state;
    }
    if (songPlayer->isPlaying()) {
        state.status = PlaybackStatus::Playing;
    } else if (songPlayer->isPaused()) {
        state.status = PlaybackStatus::Paused;
    }
    state.shuffle = songPlayer->getShuffle();
    state.repeatOneSong = songPlayer->getRepeating();
    if (volumeSlider() != nullptr) {
        state.volume = volumeSlider()->doubleValue() / 100.0;
    }
    state.positionUs =
        static_cast<qint64>(static_cast<double>(songPlayer->getCurrentPlayingCurrentTime()) * 1e6);
    const QJsonObject& song = songPlayer->currentSong();
    if (!song.isEmpty()) {
        NowPlaying now;
        now.songId = song.value(QStringLiteral("aid")).toVariant().toString();
        now.title = song.value(QStringLiteral("title")).toString();
        now.artist = song.value(QStringLiteral("artist")).toString();
        now.lengthUs = song.value(QStringLiteral("duration")).toVariant().toLongLong() * 1000000;
        now.url = song.value(QStringLiteral("url")).toString();
        state.song = now;
        if (songPlayer->theAudio() == nullptr) {
            // Not started yet: the place it will start from (a restored place, or 0).
            state.positionUs = static_cast<qint64>(
                static_cast<double>(songPlayer->getCurrentPlayingPercentageProgress()) *
                static_cast<double>(now.lengthUs));
        }
    }
    const bool hasList = songPlayer->getQuantityFromPlayList() > 0;
    state.canGoNext = hasList;
    state.canGoPrevious = hasList;
    state.canPlay = hasList;
    state.canPause = state.status == PlaybackStatus::Playing;
    state.canSeek =
        songPlayer->theAudio() != nullptr && songPlayer->getCurrentPlayingDuration() > 0;
    return state;
}

void AppController::playPause() {
    playSelector(nullptr);
}

void AppController::play() {
    const SongPlayer* songPlayer = player();
    if (songPlayer != nullptr && !songPlayer->isPlaying()) {
        playSelector(nullptr);
    }
}

void AppController::pause() {
    const SongPlayer* songPlayer = player();
    if (songPlayer != nullptr && songPlayer->isPlaying()) {
        playSelector(nullptr);
    }
}

void AppController::stop() {
    if (SongPlayer* songPlayer = player()) {
        songPlayer->stop();
    }
}

void AppController::next() {
    forwardSelector(nullptr);
}

void AppController::previous() {
    backwardSelector(nullptr);
}

void AppController::setPosition(qint64 positionUs) {
    SongPlayer* songPlayer = player();
    if (songPlayer == nullptr) {
        return;
    }
    // A seek to `position` of `duration` seconds: the player takes a value and its maximum.
    const float duration = songPlayer->getCurrentPlayingDuration();
    if (duration > 0) {
        songPlayer->seekToWithMax(static_cast<float>(static_cast<double>(positionUs) / 1e6),
                                  duration);
    }
}

void AppController::setShuffle(bool on) {
    const SongPlayer* songPlayer = player();
    if (songPlayer != nullptr && songPlayer->getShuffle() != on) {
        shuffleSelector(ui->shuffleButton);
    }
}

void AppController::setRepeatOneSong(bool on) {
    const SongPlayer* songPlayer = player();
    if (songPlayer != nullptr && songPlayer->getRepeating() != on) {
        repeatSelector(ui->repeatButton);
    }
}

void AppController::setVolume(double volume) {
    if (volumeSlider() != nullptr) {
        volumeSlider()->setDoubleValue(volume * 100.0);
        volumeSelector(volumeSlider());
    }
}

void AppController::raise() {
    mainWindow->show();
    // Out of the task bar too, when it was minimised.
    mainWindow->setWindowState((mainWindow->windowState() & ~Qt::WindowMinimized) |
                               Qt::WindowActive);
    mainWindow->raise();
    mainWindow->activateWindow();
}

void AppController::quit() {
    QCoreApplication::quit();
}

} // namespace sondrel
