#include "support/ImagesCache.h"

#include "platform/AppPaths.h"
#include "platform/Dispatch.h"
#include "platform/DurableFile.h"
#include "platform/Log.h"
#include "platform/Network.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QImageWriter>
#include <QLabel>
#include <QPixmap>
#include <QScreen>
#include <exception>
#include <list>
#include <mutex>

static void initImagesResources() {
    Q_INIT_RESOURCE(images);
}

namespace sondrel {
namespace {

constexpr int kMaxFileNameBytes = 255;

// A memory cache holding at most `limit` pictures; the least recently used goes first.
class BoundedImageCache {
public:
    std::optional<CachedImage> get(const QString& key) {
        std::lock_guard lock(mutex);
        auto it = entries.find(key);
        if (it == entries.end()) {
            return std::nullopt;
        }
        order.splice(order.begin(), order, it->position);
        return it->image;
    }
    void put(const QString& key, const CachedImage& image) {
        std::lock_guard lock(mutex);
        auto it = entries.find(key);
        if (it != entries.end()) {
            it->image = image;
            order.splice(order.begin(), order, it->position);
            return;
        }
        order.push_front(key);
        entries.insert(key, {image, order.begin()});
        while (entries.size() > ImagesCache::kMemoryCacheEntries) {
            entries.remove(order.back());
            order.pop_back();
        }
    }

private:
    struct Entry {
        CachedImage image;
        std::list<QString>::iterator position;
    };
    std::mutex mutex;
    std::list<QString> order;      // most recently used first; guarded by mutex
    QHash<QString, Entry> entries; // guarded by mutex
};

// Escapes what could make a file name reach outside its folder or be no name at all:
// path separators, NUL and control characters, "%" itself, and "..".
QString escapeFileName(const QString& name) {
    QString out;
    out.reserve(name.size());
    for (qsizetype i = 0; i < name.size(); ++i) {
        const QChar c = name[i];
        const bool dotPair =
            c == QLatin1Char('.') && i + 1 < name.size() && name[i + 1] == QLatin1Char('.');
        if (c == QLatin1Char('/') || c == QLatin1Char('\\') || c == QLatin1Char('%') ||
            c.unicode() < 0x20 || c.unicode() == 0x7f || dotPair) {
            out += QStringLiteral("%%1").arg(c.unicode(), 2, 16, QLatin1Char('0')).toUpper();
        } else {
            out += c;
        }
    }
    return out;
}

} // namespace

struct ImagesCache::State {
    QString cacheDirectory;
    BoundedImageCache imagesReal;
    BoundedImageCache imagesScaled;
    BoundedImageCache imagesScaledRetina;

    QString filePath(const QString& name, const QString& type, const QString& extension) const {
        QString file = escapeFileName(QStringLiteral("%1_%2.%3").arg(name, type, extension));
        if (file.toUtf8().size() > kMaxFileNameBytes) {
            const QByteArray digest =
                QCryptographicHash::hash(file.toUtf8(), QCryptographicHash::Sha256).toHex();
            file =
                QString::fromLatin1(digest) + QLatin1Char('.') +
                (extension == QLatin1String("png") ? QLatin1String("png") : QLatin1String("jpg"));
        }
        return QStringLiteral("%1/%2/%3").arg(cacheDirectory, QLatin1String(kFolderName), file);
    }

    void save(const QImage& image, const QString& name, const QString& type,
              const QString& extension) const {
        if (image.isNull()) {
            logLine(QStringLiteral("incoming image is nil"));
            return;
        }
        try {
            QByteArray data;
            QBuffer buffer(&data);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, extension == QLatin1String("png") ? "png" : "jpeg");
            if (!writer.write(image)) {
                logLine(QStringLiteral("Error save image: %1").arg(writer.errorString()));
                return;
            }
            // Replaced whole (temp file and rename): a reader never sees half a picture.
            writeFileDurably(filePath(name, type, extension), data, 0644);
        } catch (const std::exception& e) {
            logLine(QStringLiteral("Error save image: %1").arg(QString::fromUtf8(e.what())));
        }
    }

    QImage read(const QString& name, const QString& type, const QString& extension) const {
        QImage image;
        image.load(filePath(name, type, extension));
        return image;
    }
};

ImagesCache::ImagesCache(std::function<qreal()> screenRatio)
    : state(std::make_shared<State>()), ratio(std::move(screenRatio)) {
    initImagesResources();
    if (!ratio) {
        ratio = [] {
            auto* app = qobject_cast<QGuiApplication*>(QCoreApplication::instance());
            QScreen* screen = app ? QGuiApplication::primaryScreen() : nullptr;
            return screen ? screen->devicePixelRatio() : 1.0;
        };
    }
    state->cacheDirectory = applicationCachesFolder();
    if (state->cacheDirectory.isEmpty()) {
        state->cacheDirectory = QDir::tempPath();
    }
    createDirectory(QString::fromLatin1(kFolderName), state->cacheDirectory);
}

ImagesCache::~ImagesCache() = default;

