#include "platform/DurableFile.h"

#include <QFileInfo>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace sondrel {
namespace {

DurableWriteResult failure(const char* step, int err) {
    return {false, QStringLiteral("%1: %2").arg(QLatin1String(step),
                                                QString::fromLocal8Bit(std::strerror(err)))};
}

bool writeAll(int fd, const char* data, qsizetype size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<size_t>(size));
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

} // namespace

DurableWriteResult writeFileDurably(const QString& path, const QByteArray& contents,
                                    unsigned mode) {
    const QFileInfo info(path);
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    QByteArray tmpl = QFile::encodeName(info.absoluteFilePath()) + ".XXXXXX";

    const int fd = ::mkstemp(tmpl.data());
    if (fd < 0) {
        return failure("create temp file", errno);
    }
    auto abandon = [&](const char* step) {
        const int err = errno;
        ::close(fd);
        ::unlink(tmpl.constData());
        return failure(step, err);
    };
    if (::fchmod(fd, static_cast<mode_t>(mode)) != 0) {
        return abandon("chmod");
    }
    if (!writeAll(fd, contents.constData(), contents.size())) {
        return abandon("write");
    }
    if (::fsync(fd) != 0) {
        return abandon("fsync");
    }
    if (::close(fd) != 0) {
        const int err = errno;
        ::unlink(tmpl.constData());
        return failure("close", err);
    }
    if (::rename(tmpl.constData(), QFile::encodeName(info.absoluteFilePath()).constData()) != 0) {
        const int err = errno;
        ::unlink(tmpl.constData());
        return failure("rename", err);
    }
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY);
    if (dirFd < 0) {
        return failure("open folder", errno);
    }
    const bool synced = ::fsync(dirFd) == 0;
    const int err = errno;
    ::close(dirFd);
    if (!synced) {
        return failure("fsync folder", err);
    }
    return {true, {}};
}

} // namespace sondrel
