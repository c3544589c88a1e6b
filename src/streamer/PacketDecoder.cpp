#include "streamer/PacketDecoder.h"

#include "streamer/CodecLog.h"

#include <cmath>
#include <cstring>
#include <mpg123.h>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace sondrel {
namespace {

// Converts interleaved 16-bit samples from `from` channels to `to` channels (1 or 2).
void appendConverted(const std::int16_t* samples, std::size_t frames, int from, int to,
                     std::vector<std::int16_t>& out) {
    if (from == to) {
        out.insert(out.end(), samples, samples + frames * std::size_t(from));
        return;
    }
    for (std::size_t i = 0; i < frames; ++i) {
        const std::int16_t* f = samples + i * std::size_t(from);
        if (to == 1) {
            out.push_back(static_cast<std::int16_t>((int(f[0]) + int(f[1])) / 2));
        } else if (from == 1) {
            out.push_back(f[0]);
            out.push_back(f[0]);
        } else {
            out.push_back(f[0]);
            out.push_back(f[1]);
        }
    }
}

class Mpg123Decoder : public PacketDecoder {
public:
    Mpg123Decoder(long rate, int outChannels) : rate(rate), outChannels(outChannels) {}
    ~Mpg123Decoder() override {
        if (handle) {
            mpg123_delete(handle);
        }
    }

    bool open(QString* error) {
        int status = MPG123_OK;
        handle = mpg123_new(nullptr, &status);
        if (!handle) {
            *error = QString::fromUtf8(mpg123_plain_strerror(status));
            return false;
        }
        mpg123_param(handle, MPG123_ADD_FLAGS, MPG123_QUIET, 0);
        mpg123_format_none(handle);
        mpg123_format(handle, rate, MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
        if (mpg123_open_feed(handle) != MPG123_OK) {
            *error = QString::fromUtf8(mpg123_strerror(handle));
            return false;
        }
        pcm.resize(mpg123_outblock(handle));
        return true;
    }

    bool decode(const std::uint8_t* data, std::size_t size,
                std::vector<std::int16_t>& out) override {
        if (mpg123_feed(handle, data, size) != MPG123_OK) {
            return false;
        }
        for (;;) {
            std::size_t done = 0;
            const int status = mpg123_read(handle, pcm.data(), pcm.size(), &done);
            if (status == MPG123_NEW_FORMAT) {
                long r = 0;
                int ch = 0;
                int enc = 0;
                mpg123_getformat(handle, &r, &ch, &enc);
                channels = ch;
            }
            if (done > 0) {
                appendConverted(reinterpret_cast<const std::int16_t*>(pcm.data()),
                                done / (2 * std::size_t(channels)), channels, outChannels, out);
            }
            if (status == MPG123_NEED_MORE || status == MPG123_DONE) {
                return true;
            }
            if (status == MPG123_ERR) {
                // A broken frame: start over with the next packet rather than give up.
                reset();
                return true;
            }
        }
    }

    void reset() override { mpg123_open_feed(handle); }

private:
    mpg123_handle* handle = nullptr;
    long rate;
    int outChannels;
    int channels = 2;
    std::vector<unsigned char> pcm;
};

// AAC and ALAC through libavcodec.
class FfmpegDecoder : public PacketDecoder {
public:
    FfmpegDecoder(AVCodecID codecId, int rate, int outChannels)
        : codecId(codecId), rate(rate), outChannels(outChannels) {}
    ~FfmpegDecoder() override {
        swr_free(&resampler);
        av_frame_free(&frame);
        av_packet_free(&packet);
        avcodec_free_context(&context);
    }

