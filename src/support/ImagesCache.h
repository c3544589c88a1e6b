#pragma once
// Fetches a picture by its web address for an image view (a QLabel), keeps it in memory
// and on disk, and puts it into the view when it is ready; until then the view shows the
// placeholder picture "placeholder.png".
//
// Names come from the caller's prefix and the address (see ImageNames). Files live in
// "imagesCache" inside the player's cache folder, one per disk name, type ("real" as
// downloaded, "scaled" as fitted) and extension: PNG data when the extension is exactly
// "png", JPEG data otherwise. Fitted copies are held apart for screens of device pixel
// ratio 2.0 ("retina", fitted to the doubled size) and other screens ("normal").
//
// Names are built from text the service sends, so file names are escaped: no name can
// leave the "imagesCache" folder, however many "/" or ".." it holds, and overlong names
// are shortened to a digest. An address whose last path part has no extension gets
// "png". Only http and https addresses are fetched.
//
// Threading: getImageWithURL runs on the main thread (it changes the view). The fetch
// runs on the background pool (dispatchBackground) and hands the view update to the
// main loop (dispatchMain). The memory caches are bounded (least recently used entries
// go first) and guarded by their own mutexes; the state a fetch uses is shared with it,
// so the cache object may be destroyed while fetches still run. A view destroyed before
// its fetch ends is simply not updated.

#include <QImage>
#include <QPointer>
#include <QSizeF>
#include <QString>
#include <functional>
#include <memory>

class QLabel;

namespace sondrel {

// A picture as the cache hands it out: the pixels as downloaded (never resampled) and
// the display size it was fitted to (empty: its own size).
struct CachedImage {
    QImage image;
    QSizeF size;
    bool isNull() const { return image.isNull(); }
};

struct ImageNames {
    QString cacheName; // "<prefix>_<base name>"
    QString extension; // between the first and second dot of the last path part
};

class ImagesCache {
public:
    static constexpr int kMemoryCacheEntries = 64;
    static constexpr const char* kFolderName = "imagesCache";
    static constexpr const char* kDefaultExtension = "png";

    // `screenRatio` answers the main screen's device pixel ratio (main thread); by
    // default the primary screen's. Creates the "imagesCache" folder when missing.
    explicit ImagesCache(std::function<qreal()> screenRatio = {});
    ~ImagesCache();
    ImagesCache(const ImagesCache&) = delete;
    ImagesCache& operator=(const ImagesCache&) = delete;

    // The fitted picture from memory or disk (the view is left alone), or the
    // placeholder, which is put into the view while the picture is fetched.
    CachedImage getImageWithURL(const QString& address, const QString& prefix, const QSizeF& size,
                                QLabel* view);

    static ImageNames namesForAddress(const QString& address, const QString& prefix);
    // "<prefix>_<name>_<retina|normal>".
    QString makeNameWithPrefix(const QString& prefix, const QString& name) const;
    bool isRetina() const;
    static CachedImage scaleImage(const QImage& image, const QSizeF& size);
    void saveImage(const QImage& image, const QString& name, const QString& type,
                   const QString& extension) const;
    QImage getImageWithName(const QString& name, const QString& type,
                            const QString& extension) const;
    // The player's cache folder (without "imagesCache").
    QString cacheDirectory() const;
    static void createDirectory(const QString& name, const QString& parent);
    // Where the file of (name, type, extension) lives; always inside "imagesCache".
    QString imageFilePath(const QString& name, const QString& type, const QString& extension) const;

    static CachedImage placeholder();
    // Shows `image` in `view` at its fitted size on a screen of `ratio`.
    static void putImageIntoView(QLabel* view, const CachedImage& image, qreal ratio);

    struct State;

private:
    std::shared_ptr<State> state;
    std::function<qreal()> ratio;
};

} // namespace sondrel
