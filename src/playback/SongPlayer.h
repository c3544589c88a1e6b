#pragma once
// The playback controller: the show list (what the song table shows), the play list
// (what playback walks through), the chosen position, shuffle and single-song repeat, the
// audio player of the current song and the half-second playback timer. It gets the song's
// bytes from the SongDownloader (through its shared instance) and reports every change
// to its SongPlayerDelegate.
//
// Song records are QJsonObject exactly as the service sends them ("aid", "owner_id",
// "artist", "title", "duration", "url", ...); two records are the same song when the
// text forms of their "aid" are equal. Lists are replaced whole and stored as copies; a
// list is a SongList (compact, implicitly shared): a copy costs nothing, and a record is
// read on demand, so only the rows shown and the current song are ever read here.
//
// The process-wide state (currentSongNumber, shufflePlaying, repeatOneSong, and the
// paused flag of CustomAVAudioPlayer) lives outside the object and survives a second
// SongPlayer; it starts at 0/false and the player never saves it (PlaybackResume may put
// currentSongNumber back on a stored song through setResumePoint).
//
// Threading: main thread only: every operation, the timer and every delegate call.

#include "platform/CustomAVAudioPlayer.h"
#include "platform/SharedInstance.h"
#include "playback/SongPlayerDelegate.h"
#include "playback/SongTitles.h"
#include "support/SongList.h"

#include <QJsonObject>
#include <QJsonValue>
#include <QObject>
#include <QTimer>
#include <QUrl>
#include <cstdint>
#include <memory>
#include <optional>

namespace sondrel {

class SongPlayer : public QObject, public SharedInstance<SongPlayer>, private AudioPlayerDelegate {
    Q_OBJECT

public:
    // Both lists empty; becomes the shared instance (a second creation logs
    // "Error: You are creating a second SongPlayer. Bad Olvik" and replaces the first).
    explicit SongPlayer(QObject* parent = nullptr);
    ~SongPlayer() override;

    // ---- Lists
    // show list := copy; the play list too, but only while it is empty.
    void setListOnScreenWithArray(const SongList& songs);
    // play list := copy of the show list (a click on a row, before setSongForPlay).
    void setListOnScreenAsCurrentPlaylist();
    // Both lists emptied; a playing song goes on.
    void clearPlaylists();
    std::uint64_t getQuantityFromListOnScreen() const;
    std::uint64_t getQuantityFromPlayList() const;
    bool isCurrentPlaylistEqualToListOnScreen() const;
    // currentSong's "aid" equals that of the show list entry at currentSongNumber.
    bool isCurrentSongEqualToSongInRowInListOnScreen() const;
    bool isCurrentSongEqualToSongInRow(std::uint64_t row) const;

    // ---- Current song
    // Chooses the play list position and starts it, or pauses/resumes it when it is
    // already the current song; highlights the row when the lists are equal.
    void setSongForPlay(std::uint64_t position);
    std::uint64_t getCurrentSongNumber() const { return currentSongNumber; }
    // currentSong := play list entry at currentSongNumber (an empty record when the
    // position lies outside the play list).
    void setCurrentSong();
    // "aid" of currentSong (Undefined when there is none).
    QJsonValue getCurrentSongID() const;
    QUrl getCurrentSongURL() const;
    // Makes the song at `position` of the play list the current one without playing it,
    // to go on from `seconds` when it is next played: the first audio player for it
    // starts there once the downloader allows a seek to it. A point within the song's
    // last 3 % (or a song without a known duration) starts at the beginning. Any stop
    // forgets the point.
    void setResumePoint(std::uint64_t position, double seconds);
    // The point the next play of the current song starts from (0: the beginning).
    double resumeSeconds() const { return resumeAt; }

    // ---- Transport
    void playPause();
    // Opens a new audio player on the downloader's buffer and starts it. A new player for
    // the same buffer as the previous one goes on from the previous one's position.
    void play();
    void stop();
    void next();
    void prev();
    // The song `next` will play, for fetching it in advance; none when nothing would
    // play next or repeat is on (the current song comes again at its end). With shuffle
    // the pick is drawn here and kept for `next`, so the song fetched is the one that
    // plays and the sequence of picks stays the one `next` alone would draw.
    std::optional<QJsonObject> upcomingSong();
    // Proportional seek: value/maximum of the song's duration, when the downloader has
    // enough of it. While a resume point waits, it moves that point instead.
    void seekToWithMax(float value, float maximum);
    void setVolume();
    void invertShuffle() { shufflePlaying = !shufflePlaying; }
    void invertRepeating() { repeatOneSong = !repeatOneSong; }
    bool getShuffle() const { return shufflePlaying; }
    bool getRepeating() const { return repeatOneSong; }
    bool isPlaying() const;
    bool isPaused() const;
    // An audio player is there but neither plays nor is paused: it ran out of bytes and
    // waits for the downloader.
    bool isBuffering() const;

