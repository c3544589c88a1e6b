// The download thread: its loop, the HTTP(S) read stream, the stream events, seeking
// and the clean-up at the end of a run.
#include "platform/Log.h"
#include "platform/Network.h"
#include "platform/ServiceConfig.h"
#include "streamer/AudioStreamer.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <QThread>
#include <QTimer>
#include <cmath>

namespace sondrel {
namespace {

constexpr int kRunLoopSliceMs = 250;
constexpr qint64 kReadBufferSize = 64 * 1024; // bytes Qt may hold ahead of the parser

} // namespace

void ASReadStreamCallBack(QNetworkReply* stream, int eventType, void* inClientInfo) {
    static_cast<AudioStreamer*>(inClientInfo)
        ->handleReadFromStream(stream, static_cast<AudioStreamer::StreamEvent>(eventType));
}

void ASPropertyListenerProc(void* inClientData, AudioFileStream& inAudioFileStream,
                            std::uint32_t inPropertyID) {
    static_cast<AudioStreamer*>(inClientData)
        ->handlePropertyChangeForFileStream(inAudioFileStream, inPropertyID);
}

void ASPacketsProc(void* inClientData, const void* inInputData, std::uint32_t inNumberBytes,
                   std::uint32_t inNumberPackets,
                   const AudioStreamPacketDescription* inPacketDescriptions) {
    static_cast<AudioStreamer*>(inClientData)
        ->handleAudioPackets(inInputData, inNumberBytes, inNumberPackets, inPacketDescriptions);
}

void AudioStreamer::wakeDownloadThread() {
    // Called with `lock` held; runLoop is only set and cleared under it.
    if (runLoop) {
        QMetaObject::invokeMethod(runLoop, "quit", Qt::QueuedConnection);
    }
}

void AudioStreamer::startInternal() {
    {
        std::lock_guard guard(lock);
        if (streamerState != StartingThread) {
            if (streamerState != Stopping && streamerState != Stopped) {
                logLine(QStringLiteral("### Not starting audio thread. State code is: %1")
                            .arg(streamerState));
            }
            setStateLocked(Idle);
            return;
        }
        {
            std::lock_guard buffersGuard(queueBuffersMutex);
            bufferWaitAbandoned = false;
        }
        networkManager = newNetworkAccessManager();
        if (!openReadStreamLocked()) {
            goto cleanup;
        }
    }

    for (;;) {
        {
            QEventLoop loop;
            {
                std::lock_guard guard(lock);
                runLoop = &loop;
            }
            QTimer::singleShot(kRunLoopSliceMs, &loop, &QEventLoop::quit);
            loop.exec();
            std::lock_guard guard(lock);
            runLoop = nullptr;
        }
        std::lock_guard guard(lock);
        if (seekWasRequested) {
            internalSeekToTimeLocked(requestedSeekTime);
            seekWasRequested = false;
        }
        std::int64_t used = 0;
        {
            std::lock_guard buffersGuard(queueBuffersMutex);
            used = buffersUsed;
        }
        if (used == 0 && streamerState == Playing && audioQueue) {
            err = audioQueue->pause();
            if (err) {
                // Clean up all the same, so that the streamer returns to idle and a
                // stop() waiting for that ends.
                failWithErrorCodeLocked(AS_AUDIO_QUEUE_PAUSE_FAILED);
                break;
            }
            setStateLocked(Buffering);
        }
        if (runLoopShouldExitLocked()) {
            break;
        }
    }

cleanup:
    cleanUp();
}

void AudioStreamer::cleanUp() {
    std::unique_ptr<AudioQueue> queue;
    {
        std::lock_guard guard(lock);
        closeReadStreamLocked();
        delete networkManager;
        networkManager = nullptr;
        audioFileStream.reset();
        queue = std::move(audioQueue);
    }
    abandonBufferWait();
    // Disposing joins the queue thread, whose callbacks take `lock`: not under it.
    if (queue) {
        queue->dispose(true);
        queue.reset();
    }
    // Replies closed above may still have deletions queued on this thread.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    std::lock_guard guard(lock);
    audioQueueBuffer.fill(nullptr);
    {
        std::lock_guard buffersGuard(queueBuffersMutex);
        inuse.fill(false);
        buffersUsed = 0;
    }
    headers.clear();
    headersTaken = false;
    bytesFilled = 0;
    packetsFilled = 0;
    seekByteOffset = 0;
    packetBufferSize = 0;
    fillBufferIndex = 0;
    setStateLocked(Idle);
}

bool AudioStreamer::openReadStreamLocked() {
    if (QThread::currentThread() != internalThread.get()) {
        logLine(QStringLiteral("File stream download must be started on the internalThread"));
        return false;
    }
    if (stream) {
        logLine(QStringLiteral("Download stream already initialized"));
        return false;
    }
    QNetworkRequest request(streamUrl);
    askForStoredBytes(request);
    request.setAttribute(QNetworkRequest::Http2AllowedAttribute, false);
    request.setTransferTimeout(static_cast<int>(transferTimeout.count()));
    if (fileLength > 0 && seekByteOffset > 0) {
        request.setRawHeader(
            "Range", QStringLiteral("bytes=%1-%2").arg(seekByteOffset).arg(fileLength).toLatin1());
        discontinuous = true;
    }
    if (streamUrl.toString().contains(QLatin1String("https"))) {
        // Verification stays on: the system's roots and the configured extra
        // certificate are trusted, nothing else.
        QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
        tls.setPeerVerifyMode(QSslSocket::VerifyPeer);
        const QString extra = serviceConfig().caCertificate;
        if (!extra.isEmpty()) {
            tls.addCaCertificates(QSslCertificate::fromPath(extra, QSsl::Pem));
        }
        request.setSslConfiguration(tls);
    }
    setStateLocked(WaitingForData);
    stream = networkManager ? networkManager->get(request) : nullptr;
    if (!stream) {
        presentAlertWithTitle(
            QCoreApplication::translate("Errors", "File Error"),
            QCoreApplication::translate("Errors", "Unable to configure network read stream."));
        return false;
    }
    stream->setReadBufferSize(kReadBufferSize);
    responseSeen = false;
    rangeSkip = 0;
    QNetworkReply* reply = stream;
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [this, reply] {
        ASReadStreamCallBack(reply, int(StreamEvent::BytesAvailable), this);
    });
    QObject::connect(reply, &QNetworkReply::finished, reply, [this, reply] {
        const bool failed = reply->error() != QNetworkReply::NoError;
        ASReadStreamCallBack(reply, int(failed ? StreamEvent::Error : StreamEvent::End), this);
    });
    return true;
}

