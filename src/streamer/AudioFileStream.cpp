#include "streamer/AudioFileStream.h"

#include "streamer/StreamHeaders.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sondrel {
namespace {

// Junk allowed before the first frame of a stream, and the largest header chunk read.
constexpr std::uint64_t kMaxLeadingJunk = 1 << 20;
constexpr std::uint32_t kMaxHeaderChunk = 1 << 16;

bool startsWith(const std::vector<std::uint8_t>& bytes, const char* text) {
    const std::size_t n = std::strlen(text);
    return bytes.size() >= n && std::memcmp(bytes.data(), text, n) == 0;
}

bool isId3Prefix(const std::vector<std::uint8_t>& bytes) {
    static const char id3[] = "ID3";
    for (std::size_t i = 0; i < bytes.size() && i < 3; ++i) {
        if (bytes[i] != std::uint8_t(id3[i])) {
            return false;
        }
    }
    return true;
}

// One frame of either compressed kind at `p`: its total size and the payload handed on
// as the packet. Nothing when the bytes are no frame of the locked stream.
struct FrameInfo {
    std::uint32_t size = 0;
    std::uint32_t payloadOffset = 0;
};

} // namespace

OSStatus AudioFileStream::open(PropertyListener listener, PacketsProc packets,
                               std::uint32_t fileTypeHint, std::unique_ptr<AudioFileStream>* out) {
    switch (fileTypeHint) {
    case kAudioFileMP3Type:
    case kAudioFileWAVEType:
    case kAudioFileAIFCType:
    case kAudioFileAIFFType:
    case kAudioFileAAC_ADTSType:
        break;
    default:
        return kStatusUnsupportedFileType;
    }
    out->reset(new AudioFileStream(std::move(listener), std::move(packets), fileTypeHint));
    return kNoErr;
}

AudioFileStream::AudioFileStream(PropertyListener l, PacketsProc p, std::uint32_t h)
    : listener(std::move(l)), packetsProc(std::move(p)), hint(h) {}

AudioFileStream::~AudioFileStream() = default;

void AudioFileStream::notify(std::uint32_t propertyId) {
    if (listener) {
        listener(*this, propertyId);
    }
}

void AudioFileStream::fail() {
    phase = Phase::Failed;
    buffer.clear();
}

void AudioFileStream::consume(std::size_t count) {
    if (count >= buffer.size()) {
        skipBytes += count - buffer.size();
        buffer.clear();
    } else {
        buffer.erase(buffer.begin(), buffer.begin() + static_cast<std::ptrdiff_t>(count));
    }
    bufferOffset += static_cast<std::int64_t>(count);
}

OSStatus AudioFileStream::parseBytes(const void* data, std::uint32_t size, bool discontinuity) {
    if (phase == Phase::Failed) {
        return kStatusInvalidFile;
    }
    if (discontinuity && seekPending) {
        buffer.clear();
        skipBytes = 0;
        positionKnown = seekFileOffset >= 0;
        bufferOffset = std::max<std::int64_t>(seekFileOffset, 0);
        seekPending = false;
        resync = kind == Kind::Mpeg || kind == Kind::Adts;
    } else if (discontinuity && phase == Phase::Packets) {
        // Bytes that may not follow: check the next frame before trusting it.
        resync = kind == Kind::Mpeg || kind == Kind::Adts;
    }

    auto* bytes = static_cast<const std::uint8_t*>(data);
    std::uint32_t skipped = 0;
    if (skipBytes > 0) {
        skipped = static_cast<std::uint32_t>(std::min<std::uint64_t>(skipBytes, size));
        skipBytes -= skipped;
    }
    buffer.insert(buffer.end(), bytes + skipped, bytes + size);

    for (;;) {
        bool more = false;
        switch (phase) {
        case Phase::Sniff:
            more = sniff();
            break;
        case Phase::Header:
            switch (kind) {
            case Kind::Mpeg:
                more = parseMpegHeader();
                break;
            case Kind::Adts:
                more = parseAdtsHeader();
                break;
            case Kind::Wave:
                more = parseWaveHeader();
                break;
            case Kind::Aiff:
                more = parseAiffHeader();
                break;
            case Kind::Unknown:
                fail();
                break;
            }
            break;
        case Phase::Packets:
            parsePackets();
            break;
        case Phase::Failed:
            break;
        }
        if (phase == Phase::Failed) {
            return kStatusInvalidFile;
        }
        if (!more) {
            return kNoErr;
        }
    }
}

