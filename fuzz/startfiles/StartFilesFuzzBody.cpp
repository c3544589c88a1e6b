#include "fuzz/startfiles/StartFilesFuzzBody.h"

#include "fuzz/FuzzSupport.h"
#include "platform/ServiceConfig.h"
#include "shell/SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace sondrel::fuzz {
namespace {

const QString kProbeKey = QStringLiteral("fuzz probe \x01");

const QDir& folder() {
    static QTemporaryDir temporary;
    static const QDir dir(temporary.path());
    require(temporary.isValid());
    return dir;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    require(file.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
            file.write(bytes) == bytes.size());
    file.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    require(file.open(QIODevice::ReadOnly));
    return file.readAll();
}

void clearFolder() {
    QDir dir = folder();
    for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
        dir.remove(name);
    }
}

void checkSettingsFile(const QByteArray& bytes) {
    const QString path = folder().filePath(QStringLiteral("settings.json"));
    writeFile(path, bytes);
    SettingsStore store(path);
    if (!QFile::exists(path)) {
        // Unreadable: kept aside whole.
        const QStringList aside = folder().entryList({QStringLiteral("settings.json.corrupt-*")});
        require(aside.size() == 1 && readFile(folder().filePath(aside.first())) == bytes);
        return;
    }
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    require(document.isObject());
    const QStringList keys = document.object().keys();
    require(store.save(kProbeKey, QStringLiteral("x")));
    const SettingsStore reloaded(path);
    require(QFile::exists(path) && reloaded.value(kProbeKey) == QStringLiteral("x"));
    for (const QString& key : keys) {
        require(key == kProbeKey || reloaded.value(key) == store.value(key));
    }
}

void checkServiceInfo(const QByteArray& bytes) {
    static const bool environmentCleared = [] {
        for (const char* name : {"SONDREL_API_ORIGIN", "SONDREL_API_HTTP_ORIGIN",
                                 "SONDREL_LOGIN_ORIGIN", "SONDREL_MAIN_ORIGIN", "SONDREL_CLIENT_ID",
                                 "SONDREL_CA_CERT", "SONDREL_SERVICE_INFO"}) {
            qunsetenv(name);
        }
        return true;
    }();
    (void)environmentCleared;

    const QString path = folder().filePath(QStringLiteral("sondrel-service.json"));
    writeFile(path, bytes);
    const ServiceConfig config = loadServiceConfig({QStringLiteral("--service-info"), path});
    const QJsonObject info = QJsonDocument::fromJson(bytes).object();
    const struct {
        const char* key;
        const QString& value;
        bool origin;
    } fields[] = {
        {"api_origin", config.apiOrigin, true},     {"api_http_origin", config.apiHttpOrigin, true},
        {"login_origin", config.loginOrigin, true}, {"main_origin", config.mainOrigin, true},
        {"client_id", config.clientId, false},      {"certificate", config.caCertificate, false},
    };
    for (const auto& field : fields) {
        const QJsonValue fromFile = info.value(QLatin1String(field.key));
        if (field.origin) {
            require(!field.value.endsWith(QLatin1Char('/')));
        }
        if (fromFile.isString()) {
            QString expected = fromFile.toString();
            while (field.origin && expected.endsWith(QLatin1Char('/'))) {
                expected.chop(1);
            }
            require(field.value == expected);
        }
    }
}

} // namespace

int fuzzStartFiles(const std::uint8_t* data, std::size_t size) {
    InputReader reader(inputBytes(data, size));
    const bool settings = (reader.byte() & 1) == 0;
    const QByteArray contents = reader.rest();
    if (settings) {
        checkSettingsFile(contents);
    } else {
        checkServiceInfo(contents);
    }
    clearFolder();
    return 0;
}

} // namespace sondrel::fuzz
