#include "platform/AudioPlayer.h"

#include "platform/Log.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <algorithm>
#include <mpg123.h>

namespace sondrel {
namespace {

// How often the player tops up the device's buffer. Every backend buffers about 300 ms:
// a top-up every 100 ms leaves 200 ms for a late wake-up on a busy machine. Each wake-up
// of the main loop costs more than the decoding it does, so fewer of them is most of
// what playing costs.
constexpr int kPumpMs = 100;
// Bytes handed to the decoder at a time: feeding as needed keeps its copy small.
constexpr std::int64_t kFeedChunk = 16 * 1024;
// Samples decoded per step at most.
constexpr std::int64_t kDecodeChunk = 64 * 1024;

void initDecoderLibrary() {
    static const int done = mpg123_init();
    (void)done;
}

} // namespace

AudioPlayer::AudioPlayer(QObject* parent) : QObject(parent) {
    pumpTimer.setInterval(kPumpMs);
    connect(&pumpTimer, &QTimer::timeout, this, [this] { pump(); });
    startTimer.setSingleShot(true);
    connect(&startTimer, &QTimer::timeout, this, [this] { AudioPlayer::play(); });
}

AudioPlayer::~AudioPlayer() {
    if (output) {
        output->stop();
    }
    if (decoder) {
        mpg123_delete(decoder);
    }
}

bool AudioPlayer::initWithData(std::shared_ptr<const AudioData> data, QString* error,
                               const QString& outputSpec) {
    initDecoderLibrary();
    QString dummy;
    QString& err = error ? *error : dummy;
    source = std::move(data);
    outputSpecOverride = outputSpec;
    if (!source || source->bytes.isEmpty()) {
        err = QStringLiteral("no bytes to play");
        return false;
    }
    int code = MPG123_OK;
    decoder = mpg123_new(nullptr, &code);
    if (!decoder) {
        err = QStringLiteral("MP3 decoder unavailable: %1")
                  .arg(QString::fromUtf8(mpg123_plain_strerror(code)));
        return false;
    }
    mpg123_param(decoder, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0.0);
    mpg123_format_none(decoder);
    const long* rates = nullptr;
    size_t rateCount = 0;
    mpg123_rates(&rates, &rateCount);
    for (size_t i = 0; i < rateCount; ++i) {
        mpg123_format(decoder, rates[i], MPG123_MONO | MPG123_STEREO, MPG123_ENC_SIGNED_16);
    }
    if (mpg123_open_feed(decoder) != MPG123_OK) {
        err = QStringLiteral("MP3 decoder unavailable: %1")
                  .arg(QString::fromUtf8(mpg123_strerror(decoder)));
        return false;
    }
    if (source->expectedLength > 0) {
        mpg123_set_filesize(decoder, off_t(source->expectedLength));
    }
    // Read up to the first frame header: that tells the sample rate and channels.
    for (;;) {
        off_t frameNumber = 0;
        unsigned char* audio = nullptr;
        size_t bytes = 0;
        const int r = mpg123_decode_frame(decoder, &frameNumber, &audio, &bytes);
        if (r == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            mpg123_getformat(decoder, &rate, &channels, &encoding);
            format.sampleRate = int(rate);
            format.channels = channels;
            break;
        }
        if (r == MPG123_NEED_MORE && feedMore()) {
            continue;
        }
        const int status = source->httpStatus;
        err = status != 0 && (status < 200 || status >= 300)
                  ? QStringLiteral("the song's address answered HTTP %1 instead of the song")
                        .arg(status)
              : r == MPG123_NEED_MORE || r == MPG123_DONE
                  ? QStringLiteral("no playable MP3 audio in the first %1 bytes")
                        .arg(source->bytes.size())
                  : QStringLiteral("not MP3 audio: %1")
                        .arg(QString::fromUtf8(mpg123_strerror(decoder)));
        mpg123_delete(decoder);
        decoder = nullptr;
        return false;
    }
    return true;
}

bool AudioPlayer::feedMore() {
    const std::int64_t available = source->bytes.size() - fedBytes;
    if (available <= 0) {
        return false;
    }
    const std::int64_t n = std::min(available, kFeedChunk);
    if (mpg123_feed(decoder,
                    reinterpret_cast<const unsigned char*>(source->bytes.constData()) + fedBytes,
                    size_t(n)) != MPG123_OK) {
        return false;
    }
    fedBytes += n;
    return true;
}

double AudioPlayer::deviceCurrentTime() {
    static QElapsedTimer clock = [] {
        QElapsedTimer t;
        t.start();
        return t;
    }();
    return double(clock.nsecsElapsed()) / 1e9;
}

bool AudioPlayer::play() {
    if (!decoder) {
        return false;
    }
    startTimer.stop();
    if (playing) {
        return true;
    }
    if (atEnd) {
        atEnd = false;
        if (source->bytes.size() <= fedBytes) {
            baseFrame = 0; // nothing new arrived: a finished song plays again
        }
    }
    if (output) {
        output->resume();
    } else if (!startOutput()) {
        return false;
    }
    playing = true;
    starvedAtLastPump = false;
    pumpTimer.start();
    fill();
    return playing;
}

bool AudioPlayer::playAtTime(double time) {
    const double delay = time - deviceCurrentTime();
    if (delay <= 0) {
        return AudioPlayer::play();
    }
    startTimer.start(int(delay * 1000));
    return decoder != nullptr;
}

void AudioPlayer::pause() {
    startTimer.stop();
    if (!playing) {
        return;
    }
    playing = false;
    pumpTimer.stop();
    if (output) {
        output->pause();
    }
}

void AudioPlayer::stop() {
    startTimer.stop();
    playing = false;
    pumpTimer.stop();
    closeOutput();
}

void AudioPlayer::closeOutput() {
    if (output) {
        baseFrame += output->playedFrames();
        output->stop();
        output.reset();
    }
}

bool AudioPlayer::startOutput() {
    // The device buffer of the previous output was dropped: decode again from what was
    // last heard.
    if (decodedFrame != baseFrame || !pending.isEmpty()) {
        seekToFrame(baseFrame);
    }
    output = createAudioOutput(outputSpecOverride);
    output->setVolume(level);
    if (!output->start(format)) {
        failOutput(output->errorString());
        return false;
    }
    return true;
}

void AudioPlayer::failOutput(const QString& reason) {
    logLine(QStringLiteral("Audio output failed: %1").arg(reason));
    playing = false;
    pumpTimer.stop();
    if (output) {
        baseFrame += output->failed() ? 0 : output->playedFrames();
        output->stop();
        output.reset();
    }
}

void AudioPlayer::fill() {
    if (!playing || !output) {
        return;
    }
    if (output->failed()) {
        failOutput(output->errorString());
        return;
    }
    const std::int64_t bpf = format.bytesPerFrame();
    for (int round = 0; round < 16; ++round) {
        if (pending.isEmpty()) {
            const std::int64_t room = output->bytesFree();
            if (room < bpf) {
                break;
            }
            decodeInto(std::min(room, kDecodeChunk));
            if (pending.isEmpty()) {
                break;
            }
        }
        const std::int64_t n = output->write(pending.constData(), pending.size());
        pending.remove(0, n);
        if (!pending.isEmpty()) {
            break; // the device is full
        }
    }
}

void AudioPlayer::decodeInto(std::int64_t room) {
    const std::int64_t bpf = format.bytesPerFrame();
    room = room / bpf * bpf;
    pending.resize(room);
    std::int64_t got = 0;
    while (got < room) {
        size_t done = 0;
        const int r = mpg123_read(decoder, reinterpret_cast<unsigned char*>(pending.data()) + got,
                                  size_t(room - got), &done);
        got += std::int64_t(done);
        if (r == MPG123_NEED_MORE) {
            if (!feedMore()) {
                break; // every byte present is decoded
            }
        } else if (r == MPG123_NEW_FORMAT) {
            long rate = 0;
            int channels = 0;
            int encoding = 0;
            mpg123_getformat(decoder, &rate, &channels, &encoding);
            if (rate != format.sampleRate || channels != format.channels) {
                decodeError = true; // a stream that changes format mid-song: stop there
                fedBytes = source->bytes.size();
                break;
            }
        } else if (r == MPG123_DONE) {
            break;
        } else if (r != MPG123_OK) {
            decodeError = true;
            if (!feedMore()) {
                break;
            }
        }
    }
    got = got / bpf * bpf;
    pending.resize(got);
    decodedFrame += got / bpf;
}

void AudioPlayer::pump() {
    if (!playing) {
        return;
    }
    // The last top-up decoded every byte there was, and the device has played it all
    // since: the sound has stopped. That is the end of what was present, even when more
    // bytes arrived meanwhile; the owner decides when to go on. Playing each small batch
    // as it comes instead would leave a gap at every top-up.
    if (starvedAtLastPump && output && output->bufferedFrames() == 0) {
        finishPlaying();
        return;
    }
    fill();
    if (!playing || !output) {
        return;
    }
    starvedAtLastPump = pending.isEmpty() && fedBytes >= source->bytes.size();
    if (starvedAtLastPump && output->bufferedFrames() == 0) {
        finishPlaying(); // everything present has been heard
    }
}

void AudioPlayer::finishPlaying() {
    playing = false;
    atEnd = true;
    starvedAtLastPump = false;
    pumpTimer.stop();
    closeOutput();
    if (delegate) {
        delegate->audioPlayerDidFinishPlaying(this, !decodeError); // may delete this
    }
}

std::int64_t AudioPlayer::totalFrames() const {
    if (!decoder) {
        return 0;
    }
    if (source->expectedLength <= 0) {
        mpg123_set_filesize(decoder, off_t(source->bytes.size()));
    }
    // Right after a seek the decoder answers no length until it reads on: keep the last
    // one it gave, so the duration does not drop to 0 (and a second seek stays clamped).
    const off_t length = mpg123_length(decoder);
    if (length > 0) {
        knownFrames = std::int64_t(length);
    }
    return knownFrames;
}

double AudioPlayer::currentTime() const {
    if (format.sampleRate <= 0) {
        return 0;
    }
    const std::int64_t heard = baseFrame + (output ? output->playedFrames() : 0);
    return double(heard) / format.sampleRate;
}

void AudioPlayer::setCurrentTime(double seconds) {
    if (!decoder) {
        return;
    }
    std::int64_t frame = std::max<std::int64_t>(0, std::int64_t(seconds * format.sampleRate));
    const std::int64_t total = totalFrames();
    if (total > 0) {
        frame = std::min(frame, total);
    }
    const bool wasPlaying = playing;
    pumpTimer.stop();
    if (output) {
        output->stop();
        output.reset();
    }
    playing = false;
    atEnd = false;
    baseFrame = frame;
    seekToFrame(frame);
    if (wasPlaying && startOutput()) {
        playing = true;
        pumpTimer.start();
        fill();
    }
}

void AudioPlayer::seekToFrame(std::int64_t frame) {
    pending.clear();
    off_t inputOffset = 0;
    const off_t status = mpg123_feedseek(decoder, off_t(frame), SEEK_SET, &inputOffset);
    if (status < 0) {
        logLine(QStringLiteral("Audio seek failed: %1")
                    .arg(QString::fromUtf8(mpg123_strerror(decoder))));
        return;
    }
    // The decoder may finish the seek while it reads on (it scans forward from the input
    // offset), so the position is the frame asked for, not what the call returns.
    fedBytes = std::max<std::int64_t>(inputOffset, 0); // may lie beyond the bytes present
    decodedFrame = frame;
}

double AudioPlayer::duration() const {
    return format.sampleRate > 0 ? double(totalFrames()) / format.sampleRate : 0.0;
}

void AudioPlayer::setVolume(float volume) {
    level = std::clamp(volume, 0.0f, 1.0f);
    if (output) {
        output->setVolume(level);
    }
}

} // namespace sondrel
