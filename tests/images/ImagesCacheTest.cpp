// The image cache against a real HTTP server on loopback (cpp-httplib), with its files in
// a private cache home.

#include "support/ImagesCache.h"

#include "platform/Dispatch.h"
#include "platform/Log.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QLabel>
#include <QTemporaryDir>
#include <QThreadPool>
#include <atomic>
#include <gtest/gtest.h>
#include <httplib.h>
#include <map>
#include <mutex>
#include <thread>

namespace sondrel {
namespace {

QByteArray encoded(const QColor& colour, const char* format) {
    QImage image(40, 20, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// Serves every path with a picture (PNG), except "/page.html" (not an image) and
// "/missing.png" (404); counts the requests per path.
class PictureServer {
public:
    PictureServer() {
        server.Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
            {
                std::lock_guard lock(mutex);
                ++hits[request.path];
            }
            if (request.path == "/page.html") {
                response.set_content("<html><body>not a picture</body></html>", "text/html");
            } else if (request.path == "/missing.png") {
                response.status = 404;
            } else {
                const QByteArray png = encoded(Qt::darkGreen, "PNG");
                response.set_content(std::string(png.constData(), png.size()), "image/png");
            }
        });
        port = server.bind_to_any_port("127.0.0.1");
        thread = std::thread([this] { server.listen_after_bind(); });
    }
    ~PictureServer() {
        server.stop();
        thread.join();
    }
    QString url(const QString& path) const {
        return QStringLiteral("http://127.0.0.1:%1%2").arg(port).arg(path);
    }
    int requests() {
        std::lock_guard lock(mutex);
        int total = 0;
        for (const auto& [path, count] : hits) {
            total += count;
        }
        return total;
    }

private:
    httplib::Server server;
    int port = 0;
    std::thread thread;
    std::mutex mutex;
    std::map<std::string, int> hits; // guarded by mutex
};

class ImagesCacheTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("XDG_CACHE_HOME", home.path().toUtf8()); }
    void TearDown() override {
        settle();
        qunsetenv("XDG_CACHE_HOME");
    }

