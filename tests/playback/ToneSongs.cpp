#include "ToneSongs.h"

#include <QFile>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <lame/lame.h>
#include <numbers>

namespace sondrel::test {

namespace {

QByteArray id3Tag(int padding) {
    // ID3v2.3 header with a synch-safe size and nothing but padding inside.
    QByteArray tag("ID3\x03\x00\x00", 6);
    const quint32 size = quint32(padding);
    tag.append(char((size >> 21) & 0x7f));
    tag.append(char((size >> 14) & 0x7f));
    tag.append(char((size >> 7) & 0x7f));
    tag.append(char(size & 0x7f));
    tag.append(QByteArray(padding, '\0'));
    return tag;
}

} // namespace

QByteArray makeToneMp3(const ToneSpec& spec) {
    lame_t lame = lame_init();
    lame_set_in_samplerate(lame, spec.sampleRate);
    lame_set_out_samplerate(lame, spec.sampleRate);
    lame_set_num_channels(lame, spec.channels);
    lame_set_mode(lame, spec.channels == 1 ? MONO : JOINT_STEREO);
    lame_set_brate(lame, spec.kbps);
    lame_set_quality(lame, 7);
    lame_set_bWriteVbrTag(lame, spec.infoTag ? 1 : 0);
    lame_init_params(lame);

    const int frames = int(spec.seconds * spec.sampleRate);
    std::vector<short> left(frames), right(frames);
    for (int i = 0; i < frames; ++i) {
        const double v = 0.5 * std::sin(2 * std::numbers::pi * spec.hz * i / spec.sampleRate);
        left[i] = right[i] = short(v * 32767);
    }
    QByteArray mp3;
    std::vector<unsigned char> out(frames * 5 / 4 + 7200 + 16384);
    const int n =
        lame_encode_buffer(lame, left.data(), right.data(), frames, out.data(), int(out.size()));
    mp3.append(reinterpret_cast<const char*>(out.data()), n);
    const int tail = lame_encode_flush(lame, out.data(), int(out.size()));
    mp3.append(reinterpret_cast<const char*>(out.data()), tail);
    if (spec.infoTag) {
        // LAME left room for the Info frame at the start; fill it in now that it is known.
        unsigned char tag[4096];
        const size_t tagSize = lame_get_lametag_frame(lame, tag, sizeof tag);
        if (tagSize > 0 && tagSize <= size_t(mp3.size())) {
            std::memcpy(mp3.data(), tag, tagSize);
        }
    }
    lame_close(lame);
    if (spec.id3PaddingBytes > 0) {
        mp3.prepend(id3Tag(spec.id3PaddingBytes));
    }
    return mp3;
}

WavData readWav(const QString& path) {
    WavData wav;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        return wav;
    }
    const QByteArray all = f.readAll();
    if (all.size() < 12 || !all.startsWith("RIFF") || all.mid(8, 4) != "WAVE") {
        return wav;
    }
    qsizetype at = 12;
    int bits = 0;
    while (at + 8 <= all.size()) {
        const QByteArray id = all.mid(at, 4);
        quint32 size = qFromLittleEndian<quint32>(all.constData() + at + 4);
        const qsizetype body = at + 8;
        if (id == "fmt " && body + 16 <= all.size()) {
            wav.channels = qFromLittleEndian<quint16>(all.constData() + body + 2);
            wav.sampleRate = int(qFromLittleEndian<quint32>(all.constData() + body + 4));
            bits = qFromLittleEndian<quint16>(all.constData() + body + 14);
        } else if (id == "data") {
            // Recorders that stream (parec) may leave the size open.
            if (size == 0 || size == 0xffffffffu || body + size > all.size()) {
                size = quint32(all.size() - body);
            }
            if (bits != 16 || wav.channels == 0) {
                return {};
            }
            wav.samples.resize(size / 2);
            if (!wav.samples.empty()) { // an empty vector's data() may be null
                std::memcpy(wav.samples.data(), all.constData() + body, wav.samples.size() * 2);
            }
            return wav;
        }
        at = body + size + (size & 1);
    }
    return {};
}

double dominantTone(const WavData& wav, std::int64_t start, std::int64_t frames,
                    const std::vector<double>& candidates) {
    if (wav.channels == 0 || start + frames > wav.frames() || frames <= 0) {
        return 0;
    }
    double energy = 0;
    for (std::int64_t i = 0; i < frames; ++i) {
        const double s = wav.samples[(start + i) * wav.channels] / 32768.0;
        energy += s * s;
    }
    if (energy / frames < 1e-4) {
        return 0; // quieter than -40 dB: silence
    }
    double best = 0;
    double bestPower = 0;
    for (double hz : candidates) {
        // Goertzel filter on the first channel.
        const double w = 2 * std::numbers::pi * hz / wav.sampleRate;
        const double coeff = 2 * std::cos(w);
        double s1 = 0, s2 = 0;
        for (std::int64_t i = 0; i < frames; ++i) {
            const double s = wav.samples[(start + i) * wav.channels] / 32768.0 + coeff * s1 - s2;
            s2 = s1;
            s1 = s;
        }
        const double power = s1 * s1 + s2 * s2 - coeff * s1 * s2;
        if (power > bestPower) {
            bestPower = power;
            best = hz;
        }
    }
    // A pure tone puts about frames^2/4 * amplitude^2 into its own bin.
    return bestPower > 0.1 * energy * frames / 2 ? best : 0;
}

std::vector<ToneRun> toneRuns(const WavData& wav, const std::vector<double>& candidates,
                              double minSeconds) {
    std::vector<ToneRun> runs;
    if (wav.sampleRate == 0) {
        return runs;
    }
    const std::int64_t window = wav.sampleRate / 20;
    for (std::int64_t at = 0; at + window <= wav.frames(); at += window) {
        const double hz = dominantTone(wav, at, window, candidates);
        if (!runs.empty() && runs.back().hz == hz) {
            runs.back().seconds += 0.05;
        } else {
            runs.push_back({hz, 0.05});
        }
    }
    std::vector<ToneRun> kept;
    for (const ToneRun& r : runs) {
        if (r.seconds + 1e-9 < minSeconds) {
            continue;
        }
        if (!kept.empty() && kept.back().hz == r.hz) {
            kept.back().seconds += r.seconds;
        } else {
            kept.push_back(r);
        }
    }
    return kept;
}

QString describe(const std::vector<ToneRun>& runs) {
    QStringList parts;
    for (const ToneRun& r : runs) {
        parts << QStringLiteral("%1x%2").arg(r.hz).arg(r.seconds, 0, 'f', 2);
    }
    return parts.join(QLatin1Char(' '));
}

} // namespace sondrel::test
