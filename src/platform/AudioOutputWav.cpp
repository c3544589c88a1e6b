// "wav:PATH": what would be heard, appended to a 16-bit PCM WAV file.

#include "platform/AudioOutputClocked.h"

#include <QFile>
#include <QtEndian>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>

namespace sondrel {
namespace {

// One open WAV file shared by every output of the process that names its path.
class WavFile {
public:
    explicit WavFile(const QString& path) : file(path) {}

    // Opens (and truncates) the file on first use; later users must play the same format.
    bool attach(const AudioFormat& format, QString* error) {
        std::lock_guard lock(mutex);
        if (!file.isOpen()) {
            if (!file.open(QIODevice::ReadWrite | QIODevice::Truncate)) {
                *error =
                    QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
                return false;
            }
            fmt = format;
            dataBytes = 0;
            if (!writeHeader()) {
                *error =
                    QStringLiteral("cannot write %1: %2").arg(file.fileName(), file.errorString());
                file.close();
                return false;
            }
            return true;
        }
        if (format.sampleRate != fmt.sampleRate || format.channels != fmt.channels) {
            *error = QStringLiteral("%1 already holds %2 Hz, %3 channels")
                         .arg(file.fileName())
                         .arg(fmt.sampleRate)
                         .arg(fmt.channels);
            return false;
        }
        return true;
    }

    bool append(const char* data, std::int64_t length) {
        std::lock_guard lock(mutex);
        if (!file.isOpen() || file.write(data, length) != length) {
            return false;
        }
        dataBytes += length;
        return writeHeader() && file.flush();
    }

private:
    // The RIFF header with the current sizes; leaves the file position at the end.
    bool writeHeader() {
        unsigned char h[44];
        auto put32 = [&](int at, quint32 v) { qToLittleEndian<quint32>(v, h + at); };
        auto put16 = [&](int at, quint16 v) { qToLittleEndian<quint16>(v, h + at); };
        std::memcpy(h, "RIFF", 4);
        put32(4, quint32(36 + dataBytes));
        std::memcpy(h + 8, "WAVEfmt ", 8);
        put32(16, 16);
        put16(20, 1); // PCM
        put16(22, quint16(fmt.channels));
        put32(24, quint32(fmt.sampleRate));
        put32(28, quint32(fmt.sampleRate * fmt.bytesPerFrame()));
        put16(32, quint16(fmt.bytesPerFrame()));
        put16(34, 16);
        std::memcpy(h + 36, "data", 4);
        put32(40, quint32(dataBytes));
        const qint64 end = 44 + dataBytes;
        const bool ok = file.seek(0) && file.write(reinterpret_cast<const char*>(h), 44) == 44;
        return file.seek(end) && ok;
    }

    std::mutex mutex;
    QFile file;                 // guarded by mutex
    AudioFormat fmt;            // guarded by mutex
    std::int64_t dataBytes = 0; // guarded by mutex
};

std::shared_ptr<WavFile> wavFileFor(const QString& path) {
    static std::mutex registryMutex;
    static std::map<QString, std::shared_ptr<WavFile>> files; // lives for the process
    std::lock_guard lock(registryMutex);
    auto& slot = files[path];
    if (!slot) {
        slot = std::make_shared<WavFile>(path);
    }
    return slot;
}

class WavAudioOutput : public ClockedAudioOutput {
public:
    explicit WavAudioOutput(QString p) : path(std::move(p)) {}

protected:
    bool openSink(const AudioFormat& format) override {
        target = wavFileFor(path);
        return target->attach(format, &error);
    }
    void heard(const char* data, std::int64_t length) override {
        if (target && !target->append(data, length) && !failed()) {
            fail(QStringLiteral("cannot write %1").arg(path));
        }
    }
    void closeSink() override { target.reset(); }

private:
    QString path;
    std::shared_ptr<WavFile> target;
};

} // namespace

std::unique_ptr<AudioOutput> createWavAudioOutput(const QString& path) {
    return std::make_unique<WavAudioOutput>(path);
}

} // namespace sondrel
