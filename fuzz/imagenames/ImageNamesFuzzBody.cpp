#include "fuzz/imagenames/ImageNamesFuzzBody.h"

#include "fuzz/FuzzSupport.h"
#include "support/ImagesCache.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

namespace sondrel::fuzz {
namespace {

bool retinaScreen = false;

ImagesCache& cache() {
    static QTemporaryDir home;
    static const bool placed = qputenv("XDG_CACHE_HOME", QFile::encodeName(home.path()));
    require(home.isValid() && placed);
    static ImagesCache images([] { return retinaScreen ? 2.0 : 1.0; });
    return images;
}

void checkFileName(const QString& folder, const QString& path) {
    require(path.startsWith(folder + QLatin1Char('/')));
    const QString name = path.mid(folder.size() + 1);
    require(!name.isEmpty() && name != QLatin1String(".") && name != QLatin1String("..") &&
            !name.contains(QLatin1Char('/')) && !name.contains(QChar(0)) &&
            name.toUtf8().size() <= 255);

    // On disk: exactly one new file, in the folder.
    QFile file(path);
    require(file.open(QIODevice::WriteOnly));
    file.close();
    const QDir dir(folder);
    require(dir.entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                .size() == 1);
    require(file.remove());
}

} // namespace

int fuzzImageNames(const std::uint8_t* data, std::size_t size) {
    ImagesCache& images = cache();
    InputReader reader(inputBytes(data, size));
    retinaScreen = (reader.byte() & 1) != 0;
    const QByteArray rest = reader.rest();
    const qsizetype nul = rest.indexOf('\0');
    const QString address = QString::fromUtf8(nul < 0 ? rest : rest.left(nul));
    const QString prefix = nul < 0 ? QStringLiteral("sid") : QString::fromUtf8(rest.mid(nul + 1));

    const QString folder =
        QDir(images.cacheDirectory()).filePath(QLatin1String(ImagesCache::kFolderName));
    const ImageNames names = ImagesCache::namesForAddress(address, prefix);
    require(!names.extension.isEmpty());
    const QString diskName = images.makeNameWithPrefix(prefix, names.cacheName);
    for (const QString& type : {QStringLiteral("real"), QStringLiteral("scaled")}) {
        checkFileName(folder, images.imageFilePath(diskName, type, names.extension));
    }
    return 0;
}

} // namespace sondrel::fuzz
