#pragma once
// The status.set requests of the status broadcast and the reading of their answers.
//
// Three variants, sent with GET to the API host over HTTPS; nothing is percent-encoded:
//   clear         /method/status.set?access_token=<token>&text=
//   plain         /method/status.set?access_token=<token>&audio=<user id>_<song id>&text=sondrel
//   with captcha  the plain one followed by &captcha_sid=<captcha id>&captcha_key=<answer>
//
// Only the answer to a set request is read, and only for a captcha demand: an "error"
// object whose "error_code" in decimal text form is "14", with its "captcha_img" and
// "captcha_sid".
//
// Pure functions; safe on any thread.

#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QUrl>
#include <optional>

namespace sondrel {

inline const QString kTranslateSettingKey = QStringLiteral("lastTranslateCurrentSongToProfile");

enum class StatusVariant { Clear, Plain, WithCaptcha };

// The values of one request, taken when the request is made.
struct StatusRequestValues {
    QString token;
    QString userId;
    QString songId;
    std::optional<QString> captchaSid; // the captcha id held, if any
    QString captchaKey;                // the captcha field's text as typed
};

StatusVariant statusVariantFor(bool set, bool captchaHeld);

// The address of the request, or nothing when no URL can be formed from the values
// (for example a captcha answer with characters a URL does not allow).
std::optional<QUrl> statusSetURL(const QString& apiOrigin, bool set,
                                 const StatusRequestValues& values);
// The same as text, before it is checked.
QString statusSetAddress(const QString& apiOrigin, bool set, const StatusRequestValues& values);

// A song id or user id as the service writes it: whole numbers without a fraction,
// texts as they are; anything else is "".
QString idText(const QJsonValue& value);

struct CaptchaDemand {
    QString imageAddress; // "captcha_img"
    QString sid;          // "captcha_sid"
};

// The captcha demand in a status.set answer; nothing for a success, another error, or
// an answer that is not JSON or lacks the picture address or the captcha id.
std::optional<CaptchaDemand> captchaDemandFromAnswer(const QByteArray& bytes);

} // namespace sondrel
