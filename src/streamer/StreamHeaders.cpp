#include "streamer/StreamHeaders.h"

#include <cmath>

namespace sondrel {
namespace {

// Kilobits per second, by [MPEG-1 ? 0 : 1][layer - 1][index].
constexpr int kBitRates[2][3][16] = {
    {{0, 32, 64, 96, 128, 160, 192, 224, 256, 288, 320, 352, 384, 416, 448, -1},
     {0, 32, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 384, -1},
     {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, -1}},
    {{0, 32, 48, 56, 64, 80, 96, 112, 128, 144, 160, 176, 192, 224, 256, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1},
     {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, -1}},
};

constexpr int kMpegSampleRates[3] = {44100, 48000, 32000};

constexpr int kAdtsSampleRates[13] = {96000, 88200, 64000, 48000, 44100, 32000, 24000,
                                      22050, 16000, 12000, 11025, 8000,  7350};

std::uint32_t frameBytes(int version, int layer, int bitRate, int sampleRate, bool padding) {
    const std::uint32_t pad = padding ? 1 : 0;
    if (layer == 1) {
        return (12u * std::uint32_t(bitRate) / std::uint32_t(sampleRate) + pad) * 4u;
    }
    const std::uint32_t factor = (layer == 3 && version != 1) ? 72u : 144u;
    return factor * std::uint32_t(bitRate) / std::uint32_t(sampleRate) + pad;
}

} // namespace

std::optional<MpegFrameHeader> readMpegFrameHeader(const std::uint8_t* b, std::size_t size) {
    if (size < 4 || b[0] != 0xFF || (b[1] & 0xE0) != 0xE0) {
        return std::nullopt;
    }
    const int versionBits = (b[1] >> 3) & 3;
    const int layerBits = (b[1] >> 1) & 3;
    const int bitRateIndex = (b[2] >> 4) & 15;
    const int rateIndex = (b[2] >> 2) & 3;
    if (versionBits == 1 || layerBits == 0 || bitRateIndex == 0 || bitRateIndex == 15 ||
        rateIndex == 3) {
        return std::nullopt;
    }
    MpegFrameHeader h;
    h.version = versionBits == 3 ? 1 : (versionBits == 2 ? 2 : 25);
    h.layer = 4 - layerBits;
    const int table = h.version == 1 ? 0 : 1;
    h.bitRate = kBitRates[table][h.layer - 1][bitRateIndex] * 1000;
    h.sampleRate = kMpegSampleRates[rateIndex] / (h.version == 1 ? 1 : (h.version == 2 ? 2 : 4));
    h.padding = (b[2] >> 1) & 1;
    h.channels = ((b[3] >> 6) & 3) == 3 ? 1 : 2;
    h.frameSize = frameBytes(h.version, h.layer, h.bitRate, h.sampleRate, h.padding);
    h.samplesPerFrame = h.layer == 1 ? 384u : ((h.layer == 3 && h.version != 1) ? 576u : 1152u);
    const int maxRate = kBitRates[table][h.layer - 1][14] * 1000;
    h.maxFrameSize = frameBytes(h.version, h.layer, maxRate, h.sampleRate, true);
    return h;
}

std::optional<XingHeader> readXingHeader(const MpegFrameHeader& header, const std::uint8_t* frame,
                                         std::size_t size) {
    if (header.layer != 3) {
        return std::nullopt;
    }
    // The tag follows the side information, whose size depends on version and channels.
    std::size_t offset = 4;
    if (header.version == 1) {
        offset += header.channels == 1 ? 17 : 32;
    } else {
        offset += header.channels == 1 ? 9 : 17;
    }
    if (size < offset + 8) {
        return std::nullopt;
    }
    const std::uint8_t* p = frame + offset;
    const std::uint32_t tag = readBE32(p);
    if (tag != readBE32(reinterpret_cast<const std::uint8_t*>("Xing")) &&
        tag != readBE32(reinterpret_cast<const std::uint8_t*>("Info"))) {
        return std::nullopt;
    }
    const std::uint32_t flags = readBE32(p + 4);
    std::size_t at = offset + 8;
    XingHeader x;
    if (flags & 1) {
        if (size < at + 4) {
            return std::nullopt;
        }
        x.hasFrames = true;
        x.frames = readBE32(frame + at);
        at += 4;
    }
    if (flags & 2) {
        if (size < at + 4) {
            return std::nullopt;
        }
        x.hasBytes = true;
        x.bytes = readBE32(frame + at);
        at += 4;
    }
    if (flags & 4) {
        if (size < at + 100) {
            return std::nullopt;
        }
        x.hasToc = true;
        for (std::size_t i = 0; i < 100; ++i) {
            x.toc[i] = frame[at + i];
        }
    }
    return x;
}

std::array<std::uint8_t, 2> AdtsHeader::audioSpecificConfig() const {
    const int objectType = profile + 1;
    return {static_cast<std::uint8_t>((objectType << 3) | (sampleRateIndex >> 1)),
            static_cast<std::uint8_t>(((sampleRateIndex & 1) << 7) | (channelConfig << 3))};
}

std::optional<AdtsHeader> readAdtsHeader(const std::uint8_t* b, std::size_t size) {
    if (size < 7 || b[0] != 0xFF || (b[1] & 0xF6) != 0xF0) {
        return std::nullopt;
    }
    AdtsHeader h;
    h.headerSize = (b[1] & 1) ? 7u : 9u;
    h.profile = (b[2] >> 6) & 3;
    h.sampleRateIndex = (b[2] >> 2) & 15;
    h.channelConfig = ((b[2] & 1) << 2) | ((b[3] >> 6) & 3);
    h.frameLength =
        (std::uint32_t(b[3] & 3) << 11) | (std::uint32_t(b[4]) << 3) | std::uint32_t(b[5] >> 5);
    h.rawBlocks = (b[6] & 3) + 1;
    if (h.sampleRateIndex >= 13 || h.channelConfig == 0 || h.profile == 3 ||
        h.frameLength <= h.headerSize) {
        return std::nullopt;
    }
    h.sampleRate = kAdtsSampleRates[h.sampleRateIndex];
    // A raw AAC frame holds at most 6144 bits per channel: longer is no frame.
    const std::uint32_t channels = h.channelConfig == 7 ? 8u : std::uint32_t(h.channelConfig);
    if (h.frameLength - h.headerSize > 768u * channels) {
        return std::nullopt;
    }
    return h;
}

std::optional<std::uint64_t> readId3v2TagSize(const std::uint8_t* b, std::size_t size) {
    if (size < 10 || b[0] != 'I' || b[1] != 'D' || b[2] != '3' || b[3] == 0xFF || b[4] == 0xFF) {
        return std::nullopt;
    }
    std::uint64_t body = 0;
    for (int i = 6; i < 10; ++i) {
        if (b[i] & 0x80) {
            return std::nullopt; // sizes are sync-safe: 7 bits per byte
        }
        body = (body << 7) | b[i];
    }
    const bool footer = (b[5] & 0x10) != 0;
    return 10 + body + (footer ? 10 : 0);
}

double readExtended80(const std::uint8_t* b) {
    const int exponent = ((b[0] & 0x7F) << 8) | b[1];
    std::uint64_t mantissa = 0;
    for (int i = 2; i < 10; ++i) {
        mantissa = (mantissa << 8) | b[i];
    }
    if (exponent == 0 && mantissa == 0) {
        return 0.0;
    }
    if (exponent == 0x7FFF) {
        return 0.0; // infinity or NaN: not a sample rate
    }
    const double value = std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63);
    return (b[0] & 0x80) ? -value : value;
}

} // namespace sondrel
