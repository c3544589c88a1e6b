#pragma once
// What the stand-in tests need on the client side: one HTTP(S) request through Qt's
// network manager (TLS verified against the trusted service certificate), and a real
// MP3 decode of what arrived.

#include "common/StandInService.h"

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QList>
#include <QNetworkReply>
#include <QPair>
#include <QString>
#include <QUrl>
#include <functional>
#include <memory>

namespace standin_test {

struct Reply {
    int status = 0;
    QNetworkReply::NetworkError error = QNetworkReply::NoError;
    QString errorText;
    QByteArray body;
    QList<QPair<QByteArray, QByteArray>> headers;

    QByteArray header(const QByteArray& name) const;
    bool hasHeader(const QByteArray& name) const;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
};

using Headers = QList<QPair<QByteArray, QByteArray>>;

// Sends a request and waits (up to a generous limit) for it to finish. Redirects are not
// followed unless `followRedirects`.
Reply fetch(const QUrl& url, const Headers& headers = {}, const QByteArray& verb = "GET",
            const QByteArray& body = {}, bool followRedirects = false);
inline Reply fetch(const QString& url, const Headers& headers = {}) {
    return fetch(QUrl(url), headers);
}

// Gives the shared network manager an empty cookie jar.
void clearCookies();

// The href values of a page's links, with "&amp;" turned back into "&".
QStringList hrefs(const QByteArray& html);

// A GET in progress, for watching a transfer as it goes. Aborted when destroyed.
class Download {
public:
    explicit Download(const QUrl& url);
    ~Download();
    // Runs the event loop until at least `bytes` arrived or the reply ended (true when
    // the bytes are there).
    bool waitForBytes(qint64 bytes, int ms = 60000);
    // Runs the event loop for `ms` (nothing else to wait for).
    void runFor(int ms);
    bool waitForFinished(int ms = 60000);
    bool isFinished() const;
    QNetworkReply::NetworkError error() const;
    const QByteArray& received() const { return data; }

private:
    void collect();
    std::unique_ptr<QNetworkReply> reply;
    QByteArray data;
};

struct Decoded {
    bool ok = false;
    long rate = 0;
    int channels = 0;
    qint64 frames = 0; // samples per channel
    double toneHz = 0; // from zero crossings of the left channel
    QString error;
};
Decoded decodeMp3(const QByteArray& data);

// The bytes of a song file as the service has it on disk (via /control/library).
QByteArray songFileBytes(const sondrel::test::StandInService& service, int index);

// Polls `condition` every 50 ms for up to `ms`.
bool waitFor(const std::function<bool()>& condition, int ms = 30000);

// API call on the HTTPS origin: /method/<method>?<query>.
QJsonObject callApi(const sondrel::test::StandInService& service, const QString& method,
                    const QString& query);

} // namespace standin_test
