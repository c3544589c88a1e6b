#pragma once
// The device-less backends ("null" and "wav:PATH") share one clock: like a sound card
// they hold a small buffer and take samples out of it in real time, so positions and
// pauses mean the same as on a real device. The clock runs only while samples are
// buffered (an empty buffer is an underrun: time passes, nothing is heard) and stands
// still while paused. Consumption is computed on each call from the monotonic clock; no
// timer and no thread of its own. A speed above 1 runs the clock that many times faster
// than real time (the buffer grows with it, so it still holds kBufferMs of real time).
//
// Threading: like every output, one thread (the one that created it).

#include "platform/AudioOutput.h"

#include <QByteArray>
#include <QElapsedTimer>

namespace sondrel {

class ClockedAudioOutput : public AudioOutput {
public:
    // How much sound the pretend device buffers.
    static constexpr int kBufferMs = 300;

    explicit ClockedAudioOutput(int speed = 1) : speed(speed < 1 ? 1 : speed) {}

    bool start(const AudioFormat& format) override;
    std::int64_t bytesFree() const override;
    std::int64_t write(const char* data, std::int64_t length) override;
    std::int64_t playedFrames() const override;
    std::int64_t bufferedFrames() const override;
    void pause() override;
    void resume() override;
    void stop() override;
    void setVolume(double volume) override { level = volume; }
    bool failed() const override { return broken; }
    QString errorString() const override { return error; }

protected:
    // Opens the backend's sink for `format`; false with `error` set when it cannot.
    virtual bool openSink(const AudioFormat& format) = 0;
    // Samples the listener has just heard (whole frames, volume already applied).
    virtual void heard(const char* data, std::int64_t length) = 0;
    virtual void closeSink() = 0;
    void fail(const QString& reason);

    AudioFormat fmt;
    QString error;

private:
    void advance() const;

    // Mutable: the clock catches up on every query.
    mutable QByteArray queue;          // written, not heard yet
    mutable std::int64_t consumed = 0; // frames heard since start()
    mutable qint64 lastNs = 0;         // clock time up to which consumption is counted
    mutable QElapsedTimer clock;
    std::int64_t capacityFrames = 0;
    const int speed;
    double level = 1.0;
    bool running = false;
    bool paused = false;
    bool broken = false;
};

// No sound: samples are consumed on the clock and dropped.
class NullAudioOutput : public ClockedAudioOutput {
public:
    explicit NullAudioOutput(int speed = 1) : ClockedAudioOutput(speed) {}

protected:
    bool openSink(const AudioFormat&) override { return true; }
    void heard(const char*, std::int64_t) override {}
    void closeSink() override {}
};

// Appends what is heard to a 16-bit PCM WAV file (AudioOutputWav.cpp). Every output of
// the process that names the same path appends to the same file, which is truncated on
// the first use in the process; the header is kept valid after every write, so the file
// can be read at any time.
std::unique_ptr<AudioOutput> createWavAudioOutput(const QString& path);

// The sound module's output (AudioOutputPulse.cpp).
std::unique_ptr<AudioOutput> createPulseAudioOutput();

} // namespace sondrel
