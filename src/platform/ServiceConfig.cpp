#include "platform/ServiceConfig.h"

#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QHostAddress>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSslCertificate>
#include <QSslConfiguration>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

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

// The information file's object, or nothing with `problem` set (and logged) when it is
// there but must not or cannot be used. A missing file is a problem only when it was
// asked for by name.
std::optional<QJsonObject> readInfoFile(const QString& path, bool named, QString* problem) {
    auto refuse = [&](const QString& why) -> std::optional<QJsonObject> {
        *problem = QStringLiteral("Service information file %1 %2").arg(path, why);
        logLine(*problem);
        return std::nullopt;
    };
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        if (errno == ENOENT && !named) {
            return std::nullopt;
        }
        return refuse(QStringLiteral("cannot be opened (%1)")
                          .arg(QString::fromLocal8Bit(std::strerror(errno))));
    }
    QFile file;
    // The checks look at the file actually opened, so it cannot be swapped in between.
    struct stat st {};
    const bool statted = ::fstat(fd, &st) == 0;
    if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return refuse(QStringLiteral("cannot be read"));
    }
    if (!statted || !S_ISREG(st.st_mode)) {
        return refuse(QStringLiteral("ignored: not a regular file"));
    }
    if (st.st_uid != ::geteuid()) {
        return refuse(QStringLiteral("ignored: owned by another user"));
    }
    // Group-writable is fine only for the user's own group.
    if ((st.st_mode & S_IWOTH) != 0 || ((st.st_mode & S_IWGRP) != 0 && st.st_gid != ::getegid())) {
        return refuse(QStringLiteral("ignored: writable by other users"));
    }
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError || !document.isObject()) {
        return refuse(QStringLiteral("ignored: not a JSON object"));
    }
    return document.object();
}

} // namespace

QString defaultServiceInfoPath() {
    const QString folder = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (folder.isEmpty()) {
        return {};
    }
    return QDir(folder).filePath(QStringLiteral("sondrel-service.json"));
}

bool mayCarryAccessToken(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    if (scheme == QLatin1String("https")) {
        return !url.host().isEmpty();
    }
    if (scheme != QLatin1String("http")) {
        return false;
    }
    const QString host = url.host().toLower();
    return host == QLatin1String("localhost") || QHostAddress(host).isLoopback();
}

ServiceConfig loadServiceConfig(const QStringList& arguments) {
    QString infoPath = optionValue(arguments, QStringLiteral("--service-info"));
    if (infoPath.isNull()) {
        infoPath = environmentValue("SONDREL_SERVICE_INFO");
    }
    const bool named = !infoPath.isNull();
    if (!named) {
        infoPath = defaultServiceInfoPath();
    }
    QJsonObject info;
    QString infoProblem;
    if (!infoPath.isEmpty()) {
        info = readInfoFile(infoPath, named, &infoProblem).value_or(QJsonObject());
    }

    const QString host = QStringLiteral("127.0.0.1");
    ServiceConfig config{
        QStringLiteral("https://%1:%2").arg(host).arg(kStandInHttpsPort),
        QStringLiteral("http://%1:%2").arg(host).arg(kStandInHttpPort),
        QStringLiteral("https://%1:%2").arg(host).arg(kStandInHttpsPort),
        QStringLiteral("https://%1:%2").arg(host).arg(kStandInHttpsPort),
        QStringLiteral("4713298"),
        QString(),
        infoProblem,
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
