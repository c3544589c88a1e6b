// Test files made with FFmpeg's encoders and muxers: ADTS AAC, M4A (AAC) with the movie
// header before or after the media data, MP4 (MP3) and CAF (linear PCM, or ALAC).
#include "StreamTestAudio.h"

#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <functional>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
}

namespace sondrel::test {
namespace {

// Writes one 16-bit sample into a frame of the encoder's sample format.
void putSample(AVFrame* frame, AVSampleFormat format, int channels, int index, int channel,
               std::int16_t value) {
    const bool planar = av_sample_fmt_is_planar(format) != 0;
    const int plane = planar ? channel : 0;
    const int slot = planar ? index : index * channels + channel;
    switch (av_get_packed_sample_fmt(format)) {
    case AV_SAMPLE_FMT_FLT:
        reinterpret_cast<float*>(frame->extended_data[plane])[slot] = float(value) / 32768.0f;
        break;
    case AV_SAMPLE_FMT_S16:
        reinterpret_cast<std::int16_t*>(frame->extended_data[plane])[slot] = value;
        break;
    case AV_SAMPLE_FMT_S32:
        reinterpret_cast<std::int32_t*>(frame->extended_data[plane])[slot] =
            std::int32_t(std::uint32_t(std::uint16_t(value)) << 16);
        break;
    default:
        break;
    }
}

// Encodes `pcm` with `codecId` and hands every packet on. `setup` adjusts the context
// before it is opened. False when the encoder cannot be opened.
bool encode(AVCodecID codecId, const std::vector<std::int16_t>& pcm, int sampleRate, int channels,
            const std::function<void(AVCodecContext*)>& setup,
            const std::function<void(AVCodecContext*, AVPacket*)>& packetOut) {
    av_log_set_level(AV_LOG_ERROR);
    const AVCodec* codec = avcodec_find_encoder(codecId);
    if (!codec) {
        return false;
    }
    AVCodecContext* ctx = avcodec_alloc_context3(codec);
    ctx->sample_rate = sampleRate;
    ctx->time_base = AVRational{1, sampleRate};
    av_channel_layout_default(&ctx->ch_layout, channels);
    ctx->sample_fmt = codec->sample_fmts ? codec->sample_fmts[0] : AV_SAMPLE_FMT_S16;
    if (setup) {
        setup(ctx);
    }
    if (avcodec_open2(ctx, codec, nullptr) < 0) {
        avcodec_free_context(&ctx);
        return false;
    }
    AVFrame* frame = av_frame_alloc();
    AVPacket* packet = av_packet_alloc();
    auto drain = [&] {
        while (avcodec_receive_packet(ctx, packet) == 0) {
            packetOut(ctx, packet);
            av_packet_unref(packet);
        }
    };
    const int total = int(pcm.size()) / channels;
    const int frameSize = ctx->frame_size > 0 ? ctx->frame_size : 1024;
    for (int at = 0; at < total; at += frameSize) {
        frame->nb_samples = std::min(frameSize, total - at);
        frame->format = ctx->sample_fmt;
        av_channel_layout_copy(&frame->ch_layout, &ctx->ch_layout);
        frame->sample_rate = sampleRate;
        frame->pts = at;
        av_frame_get_buffer(frame, 0);
        for (int i = 0; i < frame->nb_samples; ++i) {
            for (int c = 0; c < channels; ++c) {
                putSample(frame, ctx->sample_fmt, channels, i, c,
                          pcm[std::size_t((at + i) * channels + c)]);
            }
        }
        avcodec_send_frame(ctx, frame);
        av_frame_unref(frame);
        drain();
    }
    avcodec_send_frame(ctx, nullptr);
    drain();
    av_packet_free(&packet);
    av_frame_free(&frame);
    avcodec_free_context(&ctx);
    return true;
}

// Encodes and muxes into a file of `muxer` with the muxer options `options`, and
// returns its bytes (empty on failure).
QByteArray mux(const char* muxer, const char* options, AVCodecID codecId,
               const std::vector<std::int16_t>& pcm, int sampleRate, int channels) {
    QTemporaryDir dir;
    const QByteArray path = dir.filePath(QStringLiteral("out")).toLocal8Bit();
    AVFormatContext* oc = nullptr;
    if (avformat_alloc_output_context2(&oc, nullptr, muxer, path.constData()) < 0) {
        return {};
    }
    AVStream* stream = avformat_new_stream(oc, nullptr);
    bool ok = avio_open(&oc->pb, path.constData(), AVIO_FLAG_WRITE) >= 0;
    bool headerWritten = false;
    AVRational codecBase{1, sampleRate};
    ok = ok && encode(
                   codecId, pcm, sampleRate, channels,
                   [&](AVCodecContext* ctx) {
                       if (codecId == AV_CODEC_ID_AAC) {
                           ctx->bit_rate = 128000;
                           ctx->profile = FF_PROFILE_AAC_LOW;
                       }
                       ctx->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
                   },
                   [&](AVCodecContext* ctx, AVPacket* packet) {
                       if (!headerWritten) {
                           avcodec_parameters_from_context(stream->codecpar, ctx);
                           stream->time_base = codecBase;
                           AVDictionary* opts = nullptr;
                           if (options) {
                               av_dict_parse_string(&opts, options, "=", ":", 0);
                           }
                           headerWritten = avformat_write_header(oc, &opts) >= 0;
                           av_dict_free(&opts);
                       }
                       if (headerWritten) {
                           packet->stream_index = 0;
                           av_packet_rescale_ts(packet, codecBase, stream->time_base);
                           av_write_frame(oc, packet);
                       }
                   });
    ok = ok && headerWritten && av_write_trailer(oc) >= 0;
    avio_closep(&oc->pb);
    avformat_free_context(oc);
    QFile file(QString::fromLocal8Bit(path));
    return ok && file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

} // namespace

QByteArray encodeAdts(const std::vector<std::int16_t>& pcm, int sampleRate, int channels) {
    int rateIndex = 4;
    const int rates[] = {96000, 88200, 64000, 48000, 44100, 32000, 24000, 22050, 16000};
    for (int i = 0; i < 9; ++i) {
        if (rates[i] == sampleRate) {
            rateIndex = i;
        }
    }
    QByteArray out;
    encode(
        AV_CODEC_ID_AAC, pcm, sampleRate, channels,
        [](AVCodecContext* ctx) {
            ctx->bit_rate = 128000;
            ctx->profile = FF_PROFILE_AAC_LOW;
        },
        [&](AVCodecContext*, AVPacket* packet) {
            const int length = packet->size + 7;
            const unsigned char header[7] = {
                0xFF,
                0xF1,
                static_cast<unsigned char>((1 << 6) | (rateIndex << 2) | (channels >> 2)),
                static_cast<unsigned char>(((channels & 3) << 6) | (length >> 11)),
                static_cast<unsigned char>((length >> 3) & 0xFF),
                static_cast<unsigned char>(((length & 7) << 5) | 0x1F),
                0xFC};
            out.append(reinterpret_cast<const char*>(header), 7);
            out.append(reinterpret_cast<const char*>(packet->data), packet->size);
        });
    return out;
}

QByteArray muxM4a(const std::vector<std::int16_t>& pcm, int sampleRate, int channels,
                  bool movieHeaderFirst) {
    return mux("ipod", movieHeaderFirst ? "movflags=+faststart" : nullptr, AV_CODEC_ID_AAC, pcm,
               sampleRate, channels);
}

QByteArray muxMp3InMp4(const std::vector<std::int16_t>& pcm, int sampleRate, int channels) {
    return mux("mp4", "movflags=+faststart", AV_CODEC_ID_MP3, pcm, sampleRate, channels);
}

QByteArray muxCaf(const std::vector<std::int16_t>& pcm, int sampleRate, int channels,
                  CafCodec codec) {
    const AVCodecID id = codec == CafCodec::Pcm16LittleEndian ? AV_CODEC_ID_PCM_S16LE
                         : codec == CafCodec::Pcm24BigEndian  ? AV_CODEC_ID_PCM_S24BE
                                                              : AV_CODEC_ID_ALAC;
    return mux("caf", nullptr, id, pcm, sampleRate, channels);
}

QByteArray cafWithTableFirst(const QByteArray& caf) {
    const qsizetype table = caf.lastIndexOf("pakt");
    QByteArray moved = caf.left(table);
    moved.insert(moved.indexOf("data"), caf.mid(table));
    return moved;
}

} // namespace sondrel::test