bool AudioFileStream::sniff() {
    if (buffer.size() < 4) {
        return false;
    }
    if (startsWith(buffer, "RIFF")) {
        kind = Kind::Wave;
    } else if (startsWith(buffer, "FORM")) {
        kind = Kind::Aiff;
    } else if (buffer[0] == 0xFF && (buffer[1] & 0xF0) == 0xF0 && (buffer[1] & 0x06) == 0) {
        kind = Kind::Adts;
    } else if (buffer[0] == 0xFF && (buffer[1] & 0xE0) == 0xE0) {
        kind = Kind::Mpeg;
    } else {
        switch (hint) {
        case kAudioFileWAVEType:
            kind = Kind::Wave;
            break;
        case kAudioFileAIFFType:
        case kAudioFileAIFCType:
            kind = Kind::Aiff;
            break;
        case kAudioFileAAC_ADTSType:
            kind = Kind::Adts;
            break;
        default:
            kind = Kind::Mpeg;
            break;
        }
    }
    phase = Phase::Header;
    return true;
}

// Finds the first frame of a compressed stream: skips ID3v2 tags, then looks for a frame
// header followed by a second one of the same stream, so that bytes in front of the
// audio cannot pass for a frame.
bool AudioFileStream::parseMpegHeader() {
    if (buffer.size() < 10 && isId3Prefix(buffer)) {
        return false;
    }
    if (auto tag = readId3v2TagSize(buffer.data(), buffer.size())) {
        consume(static_cast<std::size_t>(*tag));
        return !buffer.empty();
    }
    const bool adts = kind == Kind::Adts;
    std::size_t pos = 0;
    for (; pos + 10 <= buffer.size(); ++pos) {
        const std::uint8_t* p = buffer.data() + pos;
        std::uint32_t size = 0;
        if (adts) {
            auto h = readAdtsHeader(p, buffer.size() - pos);
            if (!h) {
                continue;
            }
            size = h->frameLength;
            if (pos + size + 7 > buffer.size()) {
                break;
            }
            auto next = readAdtsHeader(p + size, buffer.size() - pos - size);
            if (!next || !next->sameStream(*h)) {
                continue;
            }
        } else {
            auto h = readMpegFrameHeader(p, buffer.size() - pos);
            if (!h) {
                continue;
            }
            size = h->frameSize;
            if (pos + size + 4 > buffer.size()) {
                break;
            }
            auto next = readMpegFrameHeader(p + size, buffer.size() - pos - size);
            if (!next || !next->sameStream(*h)) {
                continue;
            }
        }
        // A confirmed first frame.
        consume(pos);
        std::memcpy(firstHeader, buffer.data(), 4);
        dataOffset = bufferOffset;
        if (adts) {
            const AdtsHeader h = *readAdtsHeader(buffer.data(), buffer.size());
            format.sampleRate = h.sampleRate;
            format.formatId = kFormatMPEG4AAC;
            format.framesPerPacket = 1024;
            format.channelsPerFrame = std::uint32_t(h.channelConfig == 7 ? 8 : h.channelConfig);
            const auto config = h.audioSpecificConfig();
            magicCookie.assign(config.begin(), config.end());
            // A raw AAC frame holds at most 6144 bits per channel.
            packetSizeUpperBound = 768u * format.channelsPerFrame;
        } else {
            const MpegFrameHeader h = *readMpegFrameHeader(buffer.data(), buffer.size());
            format.sampleRate = h.sampleRate;
            format.formatId = h.layer == 3   ? kFormatMPEGLayer3
                              : h.layer == 2 ? kFormatMPEGLayer2
                                             : kFormatMPEGLayer1;
            format.framesPerPacket = h.samplesPerFrame;
            format.channelsPerFrame = std::uint32_t(h.channels);
            packetSizeUpperBound = h.maxFrameSize;
            bitRate = std::uint32_t(h.bitRate);
            if (auto xing = readXingHeader(h, buffer.data(), h.frameSize)) {
                // The Xing/Info frame describes the stream and carries no audio.
                dataOffset = bufferOffset + h.frameSize;
                if (xing->hasBytes && xing->bytes > h.frameSize) {
                    audioDataByteCount = xing->bytes - h.frameSize;
                    audioDataByteCountKnown = true;
                    xingBytes = audioDataByteCount;
                }
                if (xing->hasFrames && xing->frames > 0) {
                    audioDataPacketCount = xing->frames;
                    audioDataPacketCountKnown = true;
                }
                if (audioDataByteCountKnown && audioDataPacketCountKnown) {
                    const double seconds =
                        double(audioDataPacketCount) * h.samplesPerFrame / h.sampleRate;
                    bitRate = static_cast<std::uint32_t>(
                        std::llround(double(audioDataByteCount) * 8.0 / seconds));
                }
                if (xing->hasToc && audioDataPacketCountKnown && audioDataByteCountKnown) {
                    hasXingToc = true;
                    std::memcpy(xingToc, xing->toc.data(), 100);
                }
                consume(h.frameSize);
            }
        }
        finishHeader();
        return true;
    }
    // No frame yet: drop what cannot start one and wait for more bytes.
    if (pos > 0) {
        consume(pos);
    }
    if (bufferOffset > std::int64_t(kMaxLeadingJunk)) {
        fail();
    }
    return false;
}

