#include "ClientHelpers.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QJsonArray>
#include <QNetworkAccessManager>
#include <QNetworkCookieJar>
#include <QNetworkRequest>
#include <QRegularExpression>
#include <QThread>
#include <QTimer>
#include <cmath>
#include <memory>
#include <mpg123.h>

namespace standin_test {
namespace {

constexpr int kRequestLimitMs = 60000;

QNetworkAccessManager& manager() {
    static QNetworkAccessManager* m = new QNetworkAccessManager(QCoreApplication::instance());
    return *m;
}

} // namespace

void clearCookies() {
    manager().setCookieJar(new QNetworkCookieJar);
}

QStringList hrefs(const QByteArray& html) {
    QStringList out;
    static const QRegularExpression href(QStringLiteral("href=\"([^\"]*)\""));
    for (auto it = href.globalMatch(QString::fromUtf8(html)); it.hasNext();) {
        out << it.next().captured(1).replace(QStringLiteral("&amp;"), QStringLiteral("&"));
    }
    return out;
}

namespace {

QNetworkRequest makeRequest(const QUrl& url, const Headers& headers, bool followRedirects) {
    QNetworkRequest request(url);
    request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                         followRedirects ? QNetworkRequest::NoLessSafeRedirectPolicy
                                         : QNetworkRequest::ManualRedirectPolicy);
    // Every test looks at the bytes the service sent, not at a cached copy.
    request.setAttribute(QNetworkRequest::CacheLoadControlAttribute,
                         QNetworkRequest::AlwaysNetwork);
    for (const auto& [name, value] : headers) {
        request.setRawHeader(name, value);
    }
    return request;
}

} // namespace

QByteArray Reply::header(const QByteArray& name) const {
    for (const auto& [key, value] : headers) {
        if (key.compare(name, Qt::CaseInsensitive) == 0) {
            return value;
        }
    }
    return {};
}

bool Reply::hasHeader(const QByteArray& name) const {
    for (const auto& pair : headers) {
        if (pair.first.compare(name, Qt::CaseInsensitive) == 0) {
            return true;
        }
    }
    return false;
}

Reply fetch(const QUrl& url, const Headers& headers, const QByteArray& verb, const QByteArray& body,
            bool followRedirects) {
    std::unique_ptr<QNetworkReply> reply(
        manager().sendCustomRequest(makeRequest(url, headers, followRedirects), verb, body));
    QEventLoop loop;
    QObject::connect(reply.get(), &QNetworkReply::finished, &loop, &QEventLoop::quit);
    QTimer::singleShot(kRequestLimitMs, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) {
        loop.exec();
    }
    Reply result;
    if (!reply->isFinished()) {
        reply->abort();
        result.error = QNetworkReply::TimeoutError;
        result.errorText = QStringLiteral("no answer within the test's limit");
        return result;
    }
    result.status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    result.error = reply->error();
    result.errorText = reply->errorString();
    result.body = reply->readAll();
    result.headers = reply->rawHeaderPairs();
    return result;
}

Download::Download(const QUrl& url) : reply(manager().get(makeRequest(url, {}, false))) {}

Download::~Download() {
    reply->abort();
}

void Download::collect() {
    data += reply->readAll();
}

bool Download::waitForBytes(qint64 bytes, int ms) {
    QDeadlineTimer deadline(ms);
    collect();
    while (data.size() < bytes && !reply->isFinished() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        collect();
    }
    collect();
    return data.size() >= bytes;
}

void Download::runFor(int ms) {
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    collect();
}

bool Download::waitForFinished(int ms) {
    QDeadlineTimer deadline(ms);
    while (!reply->isFinished() && !deadline.hasExpired()) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        collect();
    }
    collect();
    return reply->isFinished();
}

bool Download::isFinished() const {
    return reply->isFinished();
}

QNetworkReply::NetworkError Download::error() const {
    return reply->error();
}

Decoded decodeMp3(const QByteArray& data) {
    Decoded d;
    static const bool initialised = mpg123_init() == MPG123_OK;
    if (!initialised) {
        d.error = QStringLiteral("mpg123_init failed");
        return d;
    }
    int err = MPG123_OK;
    std::unique_ptr<mpg123_handle, decltype(&mpg123_delete)> h(mpg123_new(nullptr, &err),
                                                               &mpg123_delete);
    if (!h || mpg123_param(h.get(), MPG123_ADD_FLAGS, MPG123_QUIET, 0) != MPG123_OK ||
        mpg123_open_feed(h.get()) != MPG123_OK) {
        d.error = QStringLiteral("cannot open the decoder");
        return d;
    }
    if (mpg123_feed(h.get(), reinterpret_cast<const unsigned char*>(data.constData()),
                    static_cast<size_t>(data.size())) != MPG123_OK) {
        d.error = QStringLiteral("cannot feed the decoder");
        return d;
    }
    std::vector<short> left;
    std::vector<unsigned char> out(1 << 16);
    int encoding = 0;
    for (;;) {
        size_t done = 0;
        const int rc = mpg123_read(h.get(), out.data(), out.size(), &done);
        if (rc == MPG123_NEW_FORMAT) {
            mpg123_getformat(h.get(), &d.rate, &d.channels, &encoding);
            continue;
        }
        if (d.channels > 0 && done > 0) {
            const auto* samples = reinterpret_cast<const short*>(out.data());
            const size_t count = done / sizeof(short);
            for (size_t i = 0; i < count; i += static_cast<size_t>(d.channels)) {
                left.push_back(samples[i]);
            }
        }
        if (rc == MPG123_NEED_MORE || rc == MPG123_DONE) {
            break;
        }
        if (rc != MPG123_OK) {
            d.error = QString::fromUtf8(mpg123_strerror(h.get()));
            return d;
        }
    }
    d.frames = static_cast<qint64>(left.size());
    if (d.frames == 0 || d.rate == 0) {
        d.error = QStringLiteral("no audio decoded");
        return d;
    }
    // Rising zero crossings over the middle half, away from the fades.
    const size_t from = left.size() / 4;
    const size_t to = 3 * left.size() / 4;
    int crossings = 0;
    for (size_t i = from + 1; i < to; ++i) {
        if (left[i - 1] < 0 && left[i] >= 0) {
            ++crossings;
        }
    }
    d.toneHz = crossings * static_cast<double>(d.rate) / static_cast<double>(to - from);
    d.ok = true;
    return d;
}

QByteArray songFileBytes(const sondrel::test::StandInService& service, int index) {
    const QJsonArray songs = service.library();
    if (index < 0 || index >= songs.size()) {
        return {};
    }
    QFile file(songs.at(index).toObject().value(QStringLiteral("path")).toString());
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool waitFor(const std::function<bool()>& condition, int ms) {
    QDeadlineTimer deadline(ms);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        QThread::msleep(50);
    }
    return true;
}

QJsonObject callApi(const sondrel::test::StandInService& service, const QString& method,
                    const QString& query) {
    return fetch(QUrl(service.apiOrigin() + QStringLiteral("/method/") + method + QLatin1Char('?') +
                      query))
        .json();
}

} // namespace standin_test