    // ---- From the downloader
    // Enough arrived after running dry (or the transfer ended): go on, or end the song
    // when nothing is left to hear.
    void continueAfterRunningDry();
    // The song's file changed on the server: the bytes played so far are void.
    void songDataStartedOver();
    // The transfer failed for good: tell the delegate; move on unless there is still
    // sound to play (then the end of it moves on).
    void songTransferGaveUp(const QString& reason);
    float getCurrentPlayingDuration() const;
    float getCurrentPlayingCurrentTime() const;
    // currentTime / duration, a fraction from 0 to 1 (0 without an audio player, or the
    // resume point's share of the song while one waits). The downloader's early-start
    // rule reads it too, so a resumed song starts once the bytes up to its point are here.
    float getCurrentPlayingPercentageProgress() const;

    // ---- Titles and times (SongTitles.cpp). Out-of-range rows give an empty title and
    // "00:00"; they never read outside a list.
    AttributedTitle getCurrentPlayingAttributedTitle() const;
    AttributedTitle getAttributedTitleForSongInListOnScreenAtRow(std::int64_t row) const;
    QString getTimeDurationForCurrentSong() const;
    QString getTimeDurationForSongAtRow(std::uint64_t row) const;
    float getCurrentPlayingSecondsLeft() const;
    // "-mm:ss" or "-hh:mm:ss" of the time left; the full duration of the song at
    // currentSongNumber when nothing plays (less the resume point, when one waits).
    QString getCurrentPlayingTimeLeft() const;

    // ---- Accessors
    QTimer* playbackTimer() const { return timer; }
    const SongList& showList() const { return showSongs; }
    void setShowList(const SongList& list) { showSongs = list; }
    const SongList& playList() const { return playSongs; }
    void setPlayList(const SongList& list) { playSongs = list; }
    const QJsonObject& currentSong() const { return current; }
    void setCurrentSong(const QJsonObject& song) { current = song; }
    SongPlayerDelegate* delegate() const { return delegateRef; }
    void setDelegate(SongPlayerDelegate* d) { delegateRef = d; } // not owned
    CustomAVAudioPlayer* theAudio() const { return audio.get(); }

    // Where audio players send their sound ("null", "wav:PATH"...); empty: the
    // SONDREL_AUDIO_OUTPUT choice. Used by tests and sondrel-play.
    void setAudioOutputSpec(const QString& spec) { outputSpec = spec; }

    // Process-wide state, as at launch (for tests that run several players in one process).
    static void resetProcessWideState();
    static std::uint64_t currentSongNumberValue() { return currentSongNumber; }

signals:
    // play() could not make an audio player for the song's bytes; `reason` is the text of
    // its "Error play song:" log line. Sent just before songPlayerStopped.
    void songCouldNotPlay(const QString& reason);

private:
    void audioPlayerDidFinishPlaying(AudioPlayer* player, bool successfully) override;
    void tick();
    void dropTimer();
    // The end of what will ever arrive: repeat, or the next song.
    void songEnded();
    // After a failed play: when every byte of the song is here (or will never come), it
    // can never play, so the next song follows as after an end — unless each song of the
    // play list has failed in a row, when the player stays stopped.
    void moveOnFromUnplayableSong();
    // The record's "duration" of the current song in seconds (0 when unknown).
    double recordDuration() const;
    // Moves the new audio player to the resume point; false while the bytes up to it are
    // not here yet (the player is then not started: the next batch of bytes tries again).
    bool applyResumePoint();

    // Audio players are freed from the main loop: the one being replaced may be the
    // caller (its end-of-data callback leads here).
    struct AudioDeleter {
        void operator()(CustomAVAudioPlayer* player) const;
    };
    using AudioPointer = std::unique_ptr<CustomAVAudioPlayer, AudioDeleter>;

    // All fields: main thread.
    QTimer* timer = nullptr; // child of this object; none when stopped
    SongList showSongs;
    SongList playSongs;
    QJsonObject current;
    SongPlayerDelegate* delegateRef = nullptr; // not owned
    AudioPointer audio;
    QString outputSpec;
    double resumeAt = 0;                // seconds into the current song for its next play; 0: none
    std::uint64_t unplayableInARow = 0; // songs that could not play since one last did
    // A resume point later than this share of the song starts the song from its beginning
    // (the early-start rule needs 2 % more than the point before it plays).
    static constexpr double kLatestResumeShare = 0.97;

    // Process-wide (main thread).
    static inline std::uint64_t currentSongNumber = 0;
    static inline bool shufflePlaying = false;
    static inline bool repeatOneSong = false;
    static inline std::optional<int> drawnPick; // rand() drawn ahead for the next shuffled `next`
};

} // namespace sondrel
