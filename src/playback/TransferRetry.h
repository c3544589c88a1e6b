#pragma once
// Resuming a song transfer that broke off. The downloader keeps the bytes it has and
// asks again from the byte reached ("Range: bytes=N-", with "If-Range" carrying the
// first answer's ETag or Last-Modified), a few times with growing pauses (0.5 s, 1 s,
// 2 s ... 8 s), giving up when a series of failures has lasted kGiveUpAfterMs. Bytes
// arriving end a series: a later failure starts with the short pause again.
//
// The answer to a resumed request is read according to what it says:
//   206 from the byte asked, same file       append to the bytes held
//   200, same file (server ignores ranges)   read from the start, the held bytes skipped
//   200 for another file (other validator    the song's bytes start over with this body
//       or length: If-Range did its job)
//   206 that does not fit, or any other      counts as a failed try
//
// Main thread only (owned by the song downloader).

#include <QByteArray>
#include <QElapsedTimer>
#include <cstdint>

class QNetworkReply;
class QNetworkRequest;

namespace sondrel {

class TransferRetry {
public:
    // What identifies one version of the file.
    struct Validators {
        QByteArray etag;
        QByteArray lastModified;
        std::int64_t total = -1; // the whole file's length, -1 when not stated
    };
    enum class Answer { Append, SkipHeld, StartOver, Fail };

    struct Schedule {
        int firstPauseMs = 500;
        int longestPauseMs = 8000;
        int giveUpAfterMs = 30000;
    };

    // A new song: no validators, no failures.
    void begin();
    void setSchedule(const Schedule& s) { schedule = s; }

    // The first answer of the song tells which file the later requests must match.
    void rememberFirstAnswer(const QNetworkReply& reply);
    // Range and If-Range for a request that goes on after `held` bytes.
    void prepareResume(QNetworkRequest& request, std::int64_t held) const;
    // How to use the answer (status and headers known) to a resumed request.
    Answer classify(const QNetworkReply& reply, std::int64_t held) const;

    // A try failed: the pause before the next, or -1 when it is time to give up.
    int pauseAfterFailure();
    // Bytes arrived: the failure series (if any) is over.
    void madeProgress() { failures = 0; }
    int failureCount() const { return failures; }

    // The validators and whole length an answer states (Content-Range total for a 206).
    static Validators validatorsOf(const QNetworkReply& reply);

private:
    Schedule schedule;
    Validators first;
    int failures = 0;
    QElapsedTimer series; // since the first failure of the current series
};

} // namespace sondrel
