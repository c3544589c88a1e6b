#include "Server.h"

#include "Files.h"
#include "Html.h"
#include "Json.h"
#include "LogText.h"
#include "Routes.h"
#include "ServiceState.h"

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <future>
#include <httplib.h>
#include <iostream>
#include <memory>
#include <sys/socket.h>
#include <thread>

namespace standin {
namespace {

constexpr const char* kHost = "127.0.0.1";
// Worker threads per listener: each open connection holds one, and the fault tests
// keep some stalled on purpose.
constexpr std::size_t kWorkers = 48;
// How long a stop waits for the workers to end.
constexpr auto kStopWait = std::chrono::milliseconds(300);

void configure(httplib::Server& server, ServiceState& state, const char* scheme, bool control) {
    server.new_task_queue = [] { return new httplib::ThreadPool(kWorkers); };
    server.set_keep_alive_max_count(1000);
    // A client may read a song slowly; give it time before the write fails.
    server.set_write_timeout(60, 0);
    server.set_pre_routing_handler([&state, scheme](const httplib::Request& req,
                                                    httplib::Response&) {
        if (req.path.rfind("/control/", 0) != 0) {
            const auto question = req.target.find('?');
            state.record(
                {scheme, req.method, req.path,
                 question == std::string::npos ? std::string() : req.target.substr(question + 1),
                 req.target, req.get_header_value("Range"),
                 req.get_header_value("Accept-Encoding")});
        }
        return httplib::Server::HandlerResponse::Unhandled;
    });
    server.set_error_handler([](const httplib::Request&, httplib::Response& res) {
        if (res.body.empty() && !res.has_header("Content-Type")) {
            const std::string title = std::to_string(res.status) + " " + statusReason(res.status);
            res.set_content(htmlPage(title, "<h1>" + htmlEscape(title) + "</h1>"),
                            "text/html; charset=utf-8");
        }
    });
    if (state.options().verbose) {
        server.set_logger([scheme](const httplib::Request& req, const httplib::Response& res) {
            std::cerr << "sondrel-service: " << scheme << " " << req.method << " "
                      << hideAccessTokens(req.target) << " -> " << res.status << "\n";
        });
    }
    registerSongRoutes(server, state);
    registerApiRoutes(server, state);
    registerAuthPages(server, state);
    if (control) {
        registerControlRoutes(server, state);
    }
}

int bindListener(httplib::Server& server, int port) {
    // The library's default also sets SO_REUSEPORT, which lets a second service listen on
    // a port already taken and receive every other connection. Only SO_REUSEADDR: a
    // service restarted right after the last one stopped still gets its port.
    server.set_socket_options([](socket_t sock) {
        const int yes = 1;
        ::setsockopt(sock, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof(yes));
    });
    if (port == 0) {
        return server.bind_to_any_port(kHost);
    }
    return server.bind_to_port(kHost, port) ? port : -1;
}

std::string infoJson(const ServiceState& state, const std::string& certificatePath) {
    JsonWriter w;
    w.beginObject();
    w.field("api_origin", state.origins().https);
    w.field("api_http_origin", state.origins().http);
    w.field("login_origin", state.origins().https);
    w.field("main_origin", state.origins().https);
    w.field("client_id", state.options().clientId);
    w.field("certificate", certificatePath);
    w.endObject();
    return w.str() + "\n";
}

bool waitUntilRunning(const httplib::Server& server, const std::future<void>& listening) {
    for (int i = 0; i < 1000 && !server.is_running(); ++i) {
        if (listening.wait_for(std::chrono::milliseconds(5)) == std::future_status::ready) {
            return false; // the listener gave up
        }
    }
    return server.is_running();
}

} // namespace

void blockServiceSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    // Writes to a client that went away must fail, not kill the service.
    std::signal(SIGPIPE, SIG_IGN);
}

int runServer(ServiceState& state, const TlsIdentity& identity) {
    httplib::SSLServer https(identity.certificate.get(), identity.key.get());
    httplib::Server http;
    if (!https.is_valid()) {
        std::cerr << "sondrel-service: cannot set up TLS with " << identity.certificatePath << "\n";
        return 1;
    }
    configure(https, state, "https", false);
    configure(http, state, "http", true);

    const int httpsPort = bindListener(https, state.options().httpsPort);
    const int httpPort = bindListener(http, state.options().httpPort);
    if (httpsPort <= 0 || httpPort <= 0) {
        std::cerr << "sondrel-service: cannot listen on " << kHost << " port "
                  << (httpsPort <= 0 ? state.options().httpsPort : state.options().httpPort)
                  << " (in use?)\n";
        return 1;
    }
    state.setOrigins({"https://" + std::string(kHost) + ":" + std::to_string(httpsPort),
                      "http://" + std::string(kHost) + ":" + std::to_string(httpPort)});

    // Each listener returns once it has stopped and all its workers have ended.
    std::future<void> httpsListening =
        std::async(std::launch::async, [&] { https.listen_after_bind(); });
    std::future<void> httpListening =
        std::async(std::launch::async, [&] { http.listen_after_bind(); });
    // Stops accepting and ends stalled transfers. True when every worker has ended in
    // time; a worker may sit in an idle keep-alive connection for a few seconds more.
    auto shutdown = [&] {
        state.stop();
        https.stop();
        http.stop();
        const auto deadline = std::chrono::steady_clock::now() + kStopWait;
        return httpsListening.wait_until(deadline) == std::future_status::ready &&
               httpListening.wait_until(deadline) == std::future_status::ready;
    };
    auto exitNow = [](int code) {
        // Idle keep-alive connections would keep their workers for seconds: nothing is
        // left to save, so leave without waiting for them.
        std::cerr.flush();
        std::cout.flush();
        std::_Exit(code);
    };
    if (!waitUntilRunning(https, httpsListening) || !waitUntilRunning(http, httpListening)) {
        std::cerr << "sondrel-service: the listeners did not start\n";
        exitNow(1);
    }

    const std::string info = infoJson(state, identity.certificatePath);
    const std::string infoPath = state.options().infoPath;
    const auto slash = infoPath.rfind('/');
    if (slash != std::string::npos && slash > 0) {
        makeDirs(infoPath.substr(0, slash));
    }
    if (const std::string error = writeFileAtomically(infoPath, info); !error.empty()) {
        std::cerr << "sondrel-service: " << error << "\n";
        exitNow(1);
    }
    std::cerr << "sondrel-service: " << state.origins().https << " and " << state.origins().http
              << ", " << state.library().songs().size() << " songs, information in " << infoPath
              << "\n";
    std::cout << "sondrel-service ready" << std::endl;

    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGINT);
    int signal = 0;
    sigwait(&set, &signal);

    const bool allEnded = shutdown();
    // Remove the information file only if it is still ours (another service may have
    // replaced it since).
    if (readWholeFile(infoPath) == info) {
        std::remove(infoPath.c_str());
    }
    std::cerr << "sondrel-service: stopped\n";
    if (!allEnded) {
        exitNow(0);
    }
    return 0;
}

} // namespace standin
