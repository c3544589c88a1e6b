#include "window/WindowStyle.h"

#include "window/Images.h"

#include <QApplication>

namespace sondrel {

WindowStyle::WindowStyle() : QProxyStyle(QApplication::style()->name()) {}

QIcon WindowStyle::standardIcon(StandardPixmap standardIcon, const QStyleOption* option,
                                const QWidget* widget) const {
    if (standardIcon == SP_ToolBarHorizontalExtensionButton ||
        standardIcon == SP_ToolBarVerticalExtensionButton) {
        return imageNamed(QStringLiteral("more"));
    }
    return QProxyStyle::standardIcon(standardIcon, option, widget);
}

void WindowStyle::install() {
    if (qobject_cast<WindowStyle*>(QApplication::style()) == nullptr) {
        QApplication::setStyle(new WindowStyle);
    }
}

} // namespace sondrel
