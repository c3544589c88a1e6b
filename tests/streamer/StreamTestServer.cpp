#ifndef CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_OPENSSL_SUPPORT
#endif
#include "StreamTestServer.h"

#include <QDir>
#include <QProcess>
#include <chrono>
#include <httplib.h>

namespace sondrel::test {
namespace {

std::uint64_t number(const httplib::Request& req, const char* key, std::uint64_t fallback) {
    if (!req.has_param(key)) {
        return fallback;
    }
    try {
        return std::stoull(req.get_param_value(key));
    } catch (const std::exception&) {
        return fallback;
    }
}

} // namespace

StreamTestServer::StreamTestServer() : server(std::make_unique<httplib::Server>()) {
    start();
}

StreamTestServer::StreamTestServer(const QString& certificatePath, const QString& keyPath)
    : server(std::make_unique<httplib::SSLServer>(certificatePath.toLocal8Bit().constData(),
                                                  keyPath.toLocal8Bit().constData())),
      tls(true) {
    start();
}

StreamTestServer::~StreamTestServer() {
    server->stop();
    if (thread.joinable()) {
        thread.join();
    }
}

void StreamTestServer::serve(const std::string& path, const QByteArray& body) {
    std::lock_guard lock(mutex);
    files[path] = body;
}

QString StreamTestServer::url(const std::string& path, const std::string& query) const {
    QString u = QStringLiteral("%1://127.0.0.1:%2%3")
                    .arg(tls ? QStringLiteral("https") : QStringLiteral("http"))
                    .arg(port)
                    .arg(QString::fromStdString(path));
    if (!query.empty()) {
        u += QLatin1Char('?') + QString::fromStdString(query);
    }
    return u;
}

std::vector<StreamTestServer::Request> StreamTestServer::requests() const {
    std::lock_guard lock(mutex);
    return log;
}

void StreamTestServer::start() {
    if (!server->is_valid()) {
        return;
    }
    server->Get(".*", [this](const httplib::Request& req, httplib::Response& res) {
        const_cast<httplib::Request&>(req).ranges.clear(); // ranges are answered here
        QByteArray body;
        bool found = false;
        {
            std::lock_guard lock(mutex);
            std::string query;
            for (const auto& [key, value] : req.params) {
                query += (query.empty() ? "" : "&") + key + "=" + value;
            }
            log.push_back({req.path, query, req.get_header_value("Range")});
            auto it = files.find(req.path);
            if (it != files.end()) {
                body = it->second;
                found = true;
            }
        }
        if (req.has_param("redirect")) {
            res.set_redirect(req.get_param_value("redirect"));
            return;
        }
        const int status = int(number(req, "status", found ? 200 : 404));
        if (status != 200) {
            res.status = status;
            res.set_content("<html><body>error " + std::to_string(status) + "</body></html>",
                            "text/html");
            return;
        }
        std::uint64_t start = 0;
        const std::string range = req.get_header_value("Range");
        std::uint64_t total = std::uint64_t(body.size());
        if (!range.empty() && !req.has_param("norange") && range.rfind("bytes=", 0) == 0) {
            start = std::stoull(range.substr(6));
            if (start >= total) {
                res.status = 416;
                return;
            }
            res.status = 206;
            res.set_header("Content-Range", "bytes " + std::to_string(start) + "-" +
                                                std::to_string(total - 1) + "/" +
                                                std::to_string(total));
        }
        const std::string fault = req.has_param("fault") ? req.get_param_value("fault") : "";
        const std::uint64_t after = number(req, "after", 0);
        const std::uint64_t stallSeconds = number(req, "seconds", 0);
        const std::uint64_t rate = number(req, "rate", 0);
        auto data = std::make_shared<QByteArray>(body.mid(qsizetype(start)));
        auto stalled = std::make_shared<bool>(false);
        auto produce = [=](std::size_t offset, httplib::DataSink& sink) {
            if (offset >= std::size_t(data->size())) {
                return true;
            }
            std::size_t end = std::min<std::size_t>(std::size_t(data->size()), offset + 4096);
            const std::uint64_t position = start + offset; // in the whole file
            if (!fault.empty() && position < after) {
                end = std::min<std::size_t>(end, std::size_t(after - start));
            }
            if (fault == "drop" && position >= after) {
                return false; // the connection closes early
            }
            if (fault == "stall" && position >= after && !*stalled) {
                *stalled = true;
                std::this_thread::sleep_for(std::chrono::seconds(stallSeconds));
            }
            if (rate > 0) {
                std::this_thread::sleep_for(
                    std::chrono::microseconds((end - offset) * 1000000 / rate));
            }
            return sink.write(data->constData() + offset, end - offset);
        };
        const char* type = "application/octet-stream";
        if (req.has_param("chunked")) {
            res.set_chunked_content_provider(type,
                                             [=](std::size_t offset, httplib::DataSink& sink) {
                                                 if (offset >= std::size_t(data->size())) {
                                                     sink.done();
                                                     return true;
                                                 }
                                                 return produce(offset, sink);
                                             });
        } else {
            res.set_content_provider(std::size_t(data->size()), type,
                                     [=](std::size_t offset, std::size_t, httplib::DataSink& sink) {
                                         return produce(offset, sink);
                                     });
        }
    });
    port = server->bind_to_any_port("127.0.0.1");
    if (port <= 0) {
        port = 0;
        return;
    }
    thread = std::thread([this] { server->listen_after_bind(); });
    while (!server->is_running()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

bool makeSelfSignedCertificate(const QString& folder, QString* certificatePath, QString* keyPath) {
    *certificatePath = QDir(folder).filePath(QStringLiteral("cert.pem"));
    *keyPath = QDir(folder).filePath(QStringLiteral("key.pem"));
    QProcess openssl;
    openssl.start(QStringLiteral("openssl"),
                  {QStringLiteral("req"), QStringLiteral("-x509"), QStringLiteral("-newkey"),
                   QStringLiteral("ec"), QStringLiteral("-pkeyopt"),
                   QStringLiteral("ec_paramgen_curve:prime256v1"), QStringLiteral("-nodes"),
                   QStringLiteral("-keyout"), *keyPath, QStringLiteral("-out"), *certificatePath,
                   QStringLiteral("-days"), QStringLiteral("2"), QStringLiteral("-subj"),
                   QStringLiteral("/CN=127.0.0.1"), QStringLiteral("-addext"),
                   QStringLiteral("subjectAltName=IP:127.0.0.1")});
    return openssl.waitForFinished(60000) && openssl.exitStatus() == QProcess::NormalExit &&
           openssl.exitCode() == 0;
}

} // namespace sondrel::test