bool AudioFileStream::parseAdtsHeader() {
    return parseMpegHeader();
}

void AudioFileStream::finishHeader() {
    phase = Phase::Packets;
    notify(kPropertyFileFormat);
    notify(kPropertyDataFormat);
    if (kind == Kind::Adts) {
        notify(kPropertyFormatList);
        notify(kPropertyMagicCookieData);
    }
    if (audioDataByteCountKnown) {
        notify(kPropertyAudioDataByteCount);
    }
    if (audioDataPacketCountKnown) {
        notify(kPropertyAudioDataPacketCount);
    }
    notify(kPropertyDataOffset);
    ready = true;
    notify(kPropertyReadyToProducePackets);
}

bool AudioFileStream::setPcmFormat(int channels, double sampleRate, int bits, bool isFloat,
                                   bool bigEndian, bool signedInt) {
    const bool intOk = !isFloat && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
    const bool floatOk = isFloat && (bits == 32 || bits == 64);
    if (channels < 1 || channels > 8 || !std::isfinite(sampleRate) || sampleRate < 1000 ||
        sampleRate > 768000 || !(intOk || floatOk)) {
        return false;
    }
    format.sampleRate = sampleRate;
    format.formatId = kFormatLinearPCM;
    format.formatFlags = kFormatFlagIsPacked | (isFloat ? kFormatFlagIsFloat : 0) |
                         (bigEndian ? kFormatFlagIsBigEndian : 0) |
                         (signedInt && !isFloat ? kFormatFlagIsSignedInteger : 0);
    format.bytesPerFrame = std::uint32_t(channels * bits / 8);
    format.bytesPerPacket = format.bytesPerFrame;
    format.framesPerPacket = 1;
    format.channelsPerFrame = std::uint32_t(channels);
    format.bitsPerChannel = std::uint32_t(bits);
    bitRate = static_cast<std::uint32_t>(std::llround(sampleRate * format.bytesPerFrame * 8));
    return true;
}

