#pragma once
// Plays an audio file from an HTTP or HTTPS address while it is still arriving. The
// response body is read on a download thread of the streamer's own (its own event loop
// and network manager), fed to an AudioFileStream, packed into a ring of 16 buffers
// and handed to an AudioQueue, whose own thread decodes and plays them. The streamer
// can pause, resume, stop and seek (a new request with a "Range" header), and
// estimates bit rate, duration and progress. Every change of state is announced on the
// main loop by notification() with the name "ASStatusChangedNotification".
//
// TLS keeps verification on: the system's roots plus the extra certificate of the
// service configuration are trusted, nothing else.
//
// Threads: the main thread (start, stop, pause, seekToTime, the properties,
// notifications, alerts), the download thread (reading, parsing, enqueueing, seeking)
// and the queue thread (buffer-complete and is-running callbacks). Every field below is
// guarded by `lock` unless it says otherwise; `inuse` and `buffersUsed` are guarded by
// `queueBuffersMutex` as well, which is all the queue thread takes for them.

#include "platform/AudioOutput.h"
#include "streamer/AudioFileStream.h"
#include "streamer/AudioQueue.h"
#include "streamer/StreamFormat.h"

#include <QMap>
#include <QObject>
#include <QString>
#include <QUrl>
#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>

class QEventLoop;
class QNetworkAccessManager;
class QNetworkReply;
class QThread;

namespace sondrel {

// Message constants of the error codes, in code order.
extern const char* const AS_NO_ERROR_STRING;
extern const char* const AS_NETWORK_CONNECTION_FAILED_STRING;
extern const char* const AS_FILE_STREAM_GET_PROPERTY_FAILED_STRING;
extern const char* const AS_FILE_STREAM_SEEK_FAILED_STRING;
extern const char* const AS_FILE_STREAM_PARSE_BYTES_FAILED_STRING;
extern const char* const AS_FILE_STREAM_OPEN_FAILED_STRING;
extern const char* const AS_FILE_STREAM_CLOSE_FAILED_STRING;
extern const char* const AS_AUDIO_DATA_NOT_FOUND_STRING;
extern const char* const AS_AUDIO_QUEUE_CREATION_FAILED_STRING;
extern const char* const AS_AUDIO_QUEUE_BUFFER_ALLOCATION_FAILED_STRING;
extern const char* const AS_AUDIO_QUEUE_ENQUEUE_FAILED_STRING;
extern const char* const AS_AUDIO_QUEUE_ADD_LISTENER_FAILED_STRING;
extern const char* const AS_AUDIO_QUEUE_REMOVE_LISTENER_FAILED_STRING;
extern const char* const AS_AUDIO_QUEUE_START_FAILED_STRING;
extern const char* const AS_AUDIO_QUEUE_PAUSE_FAILED_STRING;
extern const char* const AS_AUDIO_QUEUE_BUFFER_MISMATCH_STRING;
extern const char* const AS_AUDIO_QUEUE_DISPOSE_FAILED_STRING;
extern const char* const AS_AUDIO_QUEUE_STOP_FAILED_STRING;
extern const char* const AS_AUDIO_QUEUE_FLUSH_FAILED_STRING;
extern const char* const AS_AUDIO_STREAMER_FAILED_STRING;
extern const char* const AS_GET_AUDIO_TIME_FAILED_STRING;
extern const char* const AS_AUDIO_BUFFER_TOO_SMALL_STRING;

inline constexpr const char* kASStatusChangedNotification = "ASStatusChangedNotification";

inline constexpr int kNumAQBufs = 16;
inline constexpr int kAQMaxPacketDescs = 512;
inline constexpr std::uint32_t kAQDefaultBufSize = 2048;

class AudioStreamer;

// The platform callbacks: plain functions that hand each event to the streamer given
// as their context.
void ASReadStreamCallBack(QNetworkReply* stream, int eventType, void* inClientInfo);
void ASPropertyListenerProc(void* inClientData, AudioFileStream& inAudioFileStream,
                            std::uint32_t inPropertyID);
void ASPacketsProc(void* inClientData, const void* inInputData, std::uint32_t inNumberBytes,
                   std::uint32_t inNumberPackets,
                   const AudioStreamPacketDescription* inPacketDescriptions);
void ASAudioQueueOutputCallback(void* inClientData, AudioQueue& inAQ, AudioQueueBufferRef inBuffer);
void ASAudioQueueIsRunningCallback(void* inUserData, AudioQueue& inAQ, std::uint32_t inID);

class AudioStreamer : public QObject {
    Q_OBJECT
public:
    enum State : std::int32_t {
        Idle = 0,
        StartingThread = 1,
        WaitingForData = 2,
        FlushingEndOfFile = 3,
        WaitingForQueueToStart = 4,
        Playing = 5,
        Buffering = 6,
        Stopping = 7,
        Stopped = 8,
        Paused = 9,
    };
    enum StopReason : std::int32_t {
        NoStop = 0,
        StoppingEndOfFile = 1,
        StoppingUserAction = 2,
        StoppingError = 3,
        StoppingTemporarily = 4,
    };
    enum ErrorCode : std::int32_t {
        AS_NO_ERROR = 0,
        AS_NETWORK_CONNECTION_FAILED,
        AS_FILE_STREAM_GET_PROPERTY_FAILED,
        AS_FILE_STREAM_SEEK_FAILED,
        AS_FILE_STREAM_PARSE_BYTES_FAILED,
        AS_FILE_STREAM_OPEN_FAILED,
        AS_FILE_STREAM_CLOSE_FAILED,
        AS_AUDIO_DATA_NOT_FOUND,
        AS_AUDIO_QUEUE_CREATION_FAILED,
        AS_AUDIO_QUEUE_BUFFER_ALLOCATION_FAILED,
        AS_AUDIO_QUEUE_ENQUEUE_FAILED,
        AS_AUDIO_QUEUE_ADD_LISTENER_FAILED,
        AS_AUDIO_QUEUE_REMOVE_LISTENER_FAILED,
        AS_AUDIO_QUEUE_START_FAILED,
        AS_AUDIO_QUEUE_PAUSE_FAILED,
        AS_AUDIO_QUEUE_BUFFER_MISMATCH,
        AS_AUDIO_QUEUE_DISPOSE_FAILED,
        AS_AUDIO_QUEUE_STOP_FAILED,
        AS_AUDIO_QUEUE_FLUSH_FAILED,
        AS_AUDIO_STREAMER_FAILED,
        AS_GET_AUDIO_TIME_FAILED,
        AS_AUDIO_BUFFER_TOO_SMALL,
    };

