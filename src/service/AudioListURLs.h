#pragma once
// The two addresses of the service's list methods: the user's own audio list
// ("audio.get") and a search ("audio.search", at most 200 results from the first one).
//
// The access token goes into the address exactly as stored, without encoding; the
// search text is percent-encoded with CommonHelper::urlencode, which leaves "&" and "+"
// as they are (an "&" in the text therefore starts a further query parameter, as the
// service expects of its clients).
//
// Pure functions; safe on any thread.

#include <QString>
#include <QUrl>

namespace sondrel {

// "<apiBase>/audio.get?access_token=<token>&"
QString allMyAudioAddress(const QString& apiBase, const QString& token);
// "<apiBase>/audio.search?access_token=<token>&&q=<encoded text>&auto_complete=1&sort=2
// &count=200&offset=0"
QString searchAddress(const QString& apiBase, const QString& token, const QString& text);

// The addresses as URLs (tolerant parsing: a stray character in a token is encoded
// rather than making the address unusable).
QUrl URLAllMyAudio(const QString& apiBase, const QString& token);
QUrl URLSearch(const QString& apiBase, const QString& token, const QString& text);

// The most songs a search asks for.
inline constexpr int kSearchCount = 200;

} // namespace sondrel
