// Sign-in and logout end to end: the real window, the real web engine and the stand-in
// service's sign-in, grant, feed and logout pages.

#include "signin/SignInFixture.h"

#include <QDesktopServices>
#include <QSignalSpy>

namespace sondrel::test {
namespace {

TEST_F(SignInFixture, FirstStartSignsInOnTheServicesPagesAfterARefusal) {
    startWindow({QString(), std::nullopt});
    // checkAuth: the popover opens with the large spinner while the token is read.
    EXPECT_TRUE(controller->isPopoverShown());
    EXPECT_TRUE(visible(controller->loginSpinner()));
    EXPECT_FALSE(web()->isVisible());
    EXPECT_FALSE(logoutItemShown());

    // The list request without a token is refused with error 5, which reopens the
    // popover on the authorization page: the service sends its login form.
    ASSERT_TRUE(waitForPage(kLoginForm));
    EXPECT_TRUE(controller->isPopoverShown());
    EXPECT_FALSE(visible(controller->loginSpinner()));
    EXPECT_GE(requestCount(QStringLiteral("/oauth/authorize")), 1);

    web()->runJavaScript(
        QStringLiteral("document.querySelector('input[name=email]').value = 'demo';"
                       "document.querySelector('input[name=pass]').value = 'demo';"
                       "document.forms[0].submit();"));
    ASSERT_TRUE(waitForPage(kGrantPage));

    // Refusing access: the error redirect brings the authorization page back, which
    // goes straight to the grant page for the signed-in session.
    const int authorizations = requestCount(QStringLiteral("/oauth/authorize"));
    web()->runJavaScript(QStringLiteral("document.querySelector('a.deny').click();"));
    ASSERT_TRUE(waitFor(
        [&] { return requestCount(QStringLiteral("/oauth/authorize")) > authorizations; }, 90000));
    ASSERT_TRUE(waitForPage(kGrantPage));
    EXPECT_TRUE(storedToken().isEmpty());
    EXPECT_TRUE(controller->isPopoverShown());

    web()->runJavaScript(QStringLiteral("document.querySelector('a.allow').click();"));
    ASSERT_TRUE(waitFor([this] { return !storedToken().isEmpty(); }, 90000));
    const QString token = storedToken();
    noteToken(token);
    EXPECT_NE(token, kDemoToken) << "a token the service issued";
    EXPECT_EQ(AppDelegate::getObjectWithKey(kLastUserIdKey).toString(), QStringLiteral("1001"));
    EXPECT_EQ(AppDelegate::getObjectWithKey(kAccessTokenDateKey).toDateTime(), kNow);

    // authComplete: the popover closes, the own list arrives with the new token.
    ASSERT_TRUE(waitFor([this] { return !controller->isPopoverShown() && rowCount() > 0; }));
    EXPECT_TRUE(logoutItemShown());
    EXPECT_TRUE(service->requestTargets(QStringLiteral("/method/audio.get"))
                    .constLast()
                    .contains(QStringLiteral("access_token=") + token + QLatin1Char('&')));
    ASSERT_TRUE(waitFor([this] {
        return !visible(controller->loginSmallSpinner1()) &&
               !visible(controller->loginSmallSpinner2());
    })) << "the small spinners stop when the last load finishes";
    // Every page of the sign-in, the redirect page with the token included, came over
    // HTTPS: nothing on the way could read or rewrite them.
    for (const QJsonValue& request : service->requests()) {
        EXPECT_EQ(request.toObject().value(QStringLiteral("scheme")).toString(),
                  QStringLiteral("https"))
            << request.toObject().value(QStringLiteral("target")).toString().toStdString();
    }
}

TEST_F(SignInFixture, StartUpTokenCheckByTheTokensAge) {
    struct Row {
        const char* what;
        std::optional<qint64> age;
        bool authPage;    // the token check loads the authorization page
        int ownListLoads; // own-list requests after the check
    };
    // A token without a date can only be tried first in a process: the settings store
    // keeps the date of earlier tests.
    const bool noDateYet = !AppDelegate::getObjectWithKey(kAccessTokenDateKey).isValid();
    const Row rows[] = {
        {"no date stored", std::nullopt, false, 1},
        {"1 s short of 86,100 s", 86099, false, 2},
        {"exactly 86,100 s", 86100, true, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        if (!row.age && !noDateYet) {
            continue;
        }
        startWindow({kDemoToken, row.age});
        // The token check has run once the large spinner is hidden again.
        ASSERT_TRUE(waitFor([this] { return !visible(controller->loginSpinner()); }));
        ASSERT_TRUE(waitFor([&] {
            return requestCount(QStringLiteral("/method/audio.get")) >= row.ownListLoads &&
                   !listLoading() && rowCount() > 0;
        }));
        if (row.authPage) {
            ASSERT_TRUE(waitFor([this] { return requestCount(QStringLiteral("/oauth/")) > 0; }));
            EXPECT_TRUE(engineStarted());
        }
        backgroundPool().waitForDone(kWaitMs);
        QCoreApplication::processEvents();
        EXPECT_EQ(requestCount(QStringLiteral("/method/audio.get")), row.ownListLoads);
        EXPECT_FALSE(controller->isPopoverShown());
        EXPECT_TRUE(logoutItemShown());
        if (!row.authPage) {
            EXPECT_FALSE(engineStarted()) << "a start with a usable token starts no web engine";
            EXPECT_EQ(requestCount(QStringLiteral("/oauth/")), 0);
        }
        stopWindow();
    }
}

TEST_F(SignInFixture, ExpiredTokenReopensThePopoverOnTheAuthorizationPage) {
    startWindow({kDemoToken, 10});
    ASSERT_TRUE(waitFor([this] { return rowCount() > 0 && !controller->isPopoverShown(); }));
    ASSERT_FALSE(engineStarted());

    ASSERT_TRUE(service->nextApiError(5, QStringLiteral("audio.get")));
    controller->downloadPlaylistWithURL(controller->URLAllMyAudio());
    ASSERT_TRUE(waitForPage(kLoginForm));
    EXPECT_TRUE(controller->isPopoverShown());
    EXPECT_EQ(log.count(QStringLiteral("token has been expired, need re-auth")), 1);
    EXPECT_EQ(rowCount(), 0) << "the error answer empties the list on screen";
    EXPECT_EQ(player()->getQuantityFromListOnScreen(), 0u);

    // A click outside closes the popover; its anchor opens it again on the same page.
    controller->popover()->hide();
    QTest::mouseClick(controller->loginPopoverDot(), Qt::LeftButton);
    EXPECT_TRUE(controller->isPopoverShown());
    EXPECT_TRUE(pageSays(kLoginForm));
}

TEST_F(SignInFixture, RedirectsWithAnEmptyTokenAskTheServiceAgain) {
    startWindow({QString(), std::nullopt});
    int status = 0;
    service->httpPost(QStringLiteral("/control/empty-token?count=2"), &status);
    ASSERT_EQ(status, 200);
    signInWithTheDemoAccount();
    if (HasFatalFailure()) {
        return;
    }
    EXPECT_GE(requestCount(QStringLiteral("/oauth/authorize")), 3)
        << "each empty token sends the web view back to the authorization page";
    ASSERT_TRUE(waitFor([this] { return !controller->isPopoverShown() && rowCount() > 0; }));
    EXPECT_TRUE(logoutItemShown());
}

TEST_F(SignInFixture, LogoutFollowsTheFeedPagesLinkOnly) {
    startWindow({QString(), std::nullopt});
    signInWithTheDemoAccount();
    ASSERT_TRUE(waitFor([this] { return rowCount() > 0 && !controller->isPopoverShown(); }));
    const QString token = storedToken();
    const QVariant date = AppDelegate::getObjectWithKey(kAccessTokenDateKey);

    // A feed page without the link: nothing to follow, the user stays signed in.
    ASSERT_TRUE(service->setFeedLogoutLink(false));
    controller->didLogout();
    ASSERT_TRUE(waitFor([this] {
        return requestCount(QStringLiteral("/feed")) == 1 && !visible(controller->loginSpinner());
    }));
    QCoreApplication::processEvents();
    EXPECT_EQ(storedToken(), token);
    EXPECT_TRUE(logoutItemShown());
    EXPECT_TRUE(controller->isPopoverShown());
    EXPECT_TRUE(web()->isVisible());
    EXPECT_EQ(requestCount(QStringLiteral("/?act=logout")), 0);
    EXPECT_GT(rowCount(), 0);

    // With the link (found only with the session cookie the web view got at sign-in).
    ASSERT_TRUE(service->setFeedLogoutLink(true));
    controller->didLogout();
    ASSERT_TRUE(waitFor([this] { return storedToken().isEmpty(); }, 90000));
    EXPECT_EQ(requestCount(QStringLiteral("/?act=logout_mobile")), 1);
    EXPECT_FALSE(logoutItemShown());
    EXPECT_EQ(rowCount(), 0);
    EXPECT_EQ(player()->getQuantityFromListOnScreen(), 0u);
    EXPECT_EQ(player()->getQuantityFromPlayList(), 0u);
    EXPECT_EQ(AppDelegate::getObjectWithKey(kAccessTokenDateKey), date) << "left as it was";
    EXPECT_EQ(AppDelegate::getObjectWithKey(kLastUserIdKey).toString(), QStringLiteral("1001"));
    // The session has ended: the authorization page sends the login form again, in the
    // popover that stays open for the next sign-in.
    ASSERT_TRUE(waitForPage(kLoginForm));
    EXPECT_TRUE(controller->isPopoverShown());

    // Signed out, the logout does nothing at all.
    controller->didLogout();
    QCoreApplication::processEvents();
    backgroundPool().waitForDone(kWaitMs);
    QCoreApplication::processEvents();
    EXPECT_EQ(requestCount(QStringLiteral("/feed")), 2);
    EXPECT_FALSE(visible(controller->loginSpinner()));
}

// Receives the addresses the player hands to the desktop's browser.
class BrowserStandIn : public QObject {
    Q_OBJECT
public:
    QList<QUrl> opened;
public slots:
    void open(const QUrl& url) { opened << url; }
};

TEST_F(SignInFixture, LinksToOtherSitesOpenInTheBrowserAndTheSignInStays) {
    BrowserStandIn browser;
    QDesktopServices::setUrlHandler(QStringLiteral("https"), &browser, "open");
    QDesktopServices::setUrlHandler(QStringLiteral("http"), &browser, "open");
    startWindow({QString(), std::nullopt});
    ASSERT_TRUE(waitForPage(kLoginForm));
    const QUrl loginPage = web()->currentUrl();
    QSignalSpy refused(web(), &WebView::navigationRefused);

    // The login page's help link leads to another site; a script that sends the page to
    // the service's plain HTTP listener (not a sign-in origin) is refused as well.
    web()->runJavaScript(QStringLiteral("document.querySelector('p.help a').click();"));
    ASSERT_TRUE(waitFor([&] { return refused.count() == 1; }));
    web()->runJavaScript(
        QStringLiteral("location.href = '%1/oauth/login';").arg(service->httpOrigin()));
    ASSERT_TRUE(waitFor([&] { return refused.count() == 2; }));
    QCoreApplication::processEvents();
    QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
    QDesktopServices::unsetUrlHandler(QStringLiteral("http"));

    EXPECT_EQ(browser.opened,
              (QList<QUrl>{QUrl(QStringLiteral("https://help.sondrel.example/sign-in")),
                           QUrl(service->httpOrigin() + QStringLiteral("/oauth/login"))}));
    EXPECT_TRUE(controller->isPopoverShown());
    EXPECT_EQ(web()->currentUrl(), loginPage);
    EXPECT_TRUE(pageSays(kLoginForm));
    for (const QJsonValue& request : service->requests()) {
        EXPECT_NE(request.toObject().value(QStringLiteral("scheme")).toString(),
                  QStringLiteral("http"))
            << "the sign-in view asked the plain HTTP listener for "
            << request.toObject().value(QStringLiteral("target")).toString().toStdString();
    }
}

} // namespace
} // namespace sondrel::test

#include "SignInTest.moc"
