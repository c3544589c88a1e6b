#pragma once
// Small stateless helpers used across the player: clock strings for durations and
// time left, the clean-up of artist and title texts as the service sends them, URL
// percent-encoding and decoding, hex colours and opening links.
// Malformed input gives an empty, zero, black or absent result; nothing here throws.
// Every function is safe on any thread except tryToOpenURLsArray (main thread).

#include <QColor>
#include <QString>
#include <QStringList>
#include <QVariant>
#include <cstdint>
#include <functional>
#include <optional>

class QUrl;

namespace sondrel {

class CommonHelper {
public:
    // "mm:ss" below one hour, "hh:mm:ss" from one hour on, each field at least two
    // digits. `seconds` is a number or a numeric text, read as a 32-bit whole number the
    // way a leading-number parse does ("12abc" is 12, "abc" is 0); anything else is 0.
    static QString convertTimeFromSeconds(const QVariant& seconds);
    static QString convertTimeFromSecondsInt(std::int32_t seconds);

    // Removes the decoration characters the service leaves in artists and titles,
    // decodes "&amp;" and percent escapes, and trims. No value when the percent
    // escapes are malformed.
    static std::optional<QString> cleanFromHTMLCharacters(const QString& text);
    static QString trim(const QString& text);

    // Percent-encodes (UTF-8, uppercase hex) every character that may not stand in a
    // URL; letters, digits and ! $ & ' ( ) * + , - . / : ; = ? @ _ ~ stay.
    static QString urlencode(const QString& text);
    // Decodes %XX escapes as UTF-8; no value for a malformed escape or invalid UTF-8.
    // A plus sign stays a plus sign.
    static std::optional<QString> urldecode(const QString& text);

    // The text between the first and second occurrence of `start` (or after the first
    // when it occurs once; the whole text when it never does), cut at the first `end`.
    static QString getStringBetweenTwoSymbols(const QString& text, const QString& start,
                                              const QString& end);
    // True when `needle` occurs in `haystack`; an empty needle never does.
    static bool containsStringInString(const QString& needle, const QString& haystack);
    static bool stringContains(const QString& haystack, const QString& needle);

    // Opaque colour from a hex text such as "5f7fa2" or "0x5f7fa2"; black for bad input
    // (including a leading "#").
    static QColor createNSColorFromString(const QString& text);

    // Asks the desktop to open each address in turn and stops at the first that opens.
    // An address opens when the desktop has a handler for its scheme (http and https
    // always have one; see SchemeHandlers.h) and the opener starts.
    static void tryToOpenURLsArray(const QStringList& urls);
    // Replaces the desktop's URL opener (tests); an empty function restores it. The
    // handler check still applies.
    static void setURLOpener(std::function<bool(const QUrl&)> opener);

    // Decodes the HTML character references the service puts in long texts (lyrics):
    // the named ones &amp; &lt; &gt; &quot; &apos; &nbsp;, decimal "&#39;" and hex
    // "&#x27;" (valid characters only), and "<br>" as a line break. Anything else stays.
    static QString decodeHTMLEntities(const QString& text);

    // The bytes as UTF-8 text; no value when they are not valid UTF-8.
    static std::optional<QString> NSDataToUTF8String(const QByteArray& bytes);

    struct TimeOfDay {
        int hour = 0;
        int minute = 0;
        int second = 0;
    };
    // Hour, minute and second of now in the local time zone.
    static TimeOfDay currentDateTime();

    // Logs "array print: " followed by each element on a new line.
    static void print_array(const QVariantList& array);
};

} // namespace sondrel
