#include "platform/AudioOutputClocked.h"

#include <algorithm>
#include <cstring>

namespace sondrel {

bool ClockedAudioOutput::start(const AudioFormat& format) {
    stop();
    fmt = format;
    broken = false;
    error.clear();
    if (format.sampleRate <= 0 || format.channels <= 0) {
        fail(QStringLiteral("unsupported format"));
        return false;
    }
    if (!openSink(format)) {
        broken = true;
        return false;
    }
    capacityFrames = std::int64_t(format.sampleRate) * speed * kBufferMs / 1000;
    queue.clear();
    consumed = 0;
    clock.start();
    lastNs = 0;
    running = true;
    paused = false;
    return true;
}

void ClockedAudioOutput::advance() const {
    if (!running || paused) {
        return;
    }
    const qint64 now = clock.nsecsElapsed();
    const std::int64_t bpf = fmt.bytesPerFrame();
    const std::int64_t bufferedNow = queue.size() / bpf;
    if (bufferedNow == 0) {
        lastNs = now; // underrun: the clock idles
        return;
    }
    const std::int64_t rate = std::int64_t(fmt.sampleRate) * speed; // frames per second
    const std::int64_t due = (now - lastNs) * rate / 1000000000LL;
    if (due <= 0) {
        return;
    }
    const std::int64_t take = std::min(due, bufferedNow);
    auto* self = const_cast<ClockedAudioOutput*>(this);
    if (level >= 0.999) {
        self->heard(queue.constData(), take * bpf);
    } else {
        // Apply the volume the way a device mixer would.
        QByteArray scaled = queue.left(take * bpf);
        auto* samples = reinterpret_cast<std::int16_t*>(scaled.data());
        const double gain = std::clamp(level, 0.0, 1.0);
        for (std::int64_t i = 0; i < scaled.size() / 2; ++i) {
            samples[i] = std::int16_t(samples[i] * gain);
        }
        self->heard(scaled.constData(), scaled.size());
    }
    queue.remove(0, take * bpf);
    consumed += take;
    lastNs = take < due ? now : lastNs + take * 1000000000LL / rate;
}

std::int64_t ClockedAudioOutput::bytesFree() const {
    if (!running) {
        return 0;
    }
    advance();
    return std::max<std::int64_t>(0, capacityFrames * fmt.bytesPerFrame() - queue.size());
}

std::int64_t ClockedAudioOutput::write(const char* data, std::int64_t length) {
    if (!running || length <= 0) {
        return 0;
    }
    const bool wasEmpty = queue.isEmpty();
    const std::int64_t bpf = fmt.bytesPerFrame();
    const std::int64_t room = bytesFree();
    const std::int64_t taken = std::min(length, room) / bpf * bpf;
    if (taken > 0) {
        queue.append(data, taken);
        if (wasEmpty) {
            lastNs = clock.nsecsElapsed(); // sound starts now, after an underrun
        }
    }
    return taken;
}

std::int64_t ClockedAudioOutput::playedFrames() const {
    advance();
    return consumed;
}

std::int64_t ClockedAudioOutput::bufferedFrames() const {
    advance();
    return running ? queue.size() / fmt.bytesPerFrame() : 0;
}

void ClockedAudioOutput::pause() {
    advance();
    paused = true;
}

void ClockedAudioOutput::resume() {
    if (paused) {
        paused = false;
        lastNs = clock.isValid() ? clock.nsecsElapsed() : 0;
    }
}

void ClockedAudioOutput::stop() {
    if (!running) {
        return;
    }
    advance();
    running = false;
    paused = false;
    queue.clear();
    closeSink();
}

void ClockedAudioOutput::fail(const QString& reason) {
    broken = true;
    error = reason;
}

} // namespace sondrel
