#include "service/ServiceAnswer.h"

#include "platform/Log.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QJsonValue>
#include <algorithm>

namespace sondrel {
namespace {

const QString kError = QStringLiteral("error");
const QString kErrorCode = QStringLiteral("error_code");
const QString kResponse = QStringLiteral("response");

// The check compares the code's decimal text with "14" and "5": only the whole numbers
// 14 and 5 match (14.5 or "5" as text do not).
ServiceErrorAction actionForCode(double code) {
    if (code == 14.0) {
        return ServiceErrorAction::CaptchaNeeded;
    }
    if (code == 5.0) {
        return ServiceErrorAction::ReAuthorize;
    }
    return ServiceErrorAction::None;
}

void logAction(ServiceErrorAction action) {
    switch (action) {
    case ServiceErrorAction::CaptchaNeeded:
        logLine(QStringLiteral("captcha needed"));
        break;
    case ServiceErrorAction::ReAuthorize:
        logLine(QStringLiteral("token has been expired, need re-auth"));
        break;
    case ServiceErrorAction::None:
        break;
    }
}

} // namespace

std::optional<QJsonObject> parseAnswerObject(const QByteArray& bytes) {
    if (bytes.isEmpty()) {
        return std::nullopt;
    }
    QJsonParseError error{};
    const QJsonDocument document = QJsonDocument::fromJson(bytes, &error);
    if (error.error != QJsonParseError::NoError || !document.isObject()) {
        return std::nullopt;
    }
    return document.object();
}

bool hasWellFormedError(const QJsonObject& answer) {
    const auto found = answer.constFind(kError);
    if (found == answer.constEnd()) {
        return true;
    }
    return found->isObject() && found->toObject().value(kErrorCode).isDouble();
}

ServiceErrorAction errorActionForAnswer(const QJsonObject& answer) {
    const auto found = answer.constFind(kError);
    if (found == answer.constEnd() || !hasWellFormedError(answer)) {
        return ServiceErrorAction::None;
    }
    return actionForCode(found->toObject().value(kErrorCode).toDouble());
}

ServiceErrorAction checkResponseOnErrors(const QByteArray& bytes) {
    const std::optional<QJsonObject> answer = parseAnswerObject(bytes);
    if (!answer) {
        return ServiceErrorAction::None;
    }
    const ServiceErrorAction action = errorActionForAnswer(*answer);
    logAction(action);
    return action;
}

std::optional<SongList> songsFromListAnswer(const QJsonObject& answer) {
    if (!hasWellFormedError(answer)) {
        return std::nullopt;
    }
    const auto found = answer.constFind(kResponse);
    if (found == answer.constEnd()) {
        return SongList();
    }
    if (!found->isArray()) {
        return std::nullopt;
    }
    const QJsonArray response = found->toArray();
    const bool allObjects = std::all_of(response.begin(), response.end(),
                                        [](const QJsonValue& v) { return v.isObject(); });
    if (allObjects) {
        return SongList(response); // the usual own-list answer: no filtering needed
    }
    QJsonArray songs;
    for (const QJsonValue& element : response) {
        if (element.isObject()) {
            songs.append(element);
        }
    }
    return SongList(songs);
}

SongListAnswer readSongListAnswer(const QByteArray& bytes) {
    SongListAnswer result;
    const std::optional<QJsonObject> answer = parseAnswerObject(bytes);
    if (!answer) {
        return result;
    }
    result.action = errorActionForAnswer(*answer);
    logAction(result.action);
    result.songs = songsFromListAnswer(*answer);
    if (answer->contains(kError) && hasWellFormedError(*answer)) {
        const QJsonObject error = answer->value(kError).toObject();
        result.errorCode = error.value(kErrorCode).toDouble();
        result.errorMessage = error.value(QStringLiteral("error_msg")).toString();
    }
    return result;
}

} // namespace sondrel
