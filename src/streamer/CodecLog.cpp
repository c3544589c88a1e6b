#include "streamer/CodecLog.h"

#include "platform/Log.h"

#include <cstdarg>
#include <mutex>

extern "C" {
#include <libavutil/log.h>
}

namespace sondrel {
namespace {

void toPlayerLog(void* context, int level, const char* format, va_list arguments) {
    if (level > AV_LOG_WARNING) {
        return;
    }
    char line[1024];
    int printPrefix = 1;
    va_list copy;
    va_copy(copy, arguments);
    av_log_format_line2(context, level, format, copy, line, sizeof line, &printPrefix);
    va_end(copy);
    const QString text = QString::fromUtf8(line).trimmed();
    if (!text.isEmpty()) {
        logLine(QStringLiteral("FFmpeg: ") + text);
    }
}

} // namespace

void routeCodecLogToPlayerLog() {
    static std::once_flag once;
    std::call_once(once, [] { av_log_set_callback(toPlayerLog); });
}

} // namespace sondrel
