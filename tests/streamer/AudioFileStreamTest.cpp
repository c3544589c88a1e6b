// The push parser on real files (LAME MP3; FFmpeg ADTS, M4A and CAF; hand-written
// WAV/AIFF), fed in one piece and in small pieces, and on broken input.

#include "streamer/AudioFileStream.h"

#include "StreamTestAudio.h"
#include "platform/Log.h"
#include "streamer/AudioStreamer.h"
#include "streamer/PacketDecoder.h"
#include "streamer/StreamHeaders.h"

#include <gtest/gtest.h>

namespace sondrel::test {
namespace {

struct Parsed {
    OSStatus status = kNoErr;
    std::vector<std::uint32_t> properties; // in the order they were announced
    AudioStreamBasicDescription format{};
    std::int64_t dataOffset = -1;
    std::uint64_t byteCount = 0;
    bool byteCountKnown = false;
    std::uint32_t upperBound = 0;
    std::vector<std::uint8_t> cookie;
    std::vector<QByteArray> packets; // each compressed packet, or PCM blocks
    QByteArray pcmBytes;             // PCM packets joined
    int callsWithoutDescriptions = 0;
};

Parsed parse(const QByteArray& file, std::uint32_t hint, int pieceSize) {
    Parsed out;
    std::unique_ptr<AudioFileStream> stream;
    out.status = AudioFileStream::open(
        [&](AudioFileStream& s, std::uint32_t id) {
            out.properties.push_back(id);
            std::uint32_t size = 0;
            if (id == kPropertyDataFormat) {
                size = sizeof out.format;
                s.getProperty(id, &size, &out.format);
            } else if (id == kPropertyDataOffset) {
                size = 8;
                s.getProperty(id, &size, &out.dataOffset);
            } else if (id == kPropertyAudioDataByteCount) {
                size = 8;
                out.byteCountKnown = s.getProperty(id, &size, &out.byteCount) == kNoErr;
            } else if (id == kPropertyReadyToProducePackets) {
                size = 4;
                s.getProperty(kPropertyPacketSizeUpperBound, &size, &out.upperBound);
                if (s.getPropertyInfo(kPropertyMagicCookieData, &size) == kNoErr) {
                    out.cookie.resize(size);
                    s.getProperty(kPropertyMagicCookieData, &size, out.cookie.data());
                }
            }
        },
        [&](const void* data, std::uint32_t bytes, std::uint32_t count,
            const AudioStreamPacketDescription* descriptions) {
            const char* p = static_cast<const char*>(data);
            if (!descriptions) {
                ++out.callsWithoutDescriptions;
                out.pcmBytes.append(p, bytes);
                return;
            }
            for (std::uint32_t i = 0; i < count; ++i) {
                out.packets.emplace_back(p + descriptions[i].startOffset,
                                         qsizetype(descriptions[i].dataByteSize));
            }
        },
        hint, &stream);
    if (out.status) {
        return out;
    }
    for (qsizetype at = 0; at < file.size(); at += pieceSize) {
        const auto n = std::min<qsizetype>(pieceSize, file.size() - at);
        out.status = stream->parseBytes(file.constData() + at, std::uint32_t(n), false);
        if (out.status) {
            break;
        }
    }
    return out;
}

QByteArray pcmBytesLE(const std::vector<std::int16_t>& pcm) {
    return QByteArray(reinterpret_cast<const char*>(pcm.data()), qsizetype(pcm.size() * 2));
}

QByteArray alacCafTableFirst(const std::vector<std::int16_t>& pcm) {
    return cafWithTableFirst(muxCaf(pcm, 44100, 2, CafCodec::Alac));
}

TEST(AudioFileStream, EveryFormatGivesTheSamePacketsInOnePieceAndInSmallPieces) {
    const auto pcm = tonePcm({{440, 0.5}});
    struct Row {
        const char* name;
        QByteArray file;
        std::uint32_t hint;
        std::uint32_t formatId;
        std::uint32_t framesPerPacket;
    };
    const QByteArray m4a = muxM4a(pcm, 44100, 2, true);
    const Row rows[] = {
        {"mp3 cbr", encodeMp3(pcm, 44100, 2, false), kAudioFileMP3Type, kFormatMPEGLayer3, 1152},
        {"mp3 vbr", encodeMp3(pcm, 44100, 2, true), kAudioFileMP3Type, kFormatMPEGLayer3, 1152},
        {"mp3 id3", id3Tag(300000) + encodeMp3(pcm, 44100, 2, false), kAudioFileMP3Type,
         kFormatMPEGLayer3, 1152},
        {"adts", encodeAdts(pcm, 44100, 2), kAudioFileAAC_ADTSType, kFormatMPEG4AAC, 1024},
        {"wav", makeWav(pcm, 44100, 2), kAudioFileWAVEType, kFormatLinearPCM, 1},
        {"aiff", makeAiff(pcm, 44100, 2), kAudioFileAIFFType, kFormatLinearPCM, 1},
        {"aifc sowt", makeAiff(pcm, 44100, 2, true), kAudioFileAIFCType, kFormatLinearPCM, 1},
        {"m4a", m4a, kAudioFileM4AType, kFormatMPEG4AAC, 1024},
        {"mp4 mp3", muxMp3InMp4(pcm, 44100, 2), kAudioFileMPEG4Type, kFormatMPEGLayer3, 1152},
        {"caf pcm", muxCaf(pcm, 44100, 2, CafCodec::Pcm16LittleEndian), kAudioFileCAFType,
         kFormatLinearPCM, 1},
        {"caf alac", alacCafTableFirst(pcm), kAudioFileCAFType, kFormatAppleLossless, 4096},
        // Signatures win over a wrong hint.
        {"wav hinted mp3", makeWav(pcm, 44100, 2), kAudioFileMP3Type, kFormatLinearPCM, 1},
        {"m4a hinted mp3", m4a, kAudioFileMP3Type, kFormatMPEG4AAC, 1024},
        {"mp3 hinted m4a", encodeMp3(pcm, 44100, 2, false), kAudioFileM4AType, kFormatMPEGLayer3,
         1152},
        {"adts hinted caf", encodeAdts(pcm, 44100, 2), kAudioFileCAFType, kFormatMPEG4AAC, 1024},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Parsed whole = parse(row.file, row.hint, int(row.file.size()));
        ASSERT_EQ(whole.status, kNoErr);
        EXPECT_EQ(whole.format.formatId, row.formatId);
        EXPECT_EQ(whole.format.sampleRate, 44100);
        EXPECT_EQ(whole.format.channelsPerFrame, 2u);
        EXPECT_EQ(whole.format.framesPerPacket, row.framesPerPacket);
        ASSERT_FALSE(whole.properties.empty());
        EXPECT_EQ(whole.properties.back(), kPropertyReadyToProducePackets);
        ASSERT_GE(whole.dataOffset, 0);
        if (row.formatId == kFormatLinearPCM) {
            // PCM comes without descriptions and exactly as written (both byte orders).
            EXPECT_TRUE(whole.packets.empty());
            EXPECT_TRUE(whole.byteCountKnown);
            EXPECT_EQ(whole.byteCount, std::uint64_t(pcm.size() * 2));
            EXPECT_EQ(whole.pcmBytes.size(), qsizetype(pcm.size() * 2));
            if (!row.file.startsWith("FORM") || std::string(row.name) == "aifc sowt") {
                EXPECT_EQ(whole.pcmBytes, pcmBytesLE(pcm));
            }
            EXPECT_EQ(row.file.mid(whole.dataOffset, 16), whole.pcmBytes.left(16));
        } else {
            // About 0.5 s of frames (plus encoder delay), none above the bound.
            const double frames = 0.5 * 44100 / row.framesPerPacket;
            EXPECT_GE(double(whole.packets.size()), std::floor(frames));
            EXPECT_LE(double(whole.packets.size()), frames * 1.5 + 2);
            for (const QByteArray& p : whole.packets) {
                EXPECT_LE(std::uint32_t(p.size()), whole.upperBound);
            }
        }
        for (int piece : {1, 7, 2048}) {
            SCOPED_TRACE(piece);
            const Parsed split = parse(row.file, row.hint, piece);
            ASSERT_EQ(split.status, kNoErr);
            EXPECT_EQ(split.packets, whole.packets);
            EXPECT_EQ(split.pcmBytes, whole.pcmBytes);
            EXPECT_EQ(split.dataOffset, whole.dataOffset);
        }
    }
}

TEST(AudioFileStream, Mp3HeadersGiveOffsetCountAndFirstAudioFrame) {
    const auto pcm = tonePcm({{440, 1.0}});
    const QByteArray mp3 = encodeMp3(pcm, 44100, 2, true);
    const auto first = readMpegFrameHeader(reinterpret_cast<const std::uint8_t*>(mp3.data()), 4);
    ASSERT_TRUE(first);
    const auto xing =
        readXingHeader(*first, reinterpret_cast<const std::uint8_t*>(mp3.data()), first->frameSize);
    ASSERT_TRUE(xing && xing->hasBytes && xing->hasFrames);

    for (int tagSize : {0, 10, 250000}) {
        SCOPED_TRACE(tagSize);
        const QByteArray file = (tagSize ? id3Tag(tagSize) : QByteArray()) + mp3;
        const Parsed p = parse(file, kAudioFileMP3Type, 1000);
        ASSERT_EQ(p.status, kNoErr);
        // The Info frame is skipped: the data starts at the first audio frame.
        EXPECT_EQ(p.dataOffset, tagSize + qsizetype(first->frameSize));
        EXPECT_TRUE(p.byteCountKnown);
        EXPECT_EQ(p.byteCount + first->frameSize, xing->bytes);
        EXPECT_EQ(p.packets.size(), xing->frames);
        EXPECT_EQ(p.packets.front(), file.mid(p.dataOffset, p.packets.front().size()));
    }
}

TEST(AudioFileStream, AdtsPacketsAreRawFramesWithTheirConfig) {
    const QByteArray aac = encodeAdts(tonePcm({{440, 0.3}}), 44100, 2);
    const Parsed p = parse(aac, kAudioFileAAC_ADTSType, 333);
    ASSERT_EQ(p.status, kNoErr);
    // AAC LC, 44.1 kHz (index 4), two channels.
    EXPECT_EQ(p.cookie, (std::vector<std::uint8_t>{0x12, 0x10}));
    qsizetype total = 0;
    for (const QByteArray& packet : p.packets) {
        total += packet.size() + 7;
    }
    EXPECT_EQ(total, aac.size()); // every frame, headers taken off
}

TEST(AudioFileStream, TheCodecLibrarysComplaintsGoThroughThePlayersLog) {
    AudioStreamBasicDescription aac;
    aac.sampleRate = 44100;
    aac.formatId = kFormatMPEG4AAC;
    aac.framesPerPacket = 1024;
    aac.channelsPerFrame = 2;
    QString error;
    const auto decoder = createPacketDecoder(aac, {0x12, 0x10}, &error);
    ASSERT_TRUE(decoder) << error.toStdString();
    LogCapture log;
    std::vector<std::uint8_t> noise(300);
    for (std::size_t i = 0; i < noise.size(); ++i) {
        noise[i] = static_cast<std::uint8_t>(i * 37 + 11);
    }
    std::vector<std::int16_t> pcm;
    decoder->decode(noise.data(), noise.size(), pcm);
    const QStringList lines = log.lines();
    ASSERT_FALSE(lines.isEmpty());
    for (const QString& line : lines) {
        EXPECT_TRUE(line.startsWith(QStringLiteral("FFmpeg: [aac @ "))) << line.toStdString();
    }
}

TEST(AudioFileStream, UnknownHintsAreRefusedAtOpen) {
    std::unique_ptr<AudioFileStream> stream;
    EXPECT_EQ(AudioFileStream::open({}, {}, fourCC("zzzz"), &stream), kStatusUnsupportedFileType);
    EXPECT_FALSE(stream);
}

TEST(AudioFileStream, BrokenInputFailsOrWaitsButNeverProducesBadPackets) {
    const auto pcm = tonePcm({{440, 0.1}});
    QByteArray zeroChannels = makeWav(pcm, 44100, 2);
    zeroChannels[22] = 0;
    QByteArray ulaw = makeAiff(pcm, 44100, 2, true);
    ulaw.replace("sowt", "ulaw");
    QByteArray hugeFmt = makeWav(pcm, 44100, 2);
    hugeFmt[16] = char(0xFF);
    hugeFmt[17] = char(0xFF);
    hugeFmt[18] = char(0xFF);
    QByteArray dataBeforeFmt("RIFF\x10\0\0\0WAVEdata\x04\0\0\0abcd", 24);
    QByteArray badSsndOffset = makeAiff(pcm, 44100, 2);
    const qsizetype ssnd = badSsndOffset.indexOf("SSND");
    badSsndOffset[ssnd + 8] = char(0x7F);
    const QByteArray m4a = muxM4a(pcm, 44100, 2, true);
    QByteArray shortBox = m4a;
    shortBox[3] = 4; // an 'ftyp' box of 4 bytes, shorter than its own header
    QByteArray cafVersion2 = muxCaf(pcm, 44100, 2, CafCodec::Pcm16LittleEndian);
    cafVersion2[5] = 2;
    QByteArray cafMp3 = muxCaf(pcm, 44100, 2, CafCodec::Pcm16LittleEndian);
    cafMp3.replace("lpcm", ".mp1"); // a codec no decoder here plays
    struct Row {
        const char* name;
        QByteArray bytes;
        std::uint32_t hint;
        OSStatus status; // kNoErr: the parser waits for more
    };
    const Row rows[] = {
        {"wav without channels", zeroChannels, kAudioFileWAVEType, kStatusInvalidFile},
        {"aifc with an unknown codec", ulaw, kAudioFileAIFCType, kStatusInvalidFile},
        {"wav fmt chunk too large", hugeFmt, kAudioFileWAVEType, kStatusInvalidFile},
        {"wav data before fmt", dataBeforeFmt, kAudioFileWAVEType, kStatusInvalidFile},
        {"aiff sound offset past its chunk", badSsndOffset, kAudioFileAIFFType, kStatusInvalidFile},
        {"riff that is no wave", QByteArray("RIFF\0\0\0\0AVI LIST", 16), kAudioFileWAVEType,
         kStatusInvalidFile},
        {"m4a with its movie header last", muxM4a(pcm, 44100, 2, false), kAudioFileM4AType,
         kStatusNotOptimized},
        {"caf alac with its packet table last", muxCaf(pcm, 44100, 2, CafCodec::Alac),
         kAudioFileCAFType, kStatusNotOptimized},
        {"m4a box shorter than its header", shortBox, kAudioFileM4AType, kStatusInvalidFile},
        {"caf of an unknown version", cafVersion2, kAudioFileCAFType, kStatusInvalidFile},
        {"caf of an unplayable codec", cafMp3, kAudioFileCAFType, kStatusUnsupportedDataFormat},
        {"text as m4a", QByteArray(4000, 'x'), kAudioFileM4AType, kStatusInvalidFile},
        {"text as mp3", QByteArray(4000, 'x'), kAudioFileMP3Type, kNoErr},
        {"truncated wav header", makeWav(pcm, 44100, 2).left(30), kAudioFileWAVEType, kNoErr},
        {"truncated m4a header", m4a.left(600), kAudioFileM4AType, kNoErr},
        {"id3 tag without audio", id3Tag(5000), kAudioFileMP3Type, kNoErr},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const Parsed p = parse(row.bytes, row.hint, 64);
        EXPECT_EQ(p.status, row.status);
        EXPECT_TRUE(p.packets.empty());
        EXPECT_TRUE(p.pcmBytes.isEmpty());
    }
    // Leading junk is searched for a frame only so far.
    const Parsed junk = parse(QByteArray(1100000, 'x'), kAudioFileMP3Type, 65536);
    EXPECT_EQ(junk.status, kStatusInvalidFile);
}

// Damaged copies of real files (bytes changed, cut, doubled), fed in uneven pieces:
// the parser must never hand on a packet over its bound or a PCM block of partial frames.
TEST(AudioFileStream, DamagedFilesNeverGiveBadPackets) {
    const auto pcm = tonePcm({{440, 0.3}});
    const std::pair<QByteArray, std::uint32_t> sources[] = {
        {encodeMp3(pcm, 44100, 2, true), kAudioFileMP3Type},
        {encodeAdts(pcm, 44100, 2), kAudioFileAAC_ADTSType},
        {makeWav(pcm, 44100, 2), kAudioFileWAVEType},
        {makeAiff(pcm, 44100, 2, true), kAudioFileAIFCType},
        {muxM4a(pcm, 44100, 2, true), kAudioFileM4AType},
        {alacCafTableFirst(pcm), kAudioFileCAFType},
    };
    std::uint32_t seed = 12345;
    auto next = [&seed](std::uint32_t range) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % range;
    };
    for (const auto& [original, hint] : sources) {
        for (int round = 0; round < 400; ++round) {
            QByteArray file = original;
            const int damage = 1 + int(next(8));
            for (int d = 0; d < damage; ++d) {
                const auto at = qsizetype(next(std::uint32_t(file.size())));
                switch (next(3)) {
                case 0:
                    file[at] = char(next(256));
                    break;
                case 1:
                    file.truncate(std::max<qsizetype>(at, 1));
                    break;
                default:
                    file.insert(at, file.mid(at, qsizetype(next(600))));
                    break;
                }
            }
            const Parsed p = parse(file, hint, 1 + int(next(3000)));
            SCOPED_TRACE(round);
            if (p.format.formatId == kFormatLinearPCM && p.format.bytesPerFrame > 0) {
                EXPECT_EQ(p.pcmBytes.size() % qsizetype(p.format.bytesPerFrame), 0);
            }
            for (const QByteArray& packet : p.packets) {
                ASSERT_LE(std::uint32_t(packet.size()), p.upperBound);
                ASSERT_GT(packet.size(), 0);
            }
        }
    }
}

TEST(AudioFileStream, SeekIsExactForPcmAndResumesAtTheGivenPacket) {
    const auto pcm = tonePcm({{440, 0.2}});
    const QByteArray wav = makeWav(pcm, 44100, 2);
    QByteArray after;
    std::unique_ptr<AudioFileStream> stream;
    ASSERT_EQ(AudioFileStream::open(
                  {},
                  [&](const void* data, std::uint32_t bytes, std::uint32_t,
                      const AudioStreamPacketDescription*) {
                      after.append(static_cast<const char*>(data), bytes);
                  },
                  kAudioFileWAVEType, &stream),
              kNoErr);
    ASSERT_EQ(stream->parseBytes(wav.constData(), 100, false), kNoErr);
    std::int64_t offset = -1;
    bool estimated = true;
    ASSERT_EQ(stream->seek(1000, &offset, &estimated), kNoErr);
    EXPECT_FALSE(estimated);
    EXPECT_EQ(offset, 4000);
    after.clear();
    std::int64_t dataOffset = 0;
    std::uint32_t size = 8;
    ASSERT_EQ(stream->getProperty(kPropertyDataOffset, &size, &dataOffset), kNoErr);
    // The bytes of a ranged request starting there: an odd split must not shift frames.
    const QByteArray tail = wav.mid(dataOffset + offset);
    ASSERT_EQ(stream->parseBytes(tail.constData(), 3, true), kNoErr);
    ASSERT_EQ(stream->parseBytes(tail.constData() + 3, std::uint32_t(tail.size() - 3), false),
              kNoErr);
    EXPECT_EQ(after, pcmBytesLE(pcm).mid(4000));
}

TEST(AudioFileStream, SeekWithAPacketTableIsExactAndResumesAtThatPacket) {
    const auto pcm = tonePcm({{440, 0.5}});
    const std::pair<QByteArray, std::uint32_t> files[] = {
        {muxM4a(pcm, 44100, 2, true), kAudioFileM4AType},
        {alacCafTableFirst(pcm), kAudioFileCAFType},
    };
    for (const auto& [file, hint] : files) {
        const Parsed whole = parse(file, hint, int(file.size()));
        ASSERT_EQ(whole.status, kNoErr);
        const auto last = std::int64_t(whole.packets.size()) - 1;
        for (std::int64_t packet : {std::int64_t(3), last, last + 100}) {
            SCOPED_TRACE(packet);
            std::vector<QByteArray> after;
            std::unique_ptr<AudioFileStream> stream;
            ASSERT_EQ(AudioFileStream::open(
                          {},
                          [&](const void* data, std::uint32_t, std::uint32_t count,
                              const AudioStreamPacketDescription* d) {
                              for (std::uint32_t i = 0; i < count; ++i) {
                                  after.emplace_back(static_cast<const char*>(data) +
                                                         d[i].startOffset,
                                                     qsizetype(d[i].dataByteSize));
                              }
                          },
                          hint, &stream),
                      kNoErr);
            ASSERT_EQ(
                stream->parseBytes(file.constData(), std::uint32_t(whole.dataOffset) + 10, false),
                kNoErr);
            std::int64_t offset = -1;
            bool estimated = true;
            ASSERT_EQ(stream->seek(packet, &offset, &estimated), kNoErr);
            EXPECT_FALSE(estimated);
            after.clear();
            const QByteArray tail = file.mid(whole.dataOffset + offset);
            ASSERT_EQ(stream->parseBytes(tail.constData(), 5, true), kNoErr);
            ASSERT_EQ(
                stream->parseBytes(tail.constData() + 5, std::uint32_t(tail.size() - 5), false),
                kNoErr);
            const auto from = std::size_t(std::min(packet, last));
            EXPECT_EQ(after, std::vector<QByteArray>(whole.packets.begin() + std::ptrdiff_t(from),
                                                     whole.packets.end()));
        }
    }
}

TEST(AudioStreamerNames, HintsAndErrorTextsFollowTheirTables) {
    const std::pair<const char*, std::uint32_t> hints[] = {
        {"mp3", kAudioFileMP3Type},      {"wav", kAudioFileWAVEType},
        {"aifc", kAudioFileAIFCType},    {"aiff", kAudioFileAIFFType},
        {"m4a", kAudioFileM4AType},      {"mp4", kAudioFileMPEG4Type},
        {"caf", kAudioFileCAFType},      {"aac", kAudioFileAAC_ADTSType},
        {"MP3", kAudioFileAAC_ADTSType}, {"", kAudioFileAAC_ADTSType},
        {"ogg", kAudioFileAAC_ADTSType},
    };
    for (const auto& [extension, hint] : hints) {
        EXPECT_EQ(AudioStreamer::hintForFileExtension(QString::fromLatin1(extension)), hint)
            << extension;
    }
    EXPECT_EQ(AudioStreamer::stringForErrorCode(0), "No error.");
    EXPECT_EQ(AudioStreamer::stringForErrorCode(7), "No audio data found.");
    EXPECT_EQ(AudioStreamer::stringForErrorCode(21),
              "Audio packets are larger than kAQDefaultBufSize.");
    EXPECT_EQ(AudioStreamer::stringForErrorCode(22), "Audio playback failed");
    EXPECT_EQ(AudioStreamer::stringForErrorCode(-1), "Audio playback failed");
}

} // namespace
} // namespace sondrel::test
