// The sign-in, grant, feed and logout pages, walked step by step the way the player's
// web view and its feed fetch walk them.

#include "ClientHelpers.h"

#include <QJsonArray>
#include <QUrlQuery>
#include <gtest/gtest.h>

using sondrel::test::StandInService;
using namespace standin_test;

namespace {

const Headers kForm = {{"Content-Type", "application/x-www-form-urlencoded"}};

class AuthPagesTest : public ::testing::Test {
protected:
    explicit AuthPagesTest(const QStringList& arguments = {}) : service(arguments) {}

    void SetUp() override {
        ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
        ASSERT_TRUE(service.trustCertificate());
        clearCookies();
    }

    // The authorization address exactly as the player builds it.
    QString authorizationAddress() const {
        return service.apiOrigin() + QStringLiteral("/oauth/authorize?client_id=") +
               service.clientId() + QStringLiteral("&redirect_uri=") + service.apiOrigin() +
               QStringLiteral(
                   "/blank.html&scope=audio,friends,status&display=page&response_type=token");
    }
    QString loginFormAddress() const {
        return service.loginOrigin() + QStringLiteral("/?act=login&soft=1");
    }

    QByteArray loginBody(const QString& login, const QString& password) const {
        QUrlQuery form;
        form.addQueryItem(QStringLiteral("client_id"), service.clientId());
        form.addQueryItem(QStringLiteral("redirect_uri"),
                          service.apiOrigin() + QStringLiteral("/blank.html"));
        form.addQueryItem(QStringLiteral("scope"), QStringLiteral("audio,friends,status"));
        form.addQueryItem(QStringLiteral("email"), login);
        form.addQueryItem(QStringLiteral("pass"), password);
        return form.toString(QUrl::FullyEncoded).toUtf8();
    }

    // Signs in with the demo account; returns where the login sent the browser.
    QString signIn() {
        const Reply login = fetch(QUrl(loginFormAddress()), kForm, "POST",
                                  loginBody(QStringLiteral("demo"), QStringLiteral("demo")));
        EXPECT_EQ(login.status, 302);
        return QString::fromUtf8(login.header("Location"));
    }

    // The first link of `page` whose href contains `text`.
    static QString linkContaining(const QByteArray& page, const QString& text) {
        for (const QString& href : hrefs(page)) {
            if (href.contains(text)) {
                return href;
            }
        }
        return {};
    }

    QByteArray feedPage() const {
        return fetch(service.mainOrigin() + QStringLiteral("/feed")).body;
    }

    StandInService service;
};

class FeedWithoutLogoutTest : public AuthPagesTest {
protected:
    FeedWithoutLogoutTest() : AuthPagesTest({QStringLiteral("--feed-without-logout")}) {}
};

// Parts of a redirect page address after "#".
QUrlQuery fragment(const QString& address) {
    return QUrlQuery(QUrl(address).fragment());
}

} // namespace

TEST_F(AuthPagesTest, SignInGrantAndRedirectIssueAWorkingToken) {
    // Not signed in: the authorization address leads to the login page, at an address
    // that is neither the authorization address nor the form's target.
    const Reply authorize = fetch(authorizationAddress());
    ASSERT_EQ(authorize.status, 302);
    const QString loginPage = QString::fromUtf8(authorize.header("Location"));
    EXPECT_FALSE(loginPage.contains(authorizationAddress()));
    EXPECT_FALSE(loginPage.contains(QStringLiteral("act=login&soft=1")));
    EXPECT_FALSE(loginPage.contains(QStringLiteral("error")));

    const Reply form = fetch(loginPage);
    ASSERT_EQ(form.status, 200);
    const QString html = QString::fromUtf8(form.body);
    EXPECT_TRUE(html.contains(QStringLiteral("method=\"post\" action=\"") + service.loginOrigin() +
                              QStringLiteral("/?act=login&amp;soft=1\"")));
    EXPECT_TRUE(html.contains(QStringLiteral("login <b>demo</b>, password <b>demo</b>")));

    // The login sets the session cookie and goes on to the grant page.
    const Reply login = fetch(QUrl(loginFormAddress()), kForm, "POST",
                              loginBody(QStringLiteral("demo"), QStringLiteral("demo")));
    ASSERT_EQ(login.status, 302);
    EXPECT_TRUE(login.header("Set-Cookie").startsWith("sondrel_sid="));
    const Reply grant = fetch(QString::fromUtf8(login.header("Location")));
    ASSERT_EQ(grant.status, 200);
    const QString allow = linkContaining(grant.body, QStringLiteral("act=grant_access"));
    ASSERT_FALSE(allow.isEmpty());
    EXPECT_FALSE(allow.contains(QStringLiteral("cancel")));

    // Allowing sends the token to the redirect page.
    const Reply granted = fetch(allow);
    ASSERT_EQ(granted.status, 302);
    const QString redirect = QString::fromUtf8(granted.header("Location"));
    EXPECT_TRUE(
        redirect.startsWith(service.apiOrigin() + QStringLiteral("/blank.html#access_token=")))
        << redirect.toStdString();
    EXPECT_TRUE(redirect.contains(QStringLiteral("&expires_in=86400&user_id=1001")));
    const QString token = fragment(redirect).queryItemValue(QStringLiteral("access_token"));
    ASSERT_FALSE(token.isEmpty());
    EXPECT_EQ(fetch(redirect).status, 200);

    const QJsonObject list = callApi(service, QStringLiteral("audio.get"),
                                     QStringLiteral("access_token=") + token + QLatin1Char('&'));
    EXPECT_EQ(list.value(QStringLiteral("response")).toArray().size(), 12);

    // Signed in and granted: the authorization address goes straight to a new token.
    const Reply again = fetch(authorizationAddress());
    ASSERT_EQ(again.status, 302);
    const QString second = QString::fromUtf8(again.header("Location"));
    EXPECT_TRUE(
        second.startsWith(service.apiOrigin() + QStringLiteral("/blank.html#access_token=")));
    EXPECT_NE(fragment(second).queryItemValue(QStringLiteral("access_token")), token);
}