void AudioStreamer::closeReadStreamLocked() {
    if (!stream) {
        return;
    }
    QNetworkReply* reply = stream;
    stream = nullptr;
    QObject::disconnect(reply, nullptr, nullptr, nullptr);
    reply->abort();
    reply->deleteLater();
}

void AudioStreamer::handleReadFromStream(QNetworkReply* reply, StreamEvent eventType) {
    {
        std::lock_guard guard(lock);
        if (reply != stream) {
            return;
        }
    }
    if (eventType == StreamEvent::Error) {
        logLine(QStringLiteral("Stream failed: %1").arg(reply->errorString()));
        failWithErrorCode(AS_AUDIO_DATA_NOT_FOUND);
    } else {
        // One read per event, like a read stream: the loop gets its turn (seeks, stop)
        // between reads, and the event comes again while bytes are left.
        handleBytesAvailable();
        bool more = false;
        {
            std::lock_guard guard(lock);
            more = stream == reply && !isFinishingLocked() && reply->bytesAvailable() > 0;
        }
        if (more) {
            QMetaObject::invokeMethod(
                reply,
                [this, reply, eventType] { ASReadStreamCallBack(reply, int(eventType), this); },
                Qt::QueuedConnection);
        } else if (eventType == StreamEvent::End) {
            handleEndOfStream();
        }
    }
    std::lock_guard guard(lock);
    if (runLoop) {
        runLoop->quit(); // back to the loop, like a run loop after a handled source
    }
}

void AudioStreamer::handleEndOfStream() {
    bool flushLast = false;
    {
        std::lock_guard guard(lock);
        if (isFinishingLocked()) {
            return;
        }
        if (bytesFilled > 0) {
            if (streamerState == WaitingForData) {
                setStateLocked(FlushingEndOfFile);
            }
            flushLast = true;
        }
    }
    if (flushLast) {
        enqueueBuffer();
    }
    std::lock_guard guard(lock);
    if (streamerState == WaitingForData) {
        failWithErrorCodeLocked(AS_AUDIO_DATA_NOT_FOUND);
        return;
    }
    if (isFinishingLocked()) {
        return;
    }
    if (!audioQueue) {
        setStateLocked(Stopped);
        streamerStopReason = StoppingEndOfFile;
        return;
    }
    if (streamerState == Paused) {
        // Paused by the caller: the queue finishes what it holds once resumed, and
        // pause() then moves on to stopping instead of playing.
        err = audioQueue->flush();
        if (!err) {
            err = audioQueue->stop(false);
        }
        if (err) {
            failWithErrorCodeLocked(AS_AUDIO_QUEUE_FLUSH_FAILED);
            return;
        }
        streamerStopReason = StoppingEndOfFile;
        return;
    }
    if (streamerState == Buffering) {
        // The queue ran dry before the last buffers came; they are all there now.
        err = audioQueue->start();
        if (err) {
            failWithErrorCodeLocked(AS_AUDIO_QUEUE_START_FAILED);
            return;
        }
    }
    err = audioQueue->flush();
    if (err) {
        failWithErrorCodeLocked(AS_AUDIO_QUEUE_FLUSH_FAILED);
        return;
    }
    setStateLocked(Stopping);
    streamerStopReason = StoppingEndOfFile;
    err = audioQueue->stop(false);
    if (err) {
        failWithErrorCodeLocked(AS_AUDIO_QUEUE_FLUSH_FAILED);
    }
}

