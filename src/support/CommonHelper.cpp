#include "support/CommonHelper.h"

#include "platform/Log.h"
#include "support/SchemeHandlers.h"

#include <QDesktopServices>
#include <QJsonDocument>
#include <QRegularExpression>
#include <QStringDecoder>
#include <QTime>
#include <QUrl>
#include <climits>
#include <mutex>

namespace sondrel {
namespace {

// A leading whole number of a text: optional white space, optional sign, digits.
// Saturates at the 32-bit limits like a C-style integer parse.
std::int32_t leadingInt(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace()) {
        ++i;
    }
    bool negative = false;
    if (i < text.size() && (text[i] == QLatin1Char('+') || text[i] == QLatin1Char('-'))) {
        negative = text[i] == QLatin1Char('-');
        ++i;
    }
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= QLatin1Char('0') && text[i] <= QLatin1Char('9'); ++i) {
        value = value * 10 + (text[i].unicode() - '0');
        if (value > std::int64_t{INT_MAX} + 1) {
            value = std::int64_t{INT_MAX} + 1;
        }
    }
    if (negative) {
        value = -value;
    }
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(value, INT_MIN, INT_MAX));
}

std::int32_t intValue(const QVariant& value) {
    if (!value.isValid()) {
        return 0;
    }
    if (value.typeId() == QMetaType::QString || value.typeId() == QMetaType::QByteArray) {
        return leadingInt(value.toString());
    }
    bool ok = false;
    const double number = value.toDouble(&ok);
    if (!ok || number != number) {
        return 0;
    }
    return static_cast<std::int32_t>(std::clamp<double>(number, INT_MIN, INT_MAX));
}

QString twoDigits(std::int64_t field) {
    return field < 10 ? QStringLiteral("0%1").arg(field) : QString::number(field);
}

bool isHexDigit(char32_t c) {
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

int hexValue(char32_t c) {
    if (c >= '0' && c <= '9') {
        return static_cast<int>(c - '0');
    }
    if (c >= 'a' && c <= 'f') {
        return static_cast<int>(c - 'a' + 10);
    }
    return static_cast<int>(c - 'A' + 10);
}

std::optional<QString> strictUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = decoder.decode(bytes);
    if (decoder.hasError()) {
        return std::nullopt;
    }
    return text;
}

std::mutex openerMutex;
std::function<bool(const QUrl&)> urlOpener; // guarded by openerMutex; empty = desktop

// The desktop's opener starts (and reports success) whether or not an application
// takes the address, so the database of handlers decides whether a link can open.
// Web pages always have a browser.
bool hasHandler(const QUrl& url) {
    const QString scheme = url.scheme().toLower();
    return scheme == QLatin1String("http") || scheme == QLatin1String("https") ||
           desktopHasHandlerForScheme(scheme);
}

} // namespace

QString CommonHelper::convertTimeFromSeconds(const QVariant& seconds) {
    const std::int64_t s = intValue(seconds);
    const std::int64_t h = s / 3600;
    const std::int64_t m = s / 60 - 60 * h;
    const std::int64_t sec = s - (3600 * h + 60 * m);
    if (h == 0) {
        return twoDigits(m) + QLatin1Char(':') + twoDigits(sec);
    }
    return twoDigits(h) + QLatin1Char(':') + twoDigits(m) + QLatin1Char(':') + twoDigits(sec);
}

QString CommonHelper::convertTimeFromSecondsInt(std::int32_t seconds) {
    return convertTimeFromSeconds(QString::number(seconds));
}

