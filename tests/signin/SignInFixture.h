#pragma once
// The real window against the stand-in service, started with the sign-in state a test
// chooses (no token, or a token stored some seconds before a fixed "now" of the
// sign-in's clock), with helpers that drive the service's pages in the real web engine.
// Every log line of a test is collected, and none may hold a token.

#include "platform/Log.h"
#include "platform/webview/WebView.h"
#include "service/AuthAddresses.h"
#include "service/TokenLifetime.h"
#include "window/WindowFixture.h"

#include <memory>
#include <ostream>

// Texts in failure messages as text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace sondrel::test {

// The sign-in's clock stands still at this moment during the tests.
inline const QDateTime kNow = QDateTime(QDate(2025, 6, 1), QTime(12, 0, 0), Qt::UTC);
// The service's built-in token.
inline const QString kDemoToken = QStringLiteral("demo-token");

class SignInFixture : public WindowFixture {
protected:
    // The window is started by each test (startWindow), with the state it needs.
    void SetUp() override {
        setAuthClock([] { return kNow; });
    }

    void TearDown() override {
        WindowFixture::TearDown();
        setAuthClock({});
        for (const QString& line : log.lines()) {
            for (const QString& token : tokensSeen) {
                EXPECT_FALSE(line.contains(token)) << "a token in the log: " << line.toStdString();
            }
        }
    }

    struct StoredSignIn {
        QString token;                    // "" means signed out
        std::optional<qint64> ageSeconds; // no value: no date stored
    };

    // Makes the delegate and the controller with `stored` in the settings, shows the
    // window and lets it become main (the start-up sign-in check runs).
    void startWindow(const StoredSignIn& stored) {
        connectFreshService();
        if (HasFatalFailure()) {
            return;
        }

        delegate = std::make_unique<AppDelegate>();
        AppDelegate::saveObjectWithKey(stored.token, kAccessTokenKey);
        if (stored.ageSeconds) {
            AppDelegate::saveObjectWithKey(kNow.addSecs(-*stored.ageSeconds), kAccessTokenDateKey);
        }
        noteToken(stored.token);
        controller = std::make_unique<AppController>();
        controller->window()->resize(560, 680);
        controller->window()->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(controller->window()));
        controller->windowDidBecomeMain();
        // The web view exists (without its engine) once the start-up check has run.
        ASSERT_NE(web(), nullptr);
        QObject::connect(web(), &WebView::didCommitLoad, [this](const QUrl&) { ++loadsStarted; });
        QObject::connect(web(), &WebView::didFinishLoad, [this](const QUrl& initial) {
            ++loadsEnded;
            lastFinished = initial;
        });
        QObject::connect(web(), &WebView::didFailLoad, [this](const QUrl&) { ++loadsEnded; });
    }

    // No load under way, and the last one ended where it began: the controller reloads
    // a redirected load, so until then the page shown is about to be replaced.
    bool webViewSettled() const {
        return engineStarted() && loadsEnded > 0 && loadsStarted == loadsEnded &&
               lastFinished == web()->currentUrl();
    }

    // Stops the controller of the current start (for tests that start several times).
    void stopWindow() {
        WindowFixture::TearDown();
        loadsStarted = loadsEnded = 0;
        lastFinished = QUrl();
    }

    void noteToken(const QString& token) {
        if (!token.isEmpty() && !tokensSeen.contains(token)) {
            tokensSeen << token;
        }
    }

    WebView* web() const { return controller->loginWebViewAdapter(); }
    bool engineStarted() const { return web() != nullptr && web()->isCreated(); }

    QString storedToken() const {
        return AppDelegate::getObjectWithKey(kAccessTokenKey).toString();
    }
    bool logoutItemShown() const { return controller->menuLogoutItem()->isVisible(); }
    bool visible(QWidget* widget) const { return widget != nullptr && widget->isVisible(); }

    // Requests whose target (path and query) starts with `targetPrefix`.
    int requestCount(const QString& targetPrefix) const {
        int count = 0;
        for (const QString& target : service->requestTargets()) {
            count += target.startsWith(targetPrefix) ? 1 : 0;
        }
        return count;
    }

    // Evaluates `expression` in the sign-in page: true only when it answers true.
    bool pageSays(const QString& expression) {
        if (!engineStarted()) {
            return false;
        }
        // The answer may come after this call gave up (the page went away meanwhile).
        auto answer = std::make_shared<std::optional<bool>>();
        web()->runJavaScript(expression,
                             [answer](const QVariant& result) { *answer = result.toBool(); });
        (void)QTest::qWaitFor([&] { return answer->has_value(); }, 5000);
        return answer->value_or(false);
    }

    // Waits until the web view shows the page in which `expression` holds.
    ::testing::AssertionResult waitForPage(const QString& expression) {
        if (waitFor([&] { return webViewSettled() && pageSays(expression); }, 90000)) {
            return ::testing::AssertionSuccess();
        }
        std::string requests;
        for (const QJsonValue& request : service->requests()) {
            const QJsonObject r = request.toObject();
            requests += "\n  " + r.value(QStringLiteral("scheme")).toString().toStdString() + " " +
                        r.value(QStringLiteral("method")).toString().toStdString() + " " +
                        r.value(QStringLiteral("target")).toString().toStdString();
        }
        return ::testing::AssertionFailure()
               << "the page never showed " << expression.toStdString() << "; it is at "
               << (web() ? web()->currentUrl().toString().toStdString() : std::string("nothing"))
               << "; the service saw:" << requests;
    }

    static inline const QString kLoginForm =
        QStringLiteral("!!document.querySelector('input[name=pass]')");
    static inline const QString kGrantPage = QStringLiteral("!!document.querySelector('a.allow')");

    // Signs in with the demo account on the login form the popover shows, then allows
    // the player on the grant page; returns when the token is stored.
    void signInWithTheDemoAccount() {
        ASSERT_TRUE(waitForPage(kLoginForm));
        web()->runJavaScript(
            QStringLiteral("document.querySelector('input[name=email]').value = 'demo';"
                           "document.querySelector('input[name=pass]').value = 'demo';"
                           "document.forms[0].submit();"));
        ASSERT_TRUE(waitForPage(kGrantPage));
        web()->runJavaScript(QStringLiteral("document.querySelector('a.allow').click();"));
        ASSERT_TRUE(waitFor([this] { return !storedToken().isEmpty(); }, 90000))
            << "no token after the grant";
        noteToken(storedToken());
    }

    LogCapture log;
    QStringList tokensSeen;
    int loadsStarted = 0;
    int loadsEnded = 0;
    QUrl lastFinished;
};

} // namespace sondrel::test
