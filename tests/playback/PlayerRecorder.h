#pragma once
// A SongPlayerDelegate for tests: records every callback as a short word, so tests can
// wait for and count them.

#include "playback/SongPlayer.h"

#include <QStringList>

namespace sondrel::test {

class PlayerRecorder : public SongPlayerDelegate {
public:
    QStringList events;
    int ticks = 0;
    float volume = 1.0f;
    // Buffer length and player time at each songPlayerPlaying (for early-start checks).
    std::vector<std::int64_t> bytesAtPlaying;
    std::vector<double> timeAtUpdate;

    void songPlayerStopped() override { events << "stopped"; }
    void songPlayerPaused() override { events << "paused"; }
    void songPlayerPlaying() override;
    void songPlayerUpdateCurrentPlaying() override;
    void songPlayerPlaybackTimerTick(QTimer*) override {
        ++ticks;
        events << "tick";
    }
    void songPlayerHighlightSongInListWithNumber(std::uint64_t n) override {
        events << QStringLiteral("highlight %1").arg(n);
    }
    float songPlayerGetVolumeLevel() override { return volume; }
    void songPlayerBuffering() override { events << "buffering"; }
    void songPlayerSongFailed(std::uint64_t n, const QString&) override {
        events << QStringLiteral("failed %1").arg(n);
    }

    int count(const QString& event) const { return int(events.count(event)); }
    // The events without ticks, as one line.
    QString story() const;
};

} // namespace sondrel::test
