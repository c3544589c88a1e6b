#pragma once
// What the desktop's media controls (MPRIS, see MprisService) may do with the player,
// and what they may read of it. The main controller implements it with the same actions
// as the window's buttons; MprisService calls it on the main thread only.
//
// When the player's state changes on its own (a song starts, pause, the shuffle or
// repeat button, the volume slider, the end of the list), the implementer calls
// MprisService::playerStateChanged(); after a jump in the song that the user made in the
// window (the progress slider) it calls MprisService::seeked(newPosition). Changes made
// through MPRIS are announced by the service itself.

#include <QString>
#include <QtGlobal>
#include <optional>

namespace sondrel {

enum class PlaybackStatus { Stopped, Playing, Paused };

// The song the player is on (playing, paused, or chosen and stopped).
struct NowPlaying {
    QString songId;      // the song record's "aid" as text
    QString title;       // the song record's "title"
    QString artist;      // the song record's "artist"
    qint64 lengthUs = 0; // the song's "duration" in microseconds; 0 when unknown
    QString url;         // the song record's "url"
    friend bool operator==(const NowPlaying&, const NowPlaying&) = default;
};

// A snapshot of the player, as the desktop sees it.
struct PlayerState {
    PlaybackStatus status = PlaybackStatus::Stopped;
    bool shuffle = false;       // shufflePlaying
    bool repeatOneSong = false; // repeatOneSong
    double volume = 1.0;        // 0.0 .. 1.0 (the volume slider)
    qint64 positionUs = 0;      // the played time of the current song
    std::optional<NowPlaying> song;
    bool canGoNext = false; // there is a play list to move in
    bool canGoPrevious = false;
    bool canPlay = false; // there is a song to play
    bool canPause = false;
    bool canSeek = false; // the current song can jump (its length is known)
    friend bool operator==(const PlayerState&, const PlayerState&) = default;
};

class PlayerControl {
public:
    // The player's state now. Called often (every property read); keep it cheap.
    virtual PlayerState playerState() const = 0;

    virtual void playPause() = 0; // the window's play/pause button (playSelector)
    virtual void play() = 0;      // start or resume; nothing when already playing
    virtual void pause() = 0;     // pause; nothing when not playing
    virtual void stop() = 0;
    virtual void next() = 0;     // the next-song button (forwardSelector)
    virtual void previous() = 0; // the previous-song button (backwardSelector)
    // Jumps within the current song; 0 <= positionUs <= its length (checked by the caller).
    virtual void setPosition(qint64 positionUs) = 0;
    virtual void setShuffle(bool on) = 0;       // the shuffle button's state
    virtual void setRepeatOneSong(bool on) = 0; // the repeat button's state
    virtual void setVolume(double volume) = 0;  // 0.0 .. 1.0 (checked by the caller)
    virtual void raise() = 0;                   // bring the main window to the front
    virtual void quit() = 0;                    // quit as the menu's Quit does

protected:
    ~PlayerControl() = default;
};

} // namespace sondrel
