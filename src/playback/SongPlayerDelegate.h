#pragma once
// What the song player tells its owner (the main window controller, or sondrel-play).
// Every call arrives on the main thread, from inside the player's own operations or from
// its playback timer.

#include <QString>
#include <cstdint>

class QTimer;

namespace sondrel {

class SongPlayerDelegate {
public:
    virtual ~SongPlayerDelegate() = default;

    // Last step of every stop(), and when play() could not make an audio player.
    virtual void songPlayerStopped() = 0;
    // playPause() has paused the playing song.
    virtual void songPlayerPaused() = 0;
    // play() has made a new audio player (sent before it starts), or playPause() resumed.
    virtual void songPlayerPlaying() = 0;
    // Last step of a successful play(): the current title and notification change.
    virtual void songPlayerUpdateCurrentPlaying() = 0;
    // Every 0.5 s while the playback timer runs, and once more when stop() ends it.
    virtual void songPlayerPlaybackTimerTick(QTimer* timer) = 0;
    // End of setSongForPlay(), only when the play list equals the show list.
    virtual void songPlayerHighlightSongInListWithNumber(std::uint64_t number) = 0;
    // The volume from 0.0 to 1.0.
    virtual float songPlayerGetVolumeLevel() = 0;
    // The song ran out of bytes and waits for more: silence until songPlayerPlaying (or
    // the next song) follows.
    virtual void songPlayerBuffering() {}
    // The transfer of the song at play list position `number` failed for good; the
    // player moves on to the next song once it has played what arrived.
    virtual void songPlayerSongFailed(std::uint64_t number, const QString& reason) {
        (void)number;
        (void)reason;
    }
};

} // namespace sondrel
