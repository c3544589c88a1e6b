// The streamer's public face: creation, start, stop, pause, seek requests, the
// computed properties, state changes, failures and alerts.
#include "streamer/AudioStreamer.h"

#include "platform/Dispatch.h"
#include "platform/Log.h"

#include <QApplication>
#include <QCoreApplication>
#include <QMessageBox>
#include <QThread>
#include <thread>

namespace sondrel {

const char* const AS_NO_ERROR_STRING = "No error.";
const char* const AS_NETWORK_CONNECTION_FAILED_STRING = "Network connection failed";
const char* const AS_FILE_STREAM_GET_PROPERTY_FAILED_STRING = "File stream get property failed.";
const char* const AS_FILE_STREAM_SEEK_FAILED_STRING = "File stream seek failed.";
const char* const AS_FILE_STREAM_PARSE_BYTES_FAILED_STRING = "Parse bytes failed.";
const char* const AS_FILE_STREAM_OPEN_FAILED_STRING = "Open audio file stream failed.";
const char* const AS_FILE_STREAM_CLOSE_FAILED_STRING = "Close audio file stream failed.";
const char* const AS_AUDIO_DATA_NOT_FOUND_STRING = "No audio data found.";
const char* const AS_AUDIO_QUEUE_CREATION_FAILED_STRING = "Audio queue creation failed.";
const char* const AS_AUDIO_QUEUE_BUFFER_ALLOCATION_FAILED_STRING =
    "Audio buffer allocation failed.";
const char* const AS_AUDIO_QUEUE_ENQUEUE_FAILED_STRING = "Queueing of audio buffer failed.";
const char* const AS_AUDIO_QUEUE_ADD_LISTENER_FAILED_STRING = "Audio queue add listener failed.";
const char* const AS_AUDIO_QUEUE_REMOVE_LISTENER_FAILED_STRING =
    "Audio queue remove listener failed.";
const char* const AS_AUDIO_QUEUE_START_FAILED_STRING = "Audio queue start failed.";
const char* const AS_AUDIO_QUEUE_PAUSE_FAILED_STRING = "Audio queue pause failed.";
const char* const AS_AUDIO_QUEUE_BUFFER_MISMATCH_STRING = "Audio queue buffers don't match.";
const char* const AS_AUDIO_QUEUE_DISPOSE_FAILED_STRING = "Audio queue dispose failed.";
const char* const AS_AUDIO_QUEUE_STOP_FAILED_STRING = "Audio queue stop failed.";
const char* const AS_AUDIO_QUEUE_FLUSH_FAILED_STRING = "Audio queue flush failed.";
const char* const AS_AUDIO_STREAMER_FAILED_STRING = "Audio playback failed";
const char* const AS_GET_AUDIO_TIME_FAILED_STRING = "Audio queue get current time failed.";
const char* const AS_AUDIO_BUFFER_TOO_SMALL_STRING =
    "Audio packets are larger than kAQDefaultBufSize.";

namespace {

std::mutex presenterMutex;
AudioStreamer::AlertPresenter alertPresenter; // guarded by presenterMutex

void defaultAlert(const QString& title, const QString& message) {
    if (qobject_cast<QApplication*>(QCoreApplication::instance())) {
        auto* box = new QMessageBox(QMessageBox::Warning, title, message);
        box->addButton(QCoreApplication::translate("AudioStreamer", "OK"), QMessageBox::AcceptRole);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open(); // modal, without waiting
        return;
    }
    logLine(QStringLiteral("%1: %2").arg(title, message));
}

} // namespace

void AudioStreamer::setAlertPresenter(AlertPresenter presenter) {
    std::lock_guard guard(presenterMutex);
    alertPresenter = std::move(presenter);
}

AudioStreamer::AudioStreamer(const QUrl& url, QObject* parent) : QObject(parent), streamUrl(url) {
    connect(this, &AudioStreamer::alertRequested, this, &AudioStreamer::mainThreadAlert,
            Qt::QueuedConnection);
}

AudioStreamer::~AudioStreamer() {
    stop();
    if (internalThread) {
        internalThread->wait();
    }
}

std::uint32_t AudioStreamer::hintForFileExtension(const QString& fileExtension) {
    if (fileExtension == QLatin1String("mp3")) {
        return kAudioFileMP3Type;
    }
    if (fileExtension == QLatin1String("wav")) {
        return kAudioFileWAVEType;
    }
    if (fileExtension == QLatin1String("aifc")) {
        return kAudioFileAIFCType;
    }
    if (fileExtension == QLatin1String("aiff")) {
        return kAudioFileAIFFType;
    }
    if (fileExtension == QLatin1String("m4a")) {
        return kAudioFileM4AType;
    }
    if (fileExtension == QLatin1String("mp4")) {
        return kAudioFileMPEG4Type;
    }
    if (fileExtension == QLatin1String("caf")) {
        return kAudioFileCAFType;
    }
    return kAudioFileAAC_ADTSType; // "aac" and everything else
}

QString AudioStreamer::stringForErrorCode(std::int32_t errorCode) {
    static const char* const texts[] = {
        AS_NO_ERROR_STRING,
        AS_NETWORK_CONNECTION_FAILED_STRING,
        AS_FILE_STREAM_GET_PROPERTY_FAILED_STRING,
        AS_FILE_STREAM_SEEK_FAILED_STRING,
        AS_FILE_STREAM_PARSE_BYTES_FAILED_STRING,
        AS_FILE_STREAM_OPEN_FAILED_STRING,
        AS_FILE_STREAM_CLOSE_FAILED_STRING,
        AS_AUDIO_DATA_NOT_FOUND_STRING,
        AS_AUDIO_QUEUE_CREATION_FAILED_STRING,
        AS_AUDIO_QUEUE_BUFFER_ALLOCATION_FAILED_STRING,
        AS_AUDIO_QUEUE_ENQUEUE_FAILED_STRING,
        AS_AUDIO_QUEUE_ADD_LISTENER_FAILED_STRING,
        AS_AUDIO_QUEUE_REMOVE_LISTENER_FAILED_STRING,
        AS_AUDIO_QUEUE_START_FAILED_STRING,
        AS_AUDIO_QUEUE_PAUSE_FAILED_STRING,
        AS_AUDIO_QUEUE_BUFFER_MISMATCH_STRING,
        AS_AUDIO_QUEUE_DISPOSE_FAILED_STRING,
        AS_AUDIO_QUEUE_STOP_FAILED_STRING,
        AS_AUDIO_QUEUE_FLUSH_FAILED_STRING,
        AS_AUDIO_STREAMER_FAILED_STRING,
        AS_GET_AUDIO_TIME_FAILED_STRING,
        AS_AUDIO_BUFFER_TOO_SMALL_STRING,
    };
    if (errorCode < 0 || errorCode >= std::int32_t(std::size(texts))) {
        return QString::fromUtf8(AS_AUDIO_STREAMER_FAILED_STRING);
    }
    return QString::fromUtf8(texts[errorCode]);
}

void AudioStreamer::setAudioOutputFactory(AudioQueue::OutputFactory factory) {
    std::lock_guard guard(lock);
    outputFactory = std::move(factory);
}

void AudioStreamer::setTransferTimeout(std::chrono::milliseconds timeout) {
    std::lock_guard guard(lock);
    transferTimeout = timeout;
}

// ---- state ----

bool AudioStreamer::isPlaying() const {
    return state() == Playing;
}
bool AudioStreamer::isPaused() const {
    return state() == Paused;
}
bool AudioStreamer::isIdle() const {
    return state() == Idle;
}

bool AudioStreamer::isWaiting() const {
    std::lock_guard guard(lock);
    return isFinishingLocked() || streamerState == StartingThread ||
           streamerState == WaitingForData || streamerState == WaitingForQueueToStart ||
           streamerState == Buffering;
}

bool AudioStreamer::isFinishing() const {
    std::lock_guard guard(lock);
    return isFinishingLocked();
}

bool AudioStreamer::isFinishingLocked() const {
    return (streamerErrorCode != AS_NO_ERROR && streamerState != Idle) ||
           ((streamerState == Stopping || streamerState == Stopped) &&
            streamerStopReason != StoppingTemporarily);
}

bool AudioStreamer::runLoopShouldExit() const {
    std::lock_guard guard(lock);
    return runLoopShouldExitLocked();
}

bool AudioStreamer::runLoopShouldExitLocked() const {
    return streamerErrorCode != AS_NO_ERROR ||
           (streamerState == Stopped && streamerStopReason != StoppingTemporarily);
}

std::int32_t AudioStreamer::errorCode() const {
    std::lock_guard guard(lock);
    return streamerErrorCode;
}

std::int32_t AudioStreamer::state() const {
    std::lock_guard guard(lock);
    return streamerState;
}

std::int32_t AudioStreamer::stopReason() const {
    std::lock_guard guard(lock);
    return streamerStopReason;
}

std::uint32_t AudioStreamer::bitRate() const {
    std::lock_guard guard(lock);
    return streamBitRate;
}

QMap<QString, QString> AudioStreamer::httpHeaders() const {
    std::lock_guard guard(lock);
    return headers;
}

QString AudioStreamer::fileExtension() const {
    std::lock_guard guard(lock);
    return extension;
}

void AudioStreamer::setFileExtension(const QString& fileExtension) {
    std::lock_guard guard(lock);
    extension = fileExtension;
}

void AudioStreamer::setStateLocked(State newState) {
    if (streamerState == newState) {
        return;
    }
    streamerState = newState;
    // Always queued, also from the main thread: observers read the streamer's
    // properties, which take the lock held here.
    // Invoked by name: the event is made and read inside Qt, nothing of ours crosses.
    QMetaObject::invokeMethod(this, "mainThreadStateNotification", Qt::QueuedConnection);
}

void AudioStreamer::mainThreadStateNotification() {
    emit notification(QString::fromLatin1(kASStatusChangedNotification));
}

void AudioStreamer::failWithErrorCode(ErrorCode code) {
    std::lock_guard guard(lock);
    failWithErrorCodeLocked(code);
}

void AudioStreamer::failWithErrorCodeLocked(ErrorCode code) {
    if (streamerErrorCode != AS_NO_ERROR) {
        return;
    }
    streamerErrorCode = code;
    const QString message = stringForErrorCode(code);
    if (err != kNoErr) {
        const auto e = static_cast<std::uint32_t>(err);
        const auto c = [&](int shift) { return QChar(char((e >> shift) & 0xFF)); };
        logLine(
            QStringLiteral("%1 err: %2%3%4%5 %6").arg(message, c(24), c(16), c(8), c(0)).arg(err));
    } else {
        logLine(message);
    }
    if (streamerState == Playing || streamerState == Paused || streamerState == Buffering) {
        setStateLocked(Stopping);
        streamerStopReason = StoppingError;
        if (audioQueue) {
            audioQueue->stop(true);
        }
    }
    abandonBufferWait();
    wakeDownloadThread();
    presentAlertWithTitle(
        QCoreApplication::translate("Errors", "File Error"),
        QCoreApplication::translate("Errors", "Unable to configure network read stream."));
}

void AudioStreamer::presentAlertWithTitle(const QString& title, const QString& message) {
    if (!QCoreApplication::instance()) {
        logLine(QStringLiteral("%1: %2").arg(title, message));
        return;
    }
    emit alertRequested(title, message); // queued to the main loop
}

void AudioStreamer::mainThreadAlert(const QString& title, const QString& message) {
    AlertPresenter presenter;
    {
        std::lock_guard guard(presenterMutex);
        presenter = alertPresenter;
    }
    if (presenter) {
        presenter(title, message);
    } else {
        defaultAlert(title, message);
    }
}

void AudioStreamer::abandonBufferWait() {
    {
        std::lock_guard guard(queueBuffersMutex);
        bufferWaitAbandoned = true;
    }
    queueBufferReadyCondition.notify_all();
}

// ---- operations ----

void AudioStreamer::start() {
    if (!isMainThread()) {
        logLine(QStringLiteral("Playback can only be started from the main thread."));
        return;
    }
    State current;
    {
        std::lock_guard guard(lock);
        current = streamerState;
    }
    if (current == Paused) {
        pause();
        return;
    }
    if (current != Idle) {
        return;
    }
    if (internalThread) {
        internalThread->wait(); // the previous run has cleaned up already
        internalThread.reset();
    }
    {
        std::lock_guard guard(lock);
        streamerStopReason = NoStop;
        setStateLocked(StartingThread);
    }
    internalThread.reset(QThread::create([this] { startInternal(); }));
    internalThread->setObjectName(QStringLiteral("AudioStreamer download"));
    internalThread->start();
}

void AudioStreamer::pause() {
    std::lock_guard guard(lock);
    if (streamerState == Playing) {
        err = audioQueue ? audioQueue->pause() : kStatusQueueInvalid;
        if (err) {
            failWithErrorCodeLocked(AS_AUDIO_QUEUE_PAUSE_FAILED);
            return;
        }
        setStateLocked(Paused);
    } else if (streamerState == Paused) {
        err = audioQueue ? audioQueue->start() : kStatusQueueInvalid;
        if (err) {
            failWithErrorCodeLocked(AS_AUDIO_QUEUE_START_FAILED);
            return;
        }
        // The body ended while paused: the queue is already asked to stop at its end.
        setStateLocked(streamerStopReason == StoppingEndOfFile ? Stopping : Playing);
    }
}

void AudioStreamer::stop() {
    {
        std::lock_guard guard(lock);
        if (audioQueue && (streamerState == Playing || streamerState == Paused ||
                           streamerState == Buffering || streamerState == WaitingForQueueToStart)) {
            setStateLocked(Stopping);
            streamerStopReason = StoppingUserAction;
            err = audioQueue->stop(true);
            if (err) {
                failWithErrorCodeLocked(AS_AUDIO_QUEUE_STOP_FAILED);
                return;
            }
        } else if (streamerState != Idle) {
            setStateLocked(Stopped);
            streamerStopReason = StoppingUserAction;
        }
        seekWasRequested = false;
        abandonBufferWait();
        wakeDownloadThread();
    }
    // Wait for the download thread to clean up. It always does, also after a failure
    // inside its loop, so this ends; a finished thread ends the wait as well.
    while (state() != Idle) {
        if (internalThread && internalThread->isFinished()) {
            std::lock_guard guard(lock);
            setStateLocked(Idle);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    if (internalThread) {
        internalThread->wait();
    }
}

void AudioStreamer::seekToTime(double newSeekTime) {
    std::lock_guard guard(lock);
    seekWasRequested = true;
    requestedSeekTime = newSeekTime;
    wakeDownloadThread();
}

// ---- estimates ----

std::uint32_t AudioStreamer::calculatedBitRate() const {
    std::lock_guard guard(lock);
    return calculatedBitRateLocked();
}

std::uint32_t AudioStreamer::calculatedBitRateLocked() const {
    if (packetDuration != 0 && processedPacketsCount > 50) {
        const double averagePacketByteSize =
            double(processedPacketsSizeTotal / processedPacketsCount);
        return static_cast<std::uint32_t>(8.0 * averagePacketByteSize / packetDuration);
    }
    // All bits set means the stream told no bit rate: no estimate yet.
    if (streamBitRate != 0 && streamBitRate != ~std::uint32_t(0)) {
        return streamBitRate;
    }
    return 0;
}

double AudioStreamer::duration() const {
    std::lock_guard guard(lock);
    return durationLocked();
}

double AudioStreamer::durationLocked() const {
    const std::uint32_t calculated = calculatedBitRateLocked();
    if (calculated == 0 || fileLength == 0) {
        return 0.0;
    }
    return double(fileLength - dataOffset) / (double(calculated) * 0.125);
}

double AudioStreamer::progress() {
    std::lock_guard guard(lock);
    if (sampleRate <= 0) {
        return lastProgress;
    }
    if (isFinishingLocked() && streamerState != Stopping) {
        return lastProgress;
    }
    if (streamerState == Playing || streamerState == Paused || streamerState == Buffering ||
        streamerState == Stopping) {
        if (!audioQueue) {
            return lastProgress;
        }
        double sampleTime = 0;
        err = audioQueue->getCurrentTime(&sampleTime);
        if (err == kStatusQueueStopped) {
            return lastProgress;
        }
        if (err) {
            failWithErrorCodeLocked(AS_GET_AUDIO_TIME_FAILED);
            return lastProgress;
        }
        double value = seekTime + sampleTime / sampleRate;
        if (value < 0.0) {
            value = 0.0;
        }
        lastProgress = value;
    }
    return lastProgress;
}

} // namespace sondrel
