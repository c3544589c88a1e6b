#include "platform/Network.h"

#include "platform/Log.h"
#include "platform/ServiceConfig.h"

#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkCookie>
#include <QNetworkReply>
#include <memory>

namespace sondrel {
namespace {

HttpFailure failureOf(QNetworkReply::NetworkError error) {
    switch (error) {
    case QNetworkReply::NoError:
        return HttpFailure::None;
    case QNetworkReply::ConnectionRefusedError:
    case QNetworkReply::RemoteHostClosedError:
    case QNetworkReply::HostNotFoundError:
    case QNetworkReply::TimeoutError:
    case QNetworkReply::OperationCanceledError: // the inactivity time-out cancels
    case QNetworkReply::TemporaryNetworkFailureError:
    case QNetworkReply::NetworkSessionFailedError:
    case QNetworkReply::UnknownNetworkError:
    case QNetworkReply::ProxyConnectionRefusedError:
    case QNetworkReply::ProxyNotFoundError:
    case QNetworkReply::ProxyTimeoutError:
        return HttpFailure::Unreachable;
    case QNetworkReply::SslHandshakeFailedError:
        return HttpFailure::Untrusted;
    default:
        return HttpFailure::Other;
    }
}

} // namespace

QList<QNetworkCookie> SharedCookieJar::cookiesForUrl(const QUrl& url) const {
    std::lock_guard lock(mutex);
    return QNetworkCookieJar::cookiesForUrl(url);
}

bool SharedCookieJar::setCookiesFromUrl(const QList<QNetworkCookie>& cookies, const QUrl& url) {
    std::lock_guard lock(mutex);
    if (policy == CookieAcceptPolicy::Never) {
        return false;
    }
    return QNetworkCookieJar::setCookiesFromUrl(cookies, url);
}

void SharedCookieJar::addCookie(const QNetworkCookie& cookie) {
    std::lock_guard lock(mutex);
    if (!QNetworkCookieJar::updateCookie(cookie)) {
        QNetworkCookieJar::insertCookie(cookie);
    }
}

void SharedCookieJar::removeCookie(const QNetworkCookie& cookie) {
    std::lock_guard lock(mutex);
    QNetworkCookieJar::deleteCookie(cookie);
}

QList<QNetworkCookie> SharedCookieJar::cookies() const {
    std::lock_guard lock(mutex);
    return allCookies();
}

void SharedCookieJar::clear() {
    std::lock_guard lock(mutex);
    setAllCookies({});
}

void SharedCookieJar::setAcceptPolicy(CookieAcceptPolicy newPolicy) {
    std::lock_guard lock(mutex);
    policy = newPolicy;
}

CookieAcceptPolicy SharedCookieJar::acceptPolicy() const {
    std::lock_guard lock(mutex);
    return policy;
}

SharedCookieJar& sharedCookieJar() {
    static SharedCookieJar* jar = new SharedCookieJar;
    return *jar;
}

QNetworkAccessManager* newNetworkAccessManager(QObject* parent) {
    auto* manager = new QNetworkAccessManager(parent);
    SharedCookieJar& jar = sharedCookieJar();
    manager->setCookieJar(&jar);
    // The manager adopts a jar of its own thread; the shared jar belongs to nobody.
    if (jar.parent() == manager) {
        jar.setParent(nullptr);
    }
    manager->setRedirectPolicy(QNetworkRequest::NoLessSafeRedirectPolicy);
    return manager;
}

void askForStoredBytes(QNetworkRequest& request) {
    request.setRawHeader("Accept-Encoding", "identity");
}

HttpResult blockingRequest(const QNetworkRequest& request, const QByteArray& verb,
                           const QByteArray& body, std::chrono::milliseconds timeout) {
    const QUrl& url = request.url();
    if (url.toString(QUrl::FullyEncoded)
            .contains(QLatin1String("access_token"), Qt::CaseInsensitive) &&
        !mayCarryAccessToken(url)) {
        HttpResult refused;
        refused.failure = HttpFailure::TokenRefused;
        refused.error = QStringLiteral("the access token is sent only over HTTPS, not to %1")
                            .arg(url.toString(QUrl::RemoveQuery | QUrl::RemoveFragment));
        logLine(QStringLiteral("Request refused: %1").arg(refused.error));
        return refused;
    }
    // One manager per thread, kept for the thread's life: connections are reused.
    thread_local std::unique_ptr<QNetworkAccessManager> manager{newNetworkAccessManager()};

    QNetworkRequest timed(request);
    timed.setTransferTimeout(static_cast<int>(timeout.count()));
    QNetworkReply* reply = manager->sendCustomRequest(timed, verb, body);
    QEventLoop loop;
    QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
    if (!reply->isFinished()) {
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    }

    HttpResult result;
    result.body = reply->readAll();
    result.httpStatus = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    const QNetworkReply::NetworkError error = reply->error();
    // An HTTP error status is still a completed transfer: callers look at the status.
    result.ok = error == QNetworkReply::NoError ||
                (result.httpStatus != 0 && error >= QNetworkReply::ContentAccessDenied);
    if (!result.ok) {
        // Qt's error texts may quote the address, and with it the access token.
        result.error = hideAccessTokens(reply->errorString());
        result.failure = failureOf(error);
    }
    delete reply;
    return result;
}

HttpResult blockingGet(const QUrl& url, std::chrono::milliseconds timeout) {
    return blockingRequest(QNetworkRequest(url), "GET", {}, timeout);
}

} // namespace sondrel
