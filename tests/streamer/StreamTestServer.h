#pragma once
// A real HTTP (or HTTPS) server on 127.0.0.1 for the stream player's tests, serving
// files the test hands it, with Range support and faults chosen per request through
// the query: status=N, redirect=PATH, fault=drop&after=N, fault=stall&after=N&seconds=S,
// rate=N (bytes per second), chunked=1, norange=1 (answers 200 to a Range request).
// Every request is recorded (path, query and Range header).

#include <QByteArray>
#include <QString>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
}

namespace sondrel::test {

class StreamTestServer {
public:
    // Plain HTTP, or HTTPS with the given PEM certificate and key.
    StreamTestServer();
    StreamTestServer(const QString& certificatePath, const QString& keyPath);
    ~StreamTestServer();
    StreamTestServer(const StreamTestServer&) = delete;
    StreamTestServer& operator=(const StreamTestServer&) = delete;

    bool isRunning() const { return port > 0; }
    void serve(const std::string& path, const QByteArray& body);
    // "http://127.0.0.1:PORT/path?query" (https for a TLS server).
    QString url(const std::string& path, const std::string& query = {}) const;

    struct Request {
        std::string path;
        std::string query;
        std::string range; // the Range header, empty when none
    };
    std::vector<Request> requests() const;

private:
    void start();

    std::unique_ptr<httplib::Server> server;
    std::thread thread;
    int port = 0;
    bool tls = false;
    mutable std::mutex mutex;
    std::map<std::string, QByteArray> files; // guarded by mutex
    std::vector<Request> log;                // guarded by mutex
};

// Makes a self-signed certificate for 127.0.0.1 in `folder` with the openssl tool;
// false when it could not.
bool makeSelfSignedCertificate(const QString& folder, QString* certificatePath, QString* keyPath);

} // namespace sondrel::test
