#include "shell/SettingsStore.h"

#include "platform/AppPaths.h"
#include "platform/DurableFile.h"
#include "platform/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <optional>
#include <sys/stat.h>

namespace sondrel {
namespace {

// A date is kept as {"date": "<ISO 8601 with milliseconds, UTC>"} so that it reads back
// as a date and not as a string.
const QString kDateKey = QStringLiteral("date");

std::optional<QJsonValue> encode(const QVariant& value) {
    switch (value.typeId()) {
    case QMetaType::QString:
        return QJsonValue(value.toString());
    case QMetaType::Bool:
        return QJsonValue(value.toBool());
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
        return QJsonValue(value.toLongLong());
    case QMetaType::Float:
    case QMetaType::Double:
        return QJsonValue(value.toDouble());
    case QMetaType::QDateTime:
        return QJsonObject{{kDateKey, value.toDateTime().toUTC().toString(Qt::ISODateWithMs)}};
    case QMetaType::QStringList:
        return QJsonArray::fromStringList(value.toStringList());
    case QMetaType::QVariantList: {
        QJsonArray array;
        for (const QVariant& item : value.toList()) {
            if (item.typeId() != QMetaType::QString) {
                return std::nullopt;
            }
            array.append(item.toString());
        }
        return array;
    }
    default:
        return std::nullopt;
    }
}

std::optional<QVariant> decode(const QJsonValue& json) {
    switch (json.type()) {
    case QJsonValue::String:
        return QVariant(json.toString());
    case QJsonValue::Bool:
        return QVariant(json.toBool());
    case QJsonValue::Double: {
        // Whole numbers that a qint64 holds read back as integers; converting one outside
        // its range would be undefined, so those stay doubles.
        const double number = json.toDouble();
        if (number >= -9223372036854775808.0 && number < 9223372036854775808.0 &&
            number == std::trunc(number)) {
            return QVariant(static_cast<qint64>(number));
        }
        return QVariant(number);
    }
    case QJsonValue::Object: {
        const QDateTime date =
            QDateTime::fromString(json.toObject().value(kDateKey).toString(), Qt::ISODateWithMs);
        if (!date.isValid()) {
            return std::nullopt;
        }
        return QVariant(date);
    }
    case QJsonValue::Array: {
        QStringList list;
        for (const QJsonValue& item : json.toArray()) {
            if (!item.isString()) {
                return std::nullopt;
            }
            list.append(item.toString());
        }
        return QVariant(list);
    }
    default:
        return std::nullopt;
    }
}

// Takes group and other permissions away from `path` when it has any, with a log line.
void tightenMode(const QString& path, const char* what, mode_t privateMode) {
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    const mode_t type = privateMode == 0700 ? S_IFDIR : S_IFREG;
    if (::stat(native.constData(), &st) != 0 || (st.st_mode & S_IFMT) != type ||
        (st.st_mode & 077) == 0) {
        return;
    }
    if (::chmod(native.constData(), privateMode) == 0) {
        logLine(QStringLiteral("Settings %1 %2 was open to other users (mode %3); now %4")
                    .arg(QLatin1String(what), path, QString::number(st.st_mode & 07777, 8),
                         QString::number(privateMode, 8)));
    } else {
        logLine(QStringLiteral("Settings %1 %2 is open to other users (mode %3) and cannot be "
                               "made private: %4")
                    .arg(QLatin1String(what), path, QString::number(st.st_mode & 07777, 8),
                         QString::fromLocal8Bit(std::strerror(errno))));
    }
}

} // namespace

SettingsStore::SettingsStore(QString path) : filePath(std::move(path)) {
    // The file holds the access token: its folder and itself are the user's alone.
    tightenMode(QFileInfo(filePath).absolutePath(), "folder", 0700);
    tightenMode(filePath, "file", 0600);
    load();
}

bool SettingsStore::makeFolder() const {
    const QString folder = QFileInfo(filePath).absolutePath();
    if (QFileInfo(folder).isDir()) {
        return true;
    }
    // Its parent (the user's config folder) is made as usual, the store's own folder 0700.
    QDir().mkpath(QFileInfo(folder).absolutePath());
    return ::mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || errno == EEXIST;
}

SettingsStore& SettingsStore::standard() {
    static SettingsStore store(
        QDir(applicationConfigFolder()).filePath(QStringLiteral("settings.json")));
    return store;
}

void SettingsStore::load() {
    QFile file(filePath);
    if (!file.exists()) {
        return;
    }
    if (!QFileInfo(filePath).isFile()) {
        logLine(
            QStringLiteral("Settings file %1 is not a regular file; starting empty").arg(filePath));
        return;
    }
    QByteArray bytes;
    if (file.open(QIODevice::ReadOnly)) {
        bytes = file.readAll();
    }
    QJsonParseError parseError{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &parseError);
    bool readable = file.error() == QFileDevice::NoError &&
                    parseError.error == QJsonParseError::NoError && document.isObject();
    QVariantMap loaded;
    if (readable) {
        const QJsonObject object = document.object();
        for (auto it = object.begin(); it != object.end() && readable; ++it) {
            const std::optional<QVariant> value = decode(it.value());
            readable = value.has_value();
            if (readable) {
                loaded.insert(it.key(), *value);
            }
        }
    }
    if (readable) {
        values = std::move(loaded);
        return;
    }
    // Keep the unreadable file for the user to inspect; never overwrite it.
    const QString aside =
        filePath + QStringLiteral(".corrupt-") +
        QDateTime::currentDateTimeUtc().toString(QStringLiteral("yyyyMMddTHHmmsszzz"));
    file.close();
    if (QFile::rename(filePath, aside)) {
        logLine(QStringLiteral("Settings file %1 could not be read; kept as %2 and starting empty")
                    .arg(filePath, aside));
    } else {
        logLine(QStringLiteral("Settings file %1 could not be read nor moved aside; starting empty")
                    .arg(filePath));
    }
}

QVariant SettingsStore::value(const QString& key) const {
    std::lock_guard lock(mutex);
    auto it = values.constFind(key);
    if (it != values.constEnd()) {
        return *it;
    }
    return defaults.value(key);
}

bool SettingsStore::save(const QString& key, const QVariant& value) {
    if (!encode(value)) {
        logLine(QStringLiteral("Settings: cannot store a value of type %1 under \"%2\"")
                    .arg(QLatin1String(value.typeName() ? value.typeName() : "none"), key));
        return false;
    }
    DurableWriteResult written;
    SaveListener listener;
    {
        std::lock_guard lock(mutex);
        values.insert(key, value);
        QJsonObject object;
        for (auto it = values.constBegin(); it != values.constEnd(); ++it) {
            object.insert(it.key(), *encode(it.value()));
        }
        makeFolder();
        written =
            writeFileDurably(filePath, QJsonDocument(object).toJson(QJsonDocument::Indented), 0600);
        if (!written.ok) {
            logLine(
                QStringLiteral("Settings: could not write %1 (%2)").arg(filePath, written.error));
        }
        listener = saveListener;
    }
    if (listener) {
        listener(written.ok, written.error);
    }
    return written.ok;
}

void SettingsStore::setSaveListener(SaveListener listener) {
    std::lock_guard lock(mutex);
    saveListener = std::move(listener);
}

void SettingsStore::registerDefaults(const QVariantMap& newDefaults) {
    std::lock_guard lock(mutex);
    for (auto it = newDefaults.constBegin(); it != newDefaults.constEnd(); ++it) {
        defaults.insert(it.key(), it.value());
    }
}

} // namespace sondrel
