// MPEG-4 (M4A, MP4) and CAF files for the stream parser. The container's header is
// gathered whole (the top-level boxes up to the media data; the CAF chunks up to the
// audio data), read by FFmpeg's demuxer through a read callback over those bytes, and
// the packets are then cut from the arriving media data with the header's packet table.
//
// Only files laid out for streaming can be read this way: an MPEG-4 file whose movie
// header comes after its media data, or a CAF of variable-size packets whose packet
// table comes after the audio data, fails with kStatusNotOptimized.
#include "streamer/AudioFileStream.h"
#include "streamer/CodecLog.h"
#include "streamer/StreamHeaders.h"

#include <algorithm>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

namespace sondrel {
namespace {

// The most header bytes gathered before the audio data starts.
constexpr std::int64_t kMaxContainerHeader = 16 << 20;
// The largest packet a packet table may describe.
constexpr std::int64_t kMaxIndexedPacket = 1 << 20;

std::uint64_t readBE64(const std::uint8_t* p) {
    return (std::uint64_t(readBE32(p)) << 32) | readBE32(p + 4);
}

// The header bytes as the demuxer reads them, from the start of the file.
struct HeaderBytes {
    const std::uint8_t* data = nullptr;
    std::size_t size = 0;
    std::size_t position = 0;
};

int readHeaderBytes(void* opaque, std::uint8_t* out, int size) {
    auto* bytes = static_cast<HeaderBytes*>(opaque);
    const std::size_t count =
        std::min<std::size_t>(std::size_t(std::max(size, 0)), bytes->size - bytes->position);
    if (count == 0) {
        return AVERROR_EOF;
    }
    std::memcpy(out, bytes->data + bytes->position, count);
    bytes->position += count;
    return int(count);
}

// A demuxer opened on header bytes; frees what it was opened with.
class HeaderDemuxer {
public:
    HeaderDemuxer(HeaderBytes* bytes, const char* name, bool ignoreEditList) {
        routeCodecLogToPlayerLog();
        constexpr int kIoBufferSize = 4096;
        auto* ioBuffer = static_cast<unsigned char*>(av_malloc(kIoBufferSize));
        io = ioBuffer ? avio_alloc_context(ioBuffer, kIoBufferSize, 0, bytes, readHeaderBytes,
                                           nullptr, nullptr)
                      : nullptr;
        if (!io) {
            av_free(ioBuffer);
            return;
        }
        context = avformat_alloc_context();
        if (!context) {
            return;
        }
        context->pb = io;
        context->flags |= AVFMT_FLAG_CUSTOM_IO;
        AVDictionary* options = nullptr;
        if (ignoreEditList) {
            // The packets as stored: the decoder gets every one of them in order.
            av_dict_set(&options, "ignore_editlist", "1", 0);
        }
        // On failure the context is freed and set to null.
        avformat_open_input(&context, nullptr, av_find_input_format(name), &options);
        av_dict_free(&options);
    }
    ~HeaderDemuxer() {
        avformat_close_input(&context);
        if (io) {
            av_freep(&io->buffer);
            avio_context_free(&io);
        }
    }
    HeaderDemuxer(const HeaderDemuxer&) = delete;
    HeaderDemuxer& operator=(const HeaderDemuxer&) = delete;

