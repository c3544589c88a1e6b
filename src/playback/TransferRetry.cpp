#include "playback/TransferRetry.h"

#include <QNetworkReply>
#include <QNetworkRequest>
#include <algorithm>

namespace sondrel {
namespace {

// "bytes A-B/T": A and T (T = -1 for "*").
bool parseContentRange(const QByteArray& header, std::int64_t* start, std::int64_t* total) {
    const QByteArray text = header.trimmed();
    if (!text.startsWith("bytes ")) {
        return false;
    }
    const qsizetype dash = text.indexOf('-');
    const qsizetype slash = text.indexOf('/');
    if (dash < 0 || slash < dash) {
        return false;
    }
    bool ok = false;
    *start = text.mid(6, dash - 6).toLongLong(&ok);
    if (!ok) {
        return false;
    }
    const QByteArray t = text.mid(slash + 1);
    *total = t == "*" ? -1 : t.toLongLong(&ok);
    return t == "*" || ok;
}

} // namespace

void TransferRetry::begin() {
    first = {};
    failures = 0;
}

TransferRetry::Validators TransferRetry::validatorsOf(const QNetworkReply& reply) {
    Validators v;
    v.etag = reply.rawHeader("ETag");
    v.lastModified = reply.rawHeader("Last-Modified");
    std::int64_t start = 0;
    if (reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt() == 206) {
        parseContentRange(reply.rawHeader("Content-Range"), &start, &v.total);
    } else if (const QVariant length = reply.header(QNetworkRequest::ContentLengthHeader);
               length.isValid()) {
        v.total = length.toLongLong();
    }
    return v;
}

void TransferRetry::rememberFirstAnswer(const QNetworkReply& reply) {
    first = validatorsOf(reply);
}

void TransferRetry::prepareResume(QNetworkRequest& request, std::int64_t held) const {
    if (held <= 0) {
        return;
    }
    request.setRawHeader("Range", "bytes=" + QByteArray::number(held) + "-");
    // A weak ETag may not be used with If-Range; Last-Modified serves then.
    if (!first.etag.isEmpty() && !first.etag.startsWith("W/")) {
        request.setRawHeader("If-Range", first.etag);
    } else if (!first.lastModified.isEmpty()) {
        request.setRawHeader("If-Range", first.lastModified);
    }
}

TransferRetry::Answer TransferRetry::classify(const QNetworkReply& reply, std::int64_t held) const {
    const int status = reply.attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const Validators now = validatorsOf(reply);
    auto differs = [](const QByteArray& a, const QByteArray& b) {
        return !a.isEmpty() && !b.isEmpty() && a != b;
    };
    const bool sameFile = !differs(first.etag, now.etag) &&
                          !differs(first.lastModified, now.lastModified) &&
                          (first.total < 0 || now.total < 0 || first.total == now.total);
    if (status == 206) {
        std::int64_t start = -1;
        std::int64_t total = -1;
        const bool parsed = parseContentRange(reply.rawHeader("Content-Range"), &start, &total);
        return parsed && start == held && sameFile ? Answer::Append : Answer::Fail;
    }
    if (status == 200) {
        return sameFile ? Answer::SkipHeld : Answer::StartOver;
    }
    return Answer::Fail;
}

int TransferRetry::pauseAfterFailure() {
    if (failures == 0) {
        series.start();
    }
    const int pause =
        std::min(schedule.firstPauseMs << std::min(failures, 20), schedule.longestPauseMs);
    ++failures;
    if (series.elapsed() + pause > schedule.giveUpAfterMs) {
        return -1;
    }
    return pause;
}

} // namespace sondrel
