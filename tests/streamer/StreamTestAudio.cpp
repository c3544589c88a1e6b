#include "StreamTestAudio.h"

#include <cmath>
#include <cstring>
#include <lame/lame.h>
#include <numbers>

namespace sondrel::test {
namespace {

void putBE32(QByteArray& b, std::uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) {
        b.append(char((v >> s) & 0xFF));
    }
}
void putBE16(QByteArray& b, std::uint16_t v) {
    b.append(char(v >> 8));
    b.append(char(v & 0xFF));
}
void putLE32(QByteArray& b, std::uint32_t v) {
    for (int s = 0; s <= 24; s += 8) {
        b.append(char((v >> s) & 0xFF));
    }
}
void putLE16(QByteArray& b, std::uint16_t v) {
    b.append(char(v & 0xFF));
    b.append(char(v >> 8));
}

// 80-bit extended float of a whole positive number (AIFF sample rates).
QByteArray extended80(std::uint32_t value) {
    int exponent = 16383 + 31;
    std::uint64_t mantissa = std::uint64_t(value) << 32;
    while (!(mantissa & (std::uint64_t(1) << 63))) {
        mantissa <<= 1;
        --exponent;
    }
    QByteArray b;
    putBE16(b, std::uint16_t(exponent));
    putBE32(b, std::uint32_t(mantissa >> 32));
    putBE32(b, std::uint32_t(mantissa));
    return b;
}

} // namespace

std::vector<std::int16_t> tonePcm(const std::vector<ToneSegment>& segments, int sampleRate,
                                  int channels) {
    std::vector<std::int16_t> pcm;
    for (const ToneSegment& s : segments) {
        const auto frames = std::int64_t(std::llround(s.seconds * sampleRate));
        for (std::int64_t i = 0; i < frames; ++i) {
            const double v = 0.5 * std::sin(2 * std::numbers::pi * s.hz * double(i) / sampleRate);
            for (int c = 0; c < channels; ++c) {
                pcm.push_back(std::int16_t(std::lround(v * 32767)));
            }
        }
    }
    return pcm;
}

QByteArray encodeMp3(const std::vector<std::int16_t>& pcm, int sampleRate, int channels, bool vbr,
                     bool infoTag) {
    lame_t lame = lame_init();
    lame_set_in_samplerate(lame, sampleRate);
    lame_set_out_samplerate(lame, sampleRate);
    lame_set_num_channels(lame, channels);
    lame_set_mode(lame, channels == 1 ? MONO : JOINT_STEREO);
    if (vbr) {
        lame_set_VBR(lame, vbr_default);
        lame_set_VBR_quality(lame, 2);
    } else {
        lame_set_brate(lame, 128);
    }
    lame_set_quality(lame, 7);
    lame_set_bWriteVbrTag(lame, infoTag ? 1 : 0);
    lame_init_params(lame);
    const int frames = int(pcm.size()) / channels;
    std::vector<short> samples(pcm.begin(), pcm.end());
    std::vector<unsigned char> out(std::size_t(frames) * 5 / 4 + 7200 + 16384);
    QByteArray mp3;
    int n = channels == 1 ? lame_encode_buffer(lame, samples.data(), samples.data(), frames,
                                               out.data(), int(out.size()))
                          : lame_encode_buffer_interleaved(lame, samples.data(), frames, out.data(),
                                                           int(out.size()));
    mp3.append(reinterpret_cast<const char*>(out.data()), n);
    n = lame_encode_flush(lame, out.data(), int(out.size()));
    mp3.append(reinterpret_cast<const char*>(out.data()), n);
    if (infoTag) {
        unsigned char tag[4096];
        const std::size_t size = lame_get_lametag_frame(lame, tag, sizeof tag);
        if (size > 0 && size <= std::size_t(mp3.size())) {
            std::memcpy(mp3.data(), tag, size);
        }
    }
    lame_close(lame);
    return mp3;
}

QByteArray makeWav(const std::vector<std::int16_t>& pcm, int sampleRate, int channels) {
    const auto dataBytes = std::uint32_t(pcm.size() * 2);
    QByteArray b("RIFF");
    putLE32(b, 36 + dataBytes + 12);
    b.append("WAVEfmt ");
    putLE32(b, 16);
    putLE16(b, 1);
    putLE16(b, std::uint16_t(channels));
    putLE32(b, std::uint32_t(sampleRate));
    putLE32(b, std::uint32_t(sampleRate * channels * 2));
    putLE16(b, std::uint16_t(channels * 2));
    putLE16(b, 16);
    // A chunk the parser must step over.
    b.append("LIST");
    putLE32(b, 4);
    b.append("INFO");
    b.append("data");
    putLE32(b, dataBytes);
    for (std::int16_t s : pcm) {
        putLE16(b, std::uint16_t(s));
    }
    return b;
}

QByteArray makeAiff(const std::vector<std::int16_t>& pcm, int sampleRate, int channels,
                    bool aifcSowt) {
    QByteArray comm;
    putBE16(comm, std::uint16_t(channels));
    putBE32(comm, std::uint32_t(pcm.size() / std::size_t(channels)));
    putBE16(comm, 16);
    comm.append(extended80(std::uint32_t(sampleRate)));
    if (aifcSowt) {
        comm.append("sowt");
        comm.append(char(0)); // empty name, padded to even
        comm.append(char(0));
    }
    QByteArray body(aifcSowt ? "AIFC" : "AIFF");
    if (aifcSowt) {
        body.append("FVER");
        putBE32(body, 4);
        putBE32(body, 0xA2805140u);
    }
    body.append("COMM");
    putBE32(body, std::uint32_t(comm.size()));
    body.append(comm);
    body.append("SSND");
    putBE32(body, std::uint32_t(8 + pcm.size() * 2));
    putBE32(body, 0);
    putBE32(body, 0);
    for (std::int16_t s : pcm) {
        if (aifcSowt) {
            putLE16(body, std::uint16_t(s));
        } else {
            putBE16(body, std::uint16_t(s));
        }
    }
    QByteArray file("FORM");
    putBE32(file, std::uint32_t(body.size()));
    file.append(body);
    return file;
}

QByteArray id3Tag(int size) {
    const int body = size - 10;
    QByteArray tag("ID3\x03\x00\x00", 6);
    tag.append(char((body >> 21) & 0x7F));
    tag.append(char((body >> 14) & 0x7F));
    tag.append(char((body >> 7) & 0x7F));
    tag.append(char(body & 0x7F));
    tag.append(QByteArray(body, '\0'));
    return tag;
}

} // namespace sondrel::test
