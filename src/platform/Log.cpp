#include "platform/Log.h"

#include <cstdio>
#include <mutex>

namespace sondrel {
namespace {

std::mutex logMutex;
QStringList* captured = nullptr; // guarded by logMutex

} // namespace

void logLine(const QString& text) {
    const QByteArray bytes = text.toUtf8();
    std::lock_guard lock(logMutex);
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
    if (captured) {
        captured->append(text);
    }
}

LogCapture::LogCapture() {
    std::lock_guard lock(logMutex);
    captured = new QStringList;
}

LogCapture::~LogCapture() {
    std::lock_guard lock(logMutex);
    delete captured;
    captured = nullptr;
}

QStringList LogCapture::lines() const {
    std::lock_guard lock(logMutex);
    return *captured;
}

int LogCapture::count(const QString& line) const {
    std::lock_guard lock(logMutex);
    return static_cast<int>(captured->count(line));
}

void LogCapture::clear() {
    std::lock_guard lock(logMutex);
    captured->clear();
}

} // namespace sondrel
