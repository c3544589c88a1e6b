// The service's sign-in pages, as the player's web view walks through them:
//
//   /oauth/authorize?client_id&redirect_uri&scope&display&response_type=token
//       -> signed in and access granted: redirect_uri#access_token=..&expires_in=..&user_id=..
//       -> signed in: the grant page; otherwise: the login page
//   /oauth/login        the login form, posting to "/?act=login&soft=1" on the login host,
//                       with a help link to another site
//   POST /?act=login    checks the demo account, sets the session cookie, goes on
//   /oauth/grant        "allow" and "deny" links, both with act=grant_access
//   /?act=grant_access  issues a token (or, with cancel=1, the access_denied error)
//   /blank.html         the redirect page
//   /feed               the main host's feed; with a session it links the logout
//                       ("/?act=logout_mobile&hash=..") unless told not to
//   /?act=logout...     ends the session and its cookie, back to the main page
//
// All hosts are 127.0.0.1, so the session cookie (no Secure flag) reaches both
// listeners, like a cookie of the service's parent domain would.

#include "Html.h"
#include "Routes.h"
#include "ServiceState.h"

#include <charconv>
#include <httplib.h>
#include <optional>
#include <utility>

namespace standin {
namespace {

const char* const kHtmlType = "text/html; charset=utf-8";
const char* const kSessionCookie = "sondrel_sid";
const char* const kDisplayName = "Demo User";
const char* const kHelpSite = "https://help.sondrel.example/sign-in";

std::string param(const httplib::Request& req, const char* name) {
    return req.has_param(name) ? req.get_param_value(name) : std::string();
}

std::string encode(const std::string& value) {
    return httplib::detail::encode_query_param(value);
}

std::string cookieValue(const httplib::Request& req, const std::string& name) {
    const std::string header = req.get_header_value("Cookie");
    std::size_t pos = 0;
    while (pos < header.size()) {
        const auto end = std::min(header.find(';', pos), header.size());
        std::string pair = header.substr(pos, end - pos);
        const auto first = pair.find_first_not_of(' ');
        pair = first == std::string::npos ? std::string() : pair.substr(first);
        if (pair.rfind(name + "=", 0) == 0) {
            return pair.substr(name.size() + 1);
        }
        pos = end + 1;
    }
    return {};
}

// Who the request's session cookie belongs to, if anyone.
struct Visitor {
    std::string session;
    std::optional<std::int64_t> user;
};

Visitor visitor(const ServiceState& state, const httplib::Request& req) {
    Visitor v;
    v.session = cookieValue(req, kSessionCookie);
    if (!v.session.empty()) {
        v.user = state.sessionUser(v.session);
    }
    return v;
}

// The OAuth request the pages carry along from the authorization address.
struct AuthRequest {
    std::string clientId;
    std::string redirectUri;
    std::string scope;

