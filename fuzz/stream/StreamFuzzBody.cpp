#include "fuzz/stream/StreamFuzzBody.h"

#include "fuzz/FuzzSupport.h"
#include "streamer/AudioFileStream.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace sondrel::fuzz {
namespace {

constexpr std::uint32_t kHints[] = {kAudioFileMP3Type, kAudioFileWAVEType, kAudioFileAIFCType,
                                    kAudioFileAIFFType, kAudioFileAAC_ADTSType};

constexpr std::uint32_t kProperties[] = {kPropertyReadyToProducePackets,
                                         kPropertyFileFormat,
                                         kPropertyDataFormat,
                                         kPropertyFormatList,
                                         kPropertyMagicCookieData,
                                         kPropertyAudioDataByteCount,
                                         kPropertyAudioDataPacketCount,
                                         kPropertyMaximumPacketSize,
                                         kPropertyDataOffset,
                                         kPropertyBitRate,
                                         kPropertyPacketSizeUpperBound};

// What one parse produced.
struct Parse {
    std::vector<QByteArray> packets; // compressed packets, one by one
    QByteArray pcm;                  // PCM blocks, joined
    std::vector<std::uint32_t> notified;
    AudioStreamBasicDescription format{};
    std::int64_t dataOffset = -1;
    bool failed = false;

    bool samePackets(const Parse& other) const {
        return packets == other.packets && pcm == other.pcm && notified == other.notified &&
               std::memcmp(&format, &other.format, sizeof format) == 0 &&
               dataOffset == other.dataOffset && failed == other.failed;
    }
};

// Reads every property the way the stream player does when told of one.
void readProperties(AudioFileStream& stream, Parse& parse) {
    for (std::uint32_t id : kProperties) {
        std::uint32_t size = 0;
        const OSStatus info = stream.getPropertyInfo(id, &size);
        std::vector<std::uint8_t> room(std::max<std::uint32_t>(size, 1));
        std::uint32_t ioSize = static_cast<std::uint32_t>(room.size());
        const OSStatus status = stream.getProperty(id, &ioSize, room.data());
        require(info == kNoErr || info == kStatusValueUnknown);
        require(status != kNoErr || ioSize <= room.size());
        if (status == kNoErr && id == kPropertyDataFormat) {
            std::memcpy(&parse.format, room.data(), sizeof parse.format);
        }
        if (status == kNoErr && id == kPropertyDataOffset) {
            std::memcpy(&parse.dataOffset, room.data(), sizeof parse.dataOffset);
        }
    }
}

class Parser {
public:
    explicit Parser(std::uint32_t hint) {
        const OSStatus opened = AudioFileStream::open(
            [this](AudioFileStream& s, std::uint32_t id) {
                parse.notified.push_back(id);
                readProperties(s, parse);
            },
            [this](const void* bytes, std::uint32_t numberBytes, std::uint32_t numberPackets,
                   const AudioStreamPacketDescription* descriptions) {
                takePackets(static_cast<const char*>(bytes), numberBytes, numberPackets,
                            descriptions);
            },
            hint, &stream);
        require(opened == kNoErr && stream);
    }

    void feed(const QByteArray& bytes, bool discontinuity) {
        const OSStatus status = stream->parseBytes(
            bytes.constData(), static_cast<std::uint32_t>(bytes.size()), discontinuity);
        parse.failed = parse.failed || status != kNoErr;
    }

    AudioFileStream& parser() { return *stream; }
    Parse parse;

private:
    void takePackets(const char* bytes, std::uint32_t numberBytes, std::uint32_t numberPackets,
                     const AudioStreamPacketDescription* descriptions) {
        require(numberPackets > 0 && numberBytes > 0);
        if (descriptions == nullptr) {
            require(parse.format.bytesPerFrame > 0 &&
                    numberBytes == numberPackets * parse.format.bytesPerFrame);
            parse.pcm.append(bytes, numberBytes);
            return;
        }
        for (std::uint32_t i = 0; i < numberPackets; ++i) {
            const AudioStreamPacketDescription& d = descriptions[i];
            require(d.startOffset >= 0 && d.dataByteSize > 0 &&
                    std::uint64_t(d.startOffset) + d.dataByteSize <= numberBytes);
            parse.packets.emplace_back(bytes + d.startOffset, qsizetype(d.dataByteSize));
        }
    }

    std::unique_ptr<AudioFileStream> stream;
};

} // namespace

int fuzzStreamParser(const std::uint8_t* data, std::size_t size) {
    InputReader reader(inputBytes(data, size));
    const std::uint32_t hint = kHints[reader.byte() % std::size(kHints)];
    const int pieces = reader.byte() % 16;
    std::vector<qsizetype> splits;
    for (int i = 0; i < pieces; ++i) {
        splits.push_back(reader.word());
    }
    const std::int64_t seekPacket = reader.word();
    const QByteArray file = reader.rest();
    for (qsizetype& split : splits) {
        split = file.isEmpty() ? 0 : split % (file.size() + 1);
    }
    std::sort(splits.begin(), splits.end());
    splits.push_back(file.size());

    Parser whole(hint);
    whole.feed(file, false);

    Parser split(hint);
    qsizetype from = 0;
    for (qsizetype to : splits) {
        split.feed(file.mid(from, to - from), false);
        from = to;
    }
    require(split.parse.samePackets(whole.parse));

    // From a seek, as the stream player does: the bytes from the offset it gives on.
    std::int64_t byteOffset = 0;
    bool estimated = true;
    if (whole.parse.failed || whole.parser().seek(seekPacket, &byteOffset, &estimated) != kNoErr) {
        return 0;
    }
    require(byteOffset >= 0);
    const std::int64_t fileOffset = whole.parse.dataOffset + byteOffset;
    const QByteArray tail =
        fileOffset < file.size() ? file.mid(qsizetype(fileOffset)) : QByteArray();
    const QByteArray pcmBefore = whole.parse.pcm;
    whole.parse.pcm.clear();
    whole.feed(tail, true);
    if (!estimated) {
        require(whole.parse.pcm ==
                pcmBefore.mid(qsizetype(std::min<std::int64_t>(byteOffset, pcmBefore.size()))));
    }
    return 0;
}

} // namespace sondrel::fuzz
