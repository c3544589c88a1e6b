#pragma once
// The desktop's sound device through our own PulseAudio client (PipeWire desktops serve
// the same protocol). Each started output owns a whole client: a threaded main loop, a
// context connected to the server and one playback stream. stop() and the destructor
// tear them down in reverse: the stream is disconnected, then the context, then the main
// loop's thread is stopped and joined, and everything is freed. Nothing of it runs once
// the output is gone, so the process can exit at any moment after.
//
// The player pushes: it writes up to bytesFree() from its own timer; the stream asks for
// nothing. The server buffers about kBufferMs; after an underrun the stream starts again
// with the next frame written. What the listener has heard comes from the stream's
// timing information, corrected by the device's latency.
//
// Threading: the owner thread makes every call. The main loop's thread runs only the
// state and underflow callbacks below, which hold the main loop's lock; the owner takes
// that lock around every call into libpulse.

#include "platform/AudioOutput.h"

#include <cstdint>

struct pa_context;
struct pa_stream;
struct pa_threaded_mainloop;

namespace sondrel {

class PulseAudioOutput : public AudioOutput {
public:
    // About this much sound is buffered by the server.
    static constexpr int kBufferMs = 300;
    // How long connecting to the server and opening the stream may take.
    static constexpr int kConnectTimeoutMs = 5000;

    // `applicationName` is what the desktop's sound settings show.
    explicit PulseAudioOutput(QString applicationName);
    ~PulseAudioOutput() override;
    PulseAudioOutput(const PulseAudioOutput&) = delete;
    PulseAudioOutput& operator=(const PulseAudioOutput&) = delete;

    bool start(const AudioFormat& format) override;
    std::int64_t bytesFree() const override;
    std::int64_t write(const char* data, std::int64_t length) override;
    std::int64_t playedFrames() const override;
    std::int64_t bufferedFrames() const override;
    void pause() override;
    void resume() override;
    void stop() override;
    void setVolume(double volume) override;
    bool failed() const override;
    QString errorString() const override;

private:
    // Waits (main loop lock held) until `ready` says yes, or the context or stream has
    // failed, or the time-out passed. False with `error` set unless ready.
    template <typename Ready> bool waitUntil(Ready ready, const char* what);
    bool open(const AudioFormat& format);
    void applyVolume();
    QString serverError() const;

    static void contextStateChanged(pa_context* c, void* self);
    static void streamStateChanged(pa_stream* s, void* self);

    const QString appName;
    // Owner thread; the objects themselves are used under the main loop's lock.
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    AudioFormat fmt;
    std::int64_t writtenFrames = 0;
    mutable std::int64_t heardFrames = 0; // never goes back
    double level = 1.0;
    bool paused = false;
    // Under the main loop's lock while it runs: set by the callbacks.
    bool broken = false;
    bool timedOut = false;
    QString error;
};

} // namespace sondrel