std::optional<QString> CommonHelper::cleanFromHTMLCharacters(const QString& text) {
    // Applied in this order, each to the result of the one before.
    static const std::pair<QString, QString> kReplacements[] = {
        {QStringLiteral("&amp;"), QStringLiteral("&")},
        {QStringLiteral("+"), QStringLiteral(" ")},
        {QStringLiteral("|"), QStringLiteral(" ")},
        {QStringLiteral("\u2192"), QStringLiteral(" - ")},
        {QStringLiteral("\u2665"), QString()},
        {QStringLiteral("["), QString()},
        {QStringLiteral("]"), QString()},
        {QStringLiteral("{"), QString()},
        {QStringLiteral("}"), QString()},
        {QStringLiteral("*"), QString()},
        {QStringLiteral("$"), QString()},
        {QStringLiteral("?"), QString()},
        {QStringLiteral("\u10E6"), QString()},
        {QStringLiteral("\u00B0"), QString()},
        {QStringLiteral("\u2022"), QString()},
        {QStringLiteral("\u266B"), QString()},
        {QStringLiteral("\u25AA"), QString()},
        {QStringLiteral("_"), QStringLiteral(" ")},
        {QStringLiteral("( "), QStringLiteral("(")},
        {QStringLiteral(" )"), QStringLiteral(")")},
        {QStringLiteral("  "), QStringLiteral(" ")},
        {QStringLiteral("  "), QStringLiteral(" ")},
        {QStringLiteral(" ,"), QStringLiteral(",")},
        {QStringLiteral(" ."), QStringLiteral(".")},
    };
    QString result = text;
    for (const auto& [from, to] : kReplacements) {
        result.replace(from, to);
    }
    std::optional<QString> decoded = urldecode(result);
    if (!decoded) {
        return std::nullopt;
    }
    return trim(*decoded);
}

QString CommonHelper::trim(const QString& text) {
    return text.trimmed();
}

