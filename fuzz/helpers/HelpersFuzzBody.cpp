#include "fuzz/helpers/HelpersFuzzBody.h"

#include "fuzz/FuzzSupport.h"
#include "support/CommonHelper.h"

#include <QByteArray>
#include <QList>
#include <cstdlib>
#include <cstring>

namespace sondrel::fuzz {
namespace {

bool isClock(const QString& text) {
    // "mm:ss" or "h..h:mm:ss"; every field has at least two digits.
    const QStringList fields = text.split(QLatin1Char(':'));
    if (fields.size() < 2 || fields.size() > 3) {
        return false;
    }
    for (const QString& field : fields) {
        if (field.size() < 2) {
            return false;
        }
    }
    return true;
}

} // namespace

int fuzzCommonHelpers(const std::uint8_t* data, std::size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
    const QList<QByteArray> parts = bytes.split('\0');
    const QString text = QString::fromUtf8(parts.value(0));
    const QString start = QString::fromUtf8(parts.value(1));
    const QString end = QString::fromUtf8(parts.value(2));

    // Time conversions: any text, and the whole 32-bit range from the first bytes.
    (void)CommonHelper::convertTimeFromSeconds(text);
    std::int32_t seconds = 0;
    std::memcpy(&seconds, bytes.constData(), std::min<std::size_t>(size, sizeof seconds));
    if (seconds >= 0) {
        require(isClock(CommonHelper::convertTimeFromSecondsInt(seconds)));
    } else {
        (void)CommonHelper::convertTimeFromSecondsInt(seconds); // any result, never a crash
    }

    // Encoding then decoding gives the text back (for text that is valid UTF-16).
    const QString encoded = CommonHelper::urlencode(text);
    for (QChar c : encoded) {
        require(c.unicode() > 0x20 && c.unicode() < 0x7f);
    }
    if (QString::fromUtf8(text.toUtf8()) == text) {
        const std::optional<QString> decoded = CommonHelper::urldecode(encoded);
        require(decoded.has_value() && *decoded == text);
    }
    (void)CommonHelper::urldecode(text);

    (void)CommonHelper::cleanFromHTMLCharacters(text);
    (void)CommonHelper::trim(text);
    (void)CommonHelper::getStringBetweenTwoSymbols(text, start, end);
    (void)CommonHelper::containsStringInString(start, text);
    require(CommonHelper::stringContains(text, start) ==
            CommonHelper::containsStringInString(start, text));

    const QColor colour = CommonHelper::createNSColorFromString(text);
    require(colour.isValid() && colour.alpha() == 255);

    (void)CommonHelper::NSDataToUTF8String(bytes);
    return 0;
}

} // namespace sondrel::fuzz
