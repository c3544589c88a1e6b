#include "service/StatusBroadcast.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace sondrel {

StatusVariant statusVariantFor(bool set, bool captchaHeld) {
    if (!set) {
        return StatusVariant::Clear;
    }
    return captchaHeld ? StatusVariant::WithCaptcha : StatusVariant::Plain;
}

QString statusSetAddress(const QString& apiOrigin, bool set, const StatusRequestValues& values) {
    // Concatenation, not QString::arg: a value holding "%1" must not be taken for a
    // placeholder.
    QString address = apiOrigin + QStringLiteral("/method/status.set?access_token=") + values.token;
    switch (statusVariantFor(set, values.captchaSid.has_value())) {
    case StatusVariant::Clear:
        address += QStringLiteral("&text=");
        break;
    case StatusVariant::Plain:
        address += QStringLiteral("&audio=") + values.userId + QLatin1Char('_') + values.songId +
                   QStringLiteral("&text=sondrel");
        break;
    case StatusVariant::WithCaptcha:
        address += QStringLiteral("&audio=") + values.userId + QLatin1Char('_') + values.songId +
                   QStringLiteral("&text=sondrel&captcha_sid=") + *values.captchaSid +
                   QStringLiteral("&captcha_key=") + values.captchaKey;
        break;
    }
    return address;
}

std::optional<QUrl> statusSetURL(const QString& apiOrigin, bool set,
                                 const StatusRequestValues& values) {
    const QString address = statusSetAddress(apiOrigin, set, values);
    // Only printable ASCII may stand in a URL (Qt would quietly encode the rest).
    for (const QChar c : address) {
        if (c.unicode() <= 0x20 || c.unicode() >= 0x7f) {
            return std::nullopt;
        }
    }
    const QUrl url(address, QUrl::StrictMode);
    if (!url.isValid() || url.scheme().isEmpty() || url.host().isEmpty()) {
        return std::nullopt;
    }
    return url;
}

QString idText(const QJsonValue& value) {
    if (value.isString()) {
        return value.toString();
    }
    if (value.isDouble()) {
        const double number = value.toDouble();
        if (std::isfinite(number) && number == std::trunc(number) && std::abs(number) < 9.0e15) {
            return QString::number(static_cast<qint64>(number));
        }
        return QString::number(number, 'g', 17);
    }
    return {};
}

std::optional<CaptchaDemand> captchaDemandFromAnswer(const QByteArray& bytes) {
    if (bytes.isEmpty()) {
        return std::nullopt;
    }
    const QJsonDocument document = QJsonDocument::fromJson(bytes);
    if (!document.isObject()) {
        return std::nullopt;
    }
    const QJsonValue error = document.object().value(QStringLiteral("error"));
    if (!error.isObject()) {
        return std::nullopt;
    }
    const QJsonObject object = error.toObject();
    if (idText(object.value(QStringLiteral("error_code"))) != QStringLiteral("14")) {
        return std::nullopt;
    }
    CaptchaDemand demand;
    demand.imageAddress = object.value(QStringLiteral("captcha_img")).toString();
    demand.sid = idText(object.value(QStringLiteral("captcha_sid")));
    if (demand.imageAddress.isEmpty() || demand.sid.isEmpty()) {
        return std::nullopt;
    }
    return demand;
}

} // namespace sondrel
