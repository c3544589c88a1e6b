#pragma once
// The sign-in's fixed addresses and the rules that read the addresses the sign-in web
// view finishes loading:
//
//   authorization address  <api origin>/oauth/authorize?client_id=<id>&redirect_uri=
//                          <api origin>/blank.html&scope=audio,friends,status
//                          &display=page&response_type=token   (the redirect page address
//                          stands in it as is, not percent-encoded)
//   redirect page          <api origin>/blank.html
//   login form address     <login origin>/?act=login&soft=1
//   feed page              <main origin>/feed
//
// All of them are HTTPS (the configured origins are): the redirect page's address
// carries the access token, and a page that a middleman could rewrite would read it.
// The sign-in view shows only pages of the service's own origins (the API, login and
// main origins); anything else opens in the desktop's browser.
//
// A finished load is tested on its initial address (before redirects), as text:
//   - "act=logout" anywhere: the logout has completed;
//   - the whole authorization address, the whole login form address or "act=grant_access"
//     anywhere: the load is reloaded from where it ended up;
//   - then the address is read for a token (readTokenAddress).
//
// Pure functions; safe on any thread.

#include "platform/ServiceConfig.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QUrl>
#include <optional>

namespace sondrel {

// Settings keys of the sign-in.
inline const QString kAccessTokenKey = QStringLiteral("accessToken");
inline const QString kAccessTokenDateKey = QStringLiteral("accessTokenDate");
inline const QString kLastUserIdKey = QStringLiteral("lastUserId");

struct AuthAddresses {
    QString authorization;
    QString redirectPage;
    QString loginForm;
    QString feed;
    // The origins the sign-in view may show.
    QList<QUrl> serviceOrigins;

    static AuthAddresses from(const ServiceConfig& config);

    // Whether `url` belongs to one of serviceOrigins (same scheme, host and port).
    bool isServiceOrigin(const QUrl& url) const;
    // Whether the sign-in view may show `url`: a service origin that a token may travel
    // to (mayCarryAccessToken: HTTPS, or plain HTTP only on this machine). A service
    // configured with a plain HTTP origin elsewhere gets no sign-in page in the view.
    bool signInViewMayShow(const QUrl& url) const;
};

// The text form of a web view address that the tests below look at: every part,
// fragment included, percent escapes kept as they are.
QString addressText(const QUrl& url);

struct FinishedLoadTests {
    bool logoutCompleted = false; // "act=logout"
    bool reload = false;          // the authorization or login form address, or a grant
};

FinishedLoadTests testFinishedLoad(const QString& initialAddress, const AuthAddresses& addresses);

// What an address says about the sign-in (the rules of checkToken):
//   - without "access_token": nothing to store; an address with "error" (an OAuth error
//     redirect, such as a refused grant) asks for the authorization page again;
//   - with it: the token is the text after the first "access_token=" up to the next "&"
//     (or the end), and the user id the text after the last "&user_id=" (the whole address
//     when there is none).
struct TokenAddress {
    bool loadAuthPage = false;
    std::optional<QString> userId; // to store under "lastUserId"
    // To store under "accessToken" with the time. An empty token is no token: storing ""
    // would sign the user out in the middle of a sign-in.
    std::optional<QString> token;
};

TokenAddress readTokenAddress(const QString& address);

// The logout link of a feed page: the first element whose "href" contains
// "logout_mobile", its value percent-decoded. Nothing when the bytes are not UTF-8, do
// not parse, hold no such element, or the link does not decode.
std::optional<QString> logoutLinkFromFeedPage(const QByteArray& body);

} // namespace sondrel
