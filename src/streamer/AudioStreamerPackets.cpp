// From parsed packets to queued buffers: the parser's property and packet callbacks,
// the creation of the queue, filling and enqueueing buffers, and the queue's callbacks.
#include "platform/Log.h"
#include "streamer/AudioStreamer.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace sondrel {

void ASAudioQueueOutputCallback(void* inClientData, AudioQueue& inAQ,
                                AudioQueueBufferRef inBuffer) {
    static_cast<AudioStreamer*>(inClientData)->handleBufferCompleteForQueue(inAQ, inBuffer);
}

void ASAudioQueueIsRunningCallback(void* inUserData, AudioQueue& inAQ, std::uint32_t inID) {
    static_cast<AudioStreamer*>(inUserData)->handlePropertyChangeForQueue(inAQ, inID);
}

void AudioStreamer::handlePropertyChangeForFileStream(AudioFileStream& fileStream,
                                                      std::uint32_t propertyId) {
    std::lock_guard guard(lock);
    if (isFinishingLocked()) {
        return;
    }
    if (propertyId == kPropertyReadyToProducePackets) {
        discontinuous = true;
    } else if (propertyId == kPropertyDataOffset) {
        std::int64_t offset = 0;
        std::uint32_t size = sizeof offset;
        err = fileStream.getProperty(kPropertyDataOffset, &size, &offset);
        if (err) {
            failWithErrorCodeLocked(AS_FILE_STREAM_GET_PROPERTY_FAILED);
            return;
        }
        dataOffset = offset;
        if (audioDataByteCount) {
            fileLength = dataOffset + std::int64_t(audioDataByteCount);
        }
    } else if (propertyId == kPropertyAudioDataByteCount) {
        std::uint32_t size = sizeof audioDataByteCount;
        err = fileStream.getProperty(kPropertyAudioDataByteCount, &size, &audioDataByteCount);
        if (err) {
            failWithErrorCodeLocked(AS_FILE_STREAM_GET_PROPERTY_FAILED);
            return;
        }
        fileLength = dataOffset + std::int64_t(audioDataByteCount);
    } else if (propertyId == kPropertyDataFormat) {
        if (asbd.sampleRate == 0) {
            std::uint32_t size = sizeof asbd;
            err = fileStream.getProperty(kPropertyDataFormat, &size, &asbd);
            if (err) {
                failWithErrorCodeLocked(AS_FILE_STREAM_GET_PROPERTY_FAILED);
                return;
            }
        }
    } else if (propertyId == kPropertyFormatList) {
        std::uint32_t size = 0;
        err = fileStream.getPropertyInfo(kPropertyFormatList, &size);
        if (err) {
            failWithErrorCodeLocked(AS_FILE_STREAM_GET_PROPERTY_FAILED);
            return;
        }
        std::vector<AudioFormatListItem> items(size / sizeof(AudioFormatListItem));
        err = fileStream.getProperty(kPropertyFormatList, &size, items.data());
        if (err) {
            failWithErrorCodeLocked(AS_FILE_STREAM_GET_PROPERTY_FAILED);
            return;
        }
        for (const AudioFormatListItem& item : items) {
            if (item.format.formatId == kFormatMPEG4AAC_HE ||
                item.format.formatId == kFormatMPEG4AAC_HE_V2) {
                asbd = item.format;
                break;
            }
        }
    }
}

void AudioStreamer::createQueueLocked() {
    sampleRate = asbd.sampleRate;
    packetDuration = sampleRate > 0 ? asbd.framesPerPacket / sampleRate : 0;
    err = AudioQueue::newOutput(
        asbd,
        [this](AudioQueue& queue, AudioQueueBufferRef buffer) {
            ASAudioQueueOutputCallback(this, queue, buffer);
        },
        outputFactory, &audioQueue);
    if (err) {
        failWithErrorCodeLocked(AS_AUDIO_QUEUE_CREATION_FAILED);
        return;
    }
    err = audioQueue->addPropertyListener(kAudioQueuePropertyIsRunning,
                                          [this](AudioQueue& queue, std::uint32_t id) {
                                              ASAudioQueueIsRunningCallback(this, queue, id);
                                          });
    if (err) {
        failWithErrorCodeLocked(AS_AUDIO_QUEUE_ADD_LISTENER_FAILED);
        return;
    }
    std::uint32_t bound = 0;
    std::uint32_t size = sizeof bound;
    err = audioFileStream->getProperty(kPropertyPacketSizeUpperBound, &size, &bound);
    if (err || bound == 0) {
        size = sizeof bound;
        err = audioFileStream->getProperty(kPropertyMaximumPacketSize, &size, &bound);
        if (err || bound == 0) {
            bound = kAQDefaultBufSize;
        }
    }
    packetBufferSize = bound;
    for (int i = 0; i < kNumAQBufs; ++i) {
        err = audioQueue->allocateBuffer(packetBufferSize, &audioQueueBuffer[std::size_t(i)]);
        if (err) {
            failWithErrorCodeLocked(AS_AUDIO_QUEUE_BUFFER_ALLOCATION_FAILED);
            return;
        }
    }
    // The decoder's configuration, when the stream has one; failures here are ignored.
    std::uint32_t cookieSize = 0;
    if (audioFileStream->getPropertyInfo(kPropertyMagicCookieData, &cookieSize) == kNoErr &&
        cookieSize > 0) {
        std::vector<std::uint8_t> cookie(cookieSize);
        if (audioFileStream->getProperty(kPropertyMagicCookieData, &cookieSize, cookie.data()) ==
            kNoErr) {
            audioQueue->setProperty(kAudioQueuePropertyMagicCookie, cookie.data(), cookieSize);
        }
    }
    err = kNoErr;
}

