#pragma once
// A push parser for audio files that arrive in pieces. The download thread feeds it
// bytes as they come (parseBytes); it calls back with the stream's properties as it
// learns them, then with packets: MP3 frames and AAC frames with one description each,
// PCM as constant-bit-rate blocks without descriptions.
//
// Formats: MP3 (ID3v2 tags skipped, Xing/Info header read), ADTS AAC, WAV and
// AIFF/AIFC (linear PCM), MPEG-4/M4A (AAC, MP3) laid out for streaming, and CAF (linear
// PCM; AAC, MP3 or ALAC with the packet table before the audio). The file type hint
// picks the format; signatures at the start of the data ("RIFF", "FORM", "caff", an
// MPEG-4 "ftyp" box, "ID3", an MPEG or ADTS frame) take precedence, since they cannot
// be mistaken: an MP3 named ".m4a" plays as MP3.
//
// Threading: a parser is used by one thread at a time (the download thread); callbacks
// run on the caller's thread, inside parseBytes.

#include "streamer/StreamFormat.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

namespace sondrel {

// File type hints.
inline constexpr std::uint32_t kAudioFileMP3Type = fourCC("MPG3");
inline constexpr std::uint32_t kAudioFileWAVEType = fourCC("WAVE");
inline constexpr std::uint32_t kAudioFileAIFCType = fourCC("AIFC");
inline constexpr std::uint32_t kAudioFileAIFFType = fourCC("AIFF");
inline constexpr std::uint32_t kAudioFileM4AType = fourCC("m4af");
inline constexpr std::uint32_t kAudioFileMPEG4Type = fourCC("mp4f");
inline constexpr std::uint32_t kAudioFileCAFType = fourCC("caff");
inline constexpr std::uint32_t kAudioFileAAC_ADTSType = fourCC("adts");

// Property ids.
inline constexpr std::uint32_t kPropertyReadyToProducePackets = fourCC("redy");
inline constexpr std::uint32_t kPropertyFileFormat = fourCC("ffmt");
inline constexpr std::uint32_t kPropertyDataFormat = fourCC("dfmt");
inline constexpr std::uint32_t kPropertyFormatList = fourCC("flst");
inline constexpr std::uint32_t kPropertyMagicCookieData = fourCC("mgic");
inline constexpr std::uint32_t kPropertyAudioDataByteCount = fourCC("bcnt");
inline constexpr std::uint32_t kPropertyAudioDataPacketCount = fourCC("pcnt");
inline constexpr std::uint32_t kPropertyMaximumPacketSize = fourCC("psze");
inline constexpr std::uint32_t kPropertyDataOffset = fourCC("doff");
inline constexpr std::uint32_t kPropertyBitRate = fourCC("brat");
inline constexpr std::uint32_t kPropertyPacketSizeUpperBound = fourCC("pkub");

class AudioFileStream {
public:
    using PropertyListener = std::function<void(AudioFileStream& stream, std::uint32_t propertyId)>;
    using PacketsProc =
        std::function<void(const void* data, std::uint32_t numberBytes, std::uint32_t numberPackets,
                           const AudioStreamPacketDescription* descriptions)>;

    // Opens a parser for `fileTypeHint`; kStatusUnsupportedFileType for unknown codes.
    static OSStatus open(PropertyListener listener, PacketsProc packets, std::uint32_t fileTypeHint,
                         std::unique_ptr<AudioFileStream>* out);
    ~AudioFileStream();
    AudioFileStream(const AudioFileStream&) = delete;
    AudioFileStream& operator=(const AudioFileStream&) = delete;

    // Feeds the next bytes. `discontinuity`: they may not follow the bytes fed before
    // (after a seek they start at the offset seek() gave). Fails with
    // kStatusNotOptimized for MPEG-4 and CAF files that cannot be read front to back,
    // kStatusUnsupportedDataFormat for codecs no decoder here plays, kStatusInvalidFile
    // for anything else that is broken; every later call fails the same way.
    OSStatus parseBytes(const void* data, std::uint32_t size, bool discontinuity);

