#pragma once
// The terminal side of sondrel-play: reads commands from stdin, drives the SongPlayer and
// writes its events to stdout, one per line. Main thread only.

#include "playback/SongPlayerDelegate.h"

#include <QObject>
#include <QSocketNotifier>
#include <QTextStream>

namespace sondrel {

class PlaybackResume;
class SongPlayer;

class PlayConsole : public QObject, public SongPlayerDelegate {
    Q_OBJECT

public:
    PlayConsole(SongPlayer& player, bool ticks, float volume, QObject* parent = nullptr);

    // Starts reading stdin (end of input does not quit).
    void listen();
    // Runs one command line; false for an unknown command (reported on stderr).
    bool command(const QString& line);
    // Keeps `resume` (not owned) up to date as songs start and pause.
    void setResume(PlaybackResume* r) { resume = r; }
    // The player was put back where it was left: "resumed ROW TIME-LEFT".
    void songPlayerResumed();

    void songPlayerStopped() override { emitLine(QStringLiteral("stopped")); }
    void songPlayerPaused() override;
    void songPlayerPlaying() override { emitLine(QStringLiteral("playing")); }
    void songPlayerUpdateCurrentPlaying() override;
    void songPlayerPlaybackTimerTick(QTimer* timer) override;
    void songPlayerHighlightSongInListWithNumber(std::uint64_t number) override;
    float songPlayerGetVolumeLevel() override { return volume; }
    void songPlayerBuffering() override { emitLine(QStringLiteral("buffering")); }
    void songPlayerSongFailed(std::uint64_t number, const QString& reason) override;

private:
    void emitLine(const QString& line);
    void readInput();

    SongPlayer& player;
    bool ticks;
    float volume;
    QSocketNotifier* notifier = nullptr;
    PlaybackResume* resume = nullptr;
    QByteArray partial; // an unfinished input line
};

} // namespace sondrel
