#pragma once
// The sign-in web view: a thin adapter over Qt WebEngine that reports, for every load,
// when it commits and when it finishes, each time with that load's initial address
// (the address the load began with, before any redirect). reload() starts a new load of
// the address reached after redirects, which becomes that load's initial address.
//
// The web engine is heavy (helper processes, ~270 MB), so the view is created only when
// something first needs it: a start with a usable token never starts the engine.
//
// A load "finishes" when its page is shown, an HTTP error page included; a load that
// fails without a page (no connection, refused certificate) or is stopped by the next
// one reports didFailLoad instead (the sign-in tests and reloads only pages it shows).
//
// Every cookie the web engine stores or removes is mirrored into the shared cookie jar
// (platform/Network.h), so background requests carry the sign-in session.
//
// Main thread only.

#include <QObject>
#include <QPointer>
#include <QUrl>

class QWebEngineView;
class QWidget;

namespace sondrel {

class WebView : public QObject {
    Q_OBJECT

public:
    // `container` receives the view as its only child (in a layout) when it is created.
    explicit WebView(QWidget* container, QObject* parent = nullptr);
    ~WebView() override;

    // The engine's view, created on first call.
    QWebEngineView* view();
    bool isCreated() const { return !engineView.isNull(); }

    void loadRequest(const QUrl& url);
    // Loads the current page again from the address it reached after redirects.
    void reload();
    // The address shown now (after redirects, with its fragment).
    QUrl currentUrl() const;

    void setVisible(bool visible);
    bool isVisible() const;

    // Runs JavaScript in the page (tests fill forms with it).
    void runJavaScript(const QString& script);

signals:
    void didCommitLoad(const QUrl& initialUrl);
    void didFinishLoad(const QUrl& initialUrl);
    void didFailLoad(const QUrl& initialUrl);

private:
    void create();

    QPointer<QWidget> container;
    QPointer<QWebEngineView> engineView;
    QUrl loadInitialUrl; // initial address of the load under way
    bool hidden = false;
};

// Switches off the web engine's own sandbox when running as root, where it cannot work.
// Call before the QApplication is created.
void prepareWebEngineEnvironment();

} // namespace sondrel