void AudioStreamer::handleAudioPackets(const void* inputData, std::uint32_t numberBytes,
                                       std::uint32_t numberPackets,
                                       const AudioStreamPacketDescription* packetDescriptions) {
    {
        std::lock_guard guard(lock);
        if (isFinishingLocked()) {
            return;
        }
        if (streamBitRate == 0) {
            std::uint32_t size = sizeof streamBitRate;
            if (audioFileStream->getProperty(kPropertyBitRate, &size, &streamBitRate) != kNoErr) {
                streamBitRate = ~std::uint32_t(0);
            }
        }
        discontinuous = false;
        if (!audioQueue) {
            createQueueLocked();
            if (isFinishingLocked() || !audioQueue) {
                return;
            }
        }
    }
    const auto* bytes = static_cast<const std::uint8_t*>(inputData);
    if (!packetDescriptions) {
        handleConstantBitRatePackets(bytes, numberBytes);
        return;
    }
    for (std::uint32_t i = 0; i < numberPackets; ++i) {
        const AudioStreamPacketDescription& description = packetDescriptions[i];
        const std::uint32_t packetSize = description.dataByteSize;
        if (description.startOffset < 0 ||
            std::uint64_t(description.startOffset) + packetSize > numberBytes) {
            continue; // a description pointing outside the bytes given
        }
        std::uint64_t spaceLeft = 0;
        {
            std::lock_guard guard(lock);
            if (processedPacketsCount < 5000) {
                processedPacketsSizeTotal += packetSize;
                processedPacketsCount += 1;
            }
            if (isFinishingLocked()) {
                return;
            }
            if (packetSize > packetBufferSize) {
                failWithErrorCodeLocked(AS_AUDIO_BUFFER_TOO_SMALL);
                return;
            }
            spaceLeft = packetBufferSize - bytesFilled;
        }
        if (spaceLeft < packetSize) {
            enqueueBuffer();
        }
        bool full = false;
        {
            std::lock_guard guard(lock);
            if (isFinishingLocked() || bytesFilled + packetSize > packetBufferSize) {
                return;
            }
            AudioQueueBufferRef fill = audioQueueBuffer[fillBufferIndex];
            std::memcpy(fill->audioData.data() + bytesFilled, bytes + description.startOffset,
                        packetSize);
            AudioStreamPacketDescription& stored = packetDescs[packetsFilled];
            stored = description;
            stored.startOffset = std::int64_t(bytesFilled);
            bytesFilled += packetSize;
            packetsFilled += 1;
            full = packetsFilled >= kAQMaxPacketDescs;
        }
        if (full) {
            enqueueBuffer();
        }
    }
}

// Bytes without packet descriptions fill the buffers as they come. When what remains of
// the batch does not fit in the space left, the partly filled buffer goes to the queue
// first, so that a batch is split only when it is larger than a whole buffer. An empty
// buffer is never queued (the queue refuses it), and no buffer is filled past its size.
void AudioStreamer::handleConstantBitRatePackets(const std::uint8_t* data,
                                                 std::uint32_t numberBytes) {
    std::uint32_t offset = 0;
    while (offset < numberBytes) {
        const std::uint64_t remaining = numberBytes - offset;
        bool queueFirst = false;
        {
            std::lock_guard guard(lock);
            const std::uint64_t capacity =
                std::min<std::uint64_t>(kAQDefaultBufSize, packetBufferSize);
            queueFirst = bytesFilled > 0 && capacity - std::min(bytesFilled, capacity) < remaining;
        }
        if (queueFirst) {
            enqueueBuffer();
        }
        std::lock_guard guard(lock);
        const std::uint64_t capacity = std::min<std::uint64_t>(kAQDefaultBufSize, packetBufferSize);
        if (isFinishingLocked() || bytesFilled >= capacity) {
            return;
        }
        const std::uint64_t copy = std::min<std::uint64_t>(capacity - bytesFilled, remaining);
        AudioQueueBufferRef fill = audioQueueBuffer[fillBufferIndex];
        std::memcpy(fill->audioData.data() + bytesFilled, data + offset, copy);
        bytesFilled += copy;
        packetsFilled = 0;
        offset += static_cast<std::uint32_t>(copy);
    }
}

