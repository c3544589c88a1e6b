#include "service/AuthAddresses.h"

#include <QUrl>
#include <gtest/gtest.h>

namespace {

using sondrel::AuthAddresses;

sondrel::ServiceConfig config() {
    sondrel::ServiceConfig c;
    c.apiOrigin = QStringLiteral("https://127.0.0.1:47443");
    c.apiHttpOrigin = QStringLiteral("http://127.0.0.1:47080");
    c.loginOrigin = QStringLiteral("https://127.0.0.1:47443");
    c.mainOrigin = QStringLiteral("https://127.0.0.1:47444");
    c.clientId = QStringLiteral("4242");
    return c;
}

const QString kAuthorization = QStringLiteral(
    "https://127.0.0.1:47443/oauth/authorize?client_id=4242&redirect_uri=https://127.0.0.1:47443/"
    "blank.html&scope=audio,friends,status&display=page&response_type=token");

TEST(AuthAddresses, FixedAddressesFromTheConfiguration) {
    const AuthAddresses a = AuthAddresses::from(config());
    EXPECT_EQ(a.authorization, kAuthorization);
    EXPECT_EQ(a.redirectPage, QStringLiteral("https://127.0.0.1:47443/blank.html"));
    EXPECT_EQ(a.loginForm, QStringLiteral("https://127.0.0.1:47443/?act=login&soft=1"));
    EXPECT_EQ(a.feed, QStringLiteral("https://127.0.0.1:47444/feed"));
}

TEST(AuthAddresses, OnlyTheServiceOriginsStayInTheSignInView) {
    const AuthAddresses a = AuthAddresses::from(config());
    const struct {
        const char* address;
        bool service;
    } rows[] = {
        {"https://127.0.0.1:47443/oauth/login?x=1", true},
        {"https://127.0.0.1:47444/feed", true},
        {"HTTPS://127.0.0.1:47443/", true},
        {"http://127.0.0.1:47080/blank.html", false}, // the plain HTTP listener
        {"http://127.0.0.1:47443/", false},           // same port, other scheme
        {"https://127.0.0.1:47445/", false},
        {"https://127.0.0.1/", false}, // default port 443
        {"https://example.org/", false},
        {"https://127.0.0.1.example.org:47443/", false},
        {"file:///etc/passwd", false},
        {"about:blank", false},
        {"", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.address);
        EXPECT_EQ(a.isServiceOrigin(QUrl(QString::fromLatin1(row.address))), row.service);
        EXPECT_EQ(a.signInViewMayShow(QUrl(QString::fromLatin1(row.address))), row.service);
    }
    // A service configured over plain HTTP: on this machine its pages may show, elsewhere
    // a middleman could rewrite them, so they never do.
    sondrel::ServiceConfig plain = config();
    plain.apiOrigin = QStringLiteral("http://127.0.0.1:47080");
    plain.loginOrigin = QStringLiteral("http://service.example");
    const AuthAddresses p = AuthAddresses::from(plain);
    EXPECT_TRUE(p.signInViewMayShow(QUrl(QStringLiteral("http://127.0.0.1:47080/blank.html"))));
    EXPECT_TRUE(p.isServiceOrigin(QUrl(QStringLiteral("http://service.example/?act=login"))));
    EXPECT_FALSE(p.signInViewMayShow(QUrl(QStringLiteral("http://service.example/?act=login"))));
}

TEST(AuthAddresses, AddressesKeepTheirTextThroughAUrl) {
    // The web view reports addresses as URLs; the finished-load tests search their text
    // for the whole authorization and login form addresses, so the round trip must not
    // encode the unencoded redirect address, the commas or the query.
    const AuthAddresses a = AuthAddresses::from(config());
    for (const QString& address : {a.authorization, a.loginForm, a.feed, a.redirectPage}) {
        SCOPED_TRACE(address.toStdString());
        EXPECT_EQ(sondrel::addressText(QUrl(address)), address);
    }
    const QString redirect = a.redirectPage + QStringLiteral("#access_token=ab%2Fc&user_id=7");
    EXPECT_EQ(sondrel::addressText(QUrl(redirect)), redirect) << "fragment and escapes kept";
}

TEST(AuthAddresses, FinishedLoadTests) {
    const AuthAddresses a = AuthAddresses::from(config());
    struct Row {
        const char* what;
        QString address;
        bool logout;
        bool reload;
    };
    const Row rows[] = {
        {"authorization address", a.authorization, false, true},
        {"authorization address with more after it", a.authorization + QStringLiteral("&x=1"),
         false, true},
        {"authorization address of another client",
         QString(a.authorization).replace(QStringLiteral("4242"), QStringLiteral("4243")), false,
         false},
        {"authorization address cut short", a.authorization.chopped(1), false, false},
        {"login form address (submitted form)", a.loginForm, false, true},
        {"login form page itself",
         QStringLiteral("https://127.0.0.1:47443/oauth/login?client_id=4242"), false, false},
        {"grant", QStringLiteral("https://127.0.0.1:47443/?act=grant_access&hash=1"), false, true},
        {"refused grant",
         QStringLiteral("https://127.0.0.1:47443/?act=grant_access&cancel=1&hash=1"), false, true},
        {"grant page", QStringLiteral("https://127.0.0.1:47443/oauth/grant?client_id=4242"), false,
         false},
        {"logout link", QStringLiteral("https://127.0.0.1:47443/?act=logout_mobile&hash=9"), true,
         false},
        {"logout with a token too", QStringLiteral("http://h/?act=logout#access_token=t&user_id=1"),
         true, false},
        {"redirect page with token", a.redirectPage + QStringLiteral("#access_token=t&user_id=1"),
         false, false},
        {"feed page", a.feed, false, false},
        {"empty", QString(), false, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const sondrel::FinishedLoadTests t = sondrel::testFinishedLoad(row.address, a);
        EXPECT_EQ(t.logoutCompleted, row.logout);
        EXPECT_EQ(t.reload, row.reload);
    }
}

TEST(AuthAddresses, TokenReading) {
    struct Row {
        const char* what;
        QString address;
        bool loadAuthPage;
        std::optional<QString> userId;
        std::optional<QString> token;
    };
    const QString blank = QStringLiteral("https://127.0.0.1:47443/blank.html");
    const Row rows[] = {
        {"redirect with token and id",
         blank + QStringLiteral("#access_token=abc123&expires_in=86400&user_id=77"), false,
         QStringLiteral("77"), QStringLiteral("abc123")},
        {"token not followed by &: up to the end", blank + QStringLiteral("#access_token=abc123"),
         false, blank + QStringLiteral("#access_token=abc123"), QStringLiteral("abc123")},
        {"no \"=\" after access_token: the address up to the first &",
         QStringLiteral("http://h/blank.html#access_token&user_id=5"), false, QStringLiteral("5"),
         QStringLiteral("http://h/blank.html#access_token")},
        {"several user ids: the last",
         blank + QStringLiteral("#access_token=t&user_id=1&user_id=2&user_id=3"), false,
         QStringLiteral("3"), QStringLiteral("t")},
        {"no user id: the whole address", QStringLiteral("http://h/b#access_token=t&expires_in=1"),
         false, QStringLiteral("http://h/b#access_token=t&expires_in=1"), QStringLiteral("t")},
        {"user id first, token after it", QStringLiteral("http://h/b#x=1&user_id=9&access_token=t"),
         false, QStringLiteral("9&access_token=t"), QStringLiteral("t")},
        {"a second access_token= ends the first token",
         QStringLiteral("http://h/#access_token=aaaaccess_token=bbb&user_id=1"), false,
         QStringLiteral("1"), QStringLiteral("aaa")},
        {"empty token is no token", blank + QStringLiteral("#access_token=&user_id=4"), false,
         QStringLiteral("4"), std::nullopt},
        {"refusal", blank + QStringLiteral("#error=access_denied&error_reason=user_denied"), true,
         std::nullopt, std::nullopt},
        {"error and token: the token wins", blank + QStringLiteral("#error=x&access_token=t"),
         false, blank + QStringLiteral("#error=x&access_token=t"), QStringLiteral("t")},
        {"ordinary page", QStringLiteral("https://127.0.0.1:47443/oauth/grant?client_id=1"), false,
         std::nullopt, std::nullopt},
        {"empty", QString(), false, std::nullopt, std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const sondrel::TokenAddress read = sondrel::readTokenAddress(row.address);
        EXPECT_EQ(read.loadAuthPage, row.loadAuthPage);
        EXPECT_EQ(read.userId, row.userId);
        EXPECT_EQ(read.token, row.token);
    }
}

TEST(AuthAddresses, LogoutLinkOfTheFeedPage) {
    struct Row {
        const char* what;
        QByteArray page;
        std::optional<QString> link;
    };
    const Row rows[] = {
        {"escaped link, entities and percent escapes decoded",
         "<html><body><a href=\"/feed\">News</a><a class=\"x\" "
         "href=\"https://s/?act=logout_mobile&amp;hash=ab&amp;_origin=http%3A%2F%2Fh%3A80\">Log "
         "out</a></body></html>",
         QStringLiteral("https://s/?act=logout_mobile&hash=ab&_origin=http://h:80")},
        {"first of two links",
         "<a href=\"http://a/?act=logout_mobile&hash=1\"></a><a "
         "href=\"http://b/?act=logout_mobile&hash=2\"></a>",
         QStringLiteral("http://a/?act=logout_mobile&hash=1")},
        {"link deep inside, other elements first",
         "<div><link href=\"style.css\"><p><span><a "
         "href=\"http://a/x?logout_mobile\">o</a></span></p></div>",
         QStringLiteral("http://a/x?logout_mobile")},
        {"not signed in: no link", "<html><body><a href=\"/\">Home</a></body></html>",
         std::nullopt},
        {"the text only, not in an href", "<p>logout_mobile</p><a title=\"logout_mobile\">x</a>",
         std::nullopt},
        {"malformed escape in the link", "<a href=\"http://a/?act=logout_mobile&h=%zz\"></a>",
         std::nullopt},
        {"not UTF-8", QByteArray("<a href=\"http://a/?act=logout_mobile\">\xff\xfe</a>"),
         std::nullopt},
        {"empty", QByteArray(), std::nullopt},
        {"not HTML at all", QByteArray("{\"response\":1}"), std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(sondrel::logoutLinkFromFeedPage(row.page), row.link);
    }
}

} // namespace
