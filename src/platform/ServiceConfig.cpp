#include "platform/ServiceConfig.h"

#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <mutex>

namespace sondrel {
namespace {

struct Source {
    const char* option;
    const char* environment;
    const char* fileKey;
    QString ServiceConfig::*field;
};

const Source kSources[] = {
    {"--api-origin", "SONDREL_API_ORIGIN", "api_origin", &ServiceConfig::apiOrigin},
    {"--api-http-origin", "SONDREL_API_HTTP_ORIGIN", "api_http_origin",
     &ServiceConfig::apiHttpOrigin},
    {"--login-origin", "SONDREL_LOGIN_ORIGIN", "login_origin", &ServiceConfig::loginOrigin},
    {"--main-origin", "SONDREL_MAIN_ORIGIN", "main_origin", &ServiceConfig::mainOrigin},
    {"--client-id", "SONDREL_CLIENT_ID", "client_id", &ServiceConfig::clientId},
    {"--ca-cert", "SONDREL_CA_CERT", "certificate", &ServiceConfig::caCertificate},
};

// The value of "--name VALUE" or "--name=VALUE", or a null string.
QString optionValue(const QStringList& arguments, const QString& name) {
    for (qsizetype i = 0; i < arguments.size(); ++i) {
        const QString& arg = arguments[i];
        if (arg == name && i + 1 < arguments.size()) {
            return arguments[i + 1];
        }
        if (arg.startsWith(name + QLatin1Char('='))) {
            return arg.mid(name.size() + 1);
        }
    }
    return {};
}

QString environmentValue(const char* name) {
    return qEnvironmentVariableIsSet(name) ? qEnvironmentVariable(name) : QString();
}

QString withoutTrailingSlash(QString origin) {
    while (origin.endsWith(QLatin1Char('/'))) {
        origin.chop(1);
    }
    return origin;
}

std::mutex configMutex;
ServiceConfig currentConfig;              // guarded by configMutex
bool configSet = false;                   // guarded by configMutex
QList<QSslCertificate> extraCertificates; // guarded by configMutex

} // namespace

QString defaultServiceInfoPath() {
    QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty()) {
        folder = QDir::tempPath();
    }
    return QDir(folder).filePath(QStringLiteral("sondrel-service.json"));
}

ServiceConfig loadServiceConfig(const QStringList& arguments) {
    QString infoPath = optionValue(arguments, QStringLiteral("--service-info"));
    if (infoPath.isNull()) {
        infoPath = environmentValue("SONDREL_SERVICE_INFO");
    }
    if (infoPath.isNull()) {
        infoPath = defaultServiceInfoPath();
    }
    QJsonObject info;
    QFile file(infoPath);
    if (file.open(QIODevice::ReadOnly)) {
        info = QJsonDocument::fromJson(file.readAll()).object();
    }

    const QString host = QStringLiteral("127.0.0.1");
    ServiceConfig config{
        QStringLiteral("https://%1:%2").arg(host).arg(kStandInHttpsPort),
        QStringLiteral("http://%1:%2").arg(host).arg(kStandInHttpPort),
        QStringLiteral("https://%1:%2").arg(host).arg(kStandInHttpsPort),
        QStringLiteral("http://%1:%2").arg(host).arg(kStandInHttpPort),
        QStringLiteral("4713298"),
        QString(),
    };
    for (const Source& source : kSources) {
        QString value = optionValue(arguments, QLatin1String(source.option));
        if (value.isNull()) {
            value = environmentValue(source.environment);
        }
        if (value.isNull() && info.value(QLatin1String(source.fileKey)).isString()) {
            value = info.value(QLatin1String(source.fileKey)).toString();
        }
        if (!value.isNull()) {
            config.*source.field = value;
        }
    }
    config.apiOrigin = withoutTrailingSlash(config.apiOrigin);
    config.apiHttpOrigin = withoutTrailingSlash(config.apiHttpOrigin);
    config.loginOrigin = withoutTrailingSlash(config.loginOrigin);
    config.mainOrigin = withoutTrailingSlash(config.mainOrigin);
    return config;
}

ServiceConfig serviceConfig() {
    std::lock_guard lock(configMutex);
    if (!configSet) {
        currentConfig = loadServiceConfig({});
        configSet = true;
    }
    return currentConfig;
}

void setServiceConfig(const ServiceConfig& config) {
    std::lock_guard lock(configMutex);
    currentConfig = config;
    configSet = true;
}

bool trustExtraCertificate(const QString& pemPath) {
    const QList<QSslCertificate> certificates = QSslCertificate::fromPath(pemPath, QSsl::Pem);
    if (certificates.isEmpty()) {
        logLine(QStringLiteral("No certificate found in %1").arg(pemPath));
        return false;
    }
    QSslConfiguration tls = QSslConfiguration::defaultConfiguration();
    tls.addCaCertificates(certificates);
    QSslConfiguration::setDefaultConfiguration(tls);
    std::lock_guard lock(configMutex);
    extraCertificates.append(certificates);
    return true;
}

QList<QSslCertificate> extraTrustedCertificates() {
    std::lock_guard lock(configMutex);
    return extraCertificates;
}

} // namespace sondrel
