#include "fuzz/answers/AnswersFuzzBody.h"

#include "fuzz/FuzzSupport.h"
#include "service/ServiceAnswer.h"
#include "service/StatusBroadcast.h"

#include <QJsonArray>
#include <QJsonObject>

namespace sondrel::fuzz {
namespace {

const QString kOrigin = QStringLiteral("https://127.0.0.1:47443");

void checkListAnswer(const QByteArray& bytes) {
    const SongListAnswer list = readSongListAnswer(bytes);
    require(list.action == checkResponseOnErrors(bytes));

    const std::optional<QJsonObject> answer = parseAnswerObject(bytes);
    if (!answer) {
        require(!list.songs && list.action == ServiceErrorAction::None);
        return;
    }
    require(errorActionForAnswer(*answer) == list.action);
    require(songsFromListAnswer(*answer) == list.songs);
    if (!hasWellFormedError(*answer)) {
        require(!list.songs && list.action == ServiceErrorAction::None);
    }
    if (!list.songs) {
        return;
    }
    const QJsonArray records = list.songs->toJsonArray();
    require(records.size() == list.songs->size() && SongList(records) == *list.songs);
    for (const QJsonValue& song : records) {
        require(song.isObject());
        // What the song table reads from every record.
        const QJsonObject record = song.toObject();
        (void)idText(record.value(QStringLiteral("id")));
        (void)idText(record.value(QStringLiteral("owner_id")));
    }
}

void checkCaptchaDemand(const QByteArray& bytes) {
    const std::optional<CaptchaDemand> demand = captchaDemandFromAnswer(bytes);
    if (!demand) {
        return;
    }
    require(!demand->imageAddress.isEmpty() && !demand->sid.isEmpty());
    // The demand's id goes into the next request: it may spoil the request, never move it
    // to another host.
    StatusRequestValues values{QStringLiteral("token"), QStringLiteral("1"), QStringLiteral("2"),
                               demand->sid, demand->imageAddress};
    if (const std::optional<QUrl> url = statusSetURL(kOrigin, true, values)) {
        require(url->scheme() == QLatin1String("https") &&
                url->host() == QLatin1String("127.0.0.1") && url->port() == 47443 &&
                url->path() == QLatin1String("/method/status.set"));
    }
}

} // namespace

int fuzzServiceAnswers(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes = inputBytes(data, size);
    checkListAnswer(bytes);
    checkCaptchaDemand(bytes);
    return 0;
}

} // namespace sondrel::fuzz
