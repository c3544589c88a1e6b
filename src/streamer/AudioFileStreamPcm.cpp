// The PCM containers of the stream parser: WAV and AIFF/AIFC headers, and PCM blocks.
#include "streamer/AudioFileStream.h"
#include "streamer/StreamHeaders.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace sondrel {
namespace {

// The largest header chunk read whole.
constexpr std::uint32_t kMaxHeaderChunk = 1 << 16;

} // namespace

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

} // namespace sondrel
