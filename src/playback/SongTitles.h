#pragma once
// The styled artist-and-title line of a song: plain text plus one bold range that starts
// at the first character. The window renders text[0, boldLength) in titleBoldFont() and
// the rest in the field's own font (window/TitleText.h); toHtml() only marks the bold
// part as bold.
//
// boldLength is (length of the cleaned artist) + 2, cut to the text's length, so
// "Foo - Bar" has "Foo -" in bold; an empty text has no bold range.

#include <QFont>
#include <QJsonObject>
#include <QString>

namespace sondrel {

struct AttributedTitle {
    QString text;
    int boldLength = 0;

    QString boldPart() const { return text.left(boldLength); }
    QString plainPart() const { return text.mid(boldLength); }
    // The text as HTML: the bold part inside <b>, everything escaped.
    QString toHtml() const;
    bool operator==(const AttributedTitle&) const = default;
};

// The bold face of the title line: "Tahoma" bold at 11 points, or the nearest installed
// bold sans face of that size when Tahoma is missing.
QFont titleBoldFont();

// Builds the styled title of one song record from its "artist" and "title" (cleaned with
// CommonHelper::cleanFromHTMLCharacters; a part the cleaner rejects counts as empty).
AttributedTitle attributedTitleForSong(const QJsonObject& song);

} // namespace sondrel
