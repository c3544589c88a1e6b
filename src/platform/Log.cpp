#include "platform/Log.h"

#include <cstdio>
#include <mutex>

namespace sondrel {
namespace {

std::mutex logMutex;
QStringList* captured = nullptr; // guarded by logMutex

bool endsTokenValue(QChar c) {
    return c == u'&' || c == u'#' || c == u'"' || c == u'\'' || c == u'<' || c == u'>' ||
           c == u'(' || c == u')' || c == u'[' || c == u']' || c.isSpace();
}

} // namespace

QString hideAccessTokens(const QString& text) {
    struct Mark {
        QString text;
        bool encoded; // in an encoded address the value ends at the next escape ("%26")
    };
    static const Mark kMarks[] = {{QStringLiteral("access_token="), false},
                                  {QStringLiteral("access_token%3D"), true}};
    static const QString kHidden = QStringLiteral("<hidden>");
    QString result = text;
    for (const Mark& mark : kMarks) {
        qsizetype from = 0;
        while ((from = result.indexOf(mark.text, from, Qt::CaseInsensitive)) >= 0) {
            const qsizetype start = from + mark.text.size();
            qsizetype end = start;
            while (end < result.size() && !endsTokenValue(result.at(end)) &&
                   !(mark.encoded && result.at(end) == u'%')) {
                ++end;
            }
            if (end > start) {
                result.replace(start, end - start, kHidden);
            }
            from = start + (end > start ? kHidden.size() : 0);
        }
    }
    return result;
}

void logLine(const QString& rawText) {
    const QString text = hideAccessTokens(rawText);
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
