#include "platform/pulse/PulseAudioOutput.h"

#include <algorithm>
#include <pulse/pulseaudio.h>

namespace sondrel {
namespace {

// Holds the main loop's lock for a scope (no-op without a main loop).
class LoopLock {
public:
    explicit LoopLock(pa_threaded_mainloop* loop) : loop(loop) {
        if (loop) {
            pa_threaded_mainloop_lock(loop);
        }
    }
    ~LoopLock() {
        if (loop) {
            pa_threaded_mainloop_unlock(loop);
        }
    }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pa_threaded_mainloop* loop;
};

void dropOperation(pa_operation* op) {
    if (op) {
        pa_operation_unref(op);
    }
}

} // namespace

PulseAudioOutput::PulseAudioOutput(QString applicationName) : appName(std::move(applicationName)) {}

PulseAudioOutput::~PulseAudioOutput() {
    stop();
}

void PulseAudioOutput::contextStateChanged(pa_context* c, void* data) {
    auto* self = static_cast<PulseAudioOutput*>(data);
    const pa_context_state_t state = pa_context_get_state(c);
    if (state == PA_CONTEXT_FAILED || state == PA_CONTEXT_TERMINATED) {
        if (!self->broken) {
            self->broken = true;
            self->error = QStringLiteral("the sound server is gone (%1)")
                              .arg(QString::fromUtf8(pa_strerror(pa_context_errno(c))));
        }
    }
    pa_threaded_mainloop_signal(self->loop, 0);
}

void PulseAudioOutput::streamStateChanged(pa_stream* s, void* data) {
    auto* self = static_cast<PulseAudioOutput*>(data);
    const pa_stream_state_t state = pa_stream_get_state(s);
    if (state == PA_STREAM_FAILED || state == PA_STREAM_TERMINATED) {
        if (!self->broken) {
            self->broken = true;
            self->error = QStringLiteral("the sound stream was closed (%1)")
                              .arg(QString::fromUtf8(
                                  pa_strerror(pa_context_errno(pa_stream_get_context(s)))));
        }
    }
    pa_threaded_mainloop_signal(self->loop, 0);
}

QString PulseAudioOutput::serverError() const {
    return QString::fromUtf8(pa_strerror(context ? pa_context_errno(context) : PA_ERR_UNKNOWN));
}

template <typename Ready> bool PulseAudioOutput::waitUntil(Ready ready, const char* what) {
    timedOut = false;
    pa_time_event* timer = pa_context_rttime_new(
        context, pa_rtclock_now() + pa_usec_t(kConnectTimeoutMs) * PA_USEC_PER_MSEC,
        [](pa_mainloop_api*, pa_time_event*, const struct timeval*, void* data) {
            auto* self = static_cast<PulseAudioOutput*>(data);
            self->timedOut = true;
            pa_threaded_mainloop_signal(self->loop, 0);
        },
        this);
    while (!ready() && !broken && !timedOut) {
        pa_threaded_mainloop_wait(loop);
    }
    if (timer) {
        pa_threaded_mainloop_get_api(loop)->time_free(timer);
    }
    if (ready()) {
        return true;
    }
    if (!broken) {
        error = QStringLiteral("the sound server did not answer within %1 s while %2")
                    .arg(kConnectTimeoutMs / 1000)
                    .arg(QString::fromLatin1(what));
    } else {
        error = QStringLiteral("the sound server cannot be reached while %1 (%2)")
                    .arg(QString::fromLatin1(what), serverError());
    }
    broken = true;
    return false;
}

bool PulseAudioOutput::start(const AudioFormat& format) {
    stop();
    fmt = format;
    writtenFrames = 0;
    heardFrames = 0;
    paused = false;
    broken = false;
    error.clear();
    if (format.sampleRate <= 0 || format.channels <= 0 || format.channels > int(PA_CHANNELS_MAX)) {
        broken = true;
        error = QStringLiteral("the sound device cannot play %1 Hz, %2 channels")
                    .arg(format.sampleRate)
                    .arg(format.channels);
        return false;
    }
    loop = pa_threaded_mainloop_new();
    if (loop == nullptr) {
        broken = true;
        error = QStringLiteral("no sound client (out of memory)");
        return false;
    }
    pa_threaded_mainloop_set_name(loop, "sondrel-pulse");
    if (pa_threaded_mainloop_start(loop) < 0) {
        pa_threaded_mainloop_free(loop);
        loop = nullptr;
        broken = true;
        error = QStringLiteral("the sound client's thread cannot start");
        return false;
    }
    bool opened = false;
    QString reason;
    {
        LoopLock lock(loop);
        opened = open(format);
        reason = error;
    }
    if (!opened) {
        stop();
        broken = true;
        error = reason;
    }
    return opened;
}

// Main loop lock held.
bool PulseAudioOutput::open(const AudioFormat& format) {
    pa_proplist* props = pa_proplist_new();
    pa_proplist_sets(props, PA_PROP_APPLICATION_NAME, appName.toUtf8().constData());
    pa_proplist_sets(props, PA_PROP_MEDIA_ROLE, "music");
    context = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop), nullptr, props);
    pa_proplist_free(props);
    if (context == nullptr) {
        error = QStringLiteral("no sound client (out of memory)");
        return false;
    }
    pa_context_set_state_callback(context, &PulseAudioOutput::contextStateChanged, this);
    // No autospawn: a desktop without a sound server gets an error, not a new daemon.
    if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
        error = QStringLiteral("the sound server cannot be reached (%1)").arg(serverError());
        return false;
    }
    if (!waitUntil([&] { return pa_context_get_state(context) == PA_CONTEXT_READY; },
                   "connecting")) {
        return false;
    }

    pa_sample_spec spec{};
    spec.format = PA_SAMPLE_S16LE;
    spec.rate = std::uint32_t(format.sampleRate);
    spec.channels = std::uint8_t(format.channels);
    pa_channel_map map;
    if (!pa_sample_spec_valid(&spec) ||
        pa_channel_map_init_auto(&map, spec.channels, PA_CHANNEL_MAP_DEFAULT) == nullptr) {
        error = QStringLiteral("the sound device cannot play %1 Hz, %2 channels")
                    .arg(format.sampleRate)
                    .arg(format.channels);
        return false;
    }
    stream = pa_stream_new(context, "Music", &spec, &map);
    if (stream == nullptr) {
        error = QStringLiteral("the sound stream cannot be made (%1)").arg(serverError());
        return false;
    }
    pa_stream_set_state_callback(stream, &PulseAudioOutput::streamStateChanged, this);
    pa_buffer_attr attr;
    attr.maxlength = std::uint32_t(-1);
    attr.tlength = std::uint32_t(pa_usec_to_bytes(pa_usec_t(kBufferMs) * PA_USEC_PER_MSEC, &spec));
    // One frame: after an underrun the stream plays again as soon as anything arrives,
    // so the last few samples of a song are never held back waiting for more.
    attr.prebuf = std::uint32_t(format.bytesPerFrame());
    attr.minreq = std::uint32_t(-1);
    attr.fragsize = std::uint32_t(-1);
    pa_cvolume volume;
    pa_cvolume_set(&volume, spec.channels, pa_sw_volume_from_linear(level));
    const auto flags = pa_stream_flags_t(PA_STREAM_INTERPOLATE_TIMING |
                                         PA_STREAM_AUTO_TIMING_UPDATE | PA_STREAM_ADJUST_LATENCY);
    if (pa_stream_connect_playback(stream, nullptr, &attr, flags, &volume, nullptr) < 0) {
        error = QStringLiteral("the sound stream cannot be opened (%1)").arg(serverError());
        return false;
    }
    return waitUntil([&] { return pa_stream_get_state(stream) == PA_STREAM_READY; },
                     "opening the stream");
}