void AudioStreamer::enqueueBuffer() {
    std::uint32_t next = 0;
    {
        std::lock_guard guard(lock);
        if (isFinishingLocked() || !stream || !audioQueue) {
            return;
        }
        std::int64_t used = 0;
        {
            std::lock_guard buffersGuard(queueBuffersMutex);
            inuse[fillBufferIndex] = true;
            used = ++buffersUsed;
        }
        AudioQueueBufferRef fill = audioQueueBuffer[fillBufferIndex];
        fill->audioDataByteSize = static_cast<std::uint32_t>(bytesFilled);
        if (packetsFilled > 0) {
            err = audioQueue->enqueueBuffer(fill, static_cast<std::uint32_t>(packetsFilled),
                                            packetDescs.data());
        } else {
            err = audioQueue->enqueueBuffer(fill, 0, nullptr);
        }
        if (err) {
            failWithErrorCodeLocked(AS_AUDIO_QUEUE_ENQUEUE_FAILED);
            return;
        }
        if (streamerState == Buffering || streamerState == WaitingForData ||
            streamerState == FlushingEndOfFile ||
            (streamerState == Stopped && streamerStopReason == StoppingTemporarily)) {
            // At least, not exactly, fifteen: after a seek the buffers of the old request
            // count until the queue has dropped them, so the count can pass fifteen
            // without meeting it, and a ring full of unplayed buffers would then wait
            // for ever on a queue that is never started.
            if (streamerState == FlushingEndOfFile || used >= kNumAQBufs - 1) {
                if (streamerState == Buffering) {
                    err = audioQueue->start();
                    if (err) {
                        failWithErrorCodeLocked(AS_AUDIO_QUEUE_START_FAILED);
                        return;
                    }
                    setStateLocked(Playing);
                } else {
                    setStateLocked(WaitingForQueueToStart);
                    err = audioQueue->start();
                    if (err) {
                        failWithErrorCodeLocked(AS_AUDIO_QUEUE_START_FAILED);
                        return;
                    }
                }
            }
        }
        fillBufferIndex = (fillBufferIndex + 1) % kNumAQBufs;
        bytesFilled = 0;
        packetsFilled = 0;
        next = fillBufferIndex;
    }
    // Wait until the queue has given the next buffer back.
    std::unique_lock buffersLock(queueBuffersMutex);
    queueBufferReadyCondition.wait(buffersLock,
                                   [&] { return !inuse[next] || bufferWaitAbandoned; });
}

void AudioStreamer::handleBufferCompleteForQueue(AudioQueue& /*queue*/,
                                                 AudioQueueBufferRef buffer) {
    int index = -1;
    for (int i = 0; i < kNumAQBufs; ++i) {
        if (audioQueueBuffer[std::size_t(i)] == buffer) {
            index = i;
            break;
        }
    }
    if (index == -1) {
        failWithErrorCode(AS_AUDIO_QUEUE_BUFFER_MISMATCH);
    } else {
        std::lock_guard buffersGuard(queueBuffersMutex);
        inuse[std::size_t(index)] = false;
        buffersUsed -= 1;
    }
    queueBufferReadyCondition.notify_all();
}

void AudioStreamer::handlePropertyChangeForQueue(AudioQueue& queue, std::uint32_t propertyId) {
    if (propertyId != kAudioQueuePropertyIsRunning) {
        return;
    }
    // Read under the lock: every stop and start of the queue is asked for under it, so
    // what the queue says cannot change while the state is read.
    std::lock_guard guard(lock);
    std::uint32_t running = 0;
    queue.getProperty(kAudioQueuePropertyIsRunning, &running);
    if (queue.stopPending()) {
        // The change belongs to a run that an immediate stop ends: the stop itself, an
        // end of play just overtaken by it, or a start it cancels. Only a stop that the
        // state still waits for (stop(), a failure) moves it on. After a seek the state
        // already belongs to the new request, which may even have reached its own end
        // of file: that run's stop is still to come.
        if (!running && streamerState == Stopping && streamerStopReason != StoppingEndOfFile) {
            setStateLocked(Stopped);
            wakeDownloadThread();
        }
        return;
    }
    if (streamerState == Stopping && !running) {
        setStateLocked(Stopped);
        wakeDownloadThread();
    } else if (streamerState == WaitingForQueueToStart && running) {
        setStateLocked(Playing);
    } else if (streamerState == Stopping && running) {
        // The start of a queue that is already asked to stop: its stop follows.
    } else {
        logLine(QStringLiteral("AudioQueue changed state in unexpected way."));
    }
}

} // namespace sondrel