ImageNames ImagesCache::namesForAddress(const QString& address, const QString& prefix) {
    const QString filePart = address.section(QLatin1Char('/'), -1);
    const QStringList pieces = filePart.split(QLatin1Char('.'));
    QString extension = pieces.size() >= 2 ? pieces[1] : QString();
    if (extension.isEmpty()) {
        extension = QString::fromLatin1(kDefaultExtension);
    }
    return {QStringLiteral("%1_%2").arg(prefix, pieces[0]), extension};
}

QString ImagesCache::makeNameWithPrefix(const QString& prefix, const QString& name) const {
    return QStringLiteral("%1_%2_%3")
        .arg(prefix, name, isRetina() ? QLatin1String("retina") : QLatin1String("normal"));
}

bool ImagesCache::isRetina() const {
    return ratio() == 2.0;
}

CachedImage ImagesCache::scaleImage(const QImage& image, const QSizeF& size) {
    return {image, size};
}

void ImagesCache::saveImage(const QImage& image, const QString& name, const QString& type,
                            const QString& extension) const {
    state->save(image, name, type, extension);
}

QImage ImagesCache::getImageWithName(const QString& name, const QString& type,
                                     const QString& extension) const {
    return state->read(name, type, extension);
}

QString ImagesCache::cacheDirectory() const {
    return state->cacheDirectory;
}

QString ImagesCache::imageFilePath(const QString& name, const QString& type,
                                   const QString& extension) const {
    return state->filePath(name, type, extension);
}

void ImagesCache::createDirectory(const QString& name, const QString& parent) {
    const QString path = QDir(parent).filePath(name);
    if (QFileInfo::exists(path)) {
        return;
    }
    if (!QDir().mkdir(path)) {
        logLine(QStringLiteral("Create directory error: could not create %1").arg(path));
    }
}

CachedImage ImagesCache::placeholder() {
    initImagesResources();
    static const QImage image(QStringLiteral(":/sondrel/images/placeholder.png"));
    return {image, {}};
}

void ImagesCache::putImageIntoView(QLabel* view, const CachedImage& image, qreal ratio) {
    if (view == nullptr || image.isNull()) {
        return;
    }
    QPixmap pixmap = QPixmap::fromImage(image.image);
    if (!image.size.isEmpty()) {
        // The stored pixels stay as they are; only what the view draws is sized.
        pixmap =
            pixmap.scaled(image.size.toSize(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    }
    pixmap.setDevicePixelRatio(ratio > 0 ? ratio : 1.0);
    view->setPixmap(pixmap);
}

CachedImage ImagesCache::getImageWithURL(const QString& address, const QString& prefix,
                                         const QSizeF& size, QLabel* view) {
    const bool retina = isRetina();
    const qreal screenRatio = ratio();
    const QSizeF wanted = retina ? size * 2.0 : size;
    const ImageNames names = namesForAddress(address, prefix);
    BoundedImageCache& fitted = retina ? state->imagesScaledRetina : state->imagesScaled;

    if (std::optional<CachedImage> hit = fitted.get(names.cacheName)) {
        return *hit;
    }
    const QString diskName = makeNameWithPrefix(prefix, names.cacheName);
    const QImage onDisk = state->read(diskName, QStringLiteral("scaled"), names.extension);
    if (!onDisk.isNull()) {
        return scaleImage(onDisk, wanted);
    }

    const CachedImage shown = placeholder();
    putImageIntoView(view, shown, screenRatio);

    std::shared_ptr<State> shared = state;
    QPointer<QLabel> target(view);
    dispatchBackground([shared, names, diskName, address, wanted, retina, screenRatio, target] {
        const QString extension = names.extension;
        QImage real;
        if (std::optional<CachedImage> cached = shared->imagesReal.get(names.cacheName)) {
            real = cached->image;
        }
        if (real.isNull()) {
            real = shared->read(diskName, QStringLiteral("real"), extension);
        }
        if (real.isNull()) {
            try {
                const QUrl url(address);
                const QString scheme = url.scheme().toLower();
                if (scheme == QLatin1String("http") || scheme == QLatin1String("https")) {
                    const HttpResult result = blockingGet(url);
                    if (result.ok && result.httpStatus >= 200 && result.httpStatus < 300) {
                        real.loadFromData(result.body);
                    }
                }
                shared->save(real, diskName, QStringLiteral("real"), extension);
            } catch (const std::exception&) {
                logLine(
                    QStringLiteral("Error downloading image with name: %1").arg(names.cacheName));
            }
        }
        if (real.isNull()) {
            return; // the view keeps the placeholder
        }
        shared->imagesReal.put(names.cacheName, {real, {}});
        const CachedImage fittedImage = scaleImage(real, wanted);
        (retina ? shared->imagesScaledRetina : shared->imagesScaled)
            .put(names.cacheName, fittedImage);
        shared->save(fittedImage.image, diskName, QStringLiteral("scaled"), extension);

        dispatchMain([target, fittedImage, screenRatio, name = names.cacheName] {
            try {
                if (target) {
                    putImageIntoView(target.data(), fittedImage, screenRatio);
                }
            } catch (const std::exception&) {
                logLine(QStringLiteral("Error setting uiimage with name: %1").arg(name));
            }
        });
    });
    return shown;
}

} // namespace sondrel
