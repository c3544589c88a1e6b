#pragma once
// The one logging helper: every log line of the player goes through logLine(), which
// writes it to stderr. Lines are the player's fixed texts; there are no levels.
// Thread-safe: any thread may log.

#include <QString>
#include <QStringList>

namespace sondrel {

// Writes `text` as one line. An access token never reaches the log: every value after
// "access_token=" is written as "<hidden>" (see hideAccessTokens).
void logLine(const QString& text);

// `text` with the value after every "access_token=" (also percent-encoded as
// "access_token%3D") replaced by "<hidden>", up to the next "&", "#", quote, space or
// bracket. For log lines and for error texts that may quote a request address.
QString hideAccessTokens(const QString& text);

// Collects every line logged while it exists (in addition to stderr), so tests can
// check which lines were written. Only one capture may be active at a time.
class LogCapture {
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    QStringList lines() const;
    int count(const QString& line) const;
    bool contains(const QString& line) const { return count(line) > 0; }
    void clear();
};

} // namespace sondrel
