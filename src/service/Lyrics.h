#pragma once
// The lyrics of a song: the song record's "lyrics_id", the service method
// "audio.getLyrics" and the text of its answer, {"response":{"lyrics_id":N,"text":"..."}},
// where the text has "\n" between lines and HTML entities for some characters.
//
// Pure functions; safe on any thread.

#include <QByteArray>
#include <QJsonObject>
#include <QString>
#include <QUrl>
#include <optional>

namespace sondrel {

// The song's "lyrics_id" as text: a positive whole number, given as a number or as a
// numeric text. Nothing when the record has none (absent, 0, or of another type).
std::optional<QString> lyricsIdOfSong(const QJsonObject& song);

// "<apiBase>/audio.getLyrics?access_token=<token>&lyrics_id=<id>"
QUrl URLLyrics(const QString& apiBase, const QString& token, const QString& lyricsId);

// The lyrics in an answer: entities decoded, line ends made "\n", surrounding blank
// space trimmed. An empty text when the service has none; nothing when the bytes are
// not such an answer (an error answer, another shape, not JSON).
std::optional<QString> lyricsFromAnswer(const QByteArray& bytes);

} // namespace sondrel
