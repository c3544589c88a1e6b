// The web engine module: Qt WebEngine behind the player's WebEngineModule seam. Loaded
// by the sign-in web view on first need (see WebEngineModule.h); it links only Qt.

#include "platform/webview/WebEngineModule.h"

#include <QNetworkCookie>
#include <QPointer>
#include <QSslCertificate>
#include <QWebEngineCertificateError>
#include <QWebEngineCookieStore>
#include <QWebEngineLoadingInfo>
#include <QWebEnginePage>
#include <QWebEngineProfile>
#include <QWebEngineView>

namespace sondrel {
namespace {

// A page that asks its owner before its main frame goes anywhere.
class GuardedPage : public QWebEnginePage {
public:
    GuardedPage(std::function<bool(const QUrl&)> allows, QObject* parent)
        : QWebEnginePage(QWebEngineProfile::defaultProfile(), parent), allowed(std::move(allows)) {}

protected:
    bool acceptNavigationRequest(const QUrl& url, NavigationType type, bool isMainFrame) override {
        if (isMainFrame && allowed && !allowed(url)) {
            return false;
        }
        return QWebEnginePage::acceptNavigationRequest(url, type, isMainFrame);
    }

private:
    std::function<bool(const QUrl&)> allowed;
};

class QtWebEngineView : public WebEngineView {
public:
    QtWebEngineView(QWidget* parent, WebEngineViewEvents viewEvents)
        : view(new QWebEngineView(parent)), events(std::move(viewEvents)) {
        view->setPage(new GuardedPage(events.allowsNavigation, view));
        QWebEnginePage* page = view->page();
        QObject::connect(page, &QWebEnginePage::certificateError, view,
                         [this](QWebEngineCertificateError error) {
                             if (events.trustsCertificate &&
                                 events.trustsCertificate(error.certificateChain())) {
                                 error.acceptCertificate();
                             } else {
                                 error.rejectCertificate();
                             }
                         });
        QObject::connect(page, &QWebEnginePage::loadingChanged, view,
                         [this](const QWebEngineLoadingInfo& info) { loadingChanged(info); });
    }

    ~QtWebEngineView() override { delete view.data(); }

    QWidget* widget() override { return view; }

    void load(const QUrl& url) override {
        if (view) {
            view->load(url);
        }
    }

    QUrl url() const override { return view ? view->page()->url() : QUrl(); }

    void runJavaScript(const QString& script,
                       std::function<void(const QVariant&)> result) override {
        if (!view) {
            return;
        }
        if (result) {
            view->page()->runJavaScript(script, std::move(result));
        } else {
            view->page()->runJavaScript(script);
        }
    }

private:
    void loadingChanged(const QWebEngineLoadingInfo& info) {
        switch (info.status()) {
        case QWebEngineLoadingInfo::LoadStartedStatus:
            if (events.loadStarted) {
                events.loadStarted(info.url());
            }
            break;
        case QWebEngineLoadingInfo::LoadSucceededStatus:
            ended(info.url(), true);
            break;
        case QWebEngineLoadingInfo::LoadFailedStatus:
            // The engine counts an HTTP error answer as a failure, but its page is shown
            // like any other.
            ended(info.url(), info.errorDomain() == QWebEngineLoadingInfo::HttpStatusCodeDomain);
            break;
        case QWebEngineLoadingInfo::LoadStoppedStatus:
            ended(info.url(), false);
            break;
        }
    }

    void ended(const QUrl& url, bool pageShown) {
        if (events.loadEnded) {
            events.loadEnded(url, pageShown);
        }
    }

    // The connections above have the view as their context: they end with it.
    QPointer<QWebEngineView> view;
    WebEngineViewEvents events;
};

class QtWebEngineModule : public QObject, public WebEngineModule {
    Q_OBJECT
    Q_PLUGIN_METADATA(IID SONDREL_WEBENGINE_MODULE_IID)
    Q_INTERFACES(sondrel::WebEngineModule)

public:
    void mirrorCookies(std::function<void(const QNetworkCookie&)> added,
                       std::function<void(const QNetworkCookie&)> removed) override {
        QWebEngineCookieStore* store = QWebEngineProfile::defaultProfile()->cookieStore();
        connect(store, &QWebEngineCookieStore::cookieAdded, this, std::move(added));
        connect(store, &QWebEngineCookieStore::cookieRemoved, this, std::move(removed));
        store->loadAllCookies();
    }

    std::unique_ptr<WebEngineView> createView(QWidget* parent,
                                              WebEngineViewEvents events) override {
        return std::make_unique<QtWebEngineView>(parent, std::move(events));
    }
};

} // namespace
} // namespace sondrel

#include "QtWebEngineModule.moc"
