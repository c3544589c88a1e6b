#pragma once
// StandInService: runs the project's stand-in service (tools/sondrel-service) as a
// child process for a test, on 127.0.0.1 with free ports, its own temp information
// file and certificate folder, and demo songs from a cache shared by all tests.
//
//   sondrel::test::StandInService service;            // or ({"--captcha-every", "2"})
//   ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
//   ASSERT_TRUE(service.trustCertificate());          // TLS stays verified
//   sondrel::setServiceConfig(service.config());      // point the player at it
//   ... exercise the player ...
//   EXPECT_EQ(service.requestTargets("/audio/").size(), 1);
//
// The constructor blocks until the service printed "sondrel-service ready" (or failed;
// then isReady() is false and errorString() says why). The destructor stops it
// (SIGTERM, then SIGKILL). The child also gets SIGTERM if the test process dies.
//
// Construct and destroy it on one thread; the const control helpers may be called from
// any thread and need no event loop (they use plain blocking HTTP on loopback).
//
// Demo songs are song i = tone of 300 + 100*i Hz, aid 100001 + i, 20 s by default
// ("--demo-count N", "--demo-seconds S" change that). Song addresses accept fault
// parameters (fault=drop|stall|garbage, after=N, seconds=S, rate=N, status=N, chunked=1,
// id3pad=N); see `sondrel-service --help`.

#include "platform/ServiceConfig.h"

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <memory>

class QProcess;
class QTemporaryDir;

namespace sondrel::test {

class StandInService {
public:
    // `errorLogFile`: where the service's stderr goes (default: the test's own stderr).
    explicit StandInService(const QStringList& extraArguments = {},
                            const QString& errorLogFile = {});
    ~StandInService();
    StandInService(const StandInService&) = delete;
    StandInService& operator=(const StandInService&) = delete;

    bool isReady() const { return ready; }
    QString errorString() const { return error; }

    // Values of the information file.
    QString apiOrigin() const { return cfg.apiOrigin; }      // https://127.0.0.1:P
    QString httpOrigin() const { return cfg.apiHttpOrigin; } // http://127.0.0.1:Q
    QString loginOrigin() const { return cfg.loginOrigin; }  // HTTPS origin
    QString mainOrigin() const { return cfg.mainOrigin; }    // HTTPS origin
    QString certificatePath() const { return cfg.caCertificate; }
    QString clientId() const { return cfg.clientId; }
    QString infoPath() const;
    // The whole configuration, for sondrel::setServiceConfig.
    ServiceConfig config() const { return cfg; }
    // sondrel::trustExtraCertificate(certificatePath()).
    bool trustCertificate() const;

    // The song address of demo song `index` (aid 100001 + index), optionally with a
    // query ("fault=drop&after=1000").
    QString songUrl(int index, const QString& query = {}) const;

    // Control endpoints. Each returns an empty value when the service does not answer.
    // [{scheme, method, path, query, target, range?, accept_encoding?}]
    QJsonArray requests() const;
    // The "target" (path and raw query) of every request whose path starts with
    // `pathPrefix`, in order.
    QStringList requestTargets(const QString& pathPrefix = {}) const;
    QJsonArray library() const;
    QJsonArray captchas() const; // [{sid, key, solved}]
    QJsonObject status() const;  // {text, audio, updates}
    bool reset() const;
    bool nextApiError(int code, const QString& method = {}, int count = 1) const;
    bool expireTokens() const;
    bool setFeedLogoutLink(bool on) const;

    // Plain HTTP GET/POST of `pathAndQuery` on the HTTP listener. Returns the body, or
    // a null array when no answer arrived; `status` gets the HTTP status (0 if none).
    QByteArray httpGet(const QString& pathAndQuery, int* status = nullptr) const;
    QByteArray httpPost(const QString& pathAndQuery, int* status = nullptr) const;

    // Where the service binary is, and the demo song cache shared by all tests.
    static QString binaryPath();
    static QString sharedCacheDir();

private:
    void stop();

    std::unique_ptr<QTemporaryDir> dir;
    std::unique_ptr<QProcess> process;
    ServiceConfig cfg;
    bool ready = false;
    QString error;
};

} // namespace sondrel::test
