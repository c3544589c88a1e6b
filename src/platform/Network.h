#pragma once
// Network plumbing shared by every request of the player:
//  - one cookie jar for every request, on every thread (the sign-in web view's cookies
//    are mirrored into it, so background fetches carry the sign-in session);
//  - network managers wired to that jar;
//  - blocking requests for background jobs: a manager of the calling thread plus a
//    local event loop, with an inactivity time-out.

#include <QByteArray>
#include <QNetworkCookieJar>
#include <QNetworkRequest>
#include <QString>
#include <QUrl>
#include <chrono>
#include <mutex>

class QNetworkAccessManager;
class QObject;

namespace sondrel {

enum class CookieAcceptPolicy { Always, Never };

// Thread-safe cookie jar: managers on several threads share it.
class SharedCookieJar : public QNetworkCookieJar {
    Q_OBJECT
public:
    using QNetworkCookieJar::QNetworkCookieJar;

    // What network managers call, from any thread.
    QList<QNetworkCookie> cookiesForUrl(const QUrl& url) const override;
    bool setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) override;

    // Mirroring from the web view. (The base class's insertCookie/deleteCookie are not
    // overridden: setCookiesFromUrl calls them while the lock is held.)
    void addCookie(const QNetworkCookie& cookie);
    void removeCookie(const QNetworkCookie& cookie);

    QList<QNetworkCookie> cookies() const;
    void clear();
    void setAcceptPolicy(CookieAcceptPolicy policy);
    CookieAcceptPolicy acceptPolicy() const;

private:
    mutable std::mutex mutex;
    CookieAcceptPolicy policy = CookieAcceptPolicy::Always; // guarded by mutex
};

// The process-wide jar (created on first use, never destroyed).
SharedCookieJar& sharedCookieJar();

// A manager owned by `parent` (or by the caller when null) that uses the shared jar and
// follows redirects within the same security level or to a more secure one.
QNetworkAccessManager* newNetworkAccessManager(QObject* parent = nullptr);

// Asks for a song's or a stream's bytes exactly as stored ("Accept-Encoding: identity"),
// which the manager then hands on undecoded. Media is addressed by byte position (resumed
// and seeking requests ask for ranges of the stored file), and compressing MP3 gains
// nothing. It also keeps a redirect's answer out of the bytes: the manager sometimes
// carries the redirect's own headers over to the answer it leads to (seen in about 2 of
// 100 redirects on this machine), and a "Content-Encoding: br" of the redirect's little
// page then had the song decoded as Brotli, which made it noise.
void askForStoredBytes(QNetworkRequest& request);

inline constexpr std::chrono::milliseconds kRequestTimeout{10000};

// Why a transfer did not complete, as far as the user needs to know.
enum class HttpFailure {
    None,
    Unreachable,  // no connection: refused, host unknown, time-out, dropped
    Untrusted,    // the server's certificate is not trusted (TLS handshake failed)
    TokenRefused, // not sent: the address carries an access token over plain HTTP
    Other,
};

struct HttpResult {
    bool ok = false;    // the transfer completed (any HTTP status)
    int httpStatus = 0; // 0 when no HTTP answer arrived
    QByteArray body;    // what arrived, also on failure
    QString error;      // the network error text when !ok
    HttpFailure failure = HttpFailure::None;
};

// Sends one request and waits for the whole answer on the calling thread (which must
// not be the main thread while the main loop is expected to stay responsive). The
// time-out counts inactivity: it fires when no bytes move for `timeout`.
//
// An address that carries an access token is sent only where mayCarryAccessToken()
// (platform/ServiceConfig.h) allows: HTTPS, or plain HTTP to this machine. Anything else
// is refused unsent (TokenRefused), with a log line.
HttpResult blockingRequest(const QNetworkRequest& request, const QByteArray& verb = "GET",
                           const QByteArray& body = {},
                           std::chrono::milliseconds timeout = kRequestTimeout);
HttpResult blockingGet(const QUrl& url, std::chrono::milliseconds timeout = kRequestTimeout);

} // namespace sondrel