std::int64_t PulseAudioOutput::bytesFree() const {
    LoopLock lock(loop);
    if (stream == nullptr || broken) {
        return 0;
    }
    const std::size_t room = pa_stream_writable_size(stream);
    if (room == std::size_t(-1)) {
        return 0;
    }
    return std::int64_t(room) / fmt.bytesPerFrame() * fmt.bytesPerFrame();
}

std::int64_t PulseAudioOutput::write(const char* data, std::int64_t length) {
    LoopLock lock(loop);
    if (stream == nullptr || broken || length <= 0) {
        return 0;
    }
    const std::size_t room = pa_stream_writable_size(stream);
    if (room == std::size_t(-1)) {
        return 0;
    }
    const std::int64_t bpf = fmt.bytesPerFrame();
    const std::int64_t n = std::min<std::int64_t>(length, std::int64_t(room)) / bpf * bpf;
    if (n <= 0) {
        return 0;
    }
    if (pa_stream_write(stream, data, std::size_t(n), nullptr, 0, PA_SEEK_RELATIVE) < 0) {
        broken = true;
        error = QStringLiteral("the sound server refused the samples (%1)").arg(serverError());
        return 0;
    }
    writtenFrames += n / bpf;
    return n;
}

std::int64_t PulseAudioOutput::playedFrames() const {
    LoopLock lock(loop);
    if (stream == nullptr) {
        return heardFrames;
    }
    std::int64_t frames = heardFrames;
    const pa_timing_info* timing = pa_stream_get_timing_info(stream);
    if (timing != nullptr && !timing->read_index_corrupt && !timing->write_index_corrupt &&
        timing->read_index >= timing->write_index) {
        // The server has taken everything written: nothing is left to wait for.
        frames = writtenFrames;
    } else if (pa_usec_t usec = 0; pa_stream_get_time(stream, &usec) == 0) {
        frames = std::int64_t(usec * pa_usec_t(fmt.sampleRate) / PA_USEC_PER_SEC);
    }
    heardFrames = std::clamp(frames, heardFrames, writtenFrames);
    return heardFrames;
}

