#pragma once
// One interface for the sound device. Backends, chosen by SONDREL_AUDIO_OUTPUT:
//   (unset) or "pulse"  the desktop's sound device through our PulseAudio client, in a
//                       module loaded on first use (pulse/PulseAudioOutput.h)
//   "null"              no sound; samples are consumed on a real-time clock
//   "null:fast"         no sound, consumed 20 times faster than real time ("null:fast=N":
//                       N times), so that long runs of songs take minutes
//   "wav:PATH"          writes exactly what would be played to PATH as 16-bit PCM WAV,
//                       consuming samples on a real-time clock like a device
// Every backend plays 16-bit signed interleaved PCM.
//
// Threading: an output is created, used and destroyed on one thread, which must run a
// Qt event loop (the main loop for the song player, the queue thread for the stream
// player).

#include <QString>
#include <cstdint>
#include <memory>

namespace sondrel {

struct AudioFormat {
    int sampleRate = 44100;
    int channels = 2;
    int bytesPerFrame() const { return channels * 2; }
};

class AudioOutput {
public:
    virtual ~AudioOutput() = default;

    // Opens the device for `format` and starts consuming on its clock. False (with
    // errorString()) when no device can be opened; the output then stays stopped.
    virtual bool start(const AudioFormat& format) = 0;
    // Room for samples in the device's buffer right now, in bytes.
    virtual std::int64_t bytesFree() const = 0;
    // Hands over up to `length` bytes (whole frames); returns how many were taken.
    // Never blocks.
    virtual std::int64_t write(const char* data, std::int64_t length) = 0;
    // Frames the listener has heard since start() (not counting what is still buffered).
    virtual std::int64_t playedFrames() const = 0;
    // Frames written but not heard yet.
    virtual std::int64_t bufferedFrames() const = 0;
    virtual void pause() = 0;
    virtual void resume() = 0;
    // Drops what is buffered and closes the device.
    virtual void stop() = 0;
    // 0.0 (silent) to 1.0 (full).
    virtual void setVolume(double volume) = 0;
    // True once the device reported an error after start(); errorString() says which.
    virtual bool failed() const = 0;
    virtual QString errorString() const = 0;
};

// The backend named by SONDREL_AUDIO_OUTPUT (or by `spec` when not empty).
std::unique_ptr<AudioOutput> createAudioOutput(const QString& spec = {});

} // namespace sondrel
