#include "service/LyricsFetcher.h"

#include "platform/Dispatch.h"
#include "platform/Log.h"
#include "platform/Network.h"
#include "service/Lyrics.h"
#include "service/ServiceAnswer.h"
#include "service/ServiceTrust.h"

#include <QPointer>
#include <optional>

namespace sondrel {

LyricsFetcher::LyricsFetcher(std::function<QString()> apiBase, std::function<QString()> token,
                             QObject* parent)
    : QObject(parent), apiBase(std::move(apiBase)), token(std::move(token)) {}

void LyricsFetcher::requestLyricsForSong(const QString& songId, const QJsonObject& song) {
    const std::optional<QString> lyricsId = lyricsIdOfSong(song);
    if (!lyricsId) {
        emit lyricsReady(songId, QString(), false);
        return;
    }
    if (const auto cached = cache.constFind(*lyricsId); cached != cache.cend()) {
        emit lyricsReady(songId, *cached, false);
        return;
    }
    waiting[*lyricsId].insert(songId);
    if (running.contains(*lyricsId)) {
        return;
    }
    running.insert(*lyricsId);
    const QUrl url = URLLyrics(apiBase(), token(), *lyricsId);
    const QPointer<LyricsFetcher> self(this);
    dispatchBackground([self, url, id = *lyricsId] {
        trustServiceCertificateOnce();
        const HttpResult result = blockingGet(url);
        std::optional<QString> text;
        if (result.ok) {
            // The shared check logs the service's error lines as for any answer.
            const ServiceErrorAction action = checkResponseOnErrors(result.body);
            text = lyricsFromAnswer(result.body);
            const std::optional<QJsonObject> answer = parseAnswerObject(result.body);
            // An error answer (other than an expired token) is the service saying it has
            // no lyrics for this id.
            if (!text && action != ServiceErrorAction::ReAuthorize && answer &&
                answer->contains(QStringLiteral("error"))) {
                text = QString();
            }
        } else {
            logLine(QStringLiteral("Lyrics unavailable: ") + result.error);
        }
        dispatchMain([self, id, text] {
            if (!self) {
                return;
            }
            self->running.remove(id);
            if (text) {
                self->cache.insert(id, *text);
            }
            const QSet<QString> songs = self->waiting.take(id);
            for (const QString& songId : songs) {
                emit self->lyricsReady(songId, text.value_or(QString()), !text.has_value());
            }
        });
    });
}

} // namespace sondrel
