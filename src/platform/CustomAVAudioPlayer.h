#pragma once
// The song player's audio player: an AudioPlayer with the process-wide paused flag.
// pause() sets the flag; play(), playAtTime() and stop() clear it. The flag is shared by
// every CustomAVAudioPlayer (one song plays at a time). Main thread only.

#include "platform/AudioPlayer.h"

namespace sondrel {

class CustomAVAudioPlayer : public AudioPlayer {
    Q_OBJECT

public:
    using AudioPlayer::AudioPlayer;

    bool isPaused() const { return pausedFlag; }
    void pause() override;
    bool play() override;
    bool playAtTime(double time) override;
    void stop() override;

    // The process-wide flag itself (false at launch).
    static bool pausedFlagValue() { return pausedFlag; }
    static void resetPausedFlag() { pausedFlag = false; }

private:
    static inline bool pausedFlag = false; // main thread
};

} // namespace sondrel
