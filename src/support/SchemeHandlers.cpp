#include "support/SchemeHandlers.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QHash>
#include <QSet>
#include <QStandardPaths>
#include <QStringList>

namespace sondrel {
namespace {

// group -> key -> value of a desktop entry or mimeapps.list file; the first
// occurrence of a key in a group counts.
using KeyFile = QHash<QString, QHash<QString, QString>>;

KeyFile readKeyFile(const QString& path) {
    KeyFile groups;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        return groups;
    }
    QString group;
    while (!file.atEnd()) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#'))) {
            continue;
        }
        if (line.startsWith(QLatin1Char('[')) && line.endsWith(QLatin1Char(']'))) {
            group = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        const QString key = line.left(equals).trimmed();
        if (equals > 0 && !group.isEmpty() && !groups[group].contains(key)) {
            groups[group].insert(key, line.mid(equals + 1).trimmed());
        }
    }
    return groups;
}

QStringList listValue(const KeyFile& file, const QString& group, const QString& key) {
    return file.value(group).value(key).split(QLatin1Char(';'), Qt::SkipEmptyParts);
}

// A list of absolute directories from the environment, or the given default when the
// variable is unset or names none.
QStringList directories(const char* variable, const QStringList& fallback) {
    QStringList dirs;
    for (const QString& dir : qEnvironmentVariable(variable).split(QLatin1Char(':'))) {
        if (QDir::isAbsolutePath(dir)) {
            dirs.append(dir);
        }
    }
    return dirs.isEmpty() ? fallback : dirs;
}

QString homeDirectory(const char* variable, const QString& underHome) {
    const QString dir = qEnvironmentVariable(variable);
    return QDir::isAbsolutePath(dir) ? dir : QDir::homePath() + underHome;
}

// The "applications" directories, most important first.
QStringList applicationDirectories() {
    QStringList dirs{homeDirectory("XDG_DATA_HOME", QStringLiteral("/.local/share"))};
    dirs += directories("XDG_DATA_DIRS",
                        {QStringLiteral("/usr/local/share"), QStringLiteral("/usr/share")});
    for (QString& dir : dirs) {
        dir += QStringLiteral("/applications");
    }
    return dirs;
}

// Desktop file id ("kde-foo.desktop" for kde/foo.desktop) -> its file; a file in a more
// important directory hides one with the same id further down.
QHash<QString, QString> installedDesktopFiles(const QStringList& applicationDirs) {
    QHash<QString, QString> files;
    for (const QString& dir : applicationDirs) {
        QDirIterator it(dir, {QStringLiteral("*.desktop")}, QDir::Files,
                        QDirIterator::Subdirectories | QDirIterator::FollowSymlinks);
        while (it.hasNext()) {
            const QString path = it.next();
            QString id = QDir(dir).relativeFilePath(path);
            id.replace(QLatin1Char('/'), QLatin1Char('-'));
            if (!files.contains(id)) {
                files.insert(id, path);
            }
        }
    }
    return files;
}

// An application entry that can be started: not hidden, with a command (or started over
// D-Bus) whose program, when the entry names one to try, exists.
bool launchable(const KeyFile& file) {
    const QHash<QString, QString> entry = file.value(QStringLiteral("Desktop Entry"));
    const QString tryExec = entry.value(QStringLiteral("TryExec"));
    const auto isTrue = [&entry](const char* key) {
        return entry.value(QLatin1String(key)) == QLatin1String("true");
    };
    return entry.value(QStringLiteral("Type")) == QLatin1String("Application") &&
           !isTrue("Hidden") &&
           (!entry.value(QStringLiteral("Exec")).isEmpty() || isTrue("DBusActivatable")) &&
           (tryExec.isEmpty() || !QStandardPaths::findExecutable(tryExec).isEmpty() ||
            (QDir::isAbsolutePath(tryExec) && QFile::exists(tryExec)));
}

} // namespace

bool desktopHasHandlerForScheme(const QString& scheme) {
    if (scheme.isEmpty()) {
        return false;
    }
    const QString type = QStringLiteral("x-scheme-handler/") + scheme.toLower();
    const QStringList applicationDirs = applicationDirectories();
    const QHash<QString, QString> installed = installedDesktopFiles(applicationDirs);
    const auto usable = [&installed](const QString& id) {
        const auto it = installed.constFind(id);
        return it != installed.cend() && launchable(readKeyFile(*it));
    };

    // mimeapps.list files, most important first; an association removed in one of them
    // no longer counts in the files below it nor in the desktop files.
    QStringList listDirs{homeDirectory("XDG_CONFIG_HOME", QStringLiteral("/.config"))};
    listDirs += directories("XDG_CONFIG_DIRS", {QStringLiteral("/etc/xdg")});
    listDirs += applicationDirs;
    QSet<QString> removed;
    for (const QString& dir : listDirs) {
        const KeyFile list = readKeyFile(dir + QStringLiteral("/mimeapps.list"));
        for (const char* group : {"Default Applications", "Added Associations"}) {
            for (const QString& id : listValue(list, QLatin1String(group), type)) {
                if (!removed.contains(id) && usable(id)) {
                    return true;
                }
            }
        }
        const QStringList ids = listValue(list, QStringLiteral("Removed Associations"), type);
        removed.unite(QSet<QString>(ids.cbegin(), ids.cend()));
    }

    for (auto it = installed.cbegin(); it != installed.cend(); ++it) {
        if (removed.contains(it.key())) {
            continue;
        }
        const KeyFile file = readKeyFile(it.value());
        const QStringList types =
            listValue(file, QStringLiteral("Desktop Entry"), QStringLiteral("MimeType"));
        if (types.contains(type, Qt::CaseInsensitive) && launchable(file)) {
            return true;
        }
    }
    return false;
}

} // namespace sondrel