    // Where packet `packetOffset` starts, relative to the audio data. `estimated` is
    // true when the offset is a guess (MP3 and ADTS; exact for PCM and for containers
    // with a packet table, where offsets past the end give the last packet).
    OSStatus seek(std::int64_t packetOffset, std::int64_t* dataByteOffset, bool* estimated);

    // Copies a property into `data` (*ioSize bytes of room; set to the size used).
    // kStatusValueUnknown while the property is not known yet.
    OSStatus getPropertyInfo(std::uint32_t propertyId, std::uint32_t* outSize) const;
    OSStatus getProperty(std::uint32_t propertyId, std::uint32_t* ioSize, void* data) const;

private:
    enum class Kind { Unknown, Mpeg, Adts, Wave, Aiff, Mp4, Caf };
    struct IndexedPacket {
        std::int64_t position; // in the file
        std::uint32_t size;
    };
    enum class Phase { Sniff, Header, Packets, Failed };

    AudioFileStream(PropertyListener listener, PacketsProc packets, std::uint32_t hint);

    bool sniff();
    bool parseMpegHeader();
    bool parseAdtsHeader();
    bool parseWaveHeader();
    bool parseAiffHeader();
    bool parseMp4Header();
    bool parseCafHeader();
    bool readContainerHeader(std::int64_t dataStart, std::int64_t dataSize);
    void parseIndexedPackets();
    OSStatus seekIndexed(std::int64_t packetOffset, std::int64_t* dataByteOffset);
    bool setPcmFormat(int channels, double sampleRate, int bits, bool isFloat, bool bigEndian,
                      bool signedInt);
    void parsePackets();
    void parseCompressedPackets();
    void parsePcmPackets();
    void finishHeader();
    void consume(std::size_t count);
    void fail(OSStatus status = kStatusInvalidFile);
    void notify(std::uint32_t propertyId);

    PropertyListener listener;
    PacketsProc packetsProc;
    std::uint32_t hint;
    Kind kind = Kind::Unknown;
    Phase phase = Phase::Sniff;
    OSStatus failure = kNoErr; // why the phase is Failed

    std::vector<std::uint8_t> buffer; // bytes fed but not consumed yet
    std::int64_t bufferOffset = 0;    // file offset of buffer[0]; valid when positionKnown
    bool positionKnown = true;
    std::uint64_t skipBytes = 0; // bytes still to drop (tags, chunks) before parsing goes on
    bool resync = false;         // look for the next frame before trusting the bytes
    bool tagsLead = true;        // ID3v2 tags are skipped only before any other bytes
    bool seekPending = false;    // the next discontinuous bytes follow a seek()
    std::int64_t seekFileOffset = -1;

    AudioStreamBasicDescription format{};
    std::int64_t dataOffset = -1;
    std::int64_t dataEnd = -1; // file offset where the audio data ends, -1 when unknown
    std::uint64_t audioDataByteCount = 0;
    bool audioDataByteCountKnown = false;
    std::uint64_t audioDataPacketCount = 0;
    bool audioDataPacketCountKnown = false;
    std::uint32_t bitRate = 0;
    std::uint32_t packetSizeUpperBound = 0;
    std::uint32_t maximumPacketSize = 0;
    std::vector<std::uint8_t> magicCookie;
    bool ready = false;
    bool isAifc = false;
    std::uint64_t packetsParsed = 0;     // compressed frames handed on so far
    std::uint64_t packetBytesParsed = 0; // and their bytes, for seek estimates

    // MPEG and ADTS: the first frame's header, which later frames must agree with.
    std::uint8_t firstHeader[4]{};
    bool hasXingToc = false;
    std::uint8_t xingToc[100]{};
    std::uint64_t xingBytes = 0;

    // MPEG-4 and CAF: the next top-level box or chunk while the header is gathered,
    // then the packet table and the next packet to hand on.
    std::int64_t scanOffset = 0;
    bool movieHeaderSeen = false;
    bool packetTableSeen = false;
    std::vector<IndexedPacket> packetIndex;
    std::size_t nextPacket = 0;
    std::size_t seekPacket = 0;

    std::vector<std::uint8_t> packetBytes; // scratch for one batch of packets
    std::vector<AudioStreamPacketDescription> packetDescriptions;
};

} // namespace sondrel
