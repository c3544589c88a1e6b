#pragma once
// Fetches and keeps the lyrics of songs. A request for a song answers at once from the
// cache (one entry per lyrics id, for the whole run) or asks the service on the
// background pool and answers when the text is back. A song without a lyrics id, and a
// song the service has no lyrics for, answer with no text.
//
// Threading: created and used on the main thread; the network wait and the JSON work run
// on the background pool and come back through dispatchMain(). A fetch still running
// when the fetcher is destroyed is dropped on its way back.

#include <QHash>
#include <QJsonObject>
#include <QObject>
#include <QSet>
#include <QString>
#include <functional>

namespace sondrel {

class LyricsFetcher : public QObject {
    Q_OBJECT

public:
    // `apiBase` and `token` are read at each request (the token changes with a sign-in).
    LyricsFetcher(std::function<QString()> apiBase, std::function<QString()> token,
                  QObject* parent = nullptr);

    // Asks for the lyrics of `song`, known to the caller as `songId`; lyricsReady
    // follows, at once when they are known.
    void requestLyricsForSong(const QString& songId, const QJsonObject& song);

signals:
    // `songId` is the text form of the song's "aid"; `text` is empty when there are none.
    // `failed` is set when the service could not be asked (nothing was cached then).
    void lyricsReady(const QString& songId, const QString& text, bool failed);

private:
    std::function<QString()> apiBase;
    std::function<QString()> token;
    // All fields: main thread.
    QHash<QString, QString> cache;         // lyrics id -> text ("" when the service has none)
    QSet<QString> running;                 // lyrics ids being fetched
    QHash<QString, QSet<QString>> waiting; // lyrics id -> songs asking for it
};

} // namespace sondrel
