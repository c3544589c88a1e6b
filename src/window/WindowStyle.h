#pragma once
// The window's style: the desktop's own, except that the arrow of a menu bar too narrow
// for its menus is one of the window's images. The style's own arrow is a PNG file whose
// reading makes Qt load every image format plugin, on the way to the window's first
// paint, for an arrow that is seldom seen.
//
// Main thread only.

#include <QProxyStyle>

namespace sondrel {

class WindowStyle : public QProxyStyle {
    Q_OBJECT

public:
    WindowStyle();

    QIcon standardIcon(StandardPixmap standardIcon, const QStyleOption* option,
                       const QWidget* widget) const override;

    // Makes it the application's style, once; call before the first widget is made.
    static void install();
};

} // namespace sondrel