std::int64_t PulseAudioOutput::bufferedFrames() const {
    return stream ? writtenFrames - playedFrames() : 0;
}

void PulseAudioOutput::pause() {
    LoopLock lock(loop);
    paused = true;
    if (stream) {
        dropOperation(pa_stream_cork(stream, 1, nullptr, nullptr));
    }
}

void PulseAudioOutput::resume() {
    LoopLock lock(loop);
    if (paused && stream) {
        dropOperation(pa_stream_cork(stream, 0, nullptr, nullptr));
    }
    paused = false;
}

void PulseAudioOutput::stop() {
    if (loop == nullptr) {
        return;
    }
    {
        LoopLock lock(loop);
        if (stream) {
            pa_stream_set_state_callback(stream, nullptr, nullptr);
            pa_stream_disconnect(stream);
            pa_stream_unref(stream);
            stream = nullptr;
        }
        if (context) {
            pa_context_set_state_callback(context, nullptr, nullptr);
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
    }
    pa_threaded_mainloop_stop(loop); // joins its thread
    pa_threaded_mainloop_free(loop);
    loop = nullptr;
}

void PulseAudioOutput::setVolume(double volume) {
    LoopLock lock(loop);
    level = std::clamp(volume, 0.0, 1.0);
    applyVolume();
}

// Main loop lock held.
void PulseAudioOutput::applyVolume() {
    if (stream == nullptr || pa_stream_get_state(stream) != PA_STREAM_READY) {
        return; // a stream opened later starts at `level`
    }
    pa_cvolume volume;
    pa_cvolume_set(&volume, fmt.channels, pa_sw_volume_from_linear(level));
    dropOperation(pa_context_set_sink_input_volume(context, pa_stream_get_index(stream), &volume,
                                                   nullptr, nullptr));
}

bool PulseAudioOutput::failed() const {
    LoopLock lock(loop);
    return broken;
}

QString PulseAudioOutput::errorString() const {
    LoopLock lock(loop);
    return error;
}

} // namespace sondrel