    AVFormatContext* format() const { return context; }

private:
    AVIOContext* io = nullptr;
    AVFormatContext* context = nullptr;
};

struct PcmCodec {
    AVCodecID id;
    int bits;
    bool isFloat;
    bool bigEndian;
    bool isSigned;
};

constexpr PcmCodec kPcmCodecs[] = {
    {AV_CODEC_ID_PCM_U8, 8, false, false, false},    {AV_CODEC_ID_PCM_S8, 8, false, false, true},
    {AV_CODEC_ID_PCM_S16LE, 16, false, false, true}, {AV_CODEC_ID_PCM_S16BE, 16, false, true, true},
    {AV_CODEC_ID_PCM_S24LE, 24, false, false, true}, {AV_CODEC_ID_PCM_S24BE, 24, false, true, true},
    {AV_CODEC_ID_PCM_S32LE, 32, false, false, true}, {AV_CODEC_ID_PCM_S32BE, 32, false, true, true},
    {AV_CODEC_ID_PCM_F32LE, 32, true, false, false}, {AV_CODEC_ID_PCM_F32BE, 32, true, true, false},
    {AV_CODEC_ID_PCM_F64LE, 64, true, false, false}, {AV_CODEC_ID_PCM_F64BE, 64, true, true, false},
};

} // namespace

bool AudioFileStream::parseMp4Header() {
    // During the header the buffer holds the file from its first byte.
    for (;;) {
        const std::int64_t at = scanOffset;
        if (at > kMaxContainerHeader) {
            fail();
            return false;
        }
        if (std::int64_t(buffer.size()) < at + 8) {
            return false;
        }
        const std::uint8_t* p = buffer.data() + at;
        std::uint64_t size = readBE32(p);
        std::int64_t headerSize = 8;
        if (size == 1) {
            if (std::int64_t(buffer.size()) < at + 16) {
                return false;
            }
            size = readBE64(p + 8);
            headerSize = 16;
        }
        const bool toTheEnd = size == 0;
        if (!toTheEnd && size < std::uint64_t(headerSize)) {
            fail();
            return false;
        }
        if (std::memcmp(p + 4, "mdat", 4) == 0) {
            if (!movieHeaderSeen) {
                fail(kStatusNotOptimized);
                return false;
            }
            return readContainerHeader(at + headerSize,
                                       toTheEnd ? -1 : std::int64_t(size) - headerSize);
        }
        if (toTheEnd || size > std::uint64_t(kMaxContainerHeader)) {
            fail();
            return false;
        }
        if (std::memcmp(p + 4, "moov", 4) == 0) {
            if (std::int64_t(buffer.size()) < at + std::int64_t(size)) {
                return false;
            }
            movieHeaderSeen = true;
        }
        scanOffset = at + std::int64_t(size);
    }
}

bool AudioFileStream::parseCafHeader() {
    if (scanOffset == 0) {
        if (buffer.size() < 8) {
            return false;
        }
        if (!startsWith(buffer, "caff") || readBE16(buffer.data() + 4) != 1) {
            fail();
            return false;
        }
        scanOffset = 8;
    }
    for (;;) {
        const std::int64_t at = scanOffset;
        if (at > kMaxContainerHeader) {
            fail();
            return false;
        }
        if (std::int64_t(buffer.size()) < at + 12) {
            return false;
        }
        const std::uint8_t* p = buffer.data() + at;
        const auto size = static_cast<std::int64_t>(readBE64(p + 4));
        if (std::memcmp(p, "data", 4) == 0) {
            // The audio data follows a 32-bit edit count; -1: it runs to the end.
            if (size != -1 && size < 4) {
                fail();
                return false;
            }
            if (std::int64_t(buffer.size()) < at + 16) {
                return false;
            }
            return readContainerHeader(at + 16, size == -1 ? -1 : size - 4);
        }
        if (size < 0 || size > kMaxContainerHeader) {
            fail();
            return false;
        }
        if (std::memcmp(p, "pakt", 4) == 0) {
            packetTableSeen = true;
        }
        scanOffset = at + 12 + size;
    }
}

bool AudioFileStream::readContainerHeader(std::int64_t dataStart, std::int64_t dataSize) {
    const bool mp4 = kind == Kind::Mp4;
    HeaderBytes bytes{buffer.data(), std::size_t(dataStart)};
    HeaderDemuxer demuxer(&bytes, mp4 ? "mov" : "caf", mp4);
    AVFormatContext* context = demuxer.format();
    const int streamIndex =
        context ? av_find_best_stream(context, AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0) : -1;
    if (streamIndex < 0) {
        // A CAF of variable-size packets needs its packet table before the audio.
        fail(!mp4 && !packetTableSeen ? kStatusNotOptimized : kStatusInvalidFile);
        return false;
    }
    AVStream* stream = context->streams[streamIndex];
    const AVCodecParameters* codec = stream->codecpar;
    const int channels = codec->ch_layout.nb_channels;
    const int rate = codec->sample_rate;
    if (channels < 1 || channels > 8 || rate < 1000 || rate > 768000) {
        fail(kStatusUnsupportedDataFormat);
        return false;
    }

    dataOffset = dataStart;
    if (dataSize >= 0) {
        audioDataByteCount = std::uint64_t(dataSize);
        audioDataByteCountKnown = true;
        dataEnd = dataStart + dataSize;
    }

    const auto pcm = std::find_if(std::begin(kPcmCodecs), std::end(kPcmCodecs),
                                  [&](const PcmCodec& c) { return c.id == codec->codec_id; });
    if (pcm != std::end(kPcmCodecs)) {
        if (mp4 ||
            !setPcmFormat(channels, rate, pcm->bits, pcm->isFloat, pcm->bigEndian, pcm->isSigned)) {
            fail(kStatusUnsupportedDataFormat);
            return false;
        }
        if (audioDataByteCountKnown) {
            audioDataPacketCount = audioDataByteCount / format.bytesPerFrame;
            audioDataPacketCountKnown = true;
        }
        consume(std::size_t(dataStart));
        finishHeader();
        return true;
    }

    std::uint32_t formatId = 0;
    std::uint32_t framesPerPacket = 0;
    switch (codec->codec_id) {
    case AV_CODEC_ID_AAC:
        formatId = codec->profile == FF_PROFILE_AAC_HE      ? kFormatMPEG4AAC_HE
                   : codec->profile == FF_PROFILE_AAC_HE_V2 ? kFormatMPEG4AAC_HE_V2
                                                            : kFormatMPEG4AAC;
        framesPerPacket = 1024;
        break;
    case AV_CODEC_ID_MP3:
        formatId = kFormatMPEGLayer3;
        framesPerPacket = 1152;
        break;
    case AV_CODEC_ID_MP2:
        formatId = kFormatMPEGLayer2;
        framesPerPacket = 1152;
        break;
    case AV_CODEC_ID_ALAC:
        formatId = kFormatAppleLossless;
        framesPerPacket = 4096;
        break;
    default:
        fail(kStatusUnsupportedDataFormat);
        return false;
    }

    // The packet table: where each packet sits in the file and its size. CAF gives
    // positions within the audio data and no sizes (each packet ends where the next
    // begins).
    const int count = avformat_index_get_entries_count(stream);
    packetIndex.clear();
    packetIndex.reserve(std::size_t(std::max(count, 0)));
    std::uint64_t totalBytes = 0;
    std::uint32_t largest = 0;
    for (int i = 0; i < count; ++i) {
        const AVIndexEntry* entry = avformat_index_get_entry(stream, i);
        const std::int64_t position = entry->pos + (mp4 ? 0 : dataStart);
        std::int64_t size = entry->size;
        if (size <= 0) {
            const AVIndexEntry* next =
                i + 1 < count ? avformat_index_get_entry(stream, i + 1) : nullptr;
            size = next ? next->pos - entry->pos : dataEnd - position;
        }
        if (position < dataStart || size <= 0 || size > kMaxIndexedPacket) {
            fail();
            return false;
        }
        packetIndex.push_back({position, std::uint32_t(size)});
        totalBytes += std::uint64_t(size);
        largest = std::max(largest, std::uint32_t(size));
    }
    if (packetIndex.empty()) {
        fail();
        return false;
    }
    if (count >= 2) {
        // The frames of one packet, from the table's time stamps.
        const AVIndexEntry* first = avformat_index_get_entry(stream, 0);
        const AVIndexEntry* second = avformat_index_get_entry(stream, 1);
        const std::int64_t frames =
            av_rescale_q(second->timestamp - first->timestamp, stream->time_base, {1, rate});
        if (frames > 0 && frames <= 65536) {
            framesPerPacket = std::uint32_t(frames);
        }
    }

    format = AudioStreamBasicDescription{};
    format.sampleRate = rate;
    format.formatId = formatId;
    format.framesPerPacket = framesPerPacket;
    format.channelsPerFrame = std::uint32_t(channels);
    if (codec->extradata_size > 0) {
        magicCookie.assign(codec->extradata, codec->extradata + codec->extradata_size);
    }
    maximumPacketSize = largest;
    // AAC: a raw frame holds at most 6144 bits per channel.
    packetSizeUpperBound = formatId == kFormatMPEGLayer3 || formatId == kFormatMPEGLayer2 ||
                                   formatId == kFormatAppleLossless
                               ? largest
                               : std::max(largest, 768u * format.channelsPerFrame);
    audioDataPacketCount = packetIndex.size();
    audioDataPacketCountKnown = true;
    const double seconds = double(packetIndex.size()) * framesPerPacket / rate;
    bitRate = static_cast<std::uint32_t>(std::min(double(totalBytes) * 8.0 / seconds, 4.0e9));
    nextPacket = 0;
    consume(std::size_t(dataStart));
    finishHeader();
    return true;
}

void AudioFileStream::parseIndexedPackets() {
    packetBytes.clear();
    packetDescriptions.clear();
    const std::int64_t end = bufferOffset + std::int64_t(buffer.size());
    while (nextPacket < packetIndex.size()) {
        const IndexedPacket& packet = packetIndex[nextPacket];
        if (packet.position < bufferOffset) {
            ++nextPacket; // its bytes went by (tables out of order): lost, not misread
            continue;
        }
        if (packet.position + packet.size > end) {
            break;
        }
        const std::uint8_t* p = buffer.data() + (packet.position - bufferOffset);
        AudioStreamPacketDescription d;
        d.startOffset = static_cast<std::int64_t>(packetBytes.size());
        d.dataByteSize = packet.size;
        packetBytes.insert(packetBytes.end(), p, p + packet.size);
        packetDescriptions.push_back(d);
        ++nextPacket;
    }
    // Keep only what the next packet needs; bytes between packets (other tracks) go.
    const std::int64_t keepFrom =
        nextPacket < packetIndex.size() ? packetIndex[nextPacket].position : end;
    consume(std::size_t(keepFrom - bufferOffset));
    if (!packetDescriptions.empty() && packetsProc) {
        packetsProc(packetBytes.data(), static_cast<std::uint32_t>(packetBytes.size()),
                    static_cast<std::uint32_t>(packetDescriptions.size()),
                    packetDescriptions.data());
    }
}

OSStatus AudioFileStream::seekIndexed(std::int64_t packetOffset, std::int64_t* dataByteOffset) {
    const std::size_t index =
        std::min<std::size_t>(std::size_t(packetOffset), packetIndex.size() - 1);
    *dataByteOffset = packetIndex[index].position - dataOffset;
    seekPending = true;
    seekFileOffset = packetIndex[index].position;
    seekPacket = index;
    return kNoErr;
}

} // namespace sondrel
