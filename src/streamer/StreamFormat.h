#pragma once
// Plain data shared by the stream parser, the audio queue and the stream player:
// four-character codes, the stream's data format, packet descriptions and the status
// values the parser and the queue answer with.

#include <cstdint>

namespace sondrel {

// 'abcd' as a 32-bit code, most significant byte first.
constexpr std::uint32_t fourCC(const char (&code)[5]) {
    return (std::uint32_t(std::uint8_t(code[0])) << 24) |
           (std::uint32_t(std::uint8_t(code[1])) << 16) |
           (std::uint32_t(std::uint8_t(code[2])) << 8) | std::uint32_t(std::uint8_t(code[3]));
}

// Data format ids.
inline constexpr std::uint32_t kFormatLinearPCM = fourCC("lpcm");
inline constexpr std::uint32_t kFormatMPEGLayer1 = fourCC(".mp1");
inline constexpr std::uint32_t kFormatMPEGLayer2 = fourCC(".mp2");
inline constexpr std::uint32_t kFormatMPEGLayer3 = fourCC(".mp3");
inline constexpr std::uint32_t kFormatMPEG4AAC = fourCC("aac ");
inline constexpr std::uint32_t kFormatMPEG4AAC_HE = fourCC("aach");
inline constexpr std::uint32_t kFormatMPEG4AAC_HE_V2 = fourCC("aacp");
inline constexpr std::uint32_t kFormatAppleLossless = fourCC("alac");

// Format flags of linear PCM.
inline constexpr std::uint32_t kFormatFlagIsFloat = 1u << 0;
inline constexpr std::uint32_t kFormatFlagIsBigEndian = 1u << 1;
inline constexpr std::uint32_t kFormatFlagIsSignedInteger = 1u << 2;
inline constexpr std::uint32_t kFormatFlagIsPacked = 1u << 3;

// The data format of a stream (40 bytes, like the stream description it stands for).
struct AudioStreamBasicDescription {
    double sampleRate = 0;
    std::uint32_t formatId = 0;
    std::uint32_t formatFlags = 0;
    std::uint32_t bytesPerPacket = 0; // 0 for variable-size packets
    std::uint32_t framesPerPacket = 0;
    std::uint32_t bytesPerFrame = 0; // 0 for compressed formats
    std::uint32_t channelsPerFrame = 0;
    std::uint32_t bitsPerChannel = 0; // 0 for compressed formats
    std::uint32_t reserved = 0;
};
static_assert(sizeof(AudioStreamBasicDescription) == 40);

// One item of a stream's format list (48 bytes): the format plus its channel layout tag.
struct AudioFormatListItem {
    AudioStreamBasicDescription format;
    std::uint32_t channelLayoutTag = 0;
    std::uint32_t padding = 0;
};
static_assert(sizeof(AudioFormatListItem) == 48);

// Where one packet sits in a block of packet bytes.
struct AudioStreamPacketDescription {
    std::int64_t startOffset = 0;
    std::uint32_t variableFramesInPacket = 0;
    std::uint32_t dataByteSize = 0;
};

// Status values (0 is success).
using OSStatus = std::int32_t;
inline constexpr OSStatus kNoErr = 0;
inline constexpr OSStatus kStatusUnsupportedFileType = static_cast<OSStatus>(fourCC("typ?"));
inline constexpr OSStatus kStatusUnsupportedDataFormat = static_cast<OSStatus>(fourCC("fmt?"));
inline constexpr OSStatus kStatusUnsupportedProperty = static_cast<OSStatus>(fourCC("pty?"));
inline constexpr OSStatus kStatusBadPropertySize = static_cast<OSStatus>(fourCC("!siz"));
inline constexpr OSStatus kStatusInvalidFile = static_cast<OSStatus>(fourCC("dta?"));
inline constexpr OSStatus kStatusNotOptimized = static_cast<OSStatus>(fourCC("optm"));
inline constexpr OSStatus kStatusValueUnknown = static_cast<OSStatus>(fourCC("unk?"));
inline constexpr OSStatus kStatusIllegalOperation = static_cast<OSStatus>(fourCC("nope"));
inline constexpr OSStatus kStatusQueueStopped = static_cast<OSStatus>(fourCC("stop"));
inline constexpr OSStatus kStatusQueueInvalid = static_cast<OSStatus>(fourCC("abuf"));
inline constexpr OSStatus kStatusBufferFull = static_cast<OSStatus>(fourCC("full"));
inline constexpr OSStatus kStatusBufferEmpty = static_cast<OSStatus>(fourCC("qemp"));
inline constexpr OSStatus kStatusDeviceFailed = static_cast<OSStatus>(fourCC("!dev"));
inline constexpr OSStatus kStatusCodecFailed = static_cast<OSStatus>(fourCC("!dec"));

} // namespace sondrel
