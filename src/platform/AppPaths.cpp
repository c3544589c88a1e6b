#include "platform/AppPaths.h"

#include <QDir>
#include <QStandardPaths>

namespace sondrel {
namespace {

QString folderIn(QStandardPaths::StandardLocation location) {
    const QString base = QStandardPaths::writableLocation(location);
    const QString path = QDir(base).filePath(QString::fromLatin1(kApplicationId));
    QDir().mkpath(path);
    return path;
}

} // namespace

QString applicationDataFolder() {
    return folderIn(QStandardPaths::GenericDataLocation);
}
QString applicationCachesFolder() {
    return folderIn(QStandardPaths::GenericCacheLocation);
}
QString applicationConfigFolder() {
    return folderIn(QStandardPaths::GenericConfigLocation);
}

} // namespace sondrel
