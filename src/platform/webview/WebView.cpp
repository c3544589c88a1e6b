#include "platform/webview/WebView.h"

#include "platform/Log.h"
#include "platform/Modules.h"
#include "platform/Network.h"
#include "platform/ServiceConfig.h"
#include "platform/webview/WebEngineModule.h"

#include <QNetworkCookie>
#include <QOpenGLContext>
#include <QSslCertificate>
#include <QVBoxLayout>
#include <QVariant>
#include <QWidget>
#include <unistd.h>

// Qt GUI's setter for the OpenGL context that every other context shares with. Qt sets
// it up itself while the application object is made when asked to
// (Qt::AA_ShareOpenGLContexts); the web engine draws through it and crashes without it.
// The player sets it up only when the engine is first needed, so that starts which never
// show the sign-in do not pay for an OpenGL driver. Exported by Qt GUI, not declared in
// its public headers.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace sondrel {
namespace {

// Prepares the process for the engine, once, before its module is loaded.
void prepareWebEngine() {
    // The engine's own sandbox cannot work for root.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    }
    if (QOpenGLContext::globalShareContext() == nullptr) {
        // Never destroyed: the engine uses it until the process ends. A context that
        // cannot be created still serves: the engine then draws without OpenGL.
        auto* context = new QOpenGLContext;
        if (!context->create()) {
            logLine(QStringLiteral("OpenGL unavailable: the sign-in page is drawn without it"));
        }
        qt_gl_set_global_share_context(context);
    }
}

// The loaded module, or nullptr when it cannot be loaded (the reason is logged once).
WebEngineModule* webEngineModule() {
    static WebEngineModule* module = []() -> WebEngineModule* {
        prepareWebEngine();
        QString error;
        auto* loaded = qobject_cast<WebEngineModule*>(
            loadModule(QStringLiteral("sondrel-webengine.so"), &error));
        if (loaded == nullptr) {
            logLine(QStringLiteral("Sign-in page unavailable: %1").arg(error));
            return nullptr;
        }
        loaded->mirrorCookies(
            [](const QNetworkCookie& cookie) { sharedCookieJar().addCookie(cookie); },
            [](const QNetworkCookie& cookie) { sharedCookieJar().removeCookie(cookie); });
        return loaded;
    }();
    return module;
}

} // namespace

WebView::WebView(QWidget* containerWidget, QObject* parent)
    : QObject(parent), container(containerWidget) {}

WebView::~WebView() = default;

bool WebView::ensureCreated() {
    if (engineView) {
        return true;
    }
    WebEngineModule* module = webEngineModule();
    if (module == nullptr) {
        return false;
    }
    WebEngineViewEvents events;
    events.loadStarted = [this](const QUrl& url) {
        loadInitialUrl = url;
        emit didCommitLoad(loadInitialUrl);
    };
    events.loadEnded = [this](const QUrl& url, bool pageShown) { loadEnded(url, pageShown); };
    // The engine keeps its own trust store: a server whose certificate is one the player
    // was told to trust (the stand-in service's) is accepted, every other error refused.
    events.trustsCertificate = [](const QList<QSslCertificate>& chain) {
        return !chain.isEmpty() && extraTrustedCertificates().contains(chain.first());
    };
    // Asked on every navigation of the main frame; the filter itself may change later.
    events.allowsNavigation = [this](const QUrl& url) {
        if (!navigationFilter || navigationFilter(url)) {
            return true;
        }
        QMetaObject::invokeMethod(
            this, [this, url] { emit navigationRefused(url); }, Qt::QueuedConnection);
        return false;
    };
    engineView = module->createView(container, std::move(events));
    QWidget* widget = engineView->widget();
    if (container) {
        auto* layout = qobject_cast<QVBoxLayout*>(container->layout());
        if (!layout) {
            layout = new QVBoxLayout(container);
            layout->setContentsMargins(0, 0, 0, 0);
        }
        layout->addWidget(widget);
    }
    widget->setVisible(!hidden);
    return true;
}

void WebView::loadEnded(const QUrl& url, bool pageShown) {
    const QUrl initial = loadInitialUrl.isEmpty() ? url : loadInitialUrl;
    if (pageShown) {
        emit didFinishLoad(initial);
    } else {
        emit didFailLoad(initial);
    }
}

void WebView::loadRequest(const QUrl& url) {
    if (!ensureCreated()) {
        // Reported from the main loop, as the engine reports its own failures.
        QMetaObject::invokeMethod(
            this, [this, url] { emit didFailLoad(url); }, Qt::QueuedConnection);
        return;
    }
    engineView->load(url);
}

void WebView::reload() {
    // A fresh load of the address reached after redirects, so that address is the new
    // load's initial address (a plain engine reload would keep the old one).
    if (engineView) {
        engineView->load(engineView->url());
    }
}

QUrl WebView::currentUrl() const {
    return engineView ? engineView->url() : QUrl();
}

void WebView::setVisible(bool visible) {
    hidden = !visible;
    if (engineView) {
        engineView->widget()->setVisible(visible);
    }
}

bool WebView::isVisible() const {
    return !hidden;
}

void WebView::setNavigationFilter(std::function<bool(const QUrl&)> allows) {
    navigationFilter = std::move(allows);
}

void WebView::runJavaScript(const QString& script, std::function<void(const QVariant&)> result) {
    if (ensureCreated()) {
        engineView->runJavaScript(script, std::move(result));
    }
}

} // namespace sondrel
