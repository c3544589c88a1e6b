#pragma once
// Turns the packets of one stream into 16-bit interleaved PCM for the audio output:
// MP3 (and MPEG layers 1 and 2) through libmpg123 in feed mode, AAC and ALAC through
// FFmpeg's libavcodec, linear PCM converted as is. Streams with more than two channels keep
// their first two.
//
// Threading: used by the audio queue's thread only.

#include "streamer/StreamFormat.h"

#include <QString>
#include <cstdint>
#include <memory>
#include <vector>

namespace sondrel {

class PacketDecoder {
public:
    virtual ~PacketDecoder() = default;
    // Decodes one packet (or, for PCM, any run of bytes) and appends the samples to
    // `out`. False on a fault the decoder cannot step over.
    virtual bool decode(const std::uint8_t* data, std::size_t size,
                        std::vector<std::int16_t>& out) = 0;
    // Forgets the stream so far (after the queue was stopped for a seek).
    virtual void reset() = 0;
    // Hands out what the decoder still holds at the end of the stream.
    virtual void drain(std::vector<std::int16_t>& out) { (void)out; }
};

// Channels of the PCM every decoder produces for `format` (1 or 2).
int outputChannelsFor(const AudioStreamBasicDescription& format);

// Whether a decoder exists for `format` (before its magic cookie is known).
bool canDecode(const AudioStreamBasicDescription& format);

// A decoder for `format`, with the stream's magic cookie (AAC: the AudioSpecificConfig).
// Nothing (and `error` set) for formats no decoder handles.
std::unique_ptr<PacketDecoder> createPacketDecoder(const AudioStreamBasicDescription& format,
                                                   const std::vector<std::uint8_t>& magicCookie,
                                                   QString* error);

} // namespace sondrel
