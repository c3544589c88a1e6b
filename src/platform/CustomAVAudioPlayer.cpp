#include "platform/CustomAVAudioPlayer.h"

namespace sondrel {

void CustomAVAudioPlayer::pause() {
    pausedFlag = true;
    AudioPlayer::pause();
}

bool CustomAVAudioPlayer::play() {
    pausedFlag = false;
    return AudioPlayer::play();
}

bool CustomAVAudioPlayer::playAtTime(double time) {
    pausedFlag = false;
    return AudioPlayer::playAtTime(time);
}

void CustomAVAudioPlayer::stop() {
    pausedFlag = false;
    AudioPlayer::stop();
}

} // namespace sondrel