    // Shows an alert on the main loop. The default shows a QMessageBox when a
    // QApplication exists and logs the title and text otherwise.
    using AlertPresenter = std::function<void(const QString& title, const QString& message)>;
    static void setAlertPresenter(AlertPresenter presenter);

    // initWithURL: keeps the address; state idle.
    explicit AudioStreamer(const QUrl& url, QObject* parent = nullptr);
    ~AudioStreamer() override;

    // Main thread only.
    void start();
    void stop();
    void pause();
    void seekToTime(double newSeekTime);

    double progress();
    double duration() const;
    std::uint32_t calculatedBitRate() const;

    bool isPlaying() const;
    bool isPaused() const;
    bool isIdle() const;
    bool isWaiting() const;
    bool isFinishing() const;
    bool runLoopShouldExit() const;

    std::int32_t errorCode() const;
    std::int32_t state() const;
    std::int32_t stopReason() const;
    std::uint32_t bitRate() const;
    QMap<QString, QString> httpHeaders() const;
    QString fileExtension() const;
    void setFileExtension(const QString& extension);
    QUrl url() const { return streamUrl; }

    static std::uint32_t hintForFileExtension(const QString& fileExtension);
    static QString stringForErrorCode(std::int32_t errorCode);

    // Where the samples go (default: createAudioOutput(), the backend the environment
    // names). Set before start().
    void setAudioOutputFactory(AudioQueue::OutputFactory factory);
    // A request fails when no bytes move for this long (default 10 s). Set before start().
    void setTransferTimeout(std::chrono::milliseconds timeout);

signals:
    // "ASStatusChangedNotification", on the main loop, at every change of state.
    void notification(const QString& name);
    // Internal: carries an alert to the main loop.
    void alertRequested(const QString& title, const QString& message);

private slots:
    // Main thread.
    void mainThreadStateNotification();
    void mainThreadAlert(const QString& title, const QString& message);

private:
    enum class StreamEvent { BytesAvailable, End, Error };
    friend void ASReadStreamCallBack(QNetworkReply*, int, void*);
    friend void ASPropertyListenerProc(void*, AudioFileStream&, std::uint32_t);
    friend void ASPacketsProc(void*, const void*, std::uint32_t, std::uint32_t,
                              const AudioStreamPacketDescription*);
    friend void ASAudioQueueOutputCallback(void*, AudioQueue&, AudioQueueBufferRef);
    friend void ASAudioQueueIsRunningCallback(void*, AudioQueue&, std::uint32_t);