QString CommonHelper::urlencode(const QString& text) {
    static const QByteArray kKept = QByteArrayLiteral("!$&'()*+,-./:;=?@_~");
    static const char kHex[] = "0123456789ABCDEF";
    const QByteArray utf8 = text.toUtf8();
    QByteArray out;
    out.reserve(utf8.size() * 3);
    for (const char ch : utf8) {
        const auto byte = static_cast<unsigned char>(ch);
        const bool alnum = (byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z') ||
                           (byte >= '0' && byte <= '9');
        if (alnum || (byte < 0x80 && kKept.contains(ch))) {
            out.append(ch);
        } else {
            out.append('%');
            out.append(kHex[byte >> 4]);
            out.append(kHex[byte & 0x0F]);
        }
    }
    return QString::fromLatin1(out);
}

std::optional<QString> CommonHelper::urldecode(const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    QByteArray bytes;
    bytes.reserve(utf8.size());
    for (qsizetype i = 0; i < utf8.size(); ++i) {
        if (utf8[i] != '%') {
            bytes.append(utf8[i]);
            continue;
        }
        if (i + 2 >= utf8.size()) {
            return std::nullopt;
        }
        const auto hi = static_cast<unsigned char>(utf8[i + 1]);
        const auto lo = static_cast<unsigned char>(utf8[i + 2]);
        if (!isHexDigit(hi) || !isHexDigit(lo)) {
            return std::nullopt;
        }
        bytes.append(static_cast<char>(hexValue(hi) * 16 + hexValue(lo)));
        i += 2;
    }
    return strictUtf8(bytes);
}

QString CommonHelper::getStringBetweenTwoSymbols(const QString& text, const QString& start,
                                                 const QString& end) {
    QString kept = text;
    if (!start.isEmpty()) {
        const QStringList pieces = text.split(start);
        if (pieces.size() >= 2) {
            kept = pieces[1];
        }
    }
    if (!end.isEmpty()) {
        kept = kept.split(end).first();
    }
    return kept;
}

bool CommonHelper::containsStringInString(const QString& needle, const QString& haystack) {
    return !needle.isEmpty() && haystack.contains(needle);
}

bool CommonHelper::stringContains(const QString& haystack, const QString& needle) {
    return containsStringInString(needle, haystack);
}

QColor CommonHelper::createNSColorFromString(const QString& text) {
    qsizetype i = 0;
    while (i < text.size() && text[i].isSpace()) {
        ++i;
    }
    if (i + 2 < text.size() && text[i] == QLatin1Char('0') &&
        (text[i + 1] == QLatin1Char('x') || text[i + 1] == QLatin1Char('X')) &&
        isHexDigit(text[i + 2].unicode())) {
        i += 2;
    }
    std::uint64_t v = 0;
    for (; i < text.size() && isHexDigit(text[i].unicode()); ++i) {
        v = std::min<std::uint64_t>(
            v * 16 + static_cast<std::uint64_t>(hexValue(text[i].unicode())), UINT32_MAX);
    }
    const int red = static_cast<int>((v >> 16) & 0xFF);
    const int green = static_cast<int>((v >> 8) & 0xFF);
    const int blue = static_cast<int>(v & 0xFF);
    return QColor::fromRgbF(static_cast<float>(red / 255.0), static_cast<float>(green / 255.0),
                            static_cast<float>(blue / 255.0), 1.0f);
}

void CommonHelper::tryToOpenURLsArray(const QStringList& urls) {
    std::function<bool(const QUrl&)> opener;
    {
        std::lock_guard lock(openerMutex);
        opener = urlOpener;
    }
    for (const QString& address : urls) {
        const QUrl url(address);
        if (!url.isValid() || !hasHandler(url)) {
            continue;
        }
        const bool opened = opener ? opener(url) : QDesktopServices::openUrl(url);
        if (opened) {
            return;
        }
    }
}

void CommonHelper::setURLOpener(std::function<bool(const QUrl&)> opener) {
    std::lock_guard lock(openerMutex);
    urlOpener = std::move(opener);
}

QString CommonHelper::decodeHTMLEntities(const QString& text) {
    static const std::pair<QLatin1String, QChar> kNamed[] = {
        {QLatin1String("amp"), QLatin1Char('&')},   {QLatin1String("lt"), QLatin1Char('<')},
        {QLatin1String("gt"), QLatin1Char('>')},    {QLatin1String("quot"), QLatin1Char('"')},
        {QLatin1String("apos"), QLatin1Char('\'')}, {QLatin1String("nbsp"), QChar(0xA0)},
    };
    static const QRegularExpression reference(
        QStringLiteral(R"(&(#[0-9]{1,7}|#[xX][0-9a-fA-F]{1,6}|[a-z]{2,4});|<br\s*/?>)"),
        QRegularExpression::CaseInsensitiveOption);
    QString result;
    result.reserve(text.size());
    qsizetype copied = 0;
    QRegularExpressionMatchIterator matches = reference.globalMatch(text);
    while (matches.hasNext()) {
        const QRegularExpressionMatch match = matches.next();
        const QString name = match.captured(1);
        QString replacement;
        if (name.isEmpty()) {
            replacement = QStringLiteral("\n");
        } else if (name.startsWith(QLatin1Char('#'))) {
            bool ok = false;
            const bool hex =
                name.size() > 1 && (name[1] == QLatin1Char('x') || name[1] == QLatin1Char('X'));
            const uint code = hex ? name.mid(2).toUInt(&ok, 16) : name.mid(1).toUInt(&ok, 10);
            const bool valid =
                ok && code != 0 && code <= 0x10FFFF && (code < 0xD800 || code > 0xDFFF);
            if (valid) {
                const char32_t c = code;
                replacement = QString::fromUcs4(&c, 1);
            }
        } else {
            for (const auto& [entity, character] : kNamed) {
                if (name == entity) {
                    replacement = character;
                }
            }
        }
        if (replacement.isEmpty()) {
            continue; // not one we know: left as it stands
        }
        result += QStringView(text).mid(copied, match.capturedStart() - copied);
        result += replacement;
        copied = match.capturedEnd();
    }
    result += QStringView(text).mid(copied);
    return result;
}

std::optional<QString> CommonHelper::NSDataToUTF8String(const QByteArray& bytes) {
    return strictUtf8(bytes);
}

CommonHelper::TimeOfDay CommonHelper::currentDateTime() {
    const QTime now = QTime::currentTime();
    return {now.hour(), now.minute(), now.second()};
}

void CommonHelper::print_array(const QVariantList& array) {
    QString text;
    for (const QVariant& element : array) {
        QString item = element.toString();
        if (item.isEmpty() && (element.typeId() == QMetaType::QVariantMap ||
                               element.typeId() == QMetaType::QVariantList)) {
            item = QString::fromUtf8(
                QJsonDocument::fromVariant(element).toJson(QJsonDocument::Compact));
        }
        text += QLatin1Char('\n') + item;
    }
    logLine(QStringLiteral("array print: %1").arg(text));
}

} // namespace sondrel
