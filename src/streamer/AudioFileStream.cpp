#include "streamer/AudioFileStream.h"

#include "streamer/StreamHeaders.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sondrel {
namespace {

// Junk allowed before the first frame of a stream.
constexpr std::uint64_t kMaxLeadingJunk = 1 << 20;

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
    case kAudioFileM4AType:
    case kAudioFileMPEG4Type:
    case kAudioFileCAFType:
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

void AudioFileStream::fail(OSStatus status) {
    phase = Phase::Failed;
    failure = status;
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
        return failure;
    }
    if (discontinuity && seekPending) {
        nextPacket = seekPacket;
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
            case Kind::Mp4:
                more = parseMp4Header();
                break;
            case Kind::Caf:
                more = parseCafHeader();
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
            return failure;
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
    const bool mp4Hint = hint == kAudioFileM4AType || hint == kAudioFileMPEG4Type;
    if (startsWith(buffer, "RIFF")) {
        kind = Kind::Wave;
    } else if (startsWith(buffer, "FORM")) {
        kind = Kind::Aiff;
    } else if (startsWith(buffer, "caff")) {
        kind = Kind::Caf;
    } else if (buffer[0] == 0xFF && (buffer[1] & 0xF0) == 0xF0 && (buffer[1] & 0x06) == 0) {
        kind = Kind::Adts;
    } else if (buffer[0] == 0xFF && (buffer[1] & 0xE0) == 0xE0) {
        kind = Kind::Mpeg;
    } else if (isId3Prefix(buffer)) {
        kind = hint == kAudioFileAAC_ADTSType ? Kind::Adts : Kind::Mpeg;
    } else if (buffer.size() < 8) {
        return false; // an MPEG-4 file shows itself in its first box's type
    } else if (std::memcmp(buffer.data() + 4, "ftyp", 4) == 0 ||
               (mp4Hint && (std::memcmp(buffer.data() + 4, "moov", 4) == 0 ||
                            std::memcmp(buffer.data() + 4, "mdat", 4) == 0))) {
        kind = Kind::Mp4;
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
        case kAudioFileM4AType:
        case kAudioFileMPEG4Type:
            kind = Kind::Mp4;
            break;
        case kAudioFileCAFType:
            kind = Kind::Caf;
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
    if (tagsLead) {
        if (buffer.size() < 10 && isId3Prefix(buffer)) {
            return false;
        }
        if (auto tag = readId3v2TagSize(buffer.data(), buffer.size())) {
            consume(static_cast<std::size_t>(*tag));
            return !buffer.empty();
        }
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
        // An "ID3" met after other bytes is searched through like them, wherever the
        // pieces of the file happen to end.
        tagsLead = false;
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
    if (!magicCookie.empty()) {
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

void AudioFileStream::parsePackets() {
    if (format.formatId == kFormatLinearPCM) {
        parsePcmPackets();
    } else if (!packetIndex.empty()) {
        parseIndexedPackets();
    } else {
        parseCompressedPackets();
    }
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
    if (!packetIndex.empty()) {
        *estimated = false;
        return seekIndexed(packetOffset, dataByteOffset);
    }
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

} // namespace sondrel
