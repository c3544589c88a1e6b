#include "service/AuthAddresses.h"

#include "support/CommonHelper.h"
#include "support/HTMLParser.h"

#include <algorithm>

namespace sondrel {

AuthAddresses AuthAddresses::from(const ServiceConfig& config) {
    AuthAddresses a;
    a.redirectPage = config.apiOrigin + QStringLiteral("/blank.html");
    a.authorization =
        config.apiOrigin + QStringLiteral("/oauth/authorize?client_id=") + config.clientId +
        QStringLiteral("&redirect_uri=") + a.redirectPage +
        QStringLiteral("&scope=audio,friends,status&display=page&response_type=token");
    a.loginForm = config.loginOrigin + QStringLiteral("/?act=login&soft=1");
    a.feed = config.mainOrigin + QStringLiteral("/feed");
    for (const QString& origin : {config.apiOrigin, config.loginOrigin, config.mainOrigin}) {
        a.serviceOrigins.append(QUrl(origin));
    }
    return a;
}

bool AuthAddresses::isServiceOrigin(const QUrl& url) const {
    const QString scheme = url.scheme().toLower();
    const int port = url.port(scheme == QLatin1String("https") ? 443 : 80);
    return !url.host().isEmpty() &&
           std::any_of(serviceOrigins.begin(), serviceOrigins.end(), [&](const QUrl& origin) {
               return origin.scheme().toLower() == scheme &&
                      origin.host().compare(url.host(), Qt::CaseInsensitive) == 0 &&
                      origin.port(scheme == QLatin1String("https") ? 443 : 80) == port;
           });
}

QString addressText(const QUrl& url) {
    return url.toString(QUrl::FullyEncoded);
}

FinishedLoadTests testFinishedLoad(const QString& initialAddress, const AuthAddresses& addresses) {
    FinishedLoadTests tests;
    tests.logoutCompleted =
        CommonHelper::containsStringInString(QStringLiteral("act=logout"), initialAddress);
    tests.reload =
        CommonHelper::containsStringInString(addresses.authorization, initialAddress) ||
        CommonHelper::containsStringInString(addresses.loginForm, initialAddress) ||
        CommonHelper::containsStringInString(QStringLiteral("act=grant_access"), initialAddress);
    return tests;
}

bool AuthAddresses::signInViewMayShow(const QUrl& url) const {
    return isServiceOrigin(url) && mayCarryAccessToken(url);
}

TokenAddress readTokenAddress(const QString& address) {
    TokenAddress read;
    if (!CommonHelper::containsStringInString(QStringLiteral("access_token"), address)) {
        read.loadAuthPage = CommonHelper::containsStringInString(QStringLiteral("error"), address);
        return read;
    }
    const QString token = CommonHelper::getStringBetweenTwoSymbols(
        address, QStringLiteral("access_token="), QStringLiteral("&"));
    read.userId = address.split(QStringLiteral("&user_id=")).constLast();
    if (!token.isEmpty()) {
        read.token = token;
    }
    return read;
}

std::optional<QString> logoutLinkFromFeedPage(const QByteArray& body) {
    const std::optional<QString> text = CommonHelper::NSDataToUTF8String(body);
    if (!text || text->isEmpty()) {
        return std::nullopt;
    }
    const auto parser = HTMLParser::initWithString(*text);
    const std::optional<HTMLNode> doc = parser ? parser->doc() : std::nullopt;
    if (!doc) {
        return std::nullopt;
    }
    const std::optional<HTMLNode> link =
        doc->findChildWithAttribute(QStringLiteral("href"), QStringLiteral("logout_mobile"), true);
    const std::optional<QString> href =
        link ? link->getAttributeNamed(QStringLiteral("href")) : std::nullopt;
    if (!href) {
        return std::nullopt;
    }
    std::optional<QString> decoded = CommonHelper::urldecode(*href);
    if (!decoded || decoded->isEmpty()) {
        return std::nullopt;
    }
    return decoded;
}

} // namespace sondrel
