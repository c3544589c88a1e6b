#pragma once
// Test files for the stream player, made here from deterministic tones: MP3 (CBR or
// VBR, through LAME), ADTS AAC, M4A and CAF (FFmpeg's encoders and muxers), WAV, AIFF
// and AIFC (written by hand).

#include <QByteArray>
#include <cstdint>
#include <vector>

namespace sondrel::test {

struct ToneSegment {
    double hz = 440;
    double seconds = 1;
};

// Interleaved 16-bit samples of the segments one after the other, amplitude 0.5.
std::vector<std::int16_t> tonePcm(const std::vector<ToneSegment>& segments, int sampleRate = 44100,
                                  int channels = 2);

QByteArray encodeMp3(const std::vector<std::int16_t>& pcm, int sampleRate, int channels, bool vbr,
                     bool infoTag = true);
QByteArray encodeAdts(const std::vector<std::int16_t>& pcm, int sampleRate, int channels);
// AAC in an M4A file; the movie header comes before the media data (laid out for
// streaming) when `movieHeaderFirst`, after it otherwise.
QByteArray muxM4a(const std::vector<std::int16_t>& pcm, int sampleRate, int channels,
                  bool movieHeaderFirst);
// MP3 in an MP4 file laid out for streaming.
QByteArray muxMp3InMp4(const std::vector<std::int16_t>& pcm, int sampleRate, int channels);
// A CAF file. ALAC packets vary in size; FFmpeg writes their table after the audio data.
enum class CafCodec { Pcm16LittleEndian, Pcm24BigEndian, Alac };
QByteArray muxCaf(const std::vector<std::int16_t>& pcm, int sampleRate, int channels,
                  CafCodec codec);
// The same CAF with its packet table moved in front of the audio data, as a streaming
// encoder writes it.
QByteArray cafWithTableFirst(const QByteArray& caf);
QByteArray makeWav(const std::vector<std::int16_t>& pcm, int sampleRate, int channels);
// AIFF (big-endian samples) or AIFC with 'sowt' (little-endian samples).
QByteArray makeAiff(const std::vector<std::int16_t>& pcm, int sampleRate, int channels,
                    bool aifcSowt = false);
// An ID3v2.3 tag of `size` bytes in all (padding inside).
QByteArray id3Tag(int size);

} // namespace sondrel::test