    bool open(const AudioStreamBasicDescription& format, const std::vector<std::uint8_t>& cookie,
              QString* error) {
        routeCodecLogToPlayerLog();
        const AVCodec* codec = avcodec_find_decoder(codecId);
        context = codec ? avcodec_alloc_context3(codec) : nullptr;
        frame = av_frame_alloc();
        packet = av_packet_alloc();
        if (!context || !frame || !packet) {
            *error = QStringLiteral("no decoder for %1").arg(avcodec_get_name(codecId));
            return false;
        }
        context->sample_rate = int(format.sampleRate);
        av_channel_layout_default(&context->ch_layout, int(format.channelsPerFrame));
        if (!cookie.empty()) {
            context->extradata = static_cast<std::uint8_t*>(
                av_mallocz(cookie.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            std::memcpy(context->extradata, cookie.data(), cookie.size());
            context->extradata_size = int(cookie.size());
        }
        if (avcodec_open2(context, codec, nullptr) < 0) {
            *error = QStringLiteral("cannot open the %1 decoder").arg(avcodec_get_name(codecId));
            return false;
        }
        return true;
    }

    bool decode(const std::uint8_t* data, std::size_t size,
                std::vector<std::int16_t>& out) override {
        if (av_new_packet(packet, int(size)) < 0) {
            return false;
        }
        std::memcpy(packet->data, data, size);
        const int sent = avcodec_send_packet(context, packet);
        av_packet_unref(packet);
        if (sent < 0 && sent != AVERROR(EAGAIN)) {
            return true; // a broken frame is skipped
        }
        return receive(out);
    }

    void drain(std::vector<std::int16_t>& out) override {
        avcodec_send_packet(context, nullptr);
        receive(out);
        avcodec_flush_buffers(context);
    }

    void reset() override { avcodec_flush_buffers(context); }

private:
    bool receive(std::vector<std::int16_t>& out) {
        while (avcodec_receive_frame(context, frame) == 0) {
            if (!resampler && !openResampler()) {
                av_frame_unref(frame);
                return false;
            }
            const int room = swr_get_out_samples(resampler, frame->nb_samples);
            if (room > 0) {
                const std::size_t at = out.size();
                out.resize(at + std::size_t(room) * std::size_t(outChannels));
                std::uint8_t* target = reinterpret_cast<std::uint8_t*>(out.data() + at);
                const int got = swr_convert(resampler, &target, room,
                                            const_cast<const std::uint8_t**>(frame->extended_data),
                                            frame->nb_samples);
                out.resize(at + std::size_t(std::max(got, 0)) * std::size_t(outChannels));
            }
            av_frame_unref(frame);
        }
        return true;
    }

    bool openResampler() {
        AVChannelLayout outLayout;
        av_channel_layout_default(&outLayout, outChannels);
        const int status = swr_alloc_set_opts2(
            &resampler, &outLayout, AV_SAMPLE_FMT_S16, rate, &frame->ch_layout,
            static_cast<AVSampleFormat>(frame->format), frame->sample_rate, 0, nullptr);
        av_channel_layout_uninit(&outLayout);
        return status >= 0 && swr_init(resampler) >= 0;
    }

    AVCodecID codecId;
    int rate;
    int outChannels;
    AVCodecContext* context = nullptr;
    AVFrame* frame = nullptr;
    AVPacket* packet = nullptr;
    SwrContext* resampler = nullptr;
};

class PcmDecoder : public PacketDecoder {
public:
    PcmDecoder(const AudioStreamBasicDescription& format, int outChannels)
        : format(format), outChannels(outChannels) {}

    bool decode(const std::uint8_t* data, std::size_t size,
                std::vector<std::int16_t>& out) override {
        pending.insert(pending.end(), data, data + size);
        const std::size_t frameBytes = format.bytesPerFrame;
        const std::size_t frames = pending.size() / frameBytes;
        const int channels = int(format.channelsPerFrame);
        const std::size_t sampleBytes = format.bitsPerChannel / 8;
        const bool bigEndian = (format.formatFlags & kFormatFlagIsBigEndian) != 0;
        const bool isFloat = (format.formatFlags & kFormatFlagIsFloat) != 0;
        const bool isSigned = (format.formatFlags & kFormatFlagIsSignedInteger) != 0;
        for (std::size_t i = 0; i < frames; ++i) {
            const std::uint8_t* f = pending.data() + i * frameBytes;
            std::int16_t first = 0;
            for (int c = 0; c < channels && c < 2; ++c) {
                const std::int16_t s = sample(f + std::size_t(c) * sampleBytes, sampleBytes,
                                              bigEndian, isFloat, isSigned);
                if (c == 0) {
                    first = s;
                }
                if (c < outChannels) {
                    out.push_back(s);
                }
            }
            if (outChannels == 2 && channels == 1) {
                out.push_back(first);
            }
        }
        pending.erase(pending.begin(), pending.begin() + std::ptrdiff_t(frames * frameBytes));
        return true;
    }

    void reset() override { pending.clear(); }

private:
    static std::int16_t sample(const std::uint8_t* p, std::size_t bytes, bool bigEndian,
                               bool isFloat, bool isSigned) {
        std::uint64_t raw = 0;
        for (std::size_t i = 0; i < bytes; ++i) {
            const std::uint8_t b = bigEndian ? p[i] : p[bytes - 1 - i];
            raw = (raw << 8) | b;
        }
        if (isFloat) {
            double v = 0;
            if (bytes == 4) {
                const auto bits = static_cast<std::uint32_t>(raw);
                float f = 0;
                std::memcpy(&f, &bits, 4);
                v = f;
            } else {
                std::memcpy(&v, &raw, 8);
            }
            if (!std::isfinite(v)) {
                v = 0;
            }
            return static_cast<std::int16_t>(std::lround(std::clamp(v, -1.0, 1.0) * 32767.0));
        }
        if (bytes == 1) {
            return static_cast<std::int16_t>(isSigned ? std::int8_t(raw) * 256
                                                      : (int(raw) - 128) * 256);
        }
        // Keep the 16 most significant bits.
        const int shift = int(bytes * 8) - 16;
        return static_cast<std::int16_t>(static_cast<std::uint16_t>(raw >> shift));
    }

    AudioStreamBasicDescription format;
    int outChannels;
    std::vector<std::uint8_t> pending; // a frame split between two buffers
};

} // namespace

int outputChannelsFor(const AudioStreamBasicDescription& format) {
    return format.channelsPerFrame == 1 ? 1 : 2;
}

bool canDecode(const AudioStreamBasicDescription& format) {
    if (format.formatId == kFormatAppleLossless) {
        // Its decoder opens only with the stream's cookie, which comes later.
        return avcodec_find_decoder(AV_CODEC_ID_ALAC) != nullptr;
    }
    QString error;
    return createPacketDecoder(format, {}, &error) != nullptr;
}

std::unique_ptr<PacketDecoder> createPacketDecoder(const AudioStreamBasicDescription& format,
                                                   const std::vector<std::uint8_t>& magicCookie,
                                                   QString* error) {
    const int channels = outputChannelsFor(format);
    switch (format.formatId) {
    case kFormatMPEGLayer1:
    case kFormatMPEGLayer2:
    case kFormatMPEGLayer3: {
        auto decoder = std::make_unique<Mpg123Decoder>(long(format.sampleRate), channels);
        return decoder->open(error) ? std::move(decoder) : nullptr;
    }
    case kFormatMPEG4AAC:
    case kFormatMPEG4AAC_HE:
    case kFormatMPEG4AAC_HE_V2:
    case kFormatAppleLossless: {
        const AVCodecID id =
            format.formatId == kFormatAppleLossless ? AV_CODEC_ID_ALAC : AV_CODEC_ID_AAC;
        auto decoder = std::make_unique<FfmpegDecoder>(id, int(format.sampleRate), channels);
        return decoder->open(format, magicCookie, error) ? std::move(decoder) : nullptr;
    }
    case kFormatLinearPCM:
        if (format.bytesPerFrame == 0 || format.channelsPerFrame == 0 ||
            format.bitsPerChannel % 8 != 0 ||
            format.bytesPerFrame != format.channelsPerFrame * format.bitsPerChannel / 8) {
            *error = QStringLiteral("unsupported PCM layout");
            return nullptr;
        }
        return std::make_unique<PcmDecoder>(format, channels);
    default:
        *error = QStringLiteral("no decoder for this format");
        return nullptr;
    }
}

} // namespace sondrel
