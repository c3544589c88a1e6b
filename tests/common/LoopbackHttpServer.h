#pragma once
// A small HTTP server on 127.0.0.1 inside a test, for answers the stand-in service does
// not give (odd bodies, plain pages): register routes on server() in the constructor's
// callback, then ask for addresses with url(). It listens on a free port on a thread of
// its own from construction to destruction (stopped and joined there).
//
// Header-only: a test that includes it links PkgConfig::CPPHTTPLIB.

#include <QString>
#include <QUrl>
#include <chrono>
#include <functional>
#include <httplib.h>
#include <thread>

namespace sondrel::test {

class LoopbackHttpServer {
public:
    explicit LoopbackHttpServer(const std::function<void(httplib::Server&)>& routes) {
        routes(httpServer);
        port = httpServer.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { httpServer.listen_after_bind(); });
        // stop() is a no-op until the listening loop runs: wait for it.
        while (!httpServer.is_running()) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    ~LoopbackHttpServer() {
        httpServer.stop();
        thread.join();
    }
    LoopbackHttpServer(const LoopbackHttpServer&) = delete;
    LoopbackHttpServer& operator=(const LoopbackHttpServer&) = delete;

    // "http://127.0.0.1:<port>" followed by `path`.
    QUrl url(const QString& path) const {
        return QUrl(QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path));
    }

private:
    httplib::Server httpServer;
    int port = 0;
    std::thread thread;
};

} // namespace sondrel::test
