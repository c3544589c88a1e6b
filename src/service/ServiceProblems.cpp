#include "service/ServiceProblems.h"

namespace sondrel {
namespace {

// The service's own error text is shown as sent, but never longer than one line.
constexpr qsizetype kLongestServiceText = 120;

QString oneLine(QString text) {
    text = text.simplified();
    if (text.size() > kLongestServiceText) {
        text = text.left(kLongestServiceText - 1) + QChar(0x2026);
    }
    return text;
}

} // namespace

std::optional<QString> transferProblem(const HttpResult& result) {
    if (result.ok) {
        return std::nullopt;
    }
    switch (result.failure) {
    case HttpFailure::Unreachable:
        return QStringLiteral("The service cannot be reached");
    case HttpFailure::Untrusted:
        return QStringLiteral("The service's certificate is not trusted");
    case HttpFailure::TokenRefused:
        return QStringLiteral("Not sent: the service's address is plain HTTP, and the access "
                              "token goes only over HTTPS");
    case HttpFailure::None:
    case HttpFailure::Other:
        break;
    }
    return QStringLiteral("The request to the service failed: %1").arg(oneLine(result.error));
}

std::optional<QString> listProblem(const HttpResult& result, const SongListAnswer& answer) {
    if (std::optional<QString> problem = transferProblem(result)) {
        return problem;
    }
    if (answer.errorCode) {
        if (answer.action == ServiceErrorAction::ReAuthorize) {
            return std::nullopt;
        }
        QString text = QStringLiteral("The service answered with error %1")
                           .arg(QString::number(*answer.errorCode, 'g', 15));
        if (!answer.errorMessage.isEmpty()) {
            text += QStringLiteral(": ") + oneLine(answer.errorMessage);
        }
        return text;
    }
    if (!answer.songs) {
        if (result.httpStatus != 0 && (result.httpStatus < 200 || result.httpStatus >= 300)) {
            return QStringLiteral("The service answered HTTP %1 instead of a song list")
                .arg(result.httpStatus);
        }
        return QStringLiteral("The service's answer could not be read");
    }
    return std::nullopt;
}

} // namespace sondrel
