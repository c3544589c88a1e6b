// A screenshot of the playing window on a real X server, kept under the build folder as
// an artifact ("artifacts/window-playing.png", or "-2x" with QT_SCALE_FACTOR=2 for a
// HiDPI screen).

#include "WindowFixture.h"
#include "window/FloatSlider.h"

#include <QDir>
#include <QScreen>
#include <QSet>

namespace sondrel::test {
namespace {

class Screenshot : public WindowFixture {};

// How blue the most blue pixel of the column at `at` (0 to 1 across `area`) of `image`
// is: blue minus red. The groove is grey where nothing is drawn on it.
int bluenessOfColumn(const QImage& image, const QRect& area, double at) {
    const int x = area.left() + static_cast<int>(at * area.width());
    int most = -255;
    for (int y = area.top(); y <= area.bottom(); ++y) {
        const QColor pixel = image.pixelColor(x, y);
        most = std::max(most, pixel.blue() - pixel.red());
    }
    return most;
}

QString artifactPath(qreal scale) {
    const QByteArray binary = qgetenv("SONDREL_BINARY_DIR");
    QDir dir(binary.isEmpty() ? QDir::currentPath() : QString::fromUtf8(binary));
    dir.mkpath(QStringLiteral("artifacts"));
    return dir.filePath(scale > 1.0 ? QStringLiteral("artifacts/window-playing-2x.png")
                                    : QStringLiteral("artifacts/window-playing.png"));
}

#ifdef SONDREL_SCREENSHOT_SCALE
TEST_F(Screenshot, OfThePlayingWindowOnAScreenOfScale2) {
    ASSERT_EQ(controller->window()->devicePixelRatioF(), 2.0);
#else
TEST_F(Screenshot, OfThePlayingWindow) {
#endif
    ASSERT_EQ(QGuiApplication::platformName(), QStringLiteral("xcb"));
    clickRowButton(1);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(1); }));
    ASSERT_TRUE(waitFor([&] {
        return controller->progressSlider()->doubleValue() > 0.05 &&
               rowTime(1)->text().startsWith(QLatin1Char('-'));
    }));
    // The song is whole: the groove shows it all available.
    FloatSlider* slider = controller->progressSlider();
    ASSERT_TRUE(waitFor([&] { return slider->availableFraction() == 1.0; }));
    QWidget* window = controller->window();
    window->raise();
    window->activateWindow();
    QTest::qWait(300); // let the X server show the last paint

    const qreal scale = window->devicePixelRatioF();
    const QPixmap shot = window->screen()->grabWindow(window->winId());
    ASSERT_FALSE(shot.isNull());
    const QString path = artifactPath(scale);
    ASSERT_TRUE(shot.save(path)) << path.toStdString();
    std::printf("screenshot: %s (%dx%d, scale %.1f)\n", qPrintable(path), shot.width(),
                shot.height(), scale);

    // The picture is the window at the screen's scale, and it is not blank: the row
    // highlight's colour and white are both there.
    EXPECT_EQ(shot.width(), qRound(window->width() * scale));
    const QImage image = shot.toImage();
    QSet<QRgb> colours;
    bool highlight = false;
    for (int y = 0; y < image.height(); y += 2) {
        for (int x = 0; x < image.width(); x += 2) {
            const QRgb pixel = image.pixel(x, y) & 0xFFFFFF;
            colours.insert(pixel);
            highlight = highlight || pixel == 0x5F7FA2;
        }
    }
    EXPECT_GT(colours.size(), 20);
    EXPECT_TRUE(highlight);

    // The ordinary rows' text is drawn in the row colour: the darkest pixel of row 0's
    // title (bold, so some pixels are solid) is that colour; anti-aliasing only makes
    // pixels lighter.
    const QRect title(rowTitle(0)->mapTo(window, QPoint(0, 0)), rowTitle(0)->size());
    QColor darkest(Qt::white);
    for (int y = title.top(); y <= title.bottom(); ++y) {
        for (int x = title.left(); x <= title.right(); ++x) {
            const QColor pixel = image.pixelColor(QPointF(x * scale, y * scale).toPoint());
            if (pixel.lightness() < darkest.lightness()) {
                darkest = pixel;
            }
        }
    }
    const QColor rowColour(0x5f, 0x7f, 0xa2);
    EXPECT_LE(std::abs(darkest.red() - rowColour.red()) +
                  std::abs(darkest.green() - rowColour.green()) +
                  std::abs(darkest.blue() - rowColour.blue()),
              24)
        << darkest.name().toStdString();

    // The progress slider's lighter fill shows the arrived share: all of the whole song
    // on screen, then up to the share set, and nothing beyond it.
    const QRect onScreen(QPointF(slider->mapTo(window, QPoint(0, 0))).toPoint() * scale,
                         slider->size() * scale);
    EXPECT_GT(bluenessOfColumn(image, onScreen, 0.85), 20);
    const auto drawn = [&](double available) {
        slider->setAvailableFraction(available);
        const QImage picture = slider->grab().toImage();
        return std::pair(bluenessOfColumn(picture, picture.rect(), 0.6),
                         bluenessOfColumn(picture, picture.rect(), 0.85));
    };
    const auto [halfAt60, halfAt85] = drawn(0.7);
    EXPECT_GT(halfAt60, 20);
    EXPECT_LT(halfAt85, 10);
    const auto [noneAt60, noneAt85] = drawn(0.0);
    EXPECT_LT(noneAt60, 10);
    EXPECT_LT(noneAt85, 10);
}

} // namespace
} // namespace sondrel::test