TEST_F(AuthPagesTest, WrongPasswordShowsTheFormAgainWithoutASession) {
    const Reply login = fetch(QUrl(loginFormAddress()), kForm, "POST",
                              loginBody(QStringLiteral("demo"), QStringLiteral("wrong")));
    ASSERT_EQ(login.status, 302);
    EXPECT_FALSE(login.hasHeader("Set-Cookie"));
    const QString retry = QString::fromUtf8(login.header("Location"));
    EXPECT_FALSE(retry.contains(QStringLiteral("error")));
    const Reply form = fetch(retry);
    EXPECT_TRUE(form.body.contains("Wrong login or password"));
    EXPECT_TRUE(form.body.contains("act=login&amp;soft=1"));
    EXPECT_FALSE(feedPage().contains("logout_mobile"));
}

TEST_F(AuthPagesTest, DenyingAccessRedirectsWithAnErrorAndNoToken) {
    const Reply grant = fetch(signIn());
    const QString deny = linkContaining(grant.body, QStringLiteral("cancel=1"));
    ASSERT_TRUE(deny.contains(QStringLiteral("act=grant_access")));
    const Reply denied = fetch(deny);
    ASSERT_EQ(denied.status, 302);
    const QString redirect = QString::fromUtf8(denied.header("Location"));
    EXPECT_TRUE(redirect.startsWith(
        service.apiOrigin() +
        QStringLiteral("/blank.html#error=access_denied&error_reason=user_denied")))
        << redirect.toStdString();
    EXPECT_FALSE(redirect.contains(QStringLiteral("access_token")));
    // Nothing was granted: the authorization address asks again.
    const Reply authorize = fetch(authorizationAddress());
    EXPECT_TRUE(
        QString::fromUtf8(authorize.header("Location")).contains(QStringLiteral("/oauth/grant?")));
}

TEST_F(AuthPagesTest, GrantNeedsTheSessionsOwnLink) {
    const QString grantPage = signIn();
    const QString allow = linkContaining(fetch(grantPage).body, QStringLiteral("act=grant_access"));
    QString forged = allow;
    forged.replace(QRegularExpression(QStringLiteral("hash=[0-9a-f]+")),
                   QStringLiteral("hash=0000"));
    const Reply refused = fetch(forged);
    ASSERT_EQ(refused.status, 302);
    EXPECT_FALSE(refused.header("Location").contains("access_token"));
    clearCookies();
    const Reply anonymous = fetch(allow);
    EXPECT_FALSE(anonymous.header("Location").contains("access_token"));
}