bool AudioFileStream::parseWaveHeader() {
    if (dataOffset < 0 && bufferOffset == 0) {
        if (buffer.size() < 12) {
            return false;
        }
        if (!startsWith(buffer, "RIFF") || std::memcmp(buffer.data() + 8, "WAVE", 4) != 0) {
            fail();
            return false;
        }
        consume(12);
    }
    while (buffer.size() >= 8 && skipBytes == 0) {
        const std::uint8_t* p = buffer.data();
        const std::uint32_t size = readLE32(p + 4);
        if (std::memcmp(p, "fmt ", 4) == 0) {
            if (size < 16 || size > kMaxHeaderChunk) {
                fail();
                return false;
            }
            if (buffer.size() < 8 + std::size_t(size)) {
                return false;
            }
            const std::uint8_t* f = p + 8;
            int tag = readLE16(f);
            const int channels = readLE16(f + 2);
            const std::uint32_t rate = readLE32(f + 4);
            const int blockAlign = readLE16(f + 12);
            const int bits = readLE16(f + 14);
            if (tag == 0xFFFE && size >= 40) {
                tag = readLE16(f + 24); // the sub-format's first two bytes
            }
            if ((tag != 1 && tag != 3) ||
                !setPcmFormat(channels, rate, bits, tag == 3, false, bits > 8) ||
                blockAlign != int(format.bytesPerFrame)) {
                fail();
                return false;
            }
            consume(8 + std::size_t(size) + (size & 1));
        } else if (std::memcmp(p, "data", 4) == 0) {
            if (format.formatId != kFormatLinearPCM) {
                fail();
                return false;
            }
            dataOffset = bufferOffset + 8;
            if (size != 0xFFFFFFFFu) {
                audioDataByteCount = size;
                audioDataByteCountKnown = true;
                dataEnd = dataOffset + size;
            }
            consume(8);
            finishHeader();
            return true;
        } else {
            consume(8 + std::size_t(size) + (size & 1));
        }
    }
    return false;
}

bool AudioFileStream::parseAiffHeader() {
    if (dataOffset < 0 && bufferOffset == 0) {
        if (buffer.size() < 12) {
            return false;
        }
        const bool aiff = std::memcmp(buffer.data() + 8, "AIFF", 4) == 0;
        const bool aifc = std::memcmp(buffer.data() + 8, "AIFC", 4) == 0;
        if (!startsWith(buffer, "FORM") || !(aiff || aifc)) {
            fail();
            return false;
        }
        isAifc = aifc;
        consume(12);
    }
    while (buffer.size() >= 8 && skipBytes == 0) {
        const std::uint8_t* p = buffer.data();
        const std::uint32_t size = readBE32(p + 4);
        if (std::memcmp(p, "COMM", 4) == 0) {
            if (size < 18 || size > kMaxHeaderChunk || (isAifc && size < 22)) {
                fail();
                return false;
            }
            if (buffer.size() < 8 + std::size_t(size)) {
                return false;
            }
            const std::uint8_t* c = p + 8;
            const int channels = static_cast<std::int16_t>(readBE16(c));
            const int bits = static_cast<std::int16_t>(readBE16(c + 6));
            const double rate = readExtended80(c + 8);
            const std::uint32_t compression = isAifc ? readBE32(c + 18) : fourCC("NONE");
            const int storedBits = (bits + 7) / 8 * 8;
            bool ok = false;
            if (compression == fourCC("NONE") || compression == fourCC("twos")) {
                ok = setPcmFormat(channels, rate, storedBits, false, true, true);
            } else if (compression == fourCC("sowt")) {
                ok = setPcmFormat(channels, rate, storedBits, false, false, true);
            } else if (compression == fourCC("fl32") || compression == fourCC("FL32")) {
                ok = setPcmFormat(channels, rate, 32, true, true, false);
            } else if (compression == fourCC("fl64") || compression == fourCC("FL64")) {
                ok = setPcmFormat(channels, rate, 64, true, true, false);
            }
            if (!ok) {
                fail();
                return false;
            }
            consume(8 + std::size_t(size) + (size & 1));
        } else if (std::memcmp(p, "SSND", 4) == 0) {
            if (format.formatId != kFormatLinearPCM || size < 8) {
                fail();
                return false;
            }
            if (buffer.size() < 16) {
                return false;
            }
            const std::uint32_t offset = readBE32(p + 8);
            if (offset > size - 8) {
                fail();
                return false;
            }
            dataOffset = bufferOffset + 16 + offset;
            audioDataByteCount = size - 8 - offset;
            audioDataByteCountKnown = true;
            dataEnd = dataOffset + std::int64_t(audioDataByteCount);
            consume(16 + std::size_t(offset));
            finishHeader();
            return true;
        } else {
            consume(8 + std::size_t(size) + (size & 1));
        }
    }
    return false;
}

void AudioFileStream::parsePackets() {
    if (kind == Kind::Wave || kind == Kind::Aiff) {
        parsePcmPackets();
    } else {
        parseCompressedPackets();
    }
}

