#include "window/SvgIconEngine.h"

#include <QApplication>
#include <QPainter>
#include <QStyle>
#include <QStyleOption>
#include <QSvgRenderer>

namespace sondrel {

QSvgRenderer* SvgIconEngine::Drawing::load() {
    if (!renderer) {
        renderer = std::make_unique<QSvgRenderer>(path);
    }
    return renderer->isValid() ? renderer.get() : nullptr;
}

SvgIconEngine::SvgIconEngine(QString path) : drawing(std::make_shared<Drawing>()) {
    drawing->path = std::move(path);
}

SvgIconEngine::SvgIconEngine(std::shared_ptr<Drawing> shared) : drawing(std::move(shared)) {}

SvgIconEngine::~SvgIconEngine() = default;

void SvgIconEngine::paint(QPainter* painter, const QRect& rect, QIcon::Mode mode,
                          QIcon::State state) {
    const qreal scale = painter->device() != nullptr ? painter->device()->devicePixelRatioF() : 1.0;
    QPixmap picture = pixmap(rect.size() * scale, mode, state);
    picture.setDevicePixelRatio(scale);
    painter->drawPixmap(rect, picture);
}

QPixmap SvgIconEngine::pixmap(const QSize& size, QIcon::Mode mode, QIcon::State /*state*/) {
    if (size.isEmpty()) {
        return {};
    }
    const QString cacheKey =
        QStringLiteral("%1x%2/%3").arg(size.width()).arg(size.height()).arg(int(mode));
    const auto found = drawing->drawn.constFind(cacheKey);
    if (found != drawing->drawn.constEnd()) {
        return *found;
    }
    QPixmap picture(size);
    picture.fill(Qt::transparent);
    if (QSvgRenderer* renderer = drawing->load()) {
        QPainter painter(&picture);
        renderer->render(&painter, QRectF(QPointF(0, 0), QSizeF(size)));
    }
    // Disabled and selected pictures are derived by the style, as for any other icon.
    if (mode != QIcon::Normal && mode != QIcon::Active) {
        QStyleOption option;
        option.palette = QApplication::palette();
        picture = QApplication::style()->generatedIconPixmap(mode, picture, &option);
    }
    drawing->drawn.insert(cacheKey, picture);
    return picture;
}

QSize SvgIconEngine::actualSize(const QSize& size, QIcon::Mode /*mode*/, QIcon::State /*state*/) {
    return size; // a vector picture fills any size
}

QIconEngine* SvgIconEngine::clone() const {
    return new SvgIconEngine(drawing);
}

QString SvgIconEngine::key() const {
    return QStringLiteral("SondrelSvgIconEngine");
}

bool SvgIconEngine::isNull() {
    return drawing->path.isEmpty();
}

} // namespace sondrel