    // Lets every fetch finish and its view update run.
    static void settle() {
        backgroundPool().waitForDone(60000);
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
    }
    static bool shows(const QLabel& label, const QImage& image) {
        return label.pixmap().toImage().convertToFormat(QImage::Format_RGB32) ==
               image.convertToFormat(QImage::Format_RGB32);
    }
    QString imagesFolder() const {
        return home.path() + QStringLiteral("/org.sondrel.Sondrel/imagesCache");
    }
    QStringList files() const {
        return QDir(imagesFolder()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    }
    static QByteArray head(const QString& path) {
        QFile file(path);
        file.open(QIODevice::ReadOnly);
        return file.read(4);
    }

    QTemporaryDir home;
    PictureServer server;
    qreal screenRatio = 1.0;
    std::function<qreal()> ratio = [this] { return screenRatio; };
};

TEST(ImagesCacheNames, NamesFollowTheAddress) {
    const struct {
        const char* address;
        const char* cacheName;
        const char* extension;
    } rows[] = {
        {"http://h/captcha.png", "p_captcha", "png"},
        {"http://h/dir/pic.jpg", "p_pic", "jpg"},
        {"http://h/img.php?sid=5&s=1", "p_img", "php?sid=5&s=1"},
        {"http://h/two.dots.png", "p_two", "dots"},
        {"http://h/noextension", "p_noextension", "png"},
        {"http://h/trailing.", "p_trailing", "png"},
        {"nodir.gif", "p_nodir", "gif"},
    };
    for (const auto& row : rows) {
        const ImageNames names =
            ImagesCache::namesForAddress(QString::fromLatin1(row.address), QStringLiteral("p"));
        EXPECT_EQ(names.cacheName, QLatin1String(row.cacheName)) << row.address;
        EXPECT_EQ(names.extension, QLatin1String(row.extension)) << row.address;
    }
}

TEST_F(ImagesCacheTest, FetchShowsPlaceholderThenPictureAndHitsMemoryAfter) {
    ImagesCache cache(ratio);
    QLabel view;
    const QString address = server.url(QStringLiteral("/captcha.png"));
    const CachedImage first =
        cache.getImageWithURL(address, QStringLiteral("sid1"), {130, 50}, &view);
    EXPECT_EQ(first.image, ImagesCache::placeholder().image);
    EXPECT_TRUE(shows(view, ImagesCache::placeholder().image));
    settle();
    EXPECT_EQ(view.pixmap().size(), QSize(130, 50)); // the fitted picture
    EXPECT_FALSE(shows(view, ImagesCache::placeholder().image));
    EXPECT_EQ(files(), (QStringList{QStringLiteral("sid1_sid1_captcha_normal_real.png"),
                                    QStringLiteral("sid1_sid1_captcha_normal_scaled.png")}));

    const qint64 shownKey = view.pixmap().cacheKey();
    const CachedImage hit =
        cache.getImageWithURL(address, QStringLiteral("sid1"), {130, 50}, &view);
    EXPECT_FALSE(hit.isNull());
    EXPECT_EQ(hit.image.size(), QSize(40, 20)); // pixels as downloaded, never resampled
    EXPECT_EQ(hit.size, QSizeF(130, 50));
    EXPECT_EQ(view.pixmap().cacheKey(), shownKey); // the view is left alone
    EXPECT_EQ(server.requests(), 1);
}

TEST_F(ImagesCacheTest, RestartFindsThePictureOnDiskWithoutAnyRequest) {
    const QString address = server.url(QStringLiteral("/captcha.png"));
    {
        ImagesCache cache(ratio);
        QLabel view;
        cache.getImageWithURL(address, QStringLiteral("sid"), {130, 50}, &view);
        settle();
    }
    ASSERT_EQ(server.requests(), 1);
    ImagesCache restarted(ratio);
    QLabel view;
    const CachedImage fromDisk =
        restarted.getImageWithURL(address, QStringLiteral("sid"), {130, 50}, &view);
    EXPECT_EQ(fromDisk.image.size(), QSize(40, 20));
    EXPECT_TRUE(view.pixmap().isNull()); // untouched: no placeholder was needed
    settle();
    EXPECT_EQ(server.requests(), 1);
}

TEST_F(ImagesCacheTest, RetinaAndNormalScreensKeepSeparateFittedCopies) {
    ImagesCache cache(ratio);
    QLabel normalView;
    QLabel retinaView;
    const QString address = server.url(QStringLiteral("/captcha.png"));
    cache.getImageWithURL(address, QStringLiteral("s"), {100, 40}, &normalView);
    settle();
    screenRatio = 2.0;
    EXPECT_TRUE(cache.isRetina());
    const CachedImage placeholder =
        cache.getImageWithURL(address, QStringLiteral("s"), {100, 40}, &retinaView);
    EXPECT_EQ(placeholder.image, ImagesCache::placeholder().image);
    settle();
    EXPECT_EQ(server.requests(), 1); // one downloaded picture serves both
    EXPECT_EQ(retinaView.pixmap().size(), QSize(200, 80));
    EXPECT_EQ(retinaView.pixmap().devicePixelRatio(), 2.0);
    EXPECT_EQ(files(), (QStringList{QStringLiteral("s_s_captcha_normal_real.png"),
                                    QStringLiteral("s_s_captcha_normal_scaled.png"),
                                    QStringLiteral("s_s_captcha_retina_scaled.png")}));
    EXPECT_EQ(cache.getImageWithURL(address, QStringLiteral("s"), {100, 40}, &retinaView).size,
              QSizeF(200, 80));
}

TEST_F(ImagesCacheTest, ExtensionDecidesPngOrJpegData) {
    ImagesCache cache(ratio);
    const QByteArray png("\x89PNG", 4);
    const QByteArray jpeg("\xff\xd8\xff", 3);
    const struct {
        const char* path;
        const char* file;
        QByteArray kind;
    } rows[] = {
        {"/a.png", "x_x_a_normal_scaled.png", png},
        {"/b.PNG", "x_x_b_normal_scaled.PNG", jpeg},
        {"/c.jpg", "x_x_c_normal_scaled.jpg", jpeg},
        {"/d.php?sid=7", "x_x_d_normal_scaled.php?sid=7", jpeg},
        {"/e.one.png", "x_x_e_normal_scaled.one", jpeg},
        {"/f", "x_x_f_normal_scaled.png", png},
    };
    QLabel view;
    for (const auto& row : rows) {
        cache.getImageWithURL(server.url(QString::fromLatin1(row.path)), QStringLiteral("x"),
                              {10, 10}, &view);
    }
    settle();
    for (const auto& row : rows) {
        const QString path = imagesFolder() + QLatin1Char('/') + QLatin1String(row.file);
        ASSERT_TRUE(QFileInfo::exists(path)) << row.file;
        EXPECT_TRUE(head(path).startsWith(row.kind)) << row.file;
    }
}

TEST_F(ImagesCacheTest, NotAPictureLeavesThePlaceholderAndNoFile) {
    ImagesCache cache(ratio);
    LogCapture log;
    for (const char* path : {"/page.html", "/missing.png"}) {
        QLabel view;
        cache.getImageWithURL(server.url(QString::fromLatin1(path)), QStringLiteral("n"), {10, 10},
                              &view);
        settle();
        EXPECT_TRUE(shows(view, ImagesCache::placeholder().image)) << path;
    }
    // Not fetched at all: only web addresses are.
    QLabel local;
    cache.getImageWithURL(QStringLiteral("file:///etc/passwd.png"), QStringLiteral("n"), {10, 10},
                          &local);
    settle();
    EXPECT_TRUE(files().isEmpty());
    EXPECT_EQ(log.count(QStringLiteral("incoming image is nil")), 3);
    EXPECT_EQ(server.requests(), 2);
}

TEST_F(ImagesCacheTest, TwoPrefixesKeepTwoSetsOfFiles) {
    ImagesCache cache(ratio);
    QLabel view;
    const QString address = server.url(QStringLiteral("/same.png"));
    cache.getImageWithURL(address, QStringLiteral("one"), {10, 10}, &view);
    cache.getImageWithURL(address, QStringLiteral("two"), {10, 10}, &view);
    settle();
    EXPECT_EQ(files().size(), 4);
    EXPECT_EQ(server.requests(), 2);
}

TEST_F(ImagesCacheTest, HostileNamesStayInsideTheImagesFolder) {
    ImagesCache cache(ratio);
    const QString longPrefix(400, QLatin1Char('L'));
    const QStringList prefixes{QStringLiteral("../../escaped"),
                               QStringLiteral("/tmp/abs"),
                               QStringLiteral(".."),
                               QStringLiteral("a\\b%2F"),
                               QString(QChar(0)) + QStringLiteral("nul"),
                               longPrefix};
    QLabel view;
    for (const QString& prefix : prefixes) {
        cache.getImageWithURL(server.url(QStringLiteral("/..")), prefix, {10, 10}, &view);
        cache.getImageWithURL(server.url(QStringLiteral("/pic.png")), prefix, {10, 10}, &view);
    }
    settle();
    // Everything written is a file directly inside imagesCache; nothing else in the home.
    QDirIterator all(home.path(), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    int written = 0;
    while (all.hasNext()) {
        const QFileInfo file(all.next());
        EXPECT_EQ(file.absolutePath(), imagesFolder()) << file.filePath().toStdString();
        EXPECT_LE(file.fileName().toUtf8().size(), 255);
        ++written;
    }
    EXPECT_EQ(written, prefixes.size() * 2 * 2);
    EXPECT_FALSE(QFileInfo::exists(QStringLiteral("/tmp/abs_")));
    // And each is found again by its name.
    const int before = server.requests();
    for (const QString& prefix : prefixes) {
        QLabel fresh;
        ImagesCache restarted(ratio);
        EXPECT_FALSE(
            restarted
                .getImageWithURL(server.url(QStringLiteral("/pic.png")), prefix, {10, 10}, &fresh)
                .image.size()
                .isEmpty());
        EXPECT_TRUE(fresh.pixmap().isNull());
    }
    EXPECT_EQ(server.requests(), before);
}

TEST_F(ImagesCacheTest, ViewDestroyedBeforeTheFetchEndsIsLeftAlone) {
    ImagesCache cache(ratio);
    auto* view = new QLabel;
    cache.getImageWithURL(server.url(QStringLiteral("/late.png")), QStringLiteral("v"), {10, 10},
                          view);
    delete view;
    settle(); // the update finds no view and does nothing
    EXPECT_EQ(files().size(), 2);
}

TEST_F(ImagesCacheTest, MemoryCachesAreBounded) {
    ImagesCache cache(ratio);
    QLabel view;
    const int count = ImagesCache::kMemoryCacheEntries + 8;
    // One at a time: parallel fetches would enter the memory cache in the order they
    // happen to finish, and the oldest entry would not be known.
    for (int i = 0; i < count; ++i) {
        cache.getImageWithURL(server.url(QStringLiteral("/m%1.png").arg(i)), QStringLiteral("b"),
                              {10, 10}, &view);
        settle();
    }
    // The oldest entry left memory; it still comes back from disk, without a request.
    QDir(imagesFolder()).remove(QStringLiteral("b_b_m0_normal_scaled.png"));
    const int before = server.requests();
    const CachedImage evicted = cache.getImageWithURL(server.url(QStringLiteral("/m0.png")),
                                                      QStringLiteral("b"), {10, 10}, &view);
    EXPECT_EQ(evicted.image, ImagesCache::placeholder().image);
    settle();
    EXPECT_EQ(server.requests(), before); // the "real" file served it
    const CachedImage recent =
        cache.getImageWithURL(server.url(QStringLiteral("/m%1.png").arg(count - 1)),
                              QStringLiteral("b"), {10, 10}, &view);
    EXPECT_NE(recent.image, ImagesCache::placeholder().image);
}

} // namespace
} // namespace sondrel
