#include "platform/Modules.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHash>
#include <QMutex>
#include <QPluginLoader>

namespace sondrel {

QString modulePath(const QString& fileName) {
    const QString configured = qEnvironmentVariable("SONDREL_MODULE_DIR");
    if (!configured.isEmpty()) {
        return configured + QLatin1Char('/') + fileName;
    }
    const QString programFolder = QCoreApplication::applicationDirPath();
    for (const QString& candidate :
         {programFolder + QLatin1Char('/') + fileName,
          programFolder + QStringLiteral("/../lib/sondrel/") + fileName}) {
        if (QFileInfo::exists(candidate)) {
            return candidate;
        }
    }
    return QStringLiteral(SONDREL_BUILD_MODULE_DIR "/") + fileName;
}

QObject* loadModule(const QString& fileName, QString* error) {
    struct Loaded {
        QPluginLoader* loader = nullptr;
        QObject* root = nullptr;
        QString error;
    };
    static QMutex mutex;
    // Kept for the life of the process, loaders included: what a module made may live
    // until the end. A module that failed to load is not tried again.
    static QHash<QString, Loaded> modules;
    const QMutexLocker lock(&mutex);
    auto found = modules.find(fileName);
    if (found == modules.end()) {
        const QString path = modulePath(fileName);
        Loaded loaded;
        loaded.loader = new QPluginLoader(path);
        loaded.root = loaded.loader->instance();
        if (loaded.root == nullptr) {
            loaded.error = QStringLiteral("%1: %2").arg(path, loaded.loader->errorString());
        }
        found = modules.insert(fileName, loaded);
    }
    if (found->root == nullptr && error != nullptr) {
        *error = found->error;
    }
    return found->root;
}

} // namespace sondrel
