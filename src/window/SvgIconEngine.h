#pragma once
// The icon engine of the window's named images: draws one SVG file of the resources at
// whatever size and screen scale is asked for.
//
// Qt's own SVG icon engine is a plugin that reads each file twice (once to check it when
// the icon is made, once to draw it) and is found by scanning the plugin folders; this
// one reads its file once, when the icon is first drawn, and keeps what it drew.
//
// Main thread only.

#include <QHash>
#include <QIconEngine>
#include <QPixmap>
#include <QString>
#include <memory>

class QSvgRenderer;

namespace sondrel {

class SvgIconEngine : public QIconEngine {
public:
    explicit SvgIconEngine(QString path);
    ~SvgIconEngine() override;

    void paint(QPainter* painter, const QRect& rect, QIcon::Mode mode, QIcon::State state) override;
    // `size` is in device pixels; QIcon sets the screen scale on the result.
    QPixmap pixmap(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QSize actualSize(const QSize& size, QIcon::Mode mode, QIcon::State state) override;
    QIconEngine* clone() const override;
    QString key() const override;
    bool isNull() override;

private:
    // What every copy of one icon shares: the file, read on first need, and the
    // pictures drawn from it.
    struct Drawing {
        QString path;
        std::unique_ptr<QSvgRenderer> renderer;
        QHash<QString, QPixmap> drawn; // by size and mode
        QSvgRenderer* load();
    };

    explicit SvgIconEngine(std::shared_ptr<Drawing> drawing);

    std::shared_ptr<Drawing> drawing;
};

} // namespace sondrel
