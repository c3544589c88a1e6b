#pragma once
// Pure readers of the headers the stream parser meets: MPEG audio frame headers, the
// Xing/Info header, ADTS headers, ID3v2 tag headers and 80-bit extended floats (AIFF).
// They only look at the bytes they are given and never read past `size`.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace sondrel {

struct MpegFrameHeader {
    int version = 0; // 1 MPEG-1, 2 MPEG-2, 25 MPEG-2.5
    int layer = 0;   // 1, 2 or 3
    int bitRate = 0; // bits per second
    int sampleRate = 0;
    int channels = 0;
    bool padding = false;
    std::uint32_t frameSize = 0;       // bytes, header included
    std::uint32_t samplesPerFrame = 0; // frames of audio in one packet
    std::uint32_t maxFrameSize = 0;    // largest frame this version/layer/rate can have

    // Two frames belong to the same stream when these agree.
    bool sameStream(const MpegFrameHeader& other) const {
        return version == other.version && layer == other.layer && sampleRate == other.sampleRate;
    }
};

// Reads a frame header from 4 bytes; nothing for reserved values or free format.
std::optional<MpegFrameHeader> readMpegFrameHeader(const std::uint8_t* bytes, std::size_t size);

struct XingHeader {
    bool hasFrames = false;
    bool hasBytes = false;
    bool hasToc = false;
    std::uint32_t frames = 0;
    std::uint32_t bytes = 0;
    std::array<std::uint8_t, 100> toc{};
};

// Looks for a "Xing" or "Info" header inside the first frame `frame` (whole frame).
std::optional<XingHeader> readXingHeader(const MpegFrameHeader& header, const std::uint8_t* frame,
                                         std::size_t size);

struct AdtsHeader {
    int profile = 0; // audio object type - 1
    int sampleRateIndex = 0;
    int sampleRate = 0;
    int channelConfig = 0;
    std::uint32_t headerSize = 0;  // 7, or 9 with a CRC
    std::uint32_t frameLength = 0; // header included
    int rawBlocks = 0;

    bool sameStream(const AdtsHeader& other) const {
        return profile == other.profile && sampleRateIndex == other.sampleRateIndex &&
               channelConfig == other.channelConfig;
    }
    // The 2-byte AudioSpecificConfig the decoder needs.
    std::array<std::uint8_t, 2> audioSpecificConfig() const;
};

std::optional<AdtsHeader> readAdtsHeader(const std::uint8_t* bytes, std::size_t size);

// Total size (header, body and footer) of an ID3v2 tag starting at `bytes`, or nothing
// when the 10 bytes are not an ID3v2 header.
std::optional<std::uint64_t> readId3v2TagSize(const std::uint8_t* bytes, std::size_t size);

// An IEEE 754 80-bit extended float, big-endian (AIFF sample rates).
double readExtended80(const std::uint8_t* bytes);

// True when `bytes` begins with the characters of `text`.
inline bool startsWith(const std::vector<std::uint8_t>& bytes, const char* text) {
    std::size_t n = 0;
    while (text[n] != 0) {
        ++n;
    }
    if (bytes.size() < n) {
        return false;
    }
    for (std::size_t i = 0; i < n; ++i) {
        if (bytes[i] != std::uint8_t(text[i])) {
            return false;
        }
    }
    return true;
}

inline std::uint32_t readBE32(const std::uint8_t* p) {
    return (std::uint32_t(p[0]) << 24) | (std::uint32_t(p[1]) << 16) | (std::uint32_t(p[2]) << 8) |
           std::uint32_t(p[3]);
}
inline std::uint16_t readBE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[0] << 8) | p[1]);
}
inline std::uint32_t readLE32(const std::uint8_t* p) {
    return (std::uint32_t(p[3]) << 24) | (std::uint32_t(p[2]) << 16) | (std::uint32_t(p[1]) << 8) |
           std::uint32_t(p[0]);
}
inline std::uint16_t readLE16(const std::uint8_t* p) {
    return static_cast<std::uint16_t>((p[1] << 8) | p[0]);
}

} // namespace sondrel
