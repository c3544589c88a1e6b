// The sound module: the desktop's sound device through QAudioSink in push mode. Pull
// mode stops for good after one underrun, so the player pushes: it writes up to
// bytesFree() from its own timer. Loaded on first need (AudioOutputModule.h); links
// only Qt.

#include "platform/AudioOutputModule.h"

#include <QAudioDevice>
#include <QAudioFormat>
#include <QAudioSink>
#include <QIODevice>
#include <QMediaDevices>
#include <algorithm>

namespace sondrel {
namespace {

QString sinkErrorName(QAudio::Error e) {
    switch (e) {
    case QAudio::NoError:
        return QStringLiteral("no error");
    case QAudio::OpenError:
        return QStringLiteral("the sound device could not be opened");
    case QAudio::IOError:
        return QStringLiteral("the sound device failed while playing");
    case QAudio::UnderrunError:
        return QStringLiteral("underrun");
    case QAudio::FatalError:
        return QStringLiteral("the sound device is gone");
    }
    return QStringLiteral("unknown sound device error");
}

class PulseAudioOutput : public AudioOutput {
public:
    static constexpr int kBufferMs = 300;

    ~PulseAudioOutput() override { stop(); }

    bool start(const AudioFormat& format) override {
        stop();
        fmt = format;
        broken = false;
        error.clear();
        const QAudioDevice device = QMediaDevices::defaultAudioOutput();
        if (device.isNull()) {
            return fail(QStringLiteral("no sound device"));
        }
        QAudioFormat f;
        f.setSampleRate(format.sampleRate);
        f.setChannelCount(format.channels);
        f.setSampleFormat(QAudioFormat::Int16);
        if (!device.isFormatSupported(f)) {
            return fail(QStringLiteral("the sound device cannot play %1 Hz, %2 channels")
                            .arg(format.sampleRate)
                            .arg(format.channels));
        }
        sink = std::make_unique<QAudioSink>(device, f);
        sink->setBufferSize(qsizetype(format.sampleRate) * format.bytesPerFrame() * kBufferMs /
                            1000);
        sink->setVolume(level);
        io = sink->start();
        if (io == nullptr || isFatal(sink->error())) {
            const QString reason = sinkErrorName(sink->error());
            sink.reset();
            io = nullptr;
            return fail(reason);
        }
        writtenFrames = 0;
        return true;
    }

    std::int64_t bytesFree() const override {
        if (!sink || failed()) {
            return 0;
        }
        return sink->bytesFree();
    }

    std::int64_t write(const char* data, std::int64_t length) override {
        if (!io || failed()) {
            return 0;
        }
        const std::int64_t bpf = fmt.bytesPerFrame();
        const std::int64_t room = std::min<std::int64_t>(length, sink->bytesFree()) / bpf * bpf;
        if (room <= 0) {
            return 0;
        }
        const qint64 n = io->write(data, room);
        if (n < 0) {
            fail(sinkErrorName(QAudio::IOError));
            return 0;
        }
        writtenFrames += n / bpf;
        return n;
    }

    std::int64_t playedFrames() const override {
        if (!sink) {
            return 0;
        }
        // processedUSecs counts what the server has played out of the stream.
        const std::int64_t frames = sink->processedUSecs() * fmt.sampleRate / 1000000;
        return std::clamp<std::int64_t>(frames, 0, writtenFrames);
    }

    std::int64_t bufferedFrames() const override {
        return sink ? writtenFrames - playedFrames() : 0;
    }

    void pause() override {
        if (sink) {
            sink->suspend();
        }
    }
    void resume() override {
        if (sink) {
            sink->resume();
        }
    }
    void stop() override {
        if (sink) {
            sink->stop();
            sink.reset();
            io = nullptr;
        }
    }
    void setVolume(double volume) override {
        level = std::clamp(volume, 0.0, 1.0);
        if (sink) {
            sink->setVolume(level);
        }
    }
    bool failed() const override { return broken || (sink && isFatal(sink->error())); }
    QString errorString() const override {
        if (!broken && sink && isFatal(sink->error())) {
            return sinkErrorName(sink->error());
        }
        return error;
    }

private:
    static bool isFatal(QAudio::Error e) {
        return e != QAudio::NoError && e != QAudio::UnderrunError;
    }
    bool fail(const QString& reason) {
        broken = true;
        error = reason;
        return false;
    }

    AudioFormat fmt;
    std::unique_ptr<QAudioSink> sink;
    QIODevice* io = nullptr; // owned by sink
    std::int64_t writtenFrames = 0;
    double level = 1.0;
    bool broken = false;
    QString error;
};

class PulseOutputModule : public QObject, public AudioOutputModule {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID SONDREL_AUDIO_OUTPUT_MODULE_IID)
    Q_INTERFACES(sondrel::AudioOutputModule)

public:
    std::unique_ptr<AudioOutput> createOutput() override {
        return std::make_unique<PulseAudioOutput>();
    }
};

} // namespace
} // namespace sondrel

#include "PulseOutputModule.moc"
