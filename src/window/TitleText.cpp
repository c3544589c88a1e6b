#include "window/TitleText.h"

#include <QFontInfo>
#include <QLabel>

namespace sondrel {

QFont resolvedTitleBoldFont() {
    QFont font = titleBoldFont();
    // Rich text names its font by family; a family that is not installed would be
    // replaced by the document's default, which need not be a sans face.
    font.setFamily(QFontInfo(font).family());
    return font;
}

QString titleRichText(const AttributedTitle& title) {
    if (title.boldLength <= 0) {
        return title.plainPart().toHtmlEscaped();
    }
    const QFont bold = resolvedTitleBoldFont();
    return QStringLiteral("<span style=\"font-family:'%1'; font-size:%2pt; "
                          "font-weight:700;\">%3</span>%4")
        .arg(bold.family().toHtmlEscaped())
        .arg(bold.pointSize())
        .arg(title.boldPart().toHtmlEscaped(), title.plainPart().toHtmlEscaped());
}

void showTitle(QLabel* label, const AttributedTitle& title) {
    if (label == nullptr) {
        return;
    }
    label->setTextFormat(Qt::RichText);
    label->setText(titleRichText(title));
}

} // namespace sondrel