void AudioFileStream::parsePcmPackets() {
    std::size_t available = buffer.size();
    if (dataEnd >= 0 && positionKnown) {
        const std::int64_t left = dataEnd - bufferOffset;
        if (left <= 0) {
            consume(buffer.size()); // chunks after the audio data
            return;
        }
        available = std::min<std::size_t>(available, static_cast<std::size_t>(left));
    }
    const std::size_t frameBytes = format.bytesPerFrame;
    const std::size_t usable = available / frameBytes * frameBytes;
    if (usable == 0) {
        return;
    }
    // Hand the bytes on before consuming them: the callback only reads them.
    if (packetsProc) {
        packetsProc(buffer.data(), static_cast<std::uint32_t>(usable),
                    static_cast<std::uint32_t>(usable / frameBytes), nullptr);
    }
    consume(usable);
}

void AudioFileStream::parseCompressedPackets() {
    const bool adts = kind == Kind::Adts;
    // A frame of the locked stream at p (needs only its header bytes).
    auto frameAt = [&](const std::uint8_t* p, std::size_t size) -> std::optional<FrameInfo> {
        if (adts) {
            auto h = readAdtsHeader(p, size);
            auto first = readAdtsHeader(firstHeader, 7);
            if (!h || (first && !h->sameStream(*first))) {
                return std::nullopt;
            }
            return FrameInfo{h->frameLength, h->headerSize};
        }
        auto h = readMpegFrameHeader(p, size);
        auto first = readMpegFrameHeader(firstHeader, 4);
        if (!h || !first || !h->sameStream(*first)) {
            return std::nullopt;
        }
        return FrameInfo{h->frameSize, 0};
    };
    const std::size_t headerBytes = adts ? 7 : 4;

    packetBytes.clear();
    packetDescriptions.clear();
    std::size_t pos = 0;
    while (pos + headerBytes <= buffer.size()) {
        const std::uint8_t* p = buffer.data() + pos;
        auto frame = frameAt(p, buffer.size() - pos);
        if (!frame) {
            resync = true;
            ++pos;
            continue;
        }
        if (pos + frame->size > buffer.size()) {
            break;
        }
        if (resync) {
            // Trust a frame found after lost bytes only when the next one follows it.
            if (pos + frame->size + headerBytes > buffer.size()) {
                break;
            }
            if (!frameAt(p + frame->size, buffer.size() - pos - frame->size)) {
                ++pos;
                continue;
            }
            resync = false;
        }
        const std::uint32_t payload = frame->size - frame->payloadOffset;
        AudioStreamPacketDescription d;
        d.startOffset = static_cast<std::int64_t>(packetBytes.size());
        d.dataByteSize = payload;
        packetBytes.insert(packetBytes.end(), p + frame->payloadOffset, p + frame->size);
        packetDescriptions.push_back(d);
        maximumPacketSize = std::max(maximumPacketSize, payload);
        packetsParsed += 1;
        packetBytesParsed += frame->size;
        pos += frame->size;
    }
    consume(pos);
    if (!packetDescriptions.empty() && packetsProc) {
        packetsProc(packetBytes.data(), static_cast<std::uint32_t>(packetBytes.size()),
                    static_cast<std::uint32_t>(packetDescriptions.size()),
                    packetDescriptions.data());
    }
}

OSStatus AudioFileStream::seek(std::int64_t packetOffset, std::int64_t* dataByteOffset,
                               bool* estimated) {
    if (!ready || packetOffset < 0) {
        return kStatusIllegalOperation;
    }
    std::int64_t offset = 0;
    bool guess = true;
    if (format.formatId == kFormatLinearPCM) {
        offset = packetOffset * std::int64_t(format.bytesPerPacket);
        guess = false;
    } else if (hasXingToc) {
        const double percent =
            std::clamp(double(packetOffset) * 100.0 / double(audioDataPacketCount), 0.0, 99.999);
        const int index = static_cast<int>(percent);
        const double a = xingToc[index];
        const double b = index < 99 ? xingToc[index + 1] : 256.0;
        const double fraction = (a + (b - a) * (percent - index)) / 256.0;
        offset = static_cast<std::int64_t>(fraction * double(xingBytes));
    } else if (packetsParsed > 0) {
        offset = packetOffset * std::int64_t(packetBytesParsed / packetsParsed);
    } else if (bitRate > 0) {
        const double seconds = double(packetOffset) * format.framesPerPacket / format.sampleRate;
        offset = static_cast<std::int64_t>(seconds * bitRate / 8.0);
    } else {
        return kStatusValueUnknown;
    }
    *dataByteOffset = offset;
    *estimated = guess;
    seekPending = true;
    seekFileOffset = guess ? -1 : dataOffset + offset;
    return kNoErr;
}