    // Download thread.
    void startInternal();
    bool openReadStreamLocked();
    void closeReadStreamLocked();
    void handleReadFromStream(QNetworkReply* reply, StreamEvent eventType);
    void handleBytesAvailable();
    void handleEndOfStream();
    void handlePropertyChangeForFileStream(AudioFileStream& stream, std::uint32_t propertyId);
    void handleAudioPackets(const void* inputData, std::uint32_t numberBytes,
                            std::uint32_t numberPackets,
                            const AudioStreamPacketDescription* packetDescriptions);
    void handleConstantBitRatePackets(const std::uint8_t* data, std::uint32_t numberBytes);
    void createQueueLocked();
    void enqueueBuffer();
    void internalSeekToTimeLocked(double newSeekTime);
    void cleanUp();
    void wakeDownloadThread();

    // Queue thread.
    void handleBufferCompleteForQueue(AudioQueue& queue, AudioQueueBufferRef buffer);
    void handlePropertyChangeForQueue(AudioQueue& queue, std::uint32_t propertyId);

    // Any thread, with `lock` held.
    void setStateLocked(State newState);
    void failWithErrorCodeLocked(ErrorCode code);
    void failWithErrorCode(ErrorCode code);
    bool isFinishingLocked() const;
    bool runLoopShouldExitLocked() const;
    std::uint32_t calculatedBitRateLocked() const;
    double durationLocked() const;
    void abandonBufferWait();
    void presentAlertWithTitle(const QString& title, const QString& message);

    mutable std::mutex lock; // the object's lock

    const QUrl streamUrl; // url: fixed at creation
    std::unique_ptr<AudioQueue> audioQueue;
    std::unique_ptr<AudioFileStream> audioFileStream;
    AudioStreamBasicDescription asbd{};
    std::unique_ptr<QThread> internalThread; // main thread only
    std::array<AudioQueueBufferRef, kNumAQBufs> audioQueueBuffer{};
    std::array<AudioStreamPacketDescription, kAQMaxPacketDescs> packetDescs{};
    std::uint32_t fillBufferIndex = 0;
    std::uint32_t packetBufferSize = 0;
    std::uint64_t bytesFilled = 0;
    std::uint64_t packetsFilled = 0;
    std::array<bool, kNumAQBufs> inuse{}; // also guarded by queueBuffersMutex
    std::int64_t buffersUsed = 0;         // also guarded by queueBuffersMutex
    QMap<QString, QString> headers;       // httpHeaders: the first response's fields
    bool headersTaken = false;            // headers hold this run's first response
    QString extension;                    // fileExtension
    State streamerState = Idle;
    StopReason streamerStopReason = NoStop;
    ErrorCode streamerErrorCode = AS_NO_ERROR;
    OSStatus err = kNoErr;
    bool discontinuous = false;
    std::mutex queueBuffersMutex;
    std::condition_variable queueBufferReadyCondition;
    bool bufferWaitAbandoned = false; // guarded by queueBuffersMutex: stop waiting for buffers
    QNetworkReply* stream = nullptr;  // download thread
    std::uint32_t streamBitRate = 0;  // bitRate
    std::int64_t dataOffset = 0;
    std::int64_t fileLength = 0;
    std::int64_t seekByteOffset = 0;
    std::uint64_t audioDataByteCount = 0;
    std::uint64_t processedPacketsCount = 0;
    std::uint64_t processedPacketsSizeTotal = 0;
    double seekTime = 0;
    bool seekWasRequested = false;
    double requestedSeekTime = 0;
    double sampleRate = 0;
    double packetDuration = 0;
    double lastProgress = 0;

    // Download thread plumbing.
    QNetworkAccessManager* networkManager = nullptr; // download thread
    QEventLoop* runLoop = nullptr;                   // guarded by lock: the loop now running
    bool responseSeen = false;                       // download thread
    std::int64_t rangeSkip = 0; // download thread: bytes to drop when a range was ignored
    AudioQueue::OutputFactory outputFactory;          // set before start
    std::chrono::milliseconds transferTimeout{10000}; // set before start
};

} // namespace sondrel
