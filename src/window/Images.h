#pragma once
// The window's named images: small vector pictures in the application's resources
// (":/images/<name>.svg"), sharp at every screen scale. Names: "play", "pause",
// "playBig", "pauseBig", "repeat", "repeat_off", "shuffle", "shuffle_off", "translate",
// "translate_off", the "backward" and "forward" buttons' pictures, the search field's
// "clear" and the menu bar's overflow arrow "more".
//
// Main thread only.

#include <QIcon>
#include <QString>

class QAbstractButton;

namespace sondrel {

// Registers the window's resources (images used by the .ui files too). Idempotent.
void ensureWindowResources();

// The image of that name (a null icon for an unknown name).
QIcon imageNamed(const QString& name);

// Gives the button the named image and notes the name in its "imageName" property, so
// the image a button shows can be read back.
void setButtonImage(QAbstractButton* button, const QString& name);
// The name last given with setButtonImage (empty when none).
QString buttonImageName(const QAbstractButton* button);

} // namespace sondrel
