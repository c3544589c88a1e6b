#include "service/AudioListURLs.h"

#include "support/CommonHelper.h"

namespace sondrel {

// Built by concatenation: the encoded search text is full of "%XX" sequences, which a
// QString::arg pass would take for placeholders.

QString allMyAudioAddress(const QString& apiBase, const QString& token) {
    return apiBase + QStringLiteral("/audio.get?access_token=") + token + QLatin1Char('&');
}

QString searchAddress(const QString& apiBase, const QString& token, const QString& text) {
    const QString method =
        apiBase + QStringLiteral("/audio.search?access_token=") + token + QLatin1Char('&');
    return method + QStringLiteral("&q=") + CommonHelper::urlencode(text) +
           QStringLiteral("&auto_complete=1&sort=2&count=") + QString::number(kSearchCount) +
           QStringLiteral("&offset=0");
}

QUrl URLAllMyAudio(const QString& apiBase, const QString& token) {
    return QUrl(allMyAudioAddress(apiBase, token), QUrl::TolerantMode);
}

QUrl URLSearch(const QString& apiBase, const QString& token, const QString& text) {
    return QUrl(searchAddress(apiBase, token, text), QUrl::TolerantMode);
}

} // namespace sondrel
