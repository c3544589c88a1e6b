#pragma once
// An output audio queue: the caller fills buffers with packets and enqueues them; the
// queue's own thread decodes them (PacketDecoder) and writes the samples to the audio
// output, gives each buffer back through the output callback once its samples are in
// the output, and reports running changes through the 'aqrn' property listener.
//
// Every call returns at once: commands are carried out in order by the queue thread,
// and callbacks run on that thread without any lock of the queue held, so a callback
// may take the caller's own lock while the caller, holding it, calls the queue.
//
// Threading: any thread may call; dispose() (or the destructor) joins the queue thread
// and must not be called from a callback. Fields marked [queue] belong to the queue
// thread; the rest are guarded by `mutex`.

#include "platform/AudioOutput.h"
#include "streamer/StreamFormat.h"

#include <QString>
#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

class QEventLoop;
class QObject;
class QTimer;

namespace sondrel {

class PacketDecoder;

inline constexpr std::uint32_t kAudioQueuePropertyIsRunning = fourCC("aqrn");
inline constexpr std::uint32_t kAudioQueuePropertyMagicCookie = fourCC("aqmc");

struct AudioQueueBuffer {
    std::vector<std::uint8_t> audioData; // capacity fixed at allocation
    std::uint32_t audioDataBytesCapacity = 0;
    std::uint32_t audioDataByteSize = 0;
    std::vector<AudioStreamPacketDescription> packetDescriptions; // set when enqueued
};
using AudioQueueBufferRef = AudioQueueBuffer*;

class AudioQueue {
public:
    using OutputCallback = std::function<void(AudioQueue& queue, AudioQueueBufferRef buffer)>;
    using PropertyListener = std::function<void(AudioQueue& queue, std::uint32_t propertyId)>;
    using OutputFactory = std::function<std::unique_ptr<AudioOutput>()>;

    // Creates the queue and its thread, which opens the output for `format` (kept
    // paused until start()). kStatusDeviceFailed when the output cannot be opened,
    // kStatusUnsupportedDataFormat for formats no decoder plays.
    static OSStatus newOutput(const AudioStreamBasicDescription& format, OutputCallback callback,
                              OutputFactory outputFactory, std::unique_ptr<AudioQueue>* out);
    ~AudioQueue();
    AudioQueue(const AudioQueue&) = delete;
    AudioQueue& operator=(const AudioQueue&) = delete;

    OSStatus addPropertyListener(std::uint32_t propertyId, PropertyListener listener);
    OSStatus allocateBuffer(std::uint32_t byteSize, AudioQueueBufferRef* out);
    OSStatus setProperty(std::uint32_t propertyId, const void* data, std::uint32_t size);
    // 'aqrn': 1 while running.
    OSStatus getProperty(std::uint32_t propertyId, std::uint32_t* value) const;

    // kStatusBufferEmpty for a buffer without bytes.
    OSStatus enqueueBuffer(AudioQueueBufferRef buffer, std::uint32_t numberPacketDescriptions,
                           const AudioStreamPacketDescription* descriptions);
    OSStatus start();
    OSStatus pause();
    // Immediate: drops every buffer (each given back) and what the output holds, and
    // stops. Otherwise: stops once everything enqueued has been heard.
    OSStatus stop(bool immediate);
    // Makes the decoder hand out what it holds once the enqueued buffers are done.
    OSStatus flush();
    // Stops the thread and frees the buffers; no callback runs after it returns.
    OSStatus dispose(bool immediate);
    // Frames heard since the queue last started; kStatusQueueStopped while not running
    // and while an immediate stop is on its way.
    OSStatus getCurrentTime(double* sampleTime) const;
    // True from an immediate stop(true) until the queue thread has carried it out and
    // told the running listeners. A running change heard while it holds belongs to the
    // run that this stop ends (or is that stop itself), not to whatever the caller has
    // begun since; buffers enqueued after the stop are not played before it.
    bool stopPending() const;

    // True once the output failed while playing; deviceError() says why.
    bool deviceFailed() const;
    QString deviceError() const;

private:
    enum class Command { Start, Pause, StopImmediate, StopDeferred, Flush };
    AudioQueue(const AudioStreamBasicDescription& format, OutputCallback callback,
               OutputFactory factory);
    OSStatus post(Command command);
    void wake();
    // [queue] The queue thread's work.
    void run(std::promise<bool>& opened);
    bool openOutput();
    void closeOutput();
    void pump();
    void apply(Command command);
    void writeOut();
    void giveBack(AudioQueueBufferRef buffer);
    void setRunning(bool running);

    const AudioStreamBasicDescription format;
    const AudioFormat outputFormat;
    const OutputCallback outputCallback;
    const OutputFactory outputFactory;

    mutable std::mutex mutex;
    std::vector<Command> commands;                          // guarded by mutex
    std::deque<AudioQueueBufferRef> enqueued;               // guarded by mutex
    std::vector<AudioQueueBufferRef> droppedBuffers;        // guarded by mutex (given back on stop)
    std::vector<std::unique_ptr<AudioQueueBuffer>> buffers; // guarded by mutex
    std::vector<PropertyListener> runningListeners;         // guarded by mutex
    std::vector<std::uint8_t> magicCookie;                  // guarded by mutex
    bool running = false;                                   // guarded by mutex
    int immediateStopsPending = 0; // guarded by mutex: immediate stops posted, not carried out
    std::int64_t playedFrames = 0; // guarded by mutex
    bool failed = false;           // guarded by mutex
    QString failure;               // guarded by mutex
    bool disposed = false;         // guarded by mutex
    QObject* context = nullptr;    // guarded by mutex: the queue thread's receiver of wake-ups

    QEventLoop* runLoop = nullptr; // guarded by mutex: the queue thread's loop
    std::thread thread;
    // [queue]
    std::unique_ptr<AudioOutput> output;
    std::unique_ptr<PacketDecoder> decoder;
    QTimer* timer = nullptr;
    bool outputOpen = false;
    bool playing = false;
    bool stopWhenDone = false;
    bool drainWhenDone = false;
    bool decoderFailed = false;
    AudioQueueBufferRef current = nullptr;
    std::vector<std::int16_t> staging; // decoded samples not yet in the output
    std::size_t stagingRead = 0;       // samples of `staging` already written
};

} // namespace sondrel
