// The sign-in web view against a real HTTP server on loopback: the engine's module is
// loaded only by the first load, loads report their initial address, reload starts from
// the redirected address, and the engine's cookies reach the shared jar. This test links
// only the view: the engine comes from its module, as in the player.

#include "platform/webview/WebView.h"

#include "common/LoopbackHttpServer.h"
#include "common/StandInService.h"
#include "platform/Network.h"

#include <QApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QNetworkCookie>
#include <QTcpServer>
#include <QWidget>
#include <gtest/gtest.h>

namespace {

// The pages the adapter is tried on.
class LoopbackServer : public sondrel::test::LoopbackHttpServer {
public:
    LoopbackServer() : LoopbackHttpServer(addPages) {}
    QUrl url(const char* path) const { return LoopbackHttpServer::url(QLatin1String(path)); }

private:
    static void addPages(httplib::Server& server) {
        server.Get("/start", [](const httplib::Request&, httplib::Response& res) {
            res.set_redirect("/final#access_token=abc&user_id=7");
        });
        server.Get("/final", [](const httplib::Request&, httplib::Response& res) {
            res.set_content("<html><body>final</body></html>", "text/html");
        });
        server.Get("/login", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "session=s1; Path=/");
            res.set_content("<html><body>signed in</body></html>", "text/html");
        });
        server.Get("/missing", [](const httplib::Request&, httplib::Response& res) {
            res.status = 404;
            res.set_content("<html><body>no such page</body></html>", "text/html");
        });
        server.Get("/logout", [](const httplib::Request&, httplib::Response& res) {
            res.set_header("Set-Cookie", "session=; Path=/; Expires=Thu, 01 Jan 1970 00:00:00 GMT");
            res.set_content("<html><body>signed out</body></html>", "text/html");
        });
    }
};

bool spinUntil(const std::function<bool()>& done, int ms = 60000) {
    QDeadlineTimer deadline(ms);
    while (!done() && !deadline.hasExpired()) {
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return done();
}

// Whether the web engine's library is mapped into this process.
bool engineMapped() {
    QFile maps(QStringLiteral("/proc/self/maps"));
    return maps.open(QIODevice::ReadOnly) && maps.readAll().contains("libQt6WebEngineCore");
}

class WebViewTest : public ::testing::Test {
protected:
    LoopbackServer server;
    QWidget container;
    sondrel::WebView web{&container};
    QList<QUrl> commits;
    QList<QUrl> finishes;
    QList<QUrl> failures;

    void SetUp() override {
        QObject::connect(&web, &sondrel::WebView::didFailLoad,
                         [this](const QUrl& u) { failures << u; });
        QObject::connect(&web, &sondrel::WebView::didCommitLoad,
                         [this](const QUrl& u) { commits << u; });
        QObject::connect(&web, &sondrel::WebView::didFinishLoad,
                         [this](const QUrl& u) { finishes << u; });
    }
};

TEST_F(WebViewTest, EngineIsLoadedOnlyByTheFirstLoad) {
    EXPECT_FALSE(web.isCreated());
    web.setVisible(false);
    EXPECT_FALSE(web.isCreated()) << "hiding the view does not start the engine";
    EXPECT_TRUE(web.currentUrl().isEmpty());
    EXPECT_FALSE(engineMapped()) << "the engine's library is not even loaded yet";

    web.loadRequest(server.url("/login"));
    ASSERT_TRUE(spinUntil([&] { return !finishes.isEmpty(); }));
    EXPECT_TRUE(web.isCreated());
    EXPECT_TRUE(engineMapped());
    EXPECT_FALSE(container.findChildren<QWidget*>().isEmpty()) << "the view is in its container";
    QString text;
    web.runJavaScript(QStringLiteral("document.body.textContent"),
                      [&](const QVariant& value) { text = value.toString(); });
    ASSERT_TRUE(spinUntil([&] { return !text.isEmpty(); }));
    EXPECT_EQ(text, QStringLiteral("signed in"));
}

// Without its module the view logs why, reports every load as failed, and the player
// goes on. (In a child process: the module is loaded once per process.)
TEST(WebViewWithoutEngine, LoadsFailWithTheReason) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            qputenv("SONDREL_MODULE_DIR", "/nonexistent");
            QWidget container;
            sondrel::WebView web(&container);
            QList<QUrl> failures;
            QObject::connect(&web, &sondrel::WebView::didFailLoad,
                             [&](const QUrl& url) { failures << url; });
            const QUrl first(QStringLiteral("http://127.0.0.1:1/a"));
            web.loadRequest(first);
            web.loadRequest(QUrl(QStringLiteral("http://127.0.0.1:1/b")));
            web.runJavaScript(QStringLiteral("1"));
            spinUntil([&] { return failures.size() == 2; }, 10000);
            std::exit(failures.size() == 2 && failures.first() == first && !web.isCreated() &&
                              !engineMapped()
                          ? 0
                          : 1);
        },
        ::testing::ExitedWithCode(0),
        "Sign-in page unavailable: .*nonexistent/sondrel-webengine.so");
}

