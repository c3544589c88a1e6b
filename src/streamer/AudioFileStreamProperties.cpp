// The properties the stream parser answers with.
#include "streamer/AudioFileStream.h"

#include <cstring>

namespace sondrel {

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
        } else if (kind == Kind::Mp4) {
            value = hint == kAudioFileMPEG4Type ? kAudioFileMPEG4Type : kAudioFileM4AType;
        } else if (kind == Kind::Caf) {
            value = kAudioFileCAFType;
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