    static AuthRequest from(const httplib::Request& req) {
        return {param(req, "client_id"), param(req, "redirect_uri"), param(req, "scope")};
    }
    std::string query() const {
        return "client_id=" + encode(clientId) + "&redirect_uri=" + encode(redirectUri) +
               "&scope=" + encode(scope);
    }
};

// Only the service's own redirect page on this machine may receive tokens.
bool acceptableRedirect(const std::string& uri) {
    for (const char* prefix :
         {"http://127.0.0.1:", "https://127.0.0.1:", "http://localhost:", "https://localhost:"}) {
        const std::string p = prefix;
        if (uri.rfind(p, 0) != 0) {
            continue;
        }
        const auto slash = uri.find('/', p.size());
        if (slash == std::string::npos) {
            return false;
        }
        const std::string port = uri.substr(p.size(), slash - p.size());
        int value = 0;
        const auto result = std::from_chars(port.data(), port.data() + port.size(), value);
        const std::string rest = uri.substr(slash);
        return result.ec == std::errc() && result.ptr == port.data() + port.size() &&
               (rest == "/blank.html" || rest.rfind("/blank.html?", 0) == 0);
    }
    return false;
}

// Checks the parts of an OAuth request the pages rely on; on failure answers an error
// page and returns false.
bool validAuthRequest(const ServiceState& state, const AuthRequest& auth, httplib::Response& res) {
    std::string problem;
    if (auth.clientId != state.options().clientId) {
        problem = "The application is unknown (client_id " + auth.clientId + ").";
    } else if (!acceptableRedirect(auth.redirectUri)) {
        problem = "The redirect_uri is not allowed for this application.";
    }
    if (problem.empty()) {
        return true;
    }
    res.status = 400;
    res.set_content(
        htmlPage("Sign-in problem", "<h1>Sign-in problem</h1><p>" + htmlEscape(problem) + "</p>"),
        kHtmlType);
    return false;
}

std::string loginPageUrl(const ServiceState& state, const AuthRequest& auth, bool retry = false) {
    return state.origins().https + "/oauth/login?" + auth.query() + (retry ? "&retry=1" : "");
}

// A value only pages shown to this session carry, so other sites cannot make the
// browser grant access or sign out.
std::string sessionHash(const ServiceState& state, const std::string& session,
                        const char* purpose) {
    return state.pageHash(std::string(purpose) + ":" + session);
}

// Where a signed-in user goes next: straight back with a token when access was granted
// before, else to the grant page.
std::string continuation(ServiceState& state, std::int64_t user, const AuthRequest& auth) {
    if (!state.granted(user)) {
        return state.origins().https + "/oauth/grant?" + auth.query();
    }
    const std::string token = state.takeEmptyToken() ? std::string() : state.issueToken(user);
    const std::int64_t lifetime =
        state.options().tokenLifetime > 0 ? state.options().tokenLifetime : 86400;
    return auth.redirectUri + "#access_token=" + token + "&expires_in=" + std::to_string(lifetime) +
           "&user_id=" + std::to_string(user);
}

void redirect(httplib::Response& res, const std::string& location) {
    res.set_redirect(location, 302);
    res.set_content(
        htmlPage("Redirect", "<p><a href=\"" + htmlEscape(location) + "\">Continue</a></p>"),
        kHtmlType);
}

void authorize(ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    const AuthRequest auth = AuthRequest::from(req);
    if (!validAuthRequest(state, auth, res)) {
        return;
    }
    if (param(req, "response_type") != "token") {
        redirect(res, auth.redirectUri + "#error=unsupported_response_type&error_description=" +
                          encode("Only response_type=token is supported"));
        return;
    }
    const Visitor v = visitor(state, req);
    redirect(res, v.user ? continuation(state, *v.user, auth) : loginPageUrl(state, auth));
}

void loginPage(ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    const AuthRequest auth = AuthRequest::from(req);
    if (!validAuthRequest(state, auth, res)) {
        return;
    }
    if (const Visitor v = visitor(state, req); v.user) {
        redirect(res, continuation(state, *v.user, auth));
        return;
    }
    std::string body = "<h1>Sign in</h1>\n";
    if (param(req, "retry") == "1") {
        body += "<p class=\"message\">Wrong login or password. Please try again.</p>\n";
    }
    body += "<form method=\"post\" action=\"" +
            htmlEscape(state.origins().https + "/?act=login&soft=1") + "\">\n";
    body +=
        "<input type=\"hidden\" name=\"client_id\" value=\"" + htmlEscape(auth.clientId) + "\">\n";
    body += "<input type=\"hidden\" name=\"redirect_uri\" value=\"" + htmlEscape(auth.redirectUri) +
            "\">\n";
    body += "<input type=\"hidden\" name=\"scope\" value=\"" + htmlEscape(auth.scope) + "\">\n";
    body += "<label>Login <input type=\"text\" name=\"email\" autofocus></label>\n";
    body += "<label>Password <input type=\"password\" name=\"pass\"></label>\n";
    body += "<input type=\"submit\" class=\"button\" value=\"Sign in\">\n</form>\n";
    body += "<p class=\"demo\">Demo account: login <b>" + htmlEscape(state.options().login) +
            "</b>, password <b>" + htmlEscape(state.options().password) + "</b></p>\n";
    // A link to another site, as a real service's pages have: the player opens such links
    // in the desktop's browser instead of leaving its sign-in.
    body += "<p class=\"help\"><a href=\"" + std::string(kHelpSite) +
            "\">Trouble signing in?</a></p>\n";
    res.set_content(htmlPage("Sign in", body), kHtmlType);
}

void login(ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    const AuthRequest auth = AuthRequest::from(req);
    if (!validAuthRequest(state, auth, res)) {
        return;
    }
    if (param(req, "email") != state.options().login ||
        param(req, "pass") != state.options().password) {
        redirect(res, loginPageUrl(state, auth, true));
        return;
    }
    const std::int64_t user = state.options().userId;
    const std::string session = state.openSession(user);
    res.set_header("Set-Cookie",
                   std::string(kSessionCookie) + "=" + session + "; Path=/; HttpOnly");
    redirect(res, continuation(state, user, auth));
}

// The OAuth request of a page that needs a signed-in visitor. Answers the request
// itself (error page, or the way to the login page) and returns nothing otherwise.
std::optional<std::pair<AuthRequest, Visitor>>
signedInRequest(const ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    AuthRequest auth = AuthRequest::from(req);
    if (!validAuthRequest(state, auth, res)) {
        return std::nullopt;
    }
    Visitor v = visitor(state, req);
    if (!v.user) {
        redirect(res, loginPageUrl(state, auth));
        return std::nullopt;
    }
    return std::make_pair(std::move(auth), std::move(v));
}

void grantPage(ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    const auto request = signedInRequest(state, req, res);
    if (!request) {
        return;
    }
    const auto& [auth, v] = *request;
    const std::string base = state.origins().https + "/?act=grant_access&" + auth.query() +
                             "&hash=" + sessionHash(state, v.session, "grant");
    std::string body = "<h1>Allow access?</h1>\n<p>The application <b>Sondrel</b> (client id " +
                       htmlEscape(auth.clientId) +
                       ") asks for access to: " + htmlEscape(auth.scope) + ".</p>\n";
    body += "<p>Signed in as " + std::string(kDisplayName) + ".</p>\n";
    body += "<p><a class=\"button allow\" href=\"" + htmlEscape(base) + "\">Allow</a>\n";
    body +=
        "<a class=\"button deny\" href=\"" + htmlEscape(base + "&cancel=1") + "\">Deny</a></p>\n";
    res.set_content(htmlPage("Allow access", body), kHtmlType);
}

void grantAccess(ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    const auto request = signedInRequest(state, req, res);
    if (!request) {
        return;
    }
    const auto& [auth, v] = *request;
    if (param(req, "hash") != sessionHash(state, v.session, "grant")) {
        redirect(res, state.origins().https + "/oauth/grant?" + auth.query());
        return;
    }
    if (param(req, "cancel") == "1") {
        redirect(res, auth.redirectUri +
                          "#error=access_denied&error_reason=user_denied&error_description=" +
                          encode("User denied your request"));
        return;
    }
    state.grant(*v.user);
    redirect(res, continuation(state, *v.user, auth));
}

std::string logoutTarget(const ServiceState& state, const httplib::Request& req) {
    const std::string origin = param(req, "_origin");
    for (const std::string& own : {state.origins().http, state.origins().https}) {
        if (origin == own) {
            return origin + "/";
        }
    }
    return state.origins().https + "/";
}

void logout(ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    const Visitor v = visitor(state, req);
    if (v.user && param(req, "hash") == sessionHash(state, v.session, "logout")) {
        state.closeSession(v.session);
        res.set_header("Set-Cookie", std::string(kSessionCookie) +
                                         "=; Path=/; Max-Age=0; Expires=Thu, 01 Jan 1970 "
                                         "00:00:00 GMT; HttpOnly");
    }
    redirect(res, logoutTarget(state, req));
}

void feed(ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    const Visitor v = visitor(state, req);
    const std::string& main = state.origins().https;
    if (!v.user) {
        res.set_content(htmlPage("News", "<h1>News</h1>\n<p>Sign in to see your news.</p>\n"
                                         "<p><a href=\"" +
                                             htmlEscape(main) + "/\">Home</a></p>"),
                        kHtmlType);
        return;
    }
    const std::string profile = main + "/id" + std::to_string(*v.user);
    std::string body = "<div class=\"menu\">\n";
    body +=
        "<a class=\"mmi_profile\" href=\"" + htmlEscape(profile) + "\">" + kDisplayName + "</a>\n";
    body += "<a class=\"mmi_feed\" href=\"" + htmlEscape(main) + "/feed\">News</a>\n";
    body += "<a class=\"mmi_audio\" href=\"" + htmlEscape(main) + "/audio\">Music</a>\n";
    body += "<a class=\"mmi_settings\" href=\"" + htmlEscape(main) + "/settings\">Settings</a>\n";
    if (state.feedLogoutLink()) {
        const std::string link = state.origins().https + "/?act=logout_mobile&hash=" +
                                 sessionHash(state, v.session, "logout") +
                                 "&_origin=" + encode(main);
        body += "<a class=\"mmi_logout\" href=\"" + htmlEscape(link) + "\">Log out</a>\n";
    }
    body += "</div>\n<h1>News</h1>\n";
    body += "<div class=\"post\"><p>Kino shared a song: <a href=\"" + htmlEscape(main) +
            "/audio\">Звезда</a></p></div>\n";
    body += "<div class=\"post\"><p>Nothing else new today.</p></div>\n";
    res.set_content(htmlPage("News", body), kHtmlType);
}

void mainPage(ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    const Visitor v = visitor(state, req);
    const std::string& main = state.origins().https;
    const std::string body = v.user ? "<h1>Home</h1>\n<p>Signed in as " +
                                          std::string(kDisplayName) + ".</p>\n<p><a href=\"" +
                                          htmlEscape(main) + "/feed\">News</a></p>"
                                    : std::string("<h1>Home</h1>\n<p>You are not signed in.</p>");
    res.set_content(htmlPage("Home", body), kHtmlType);
}

// "/" serves the acts of the login host and the main host's home page.
void root(ServiceState& state, const httplib::Request& req, httplib::Response& res) {
    const std::string act = param(req, "act");
    if (act == "login") {
        if (req.method == "POST") {
            login(state, req, res);
        } else {
            redirect(res, loginPageUrl(state, AuthRequest::from(req)));
        }
    } else if (act == "grant_access") {
        grantAccess(state, req, res);
    } else if (act == "logout" || act == "logout_mobile") {
        logout(state, req, res);
    } else {
        mainPage(state, req, res);
    }
}

} // namespace

void registerAuthPages(httplib::Server& server, ServiceState& state) {
    auto route =
        [&state](void (*handler)(ServiceState&, const httplib::Request&, httplib::Response&)) {
            return [&state, handler](const httplib::Request& req, httplib::Response& res) {
                handler(state, req, res);
            };
        };
    server.Get("/oauth/authorize", route(authorize));
    server.Get("/oauth/login", route(loginPage));
    server.Get("/oauth/grant", route(grantPage));
    server.Get("/feed", route(feed));
    server.Get("/", route(root));
    server.Post("/", route(root));
    server.Get("/blank.html", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(
            htmlPage("OAuth Blank", "<p>Please do not copy the address of this page.</p>"),
            kHtmlType);
    });
}

} // namespace standin
