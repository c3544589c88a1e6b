#pragma once
// The seam between the sign-in web view and the web engine.
//
// The engine lives in a module of its own ("sondrel-webengine"), loaded the first time a
// web view is needed: a process that never signs in never maps the engine's libraries
// nor sets up the OpenGL context the engine shares its drawing with, which would
// otherwise cost every start of the player tens of milliseconds and megabytes.
//
// Only Qt types and standard ones cross the seam, and the module links nothing of the
// player: what it needs from the player (the certificates it trusts, the shared cookie
// jar) it receives as callbacks.

#include <QList>
#include <QtPlugin>
#include <functional>
#include <memory>

class QNetworkCookie;
class QSslCertificate;
class QString;
class QUrl;
class QVariant;
class QWidget;

namespace sondrel {

// What an engine view reports to its owner, on the main thread.
struct WebEngineViewEvents {
    // A load began; `url` is the address it began with.
    std::function<void(const QUrl& url)> loadStarted;
    // The load under way ended: `pageShown` when its page is on screen (an HTTP error
    // page included), false when it failed without a page or was stopped.
    std::function<void(const QUrl& url, bool pageShown)> loadEnded;
    // Whether a server whose certificate failed the engine's checks is trusted anyway;
    // `chain` starts with the server's own certificate.
    std::function<bool(const QList<QSslCertificate>& chain)> trustsCertificate;
    // Whether the main frame may go to `url` (a link, a form, a redirect, a script, or a
    // load of the owner's). A refused navigation leaves the page as it is. Empty: all may.
    std::function<bool(const QUrl& url)> allowsNavigation;
};

// One view of the engine. Destroying it destroys its widget.
class WebEngineView {
public:
    virtual ~WebEngineView() = default;

    virtual QWidget* widget() = 0;
    virtual void load(const QUrl& url) = 0;
    // The address shown now (after redirects, with its fragment).
    virtual QUrl url() const = 0;
    // Runs `script` in the page; `result` (may be empty) receives its value.
    virtual void runJavaScript(const QString& script,
                               std::function<void(const QVariant&)> result) = 0;
};

// The module's entry object.
class WebEngineModule {
public:
    virtual ~WebEngineModule() = default;

    // Reports every cookie the engine stores or removes, from now on and those it holds.
    virtual void mirrorCookies(std::function<void(const QNetworkCookie&)> added,
                               std::function<void(const QNetworkCookie&)> removed) = 0;
    // A new view, a child of `parent`.
    virtual std::unique_ptr<WebEngineView> createView(QWidget* parent,
                                                      WebEngineViewEvents events) = 0;
};

} // namespace sondrel

#define SONDREL_WEBENGINE_MODULE_IID "org.sondrel.Sondrel.WebEngineModule/1"
Q_DECLARE_INTERFACE(sondrel::WebEngineModule, SONDREL_WEBENGINE_MODULE_IID)
