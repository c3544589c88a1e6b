#include "streamer/AudioQueue.h"

#include "platform/Log.h"
#include "streamer/PacketDecoder.h"

#include <QEventLoop>
#include <QMetaObject>
#include <QTimer>
#include <algorithm>
#include <future>
#include <pthread.h>

namespace sondrel {
namespace {

// How often the queue thread tops up the output while playing: the outputs hold
// 300 ms, so this keeps them well fed with few wake-ups.
constexpr int kPumpIntervalMs = 40;

} // namespace

// Receives the wake-ups of the queue thread. Invoked by name, so that the event
// carrying it is made and read inside Qt alone (nothing of ours crosses threads
// outside our own locks).
class QueuePump : public QObject {
    Q_OBJECT
public:
    explicit QueuePump(std::function<void()> fn) : fn(std::move(fn)) {}
public slots:
    void pump() { fn(); }

private:
    std::function<void()> fn;
};

// The queue's own thread (a plain thread that Qt adopts, so that joining it is an
// ordinary join): opens the output, then runs an event loop whose timer and wake-ups
// drive pump().
void AudioQueue::run(std::promise<bool>& opened) {
    pthread_setname_np(pthread_self(), "AudioQueue");
    QEventLoop loop;
    QueuePump receiver([this] { pump(); });
    QTimer pumpTimer;
    pumpTimer.setTimerType(Qt::PreciseTimer);
    pumpTimer.setInterval(kPumpIntervalMs);
    QObject::connect(&pumpTimer, &QTimer::timeout, &receiver, &QueuePump::pump);
    timer = &pumpTimer;
    const bool ok = openOutput();
    {
        std::lock_guard lock(mutex);
        context = &receiver;
        runLoop = &loop;
    }
    opened.set_value(ok);
    if (ok) {
        loop.exec(); // until dispose() asks it to quit
    }
    {
        std::lock_guard lock(mutex);
        context = nullptr;
        runLoop = nullptr;
    }
    closeOutput();
    output.reset();
    decoder.reset();
    timer = nullptr;
}

AudioQueue::AudioQueue(const AudioStreamBasicDescription& f, OutputCallback callback,
                       OutputFactory factory)
    : format(f), outputFormat{int(f.sampleRate), outputChannelsFor(f)},
      outputCallback(std::move(callback)), outputFactory(std::move(factory)) {}

OSStatus AudioQueue::newOutput(const AudioStreamBasicDescription& format, OutputCallback callback,
                               OutputFactory outputFactory, std::unique_ptr<AudioQueue>* out) {
    if (format.sampleRate < 1000 || format.sampleRate > 768000 || !canDecode(format)) {
        return kStatusUnsupportedDataFormat;
    }
    if (!outputFactory) {
        outputFactory = [] { return createAudioOutput(); };
    }
    std::unique_ptr<AudioQueue> queue(
        new AudioQueue(format, std::move(callback), std::move(outputFactory)));
    std::promise<bool> opened;
    std::future<bool> isOpen = opened.get_future();
    AudioQueue* q = queue.get();
    queue->thread = std::thread([q, &opened] { q->run(opened); });
    if (!isOpen.get()) {
        logLine(QStringLiteral("Audio output failed: %1").arg(queue->deviceError()));
        queue->dispose(true);
        return kStatusDeviceFailed;
    }
    *out = std::move(queue);
    return kNoErr;
}

AudioQueue::~AudioQueue() {
    dispose(true);
}

OSStatus AudioQueue::addPropertyListener(std::uint32_t propertyId, PropertyListener listener) {
    if (propertyId != kAudioQueuePropertyIsRunning) {
        return kStatusUnsupportedProperty;
    }
    std::lock_guard lock(mutex);
    runningListeners.push_back(std::move(listener));
    return kNoErr;
}

OSStatus AudioQueue::allocateBuffer(std::uint32_t byteSize, AudioQueueBufferRef* out) {
    if (byteSize == 0) {
        return kStatusQueueInvalid;
    }
    auto buffer = std::make_unique<AudioQueueBuffer>();
    buffer->audioData.resize(byteSize);
    buffer->audioDataBytesCapacity = byteSize;
    std::lock_guard lock(mutex);
    if (disposed) {
        return kStatusQueueInvalid;
    }
    *out = buffer.get();
    buffers.push_back(std::move(buffer));
    return kNoErr;
}

OSStatus AudioQueue::setProperty(std::uint32_t propertyId, const void* data, std::uint32_t size) {
    if (propertyId != kAudioQueuePropertyMagicCookie) {
        return kStatusUnsupportedProperty;
    }
    std::lock_guard lock(mutex);
    const auto* bytes = static_cast<const std::uint8_t*>(data);
    magicCookie.assign(bytes, bytes + size);
    return kNoErr;
}

OSStatus AudioQueue::getProperty(std::uint32_t propertyId, std::uint32_t* value) const {
    if (propertyId != kAudioQueuePropertyIsRunning) {
        return kStatusUnsupportedProperty;
    }
    std::lock_guard lock(mutex);
    *value = running ? 1 : 0;
    return kNoErr;
}

OSStatus AudioQueue::enqueueBuffer(AudioQueueBufferRef buffer, std::uint32_t count,
                                   const AudioStreamPacketDescription* descriptions) {
    {
        std::lock_guard lock(mutex);
        const bool ours = std::any_of(buffers.begin(), buffers.end(),
                                      [&](const auto& b) { return b.get() == buffer; });
        if (disposed || failed || !ours ||
            buffer->audioDataByteSize > buffer->audioDataBytesCapacity) {
            return kStatusQueueInvalid;
        }
        if (buffer->audioDataByteSize == 0) {
            return kStatusBufferEmpty; // it would hold a slot of the ring for nothing
        }
        buffer->packetDescriptions.assign(descriptions, descriptions + (descriptions ? count : 0));
        enqueued.push_back(buffer);
    }
    // No wake-up: while playing, the pump's timer takes the buffer in time (the output
    // holds far more than one interval); before start() nothing is played anyway.
    return kNoErr;
}

OSStatus AudioQueue::post(Command command) {
    {
        std::lock_guard lock(mutex);
        if (disposed) {
            return kStatusQueueInvalid;
        }
        if (failed && (command == Command::Start || command == Command::Pause)) {
            return kStatusDeviceFailed;
        }
        if (command == Command::StopImmediate) {
            // Buffers enqueued before the stop are dropped; later ones belong to the
            // next run.
            droppedBuffers.insert(droppedBuffers.end(), enqueued.begin(), enqueued.end());
            enqueued.clear();
            immediateStopsPending += 1;
        }
        commands.push_back(command);
    }
    wake();
    return kNoErr;
}

OSStatus AudioQueue::start() {
    return post(Command::Start);
}
OSStatus AudioQueue::pause() {
    return post(Command::Pause);
}
OSStatus AudioQueue::stop(bool immediate) {
    return post(immediate ? Command::StopImmediate : Command::StopDeferred);
}
OSStatus AudioQueue::flush() {
    return post(Command::Flush);
}

OSStatus AudioQueue::dispose(bool /*immediate*/) {
    {
        std::lock_guard lock(mutex);
        disposed = true;
        if (runLoop) {
            QMetaObject::invokeMethod(runLoop, "quit", Qt::QueuedConnection);
        }
    }
    if (thread.joinable()) {
        thread.join();
    }
    return kNoErr;
}

OSStatus AudioQueue::getCurrentTime(double* sampleTime) const {
    std::lock_guard lock(mutex);
    if (disposed) {
        return kStatusQueueInvalid;
    }
    if (!running || immediateStopsPending > 0) {
        return kStatusQueueStopped;
    }
    *sampleTime = double(playedFrames);
    return kNoErr;
}

bool AudioQueue::stopPending() const {
    std::lock_guard lock(mutex);
    return immediateStopsPending > 0;
}

bool AudioQueue::deviceFailed() const {
    std::lock_guard lock(mutex);
    return failed;
}

QString AudioQueue::deviceError() const {
    std::lock_guard lock(mutex);
    return failure;
}

void AudioQueue::wake() {
    std::lock_guard lock(mutex);
    if (context) {
        QMetaObject::invokeMethod(context, "pump", Qt::QueuedConnection);
    }
}

// ---- the queue thread ----

bool AudioQueue::openOutput() {
    if (!output) {
        output = outputFactory();
    }
    const bool ok = output && output->start(outputFormat);
    if (!ok) {
        std::lock_guard lock(mutex);
        failed = true;
        failure = output ? output->errorString() : QStringLiteral("no audio output");
        return false;
    }
    output->pause();
    outputOpen = true;
    std::lock_guard lock(mutex);
    playedFrames = 0;
    return true;
}

void AudioQueue::closeOutput() {
    if (output && outputOpen) {
        output->stop();
    }
    outputOpen = false;
}

void AudioQueue::setRunning(bool value) {
    std::vector<PropertyListener> listeners;
    {
        std::lock_guard lock(mutex);
        if (running == value) {
            return;
        }
        running = value;
        listeners = runningListeners;
    }
    for (const auto& listener : listeners) {
        listener(*this, kAudioQueuePropertyIsRunning);
    }
}

void AudioQueue::giveBack(AudioQueueBufferRef buffer) {
    if (outputCallback) {
        outputCallback(*this, buffer);
    }
}

void AudioQueue::apply(Command command) {
    switch (command) {
    case Command::Start:
        if (!outputOpen && !openOutput()) {
            break;
        }
        output->resume();
        playing = true;
        timer->start();
        setRunning(true);
        break;
    case Command::Pause:
        if (playing) {
            output->pause();
            playing = false;
            timer->stop();
        }
        break;
    case Command::StopImmediate: {
        closeOutput();
        playing = false;
        stopWhenDone = false;
        drainWhenDone = false;
        timer->stop();
        staging.clear();
        stagingRead = 0;
        if (decoder) {
            decoder->reset();
        }
        std::vector<AudioQueueBufferRef> dropped;
        {
            std::lock_guard lock(mutex);
            dropped.swap(droppedBuffers);
            playedFrames = 0;
        }
        if (current) {
            dropped.insert(dropped.begin(), current);
            current = nullptr;
        }
        for (AudioQueueBufferRef buffer : dropped) {
            giveBack(buffer);
        }
        setRunning(false);
        // Only now, after the listeners have heard the stop: until then a running
        // change belongs to the run this stop ends.
        std::lock_guard lock(mutex);
        immediateStopsPending -= 1;
        break;
    }
    case Command::StopDeferred:
        stopWhenDone = true;
        break;
    case Command::Flush:
        drainWhenDone = true;
        break;
    }
}

void AudioQueue::pump() {
    std::vector<Command> todo;
    {
        std::lock_guard lock(mutex);
        todo.swap(commands);
    }
    for (Command command : todo) {
        apply(command);
    }
    if (!playing || !output) {
        return;
    }
    writeOut();
    const std::int64_t heard = output->playedFrames();
    bool idle = false;
    {
        std::lock_guard lock(mutex);
        playedFrames = heard;
        idle = enqueued.empty();
        if (output->failed() && !failed) {
            failed = true;
            failure = output->errorString();
        }
    }
    if (stopWhenDone && idle && !current && stagingRead >= staging.size() &&
        output->bufferedFrames() == 0) {
        // Everything enqueued has been heard.
        output->pause();
        playing = false;
        stopWhenDone = false;
        timer->stop();
        setRunning(false);
    }
}

void AudioQueue::writeOut() {
    const int channels = outputFormat.channels;
    for (;;) {
        if (stagingRead < staging.size()) {
            const std::int64_t left = std::int64_t(staging.size() - stagingRead) * 2;
            std::int64_t room = std::min(left, output->bytesFree());
            room -= room % outputFormat.bytesPerFrame();
            if (room <= 0) {
                return;
            }
            const std::int64_t written =
                output->write(reinterpret_cast<const char*>(staging.data() + stagingRead), room);
            stagingRead += std::size_t(std::max<std::int64_t>(written, 0) / 2);
            if (written < room) {
                return;
            }
            continue;
        }
        staging.clear();
        stagingRead = 0;
        if (current) {
            AudioQueueBufferRef done = current;
            current = nullptr;
            giveBack(done);
        }
        {
            std::lock_guard lock(mutex);
            if (immediateStopsPending > 0) {
                // Buffers enqueued after an immediate stop belong to the next run: they
                // wait for that stop (next pump) to reset the decoder and the output.
                return;
            }
            if (!enqueued.empty()) {
                current = enqueued.front();
                enqueued.pop_front();
            }
        }
        if (!current) {
            if (drainWhenDone && decoder) {
                drainWhenDone = false;
                decoder->drain(staging);
                if (!staging.empty()) {
                    continue;
                }
            }
            return;
        }
        if (!decoder && decoderFailed) {
            continue; // nothing can be decoded; buffers still go back to the feeder
        }
        if (!decoder) {
            std::vector<std::uint8_t> cookie;
            {
                std::lock_guard lock(mutex);
                cookie = magicCookie;
            }
            QString error;
            decoder = createPacketDecoder(format, cookie, &error);
            if (!decoder) {
                logLine(QStringLiteral("Audio decoder failed: %1").arg(error));
                decoderFailed = true;
                std::lock_guard lock(mutex);
                failed = true;
                failure = error;
                continue; // buffers still go back so the feeder never waits for ever
            }
        }
        const std::uint8_t* data = current->audioData.data();
        if (current->packetDescriptions.empty()) {
            decoder->decode(data, current->audioDataByteSize, staging);
        } else {
            for (const AudioStreamPacketDescription& d : current->packetDescriptions) {
                if (d.startOffset >= 0 &&
                    std::uint64_t(d.startOffset) + d.dataByteSize <= current->audioDataByteSize) {
                    decoder->decode(data + d.startOffset, d.dataByteSize, staging);
                }
            }
        }
        staging.resize(staging.size() - staging.size() % std::size_t(channels));
    }
}

} // namespace sondrel

#include "AudioQueue.moc"
