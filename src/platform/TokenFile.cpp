#include "platform/TokenFile.h"

#include <QFile>
#include <cerrno>
#include <unistd.h>

namespace sondrel {

namespace {

// A token is short: one line of at most this many bytes is all that is read.
constexpr qint64 kLongestLine = 64 * 1024;

// The first line of standard input, read byte by byte so that nothing after it is taken
// from a program that reads its commands from the same input.
QByteArray firstLineOfStandardInput() {
    QByteArray line;
    char c = 0;
    while (line.size() < kLongestLine) {
        const ssize_t n = ::read(STDIN_FILENO, &c, 1);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0 || c == '\n') {
            break;
        }
        line.append(c);
    }
    return line;
}

} // namespace

std::optional<QString> readTokenFile(const QString& path, QString* error) {
    QByteArray line;
    if (path == QLatin1String("-")) {
        line = firstLineOfStandardInput();
    } else {
        QFile file(path);
        if (!file.open(QIODevice::ReadOnly)) {
            *error =
                QStringLiteral("cannot read the token file %1: %2").arg(path, file.errorString());
            return std::nullopt;
        }
        line = file.readLine(kLongestLine);
    }
    const QString token = QString::fromUtf8(line).trimmed();
    if (token.isEmpty()) {
        *error = QStringLiteral("the token file %1 holds no token on its first line").arg(path);
        return std::nullopt;
    }
    return token;
}

} // namespace sondrel
