#pragma once
// Route registration. Both listeners get the same service routes; the control
// endpoints for tests exist on the HTTP listener only.

namespace httplib {
class Server;
}

namespace standin {

class ServiceState;

// /audio/<aid>.mp3 with Range support and the fault parameters.
void registerSongRoutes(httplib::Server& server, ServiceState& state);
// /method/<name> (audio.get, audio.search, status.set) and /captcha.php.
void registerApiRoutes(httplib::Server& server, ServiceState& state);
// /oauth/authorize, the login form and its target, the grant page, /blank.html,
// /feed, the logout link and the main page.
void registerAuthPages(httplib::Server& server, ServiceState& state);
// /control/...
void registerControlRoutes(httplib::Server& server, ServiceState& state);

} // namespace standin
