#pragma once
// The sign-in web view: a thin adapter over Qt WebEngine that reports, for every load,
// when it commits and when it finishes, each time with that load's initial address
// (the address the load began with, before any redirect). reload() starts a new load of
// the address reached after redirects, which becomes that load's initial address.
//
// The web engine is heavy (helper processes, ~270 MB), so the view is created only when
// something first needs it: a start with a usable token never starts the engine, nor
// even loads its module (WebEngineModule.h). When the module cannot be loaded, the
// reason is logged once and every load reports didFailLoad.
//
// A load "finishes" when its page is shown, an HTTP error page included; a load that
// fails without a page (no connection, refused certificate) or is stopped by the next
// one reports didFailLoad instead (the sign-in tests and reloads only pages it shows).
//
// The owner may keep the view on some sites (setNavigationFilter): a main-frame
// navigation anywhere else (a link, a redirect, a script) does not happen; the page stays
// as it is and navigationRefused tells the owner where it would have gone.
//
// Every cookie the web engine stores or removes is mirrored into the shared cookie jar
// (platform/Network.h), so background requests carry the sign-in session.
//
// Main thread only.

#include <QObject>
#include <QPointer>
#include <QUrl>
#include <functional>
#include <memory>

class QVariant;
class QWidget;

namespace sondrel {

class WebEngineView;

class WebView : public QObject {
    Q_OBJECT

public:
    // `container` receives the view as its only child (in a layout) when it is created.
    explicit WebView(QWidget* container, QObject* parent = nullptr);
    ~WebView() override;

    // Whether the engine's view exists (it is created by the first load).
    bool isCreated() const { return engineView != nullptr; }

    void loadRequest(const QUrl& url);
    // Loads the current page again from the address it reached after redirects.
    void reload();
    // The address shown now (after redirects, with its fragment).
    QUrl currentUrl() const;

    void setVisible(bool visible);
    bool isVisible() const;

    // Which addresses the main frame may go to, asked at each navigation. Empty: every
    // address.
    void setNavigationFilter(std::function<bool(const QUrl&)> allows);

    // Runs JavaScript in the page (tests fill forms and read pages with it); `result`
    // receives the script's value.
    void runJavaScript(const QString& script,
                       std::function<void(const QVariant&)> result = nullptr);

signals:
    void didCommitLoad(const QUrl& initialUrl);
    void didFinishLoad(const QUrl& initialUrl);
    void didFailLoad(const QUrl& initialUrl);
    // The filter kept the main frame from going to `url` (queued: sent after the engine's
    // own call has returned).
    void navigationRefused(const QUrl& url);

private:
    // Creates the engine's view on first need; false when the engine is unavailable.
    bool ensureCreated();
    void loadEnded(const QUrl& url, bool pageShown);

    QPointer<QWidget> container;
    std::unique_ptr<WebEngineView> engineView;
    QUrl loadInitialUrl; // initial address of the load under way
    std::function<bool(const QUrl&)> navigationFilter;
    bool hidden = false;
};

} // namespace sondrel
