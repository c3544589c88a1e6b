#pragma once
// The styled title line of a song as the window draws it: the bold part in the title's
// bold face (titleBoldFont() as this desktop resolves it: the nearest installed bold sans
// of 11 points where Tahoma is missing), the rest in the label's own font.
// Main thread (fonts and widgets).

#include "playback/SongTitles.h"

#include <QFont>
#include <QString>

class QLabel;

namespace sondrel {

// titleBoldFont() resolved to an installed family.
QFont resolvedTitleBoldFont();

// The title as rich text: the bold part in a span of resolvedTitleBoldFont(), everything
// escaped.
QString titleRichText(const AttributedTitle& title);

// Shows `title` in `label` as rich text (nothing when there is no label).
void showTitle(QLabel* label, const AttributedTitle& title);

} // namespace sondrel
