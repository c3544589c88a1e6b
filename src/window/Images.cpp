#include "window/Images.h"

#include "window/SvgIconEngine.h"

#include <QAbstractButton>
#include <QFile>
#include <QHash>

// The resources live in a static library: register them by hand, once.
static void initWindowResources() {
    Q_INIT_RESOURCE(window_images);
}

namespace sondrel {

void ensureWindowResources() {
    static const bool registered = (initWindowResources(), true);
    Q_UNUSED(registered);
}

QIcon imageNamed(const QString& name) {
    static QHash<QString, QIcon> cache;
    ensureWindowResources();
    const auto found = cache.constFind(name);
    if (found != cache.constEnd()) {
        return *found;
    }
    const QString path = QStringLiteral(":/images/%1.svg").arg(name);
    QIcon icon;
    if (QFile::exists(path)) {
        icon = QIcon(new SvgIconEngine(path));
    }
    cache.insert(name, icon);
    return icon;
}

void setButtonImage(QAbstractButton* button, const QString& name) {
    if (button == nullptr) {
        return;
    }
    button->setIcon(imageNamed(name));
    button->setProperty("imageName", name);
}

QString buttonImageName(const QAbstractButton* button) {
    return button != nullptr ? button->property("imageName").toString() : QString();
}

} // namespace sondrel
