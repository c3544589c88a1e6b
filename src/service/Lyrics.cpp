#include "service/Lyrics.h"

#include "service/ServiceAnswer.h"
#include "support/CommonHelper.h"

#include <QJsonValue>

namespace sondrel {

std::optional<QString> lyricsIdOfSong(const QJsonObject& song) {
    const QJsonValue id = song.value(QStringLiteral("lyrics_id"));
    qint64 number = 0;
    if (id.isDouble()) {
        const double value = id.toDouble();
        if (value >= 1 && value <= 9.0e15 &&
            value == static_cast<double>(static_cast<qint64>(value))) {
            number = static_cast<qint64>(value);
        }
    } else if (id.isString()) {
        bool ok = false;
        number = id.toString().toLongLong(&ok);
        number = ok ? number : 0;
    }
    if (number <= 0) {
        return std::nullopt;
    }
    return QString::number(number);
}

QUrl URLLyrics(const QString& apiBase, const QString& token, const QString& lyricsId) {
    return QUrl(apiBase + QStringLiteral("/audio.getLyrics?access_token=") + token +
                    QStringLiteral("&lyrics_id=") + lyricsId,
                QUrl::TolerantMode);
}

std::optional<QString> lyricsFromAnswer(const QByteArray& bytes) {
    const std::optional<QJsonObject> answer = parseAnswerObject(bytes);
    if (!answer) {
        return std::nullopt;
    }
    const QJsonValue response = answer->value(QStringLiteral("response"));
    if (!response.isObject()) {
        return std::nullopt;
    }
    const QJsonValue text = response.toObject().value(QStringLiteral("text"));
    if (text.isNull() || text.isUndefined()) {
        return QString();
    }
    if (!text.isString()) {
        return std::nullopt;
    }
    QString lines = CommonHelper::decodeHTMLEntities(text.toString());
    lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return lines.trimmed();
}

} // namespace sondrel
