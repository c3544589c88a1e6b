#pragma once
// The author's addresses: shown in the title line while nothing plays, and opened by
// the three share buttons (the desktop app's address first, then the web page).

#include <QString>

namespace sondrel {

inline const QString kAuthorWebAddress = QStringLiteral("https://sondrel.org");
inline const QString kAuthorTwitterAppAddress = QStringLiteral("twitter://user?id=1529307813");
inline const QString kAuthorTwitterWebAddress = QStringLiteral("https://twitter.com/sondrelplayer");
inline const QString kAuthorFacebookAppAddress = QStringLiteral("fb://profile/sondrelplayer");
inline const QString kAuthorFacebookWebAddress =
    QStringLiteral("https://www.facebook.com/sondrelplayer");
inline const QString kAuthorLinkedinWebAddress =
    QStringLiteral("https://www.linkedin.com/in/sondrelplayer");

} // namespace sondrel