TEST_F(WebViewTest, LoadsReportTheirInitialAddressAndReloadStartsFromTheRedirect) {
    web.loadRequest(server.url("/start"));
    ASSERT_TRUE(spinUntil([&] { return !finishes.isEmpty(); }));
    EXPECT_EQ(commits.value(0), server.url("/start"));
    EXPECT_EQ(finishes.value(0), server.url("/start"))
        << "the initial address, before the redirect";
    EXPECT_TRUE(web.currentUrl().toString().contains(QStringLiteral("access_token=abc")))
        << web.currentUrl().toString().toStdString();

    finishes.clear();
    web.reload();
    ASSERT_TRUE(spinUntil([&] { return !finishes.isEmpty(); }));
    EXPECT_TRUE(
        finishes.value(0).toString().contains(QStringLiteral("/final#access_token=abc&user_id=7")))
        << finishes.value(0).toString().toStdString();
}

TEST_F(WebViewTest, ShownErrorPagesFinishAndLoadsWithoutAPageFail) {
    web.loadRequest(server.url("/missing"));
    ASSERT_TRUE(spinUntil([&] { return !finishes.isEmpty() || !failures.isEmpty(); }));
    EXPECT_EQ(finishes.value(0), server.url("/missing")) << "an HTTP error page is shown";
    EXPECT_TRUE(failures.isEmpty());

    finishes.clear();
    // A port nobody listens on: the connection is refused and no page is shown.
    QTcpServer closed;
    ASSERT_TRUE(closed.listen(QHostAddress::LocalHost));
    const QUrl refused(QStringLiteral("http://127.0.0.1:%1/x").arg(closed.serverPort()));
    closed.close();
    web.loadRequest(refused);
    ASSERT_TRUE(spinUntil([&] { return !failures.isEmpty(); }));
    EXPECT_EQ(failures.value(0), refused);
    EXPECT_TRUE(finishes.isEmpty());
}

TEST_F(WebViewTest, EngineCookiesAreMirroredIntoTheSharedJar) {
    auto hasSession = [&] {
        for (const QNetworkCookie& cookie :
             sondrel::sharedCookieJar().cookiesForUrl(server.url("/feed"))) {
            if (cookie.name() == "session" && cookie.value() == "s1") {
                return true;
            }
        }
        return false;
    };
    web.loadRequest(server.url("/login"));
    ASSERT_TRUE(spinUntil(hasSession))
        << "a cookie set in the web view reaches background requests";
    web.loadRequest(server.url("/logout"));
    ASSERT_TRUE(spinUntil([&] { return !hasSession(); })) << "a removed cookie leaves the jar";
}

// The web engine ignores Qt's trust store: the stand-in's self-signed certificate must
// be accepted by the view itself, and only once the player trusts it. (CTest runs each
// case in a process of its own; the untrusted case comes first for a plain gtest run.)
class WebViewHttpsTest : public WebViewTest {
protected:
    sondrel::test::StandInService service;

    // True when the page was shown, false when the load failed.
    bool loadLoginPage() {
        web.loadRequest(QUrl(service.apiOrigin() +
                             QStringLiteral("/method/audio.get?access_token=demo-token")));
        return spinUntil([&] { return !finishes.isEmpty() || !failures.isEmpty(); });
    }
};

TEST_F(WebViewHttpsTest, UnknownCertificateIsRefused) {
    ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    ASSERT_TRUE(loadLoginPage());
    EXPECT_TRUE(finishes.isEmpty());
    EXPECT_EQ(failures.size(), 1);
}

TEST_F(WebViewHttpsTest, ConfiguredCertificateIsAccepted) {
    ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    ASSERT_TRUE(service.trustCertificate());
    ASSERT_TRUE(loadLoginPage());
    EXPECT_EQ(finishes.size(), 1);
    EXPECT_TRUE(failures.isEmpty());
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