void AudioStreamer::handleBytesAvailable() {
    QNetworkReply* reply = nullptr;
    {
        std::lock_guard guard(lock);
        reply = stream;
        if (!reply) {
            return;
        }
        if (!responseSeen) {
            responseSeen = true;
            // httpHeaders describe the file as first answered: a seek's ranged answer
            // (206, a partial Content-Length) must not replace them.
            if (!headersTaken) {
                headersTaken = true;
                for (const auto& pair : reply->rawHeaderPairs()) {
                    headers.insert(QString::fromLatin1(pair.first),
                                   QString::fromLatin1(pair.second));
                }
            }
            const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
            if (seekByteOffset == 0) {
                const QVariant length = reply->header(QNetworkRequest::ContentLengthHeader);
                if (length.isValid()) {
                    fileLength = length.toLongLong();
                }
            } else if (status == 200) {
                // The server ignored the range and sends the whole file.
                rangeSkip = seekByteOffset;
            }
            if (status >= 400) {
                logLine(QStringLiteral("Stream answered HTTP %1").arg(status));
                failWithErrorCodeLocked(AS_AUDIO_DATA_NOT_FOUND);
                return;
            }
        }
        if (!audioFileStream) {
            if (extension.isEmpty()) {
                extension = QFileInfo(streamUrl.path()).suffix();
            }
            err = AudioFileStream::open(
                [this](AudioFileStream& s, std::uint32_t id) {
                    ASPropertyListenerProc(this, s, id);
                },
                [this](const void* data, std::uint32_t bytes, std::uint32_t packets,
                       const AudioStreamPacketDescription* descriptions) {
                    ASPacketsProc(this, data, bytes, packets, descriptions);
                },
                hintForFileExtension(extension), &audioFileStream);
            if (err) {
                failWithErrorCodeLocked(AS_FILE_STREAM_OPEN_FAILED);
                return;
            }
        }
    }
    char bytes[kAQDefaultBufSize];
    {
        qint64 length = 0;
        bool discontinuity = false;
        {
            std::lock_guard guard(lock);
            if (isFinishingLocked() || stream != reply || reply->bytesAvailable() <= 0) {
                return;
            }
            length = reply->read(bytes, kAQDefaultBufSize);
            if (length == -1) {
                failWithErrorCodeLocked(AS_AUDIO_DATA_NOT_FOUND);
                return;
            }
            if (length == 0) {
                return;
            }
            discontinuity = discontinuous;
        }
        const char* start = bytes;
        if (rangeSkip > 0) {
            const qint64 skip = std::min<qint64>(rangeSkip, length);
            rangeSkip -= skip;
            start += skip;
            length -= skip;
            if (length == 0) {
                return;
            }
        }
        // The parser calls back into the streamer, which takes the lock itself.
        const OSStatus status =
            audioFileStream->parseBytes(start, static_cast<std::uint32_t>(length), discontinuity);
        if (status) {
            std::lock_guard guard(lock);
            err = status;
            failWithErrorCodeLocked(AS_FILE_STREAM_PARSE_BYTES_FAILED);
            return;
        }
    }
}

void AudioStreamer::internalSeekToTimeLocked(double newSeekTime) {
    const std::uint32_t calculated = calculatedBitRateLocked();
    if (calculated == 0 || fileLength <= 0) {
        return;
    }
    const double total = durationLocked();
    if (total <= 0) {
        return;
    }
    seekByteOffset = dataOffset + static_cast<std::int64_t>((newSeekTime / total) *
                                                            double(fileLength - dataOffset));
    // Keep enough bytes before the end for the queue to start.
    const std::int64_t latest = fileLength - 2 * std::int64_t(packetBufferSize);
    if (seekByteOffset > latest) {
        seekByteOffset = latest;
    }
    if (seekByteOffset < dataOffset) {
        seekByteOffset = dataOffset;
    }
    seekTime = newSeekTime;

    if (packetDuration > 0 && calculated > 0 && audioFileStream) {
        std::int64_t packetOffset = 0;
        bool estimated = true;
        const auto seekPacket = static_cast<std::int64_t>(std::floor(newSeekTime / packetDuration));
        err = audioFileStream->seek(seekPacket, &packetOffset, &estimated);
        if (!err && !estimated) {
            seekTime -= double(seekByteOffset - dataOffset - packetOffset) * 8.0 / calculated;
            seekByteOffset = packetOffset + dataOffset;
        }
    }

    // The buffer being filled holds bytes from before the seek: drop them.
    bytesFilled = 0;
    packetsFilled = 0;
    closeReadStreamLocked();
    setStateLocked(Stopping);
    streamerStopReason = StoppingTemporarily;
    if (audioQueue) {
        err = audioQueue->stop(true);
        if (err) {
            failWithErrorCodeLocked(AS_AUDIO_QUEUE_STOP_FAILED);
            return;
        }
    }
    openReadStreamLocked();
}

} // namespace sondrel
