#pragma once
// The seam between the player and its module for the desktop's sound device
// ("sondrel-pulse-output", see Modules.h): the sound server's client libraries are
// loaded by the first song played, not by every start.

#include "platform/AudioOutput.h"

#include <QtPlugin>

namespace sondrel {

class AudioOutputModule {
public:
    virtual ~AudioOutputModule() = default;

    // A new output on the desktop's sound device, for the calling thread.
    virtual std::unique_ptr<AudioOutput> createOutput() = 0;
};

} // namespace sondrel

#define SONDREL_AUDIO_OUTPUT_MODULE_IID "org.sondrel.Sondrel.AudioOutputModule/1"
Q_DECLARE_INTERFACE(sondrel::AudioOutputModule, SONDREL_AUDIO_OUTPUT_MODULE_IID)
