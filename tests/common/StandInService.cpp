#include "StandInService.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QTemporaryDir>
#include <QUrl>
#include <csignal>
#include <httplib.h>
#include <sys/prctl.h>

namespace sondrel::test {
namespace {

// Generous: the first start in a fresh cache encodes the demo songs, and the machine
// may be busy with other builds and tests.
constexpr int kStartTimeoutMs = 120000;
constexpr int kStopTimeoutMs = 15000;

QJsonDocument parse(const QByteArray& body) {
    return body.isNull() ? QJsonDocument() : QJsonDocument::fromJson(body);
}

} // namespace

QString StandInService::binaryPath() {
    return QStringLiteral(SONDREL_SERVICE_BINARY);
}

QString StandInService::sharedCacheDir() {
    const QByteArray binaryDir = qgetenv("SONDREL_BINARY_DIR");
    const QString base = binaryDir.isEmpty() ? QDir::tempPath() : QString::fromUtf8(binaryDir);
    return QDir(base).filePath(QStringLiteral("standin-cache"));
}

StandInService::StandInService(const QStringList& extraArguments, const QString& errorLogFile)
    : dir(std::make_unique<QTemporaryDir>()), process(std::make_unique<QProcess>()) {
    if (!dir->isValid()) {
        error = QStringLiteral("cannot create a temp folder");
        return;
    }
    QStringList arguments = {QStringLiteral("--https-port"), QStringLiteral("0"),
                             QStringLiteral("--http-port"),  QStringLiteral("0"),
                             QStringLiteral("--info"),       infoPath(),
                             QStringLiteral("--cert-dir"),   dir->filePath(QStringLiteral("cert")),
                             QStringLiteral("--cache-dir"),  sharedCacheDir()};
    arguments += extraArguments; // later options win

    process->setProgram(binaryPath());
    process->setArguments(arguments);
    // The service's notes go straight to the test's stderr (a pipe nobody reads could
    // fill up and block the service); stdout carries only the ready line.
    if (errorLogFile.isEmpty()) {
        process->setProcessChannelMode(QProcess::ForwardedErrorChannel);
    } else {
        process->setStandardErrorFile(errorLogFile);
    }
    process->setReadChannel(QProcess::StandardOutput);
    process->setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
    process->start();
    if (!process->waitForStarted(kStartTimeoutMs)) {
        error = QStringLiteral("cannot start %1: %2").arg(binaryPath(), process->errorString());
        return;
    }

    QByteArray output;
    QDeadlineTimer deadline(kStartTimeoutMs);
    while (!output.contains("sondrel-service ready\n")) {
        if (process->state() != QProcess::Running || deadline.hasExpired()) {
            error = QStringLiteral("the service did not get ready (exit code %1): %2")
                        .arg(process->exitCode())
                        .arg(QString::fromUtf8(output));
            stop();
            return;
        }
        process->waitForReadyRead(200);
        output += process->readAllStandardOutput();
    }

    QFile info(infoPath());
    if (!info.open(QIODevice::ReadOnly)) {
        error = QStringLiteral("cannot read %1").arg(infoPath());
        stop();
        return;
    }
    const QJsonObject o = QJsonDocument::fromJson(info.readAll()).object();
    cfg.apiOrigin = o.value(QStringLiteral("api_origin")).toString();
    cfg.apiHttpOrigin = o.value(QStringLiteral("api_http_origin")).toString();
    cfg.loginOrigin = o.value(QStringLiteral("login_origin")).toString();
    cfg.mainOrigin = o.value(QStringLiteral("main_origin")).toString();
    cfg.clientId = o.value(QStringLiteral("client_id")).toString();
    cfg.caCertificate = o.value(QStringLiteral("certificate")).toString();
    if (cfg.apiOrigin.isEmpty() || cfg.apiHttpOrigin.isEmpty() || cfg.caCertificate.isEmpty()) {
        error = QStringLiteral("incomplete information file %1").arg(infoPath());
        stop();
        return;
    }
    ready = true;
}

StandInService::~StandInService() {
    stop();
}

void StandInService::stop() {
    if (!process || process->state() == QProcess::NotRunning) {
        return;
    }
    process->terminate();
    if (!process->waitForFinished(kStopTimeoutMs)) {
        process->kill();
        process->waitForFinished(kStopTimeoutMs);
    }
}

QString StandInService::infoPath() const {
    return dir ? dir->filePath(QStringLiteral("sondrel-service.json")) : QString();
}

bool StandInService::trustCertificate() const {
    return ready && sondrel::trustExtraCertificate(cfg.caCertificate);
}

QString StandInService::songUrl(int index, const QString& query) const {
    QString url = QStringLiteral("%1/audio/%2.mp3").arg(cfg.apiHttpOrigin).arg(100001 + index);
    if (!query.isEmpty()) {
        url += QLatin1Char('?') + query;
    }
    return url;
}

namespace {

QByteArray send(const QString& origin, bool post, const QString& pathAndQuery, int* status) {
    if (status != nullptr) {
        *status = 0;
    }
    const QUrl url(origin);
    if (!url.isValid() || url.port() <= 0) {
        return {};
    }
    httplib::Client client(url.host().toStdString(), url.port());
    client.set_connection_timeout(10, 0);
    client.set_read_timeout(30, 0);
    const std::string path = pathAndQuery.toStdString();
    const auto result = post ? client.Post(path.c_str()) : client.Get(path.c_str());
    if (!result) {
        return {};
    }
    if (status != nullptr) {
        *status = result->status;
    }
    return QByteArray::fromStdString(result->body);
}

} // namespace

QByteArray StandInService::httpGet(const QString& pathAndQuery, int* status) const {
    return send(cfg.apiHttpOrigin, false, pathAndQuery, status);
}

QByteArray StandInService::httpPost(const QString& pathAndQuery, int* status) const {
    return send(cfg.apiHttpOrigin, true, pathAndQuery, status);
}

QJsonArray StandInService::requests() const {
    return parse(httpGet(QStringLiteral("/control/requests"))).array();
}

QStringList StandInService::requestTargets(const QString& pathPrefix) const {
    QStringList targets;
    for (const QJsonValue& v : requests()) {
        const QJsonObject r = v.toObject();
        if (r.value(QStringLiteral("path")).toString().startsWith(pathPrefix)) {
            targets << r.value(QStringLiteral("target")).toString();
        }
    }
    return targets;
}

QJsonArray StandInService::library() const {
    return parse(httpGet(QStringLiteral("/control/library"))).array();
}

QJsonArray StandInService::captchas() const {
    return parse(httpGet(QStringLiteral("/control/captchas"))).array();
}

QJsonObject StandInService::status() const {
    return parse(httpGet(QStringLiteral("/control/status"))).object();
}

bool StandInService::reset() const {
    int status = 0;
    httpPost(QStringLiteral("/control/reset"), &status);
    return status == 200;
}

bool StandInService::nextApiError(int code, const QString& method, int count) const {
    QString path = QStringLiteral("/control/next-api-error?code=%1&count=%2").arg(code).arg(count);
    if (!method.isEmpty()) {
        path += QStringLiteral("&method=") + QString::fromUtf8(QUrl::toPercentEncoding(method));
    }
    int status = 0;
    httpPost(path, &status);
    return status == 200;
}

bool StandInService::expireTokens() const {
    int status = 0;
    httpPost(QStringLiteral("/control/expire-tokens"), &status);
    return status == 200;
}

bool StandInService::setFeedLogoutLink(bool on) const {
    int status = 0;
    httpPost(QStringLiteral("/control/feed?logout_link=%1").arg(on ? 1 : 0), &status);
    return status == 200;
}

} // namespace sondrel::test
