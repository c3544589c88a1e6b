#pragma once
// Small pieces shared by the fuzz bodies.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace sondrel::fuzz {

// A broken invariant is a crash, so libFuzzer keeps the input.
inline void require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

// The input as bytes (copied: parsers may keep what they are given).
inline QByteArray inputBytes(const std::uint8_t* data, std::size_t size) {
    return size == 0
               ? QByteArray()
               : QByteArray(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
}

// Takes control values off the front of an input; past its end every value is 0.
class InputReader {
public:
    explicit InputReader(QByteArray bytes) : input(std::move(bytes)) {}
    std::uint8_t byte() { return at < input.size() ? std::uint8_t(input[at++]) : 0; }
    std::uint16_t word() {
        const std::uint8_t low = byte();
        return std::uint16_t(low | (byte() << 8));
    }
    // Everything not taken yet.
    QByteArray rest() const { return input.mid(at); }

private:
    QByteArray input;
    qsizetype at = 0;
};

using FuzzBody = int (*)(const std::uint8_t*, std::size_t);

// The smoke pass of the regular test run: feeds `body` every seed of
// fuzz/<folder>/corpus (under $SONDREL_SOURCE_DIR), whole and cut at growing lengths as
// libFuzzer's first mutations would, and the empty input. Returns the number of inputs.
inline int runSeedCorpus(const char* folder, FuzzBody body) {
    const QDir dir(qEnvironmentVariable("SONDREL_SOURCE_DIR") + QLatin1String("/fuzz/") +
                   QLatin1String(folder) + QLatin1String("/corpus"));
    int runs = 1;
    body(nullptr, 0);
    for (const QString& name : dir.entryList(QDir::Files, QDir::Name)) {
        QFile file(dir.filePath(name));
        require(file.open(QIODevice::ReadOnly));
        const QByteArray bytes = file.readAll();
        const auto* data = reinterpret_cast<const std::uint8_t*>(bytes.constData());
        for (qsizetype length = 1; length < bytes.size(); length += 1 + length / 4) {
            body(data, static_cast<std::size_t>(length));
            ++runs;
        }
        body(data, static_cast<std::size_t>(bytes.size()));
        ++runs;
    }
    return runs;
}

} // namespace sondrel::fuzz