TEST_F(AuthPagesTest, UnknownApplicationsAndForeignRedirectsAreRefused) {
    const QString good = authorizationAddress();
    const QStringList bad = {
        QString(good).replace(QStringLiteral("client_id=") + service.clientId(),
                              QStringLiteral("client_id=1")),
        QString(good).replace(service.apiOrigin() + QStringLiteral("/blank.html"),
                              QStringLiteral("http://example.invalid/blank.html")),
        QString(good).replace(QStringLiteral("/blank.html"), QStringLiteral("/steal.html")),
    };
    for (const QString& address : bad) {
        SCOPED_TRACE(address.toStdString());
        const Reply reply = fetch(address);
        EXPECT_EQ(reply.status, 400);
        EXPECT_FALSE(reply.hasHeader("Location"));
    }
}

TEST_F(AuthPagesTest, FeedLinksTheLogoutOnlyForASignedInUser) {
    EXPECT_FALSE(feedPage().contains("logout_mobile"));
    fetch(signIn());
    const QByteArray feed = feedPage();
    const QString link = linkContaining(feed, QStringLiteral("logout_mobile"));
    ASSERT_FALSE(link.isEmpty());
    EXPECT_EQ(feed.count("logout_mobile"), 1);
    // The player percent-decodes the link before loading it; it must still work and
    // still say "act=logout".
    const QString decoded = QUrl::fromPercentEncoding(link.toUtf8());
    EXPECT_TRUE(decoded.contains(QStringLiteral("act=logout")));

    ASSERT_TRUE(service.setFeedLogoutLink(false));
    EXPECT_FALSE(feedPage().contains("logout_mobile"));
    ASSERT_TRUE(service.setFeedLogoutLink(true));

    const Reply logout = fetch(decoded);
    ASSERT_EQ(logout.status, 302);
    EXPECT_EQ(logout.header("Location"), (service.mainOrigin() + QStringLiteral("/")).toUtf8());
    EXPECT_TRUE(logout.header("Set-Cookie").contains("Max-Age=0"));
    EXPECT_FALSE(feedPage().contains("logout_mobile"));
    // Signed out: the authorization address asks for the login again.
    EXPECT_TRUE(QString::fromUtf8(fetch(authorizationAddress()).header("Location"))
                    .contains(QStringLiteral("/oauth/login?")));
}

TEST_F(AuthPagesTest, LogoutWithAForeignHashKeepsTheSession) {
    fetch(signIn());
    const Reply logout =
        fetch(service.loginOrigin() + QStringLiteral("/?act=logout_mobile&hash=0123"));
    EXPECT_EQ(logout.status, 302);
    EXPECT_FALSE(logout.hasHeader("Set-Cookie"));
    EXPECT_TRUE(feedPage().contains("logout_mobile"));
}

TEST_F(FeedWithoutLogoutTest, FlagRemovesTheLogoutLink) {
    fetch(signIn());
    const QByteArray feed = feedPage();
    EXPECT_TRUE(feed.contains("Demo User"));
    EXPECT_FALSE(feed.contains("logout_mobile"));
}

TEST(AuthTokens, SignInTokensExpireAfterTheLifetime) {
    StandInService service({QStringLiteral("--token-lifetime"), QStringLiteral("2")});
    ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    ASSERT_TRUE(service.trustCertificate());
    clearCookies();
    QUrlQuery form;
    form.addQueryItem(QStringLiteral("client_id"), service.clientId());
    form.addQueryItem(QStringLiteral("redirect_uri"),
                      service.apiOrigin() + QStringLiteral("/blank.html"));
    form.addQueryItem(QStringLiteral("email"), QStringLiteral("demo"));
    form.addQueryItem(QStringLiteral("pass"), QStringLiteral("demo"));
    const Reply login = fetch(QUrl(service.loginOrigin() + QStringLiteral("/?act=login&soft=1")),
                              kForm, "POST", form.toString(QUrl::FullyEncoded).toUtf8());
    const Reply grant = fetch(QString::fromUtf8(login.header("Location")));
    QString allow;
    for (const QString& href : hrefs(grant.body)) {
        if (href.contains(QStringLiteral("act=grant_access")) &&
            !href.contains(QStringLiteral("cancel"))) {
            allow = href;
        }
    }
    const QString redirect = QString::fromUtf8(fetch(allow).header("Location"));
    const QString token = fragment(redirect).queryItemValue(QStringLiteral("access_token"));
    ASSERT_FALSE(token.isEmpty()) << redirect.toStdString();
    const QString query = QStringLiteral("access_token=") + token + QLatin1Char('&');
    EXPECT_TRUE(waitFor([&] {
        return callApi(service, QStringLiteral("audio.get"), query)
                   .value(QStringLiteral("error"))
                   .toObject()
                   .value(QStringLiteral("error_code"))
                   .toInt() == 5;
    }));
}
