#include "platform/webview/WebView.h"

#include "platform/Network.h"
#include "platform/ServiceConfig.h"

#include <QNetworkCookie>
#include <QVBoxLayout>
#include <QWebEngineCertificateError>
#include <QWebEngineCookieStore>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>
#include <unistd.h>

namespace sondrel {
namespace {

// Mirrors the engine's cookie store into the shared jar, once per process.
void mirrorEngineCookies() {
    static bool connected = false;
    if (connected) {
        return;
    }
    connected = true;
    QWebEngineCookieStore* store = QWebEngineProfile::defaultProfile()->cookieStore();
    QObject::connect(store, &QWebEngineCookieStore::cookieAdded, store,
                     [](const QNetworkCookie& cookie) { sharedCookieJar().addCookie(cookie); });
    QObject::connect(store, &QWebEngineCookieStore::cookieRemoved, store,
                     [](const QNetworkCookie& cookie) { sharedCookieJar().removeCookie(cookie); });
    store->loadAllCookies();
}

} // namespace

void prepareWebEngineEnvironment() {
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
}

WebView::WebView(QWidget* containerWidget, QObject* parent)
    : QObject(parent), container(containerWidget) {}

WebView::~WebView() = default;

QWebEngineView* WebView::view() {
    if (!engineView) {
        create();
    }
    return engineView;
}

void WebView::create() {
    mirrorEngineCookies();
    engineView = new QWebEngineView(container);
    if (container) {
        auto* layout = qobject_cast<QVBoxLayout*>(container->layout());
        if (!layout) {
            layout = new QVBoxLayout(container);
            layout->setContentsMargins(0, 0, 0, 0);
        }
        layout->addWidget(engineView);
    }
    engineView->setVisible(!hidden);
    // The engine keeps its own trust store: a server whose certificate is one the player
    // was told to trust (the stand-in service's) is accepted, every other error refused.
    connect(engineView->page(), &QWebEnginePage::certificateError, this,
            [](QWebEngineCertificateError error) {
                const QList<QSslCertificate> chain = error.certificateChain();
                if (!chain.isEmpty() && extraTrustedCertificates().contains(chain.first())) {
                    error.acceptCertificate();
                } else {
                    error.rejectCertificate();
                }
            });
    connect(engineView->page(), &QWebEnginePage::loadingChanged, this,
            [this](const QWebEngineLoadingInfo& info) {
                switch (info.status()) {
                case QWebEngineLoadingInfo::LoadStartedStatus:
                    loadInitialUrl = info.url();
                    emit didCommitLoad(loadInitialUrl);
                    break;
                case QWebEngineLoadingInfo::LoadSucceededStatus:
                    emit didFinishLoad(loadInitialUrl.isEmpty() ? info.url() : loadInitialUrl);
                    break;
                case QWebEngineLoadingInfo::LoadFailedStatus:
                case QWebEngineLoadingInfo::LoadStoppedStatus: {
                    const QUrl initial = loadInitialUrl.isEmpty() ? info.url() : loadInitialUrl;
                    // The engine counts an HTTP error answer as a failure, but its page
                    // is shown like any other.
                    if (info.status() == QWebEngineLoadingInfo::LoadFailedStatus &&
                        info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain) {
                        emit didFinishLoad(initial);
                    } else {
                        emit didFailLoad(initial);
                    }
                    break;
                }
                }
            });
}

void WebView::loadRequest(const QUrl& url) {
    view()->load(url);
}

void WebView::reload() {
    // A fresh load of the address reached after redirects, so that address is the new
    // load's initial address (a plain engine reload would keep the old one).
    view()->load(view()->page()->url());
}

QUrl WebView::currentUrl() const {
    return engineView ? engineView->page()->url() : QUrl();
}

void WebView::setVisible(bool visible) {
    hidden = !visible;
    if (engineView) {
        engineView->setVisible(visible);
    }
}

bool WebView::isVisible() const {
    return !hidden;
}

void WebView::runJavaScript(const QString& script) {
    view()->page()->runJavaScript(script);
}

} // namespace sondrel