OSStatus AudioFileStream::getPropertyInfo(std::uint32_t propertyId, std::uint32_t* outSize) const {
    switch (propertyId) {
    case kPropertyDataFormat:
        *outSize = sizeof(AudioStreamBasicDescription);
        return format.sampleRate > 0 ? kNoErr : kStatusValueUnknown;
    case kPropertyFormatList:
        *outSize = sizeof(AudioFormatListItem);
        return format.sampleRate > 0 ? kNoErr : kStatusValueUnknown;
    case kPropertyMagicCookieData:
        *outSize = static_cast<std::uint32_t>(magicCookie.size());
        return magicCookie.empty() ? kStatusValueUnknown : kNoErr;
    case kPropertyAudioDataByteCount:
    case kPropertyAudioDataPacketCount:
    case kPropertyDataOffset:
        *outSize = 8;
        return kNoErr;
    case kPropertyReadyToProducePackets:
    case kPropertyFileFormat:
    case kPropertyMaximumPacketSize:
    case kPropertyBitRate:
    case kPropertyPacketSizeUpperBound:
        *outSize = 4;
        return kNoErr;
    default:
        return kStatusUnsupportedProperty;
    }
}

OSStatus AudioFileStream::getProperty(std::uint32_t propertyId, std::uint32_t* ioSize,
                                      void* data) const {
    auto put = [&](const void* value, std::uint32_t size, bool known) -> OSStatus {
        if (!known) {
            return kStatusValueUnknown;
        }
        if (*ioSize < size) {
            return kStatusBadPropertySize;
        }
        std::memcpy(data, value, size);
        *ioSize = size;
        return kNoErr;
    };
    switch (propertyId) {
    case kPropertyReadyToProducePackets: {
        const std::uint32_t value = ready ? 1 : 0;
        return put(&value, 4, true);
    }
    case kPropertyFileFormat: {
        std::uint32_t value = hint;
        if (kind == Kind::Mpeg) {
            value = kAudioFileMP3Type;
        } else if (kind == Kind::Adts) {
            value = kAudioFileAAC_ADTSType;
        } else if (kind == Kind::Wave) {
            value = kAudioFileWAVEType;
        } else if (kind == Kind::Aiff) {
            value = isAifc ? kAudioFileAIFCType : kAudioFileAIFFType;
        }
        return put(&value, 4, true);
    }
    case kPropertyDataFormat:
        return put(&format, sizeof format, format.sampleRate > 0);
    case kPropertyFormatList: {
        AudioFormatListItem item;
        item.format = format;
        return put(&item, sizeof item, format.sampleRate > 0);
    }
    case kPropertyMagicCookieData:
        return put(magicCookie.data(), static_cast<std::uint32_t>(magicCookie.size()),
                   !magicCookie.empty());
    case kPropertyAudioDataByteCount:
        return put(&audioDataByteCount, 8, audioDataByteCountKnown);
    case kPropertyAudioDataPacketCount:
        return put(&audioDataPacketCount, 8, audioDataPacketCountKnown);
    case kPropertyMaximumPacketSize:
        return put(&maximumPacketSize, 4, maximumPacketSize > 0);
    case kPropertyDataOffset:
        return put(&dataOffset, 8, dataOffset >= 0);
    case kPropertyBitRate:
        return put(&bitRate, 4, bitRate > 0);
    case kPropertyPacketSizeUpperBound:
        return put(&packetSizeUpperBound, 4, packetSizeUpperBound > 0);
    default:
        return kStatusUnsupportedProperty;
    }
}

} // namespace sondrel
