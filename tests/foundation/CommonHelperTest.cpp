#include "support/CommonHelper.h"

#include "platform/Log.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QUrl>
#include <gtest/gtest.h>

using sondrel::CommonHelper;

namespace {

TEST(CommonHelperTime, ClockStrings) {
    const std::vector<std::pair<QVariant, QString>> rows = {
        {0, QStringLiteral("00:00")},
        {59, QStringLiteral("00:59")},
        {60, QStringLiteral("01:00")},
        {187, QStringLiteral("03:07")},
        {3599, QStringLiteral("59:59")},
        {3600, QStringLiteral("01:00:00")},
        {3725, QStringLiteral("01:02:05")},
        {86399, QStringLiteral("23:59:59")},
        {36000, QStringLiteral("10:00:00")},
        {QStringLiteral("187"), QStringLiteral("03:07")},
        {QStringLiteral("  75"), QStringLiteral("01:15")},
        {QStringLiteral("75.9"), QStringLiteral("01:15")},
        {QStringLiteral("12abc"), QStringLiteral("00:12")},
        {QStringLiteral("abc"), QStringLiteral("00:00")},
        {QString(), QStringLiteral("00:00")},
        {QVariant(), QStringLiteral("00:00")},
        {187.9, QStringLiteral("03:07")},
        {QStringLiteral("99999999999999"), QStringLiteral("596523:14:07")},
    };
    for (const auto& [input, expected] : rows) {
        EXPECT_EQ(CommonHelper::convertTimeFromSeconds(input), expected)
            << input.toString().toStdString();
    }
    EXPECT_EQ(CommonHelper::convertTimeFromSecondsInt(3725), QStringLiteral("01:02:05"));
    EXPECT_EQ(CommonHelper::convertTimeFromSecondsInt(75), QStringLiteral("01:15"));
}

TEST(CommonHelperClean, ArtistAndTitleCleanUp) {
    const std::vector<std::pair<QString, std::optional<QString>>> rows = {
        {QStringLiteral("Rock+Roll"), QStringLiteral("Rock Roll")},
        {QStringLiteral("Best_Song [Live]"), QStringLiteral("Best Song Live")},
        {QStringLiteral("Song (feat. X )"), QStringLiteral("Song (feat. X)")},
        {QStringLiteral("( Intro )"), QStringLiteral("(Intro)")},
        {QStringLiteral("Tom &amp; Jerry"), QStringLiteral("Tom & Jerry")},
        {QStringLiteral("&quot;Quoted&quot; &#39;x&#39;"),
         QStringLiteral("&quot;Quoted&quot; &#39;x&#39;")},
        {QStringLiteral("Artist\u2192Title"), QStringLiteral("Artist - Title")},
        {QStringLiteral("Artist  \u2192  Title"), QStringLiteral("Artist - Title")},
        {QStringLiteral("a    b"), QStringLiteral("a b")},
        {QStringLiteral("a     b"), QStringLiteral("a  b")},
        {QStringLiteral("\u266B\u266B"), QString()},
        {QStringLiteral("\u2665Love\u2665 \u2022 \u00B0 \u25AA \u10E6"), QStringLiteral("Love")},
        {QStringLiteral("What? {Why} *now* $5"), QStringLiteral("What Why now 5")},
        {QStringLiteral("a|b"), QStringLiteral("a b")},
        {QStringLiteral("Hello , world ."), QStringLiteral("Hello, world.")},
        {QStringLiteral("Caf%C3%A9"), QStringLiteral("Café")},
        {QStringLiteral("  Кино  "), QStringLiteral("Кино")},
        {QStringLiteral("100% Pure"), std::nullopt},
        {QStringLiteral("50%"), std::nullopt},
        {QStringLiteral("%FF"), std::nullopt},
        {QString(), QString()},
    };
    for (const auto& [input, expected] : rows) {
        EXPECT_EQ(CommonHelper::cleanFromHTMLCharacters(input), expected) << input.toStdString();
    }
}

TEST(CommonHelperUrl, EncodeKeepsUrlCharactersAndEscapesTheRest) {
    const std::vector<std::pair<QString, QString>> rows = {
        {QStringLiteral("rock & roll"), QStringLiteral("rock%20&%20roll")},
        {QStringLiteral("a+b"), QStringLiteral("a+b")},
        {QStringLiteral("Кино"), QStringLiteral("%D0%9A%D0%B8%D0%BD%D0%BE")},
        {QStringLiteral("\"#%<>[\\]^`{|}"),
         QStringLiteral("%22%23%25%3C%3E%5B%5C%5D%5E%60%7B%7C%7D")},
        {QStringLiteral("!$&'()*+,-./:;=?@_~"), QStringLiteral("!$&'()*+,-./:;=?@_~")},
        {QStringLiteral("tab\there\n"), QStringLiteral("tab%09here%0A")},
        {QString(), QString()},
        {QStringLiteral("😀"), QStringLiteral("%F0%9F%98%80")},
    };
    for (const auto& [input, expected] : rows) {
        EXPECT_EQ(CommonHelper::urlencode(input), expected) << input.toStdString();
        // What is encoded decodes back to itself.
        EXPECT_EQ(CommonHelper::urldecode(CommonHelper::urlencode(input)), input);
    }
    const QUrl url(QStringLiteral("https://host/method/audio.search?q=") +
                   CommonHelper::urlencode(QStringLiteral("Кино звезда")));
    EXPECT_TRUE(url.isValid());
}

TEST(CommonHelperUrl, DecodeRejectsMalformedEscapesAndInvalidUtf8) {
    const std::vector<std::pair<QString, std::optional<QString>>> rows = {
        {QStringLiteral("a%20b"), QStringLiteral("a b")},
        {QStringLiteral("a+b"), QStringLiteral("a+b")},
        {QStringLiteral("%d0%9a"), QStringLiteral("К")},
        {QStringLiteral("%"), std::nullopt},
        {QStringLiteral("%2"), std::nullopt},
        {QStringLiteral("%zz"), std::nullopt},
        {QStringLiteral("%%41"), std::nullopt},
        {QStringLiteral("%C3"), std::nullopt},
        {QStringLiteral("%C0%AF"), std::nullopt},
        {QStringLiteral("%ED%A0%80"), std::nullopt},
        {QStringLiteral("Кино"), QStringLiteral("Кино")},
        {QString(), QString()},
    };
    for (const auto& [input, expected] : rows) {
        EXPECT_EQ(CommonHelper::urldecode(input), expected) << input.toStdString();
    }
}

TEST(CommonHelperText, StringBetweenTwoSymbols) {
    struct Row {
        QString text, start, end, expected;
    };
    const std::vector<Row> rows = {
        {QStringLiteral("a=1&b=2&a=3"), QStringLiteral("a="), QStringLiteral("&"),
         QStringLiteral("1")},
        {QStringLiteral("x#access_token=T1&expires_in=86400&user_id=42"),
         QStringLiteral("access_token="), QStringLiteral("&"), QStringLiteral("T1")},
        {QStringLiteral("x#access_token=T1&expires_in=86400&user_id=42"),
         QStringLiteral("user_id="), QStringLiteral("&"), QStringLiteral("42")},
        {QStringLiteral("k=v&z"), QStringLiteral("missing"), QStringLiteral("&"),
         QStringLiteral("k=v")},
        {QStringLiteral("pre[a]mid[b]"), QStringLiteral("["), QStringLiteral("none"),
         QStringLiteral("a]mid")},
        {QString(), QStringLiteral("a"), QStringLiteral("b"), QString()},
        {QStringLiteral("abc"), QString(), QString(), QStringLiteral("abc")},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(CommonHelper::getStringBetweenTwoSymbols(row.text, row.start, row.end),
                  row.expected)
            << row.text.toStdString() << " / " << row.start.toStdString();
    }
}

TEST(CommonHelperText, Contains) {
    EXPECT_TRUE(CommonHelper::containsStringInString(QStringLiteral("blank.html"),
                                                     QStringLiteral("http://h/blank.html#x")));
    EXPECT_FALSE(
        CommonHelper::containsStringInString(QStringLiteral("zzz"), QStringLiteral("abc")));
    EXPECT_FALSE(CommonHelper::containsStringInString(QString(), QStringLiteral("abc")));
    EXPECT_FALSE(CommonHelper::containsStringInString(QString(), QString()));
    EXPECT_TRUE(CommonHelper::stringContains(QStringLiteral("Звезда"), QStringLiteral("езд")));
    EXPECT_FALSE(CommonHelper::stringContains(QStringLiteral("abc"), QString()));
}

TEST(CommonHelperColour, HexTexts) {
    struct Row {
        QString text;
        int red, green, blue;
    };
    const std::vector<Row> rows = {
        {QStringLiteral("5f7fa2"), 95, 127, 162},
        {QStringLiteral("0x5f7fa2"), 95, 127, 162},
        {QStringLiteral("0X5F7FA2"), 95, 127, 162},
        {QStringLiteral("  ffffff"), 255, 255, 255},
        {QStringLiteral("#5f7fa2"), 0, 0, 0},
        {QStringLiteral("zz"), 0, 0, 0},
        {QString(), 0, 0, 0},
        {QStringLiteral("ff"), 0, 0, 255},
        {QStringLiteral("12zz34"), 0, 0, 0x12},
        {QStringLiteral("ffffffffffff"), 255, 255, 255},
    };
    for (const Row& row : rows) {
        const QColor colour = CommonHelper::createNSColorFromString(row.text);
        SCOPED_TRACE(row.text.toStdString());
        EXPECT_EQ(colour.red(), row.red);
        EXPECT_EQ(colour.green(), row.green);
        EXPECT_EQ(colour.blue(), row.blue);
        EXPECT_EQ(colour.alpha(), 255);
    }
}

// Points the XDG variables at a private folder for the life of the object.
class PrivateDesktop {
public:
    PrivateDesktop() {
        const QString root = dir_.path();
        set("XDG_DATA_HOME", root + QStringLiteral("/home"));
        set("XDG_DATA_DIRS", root + QStringLiteral("/sys1:") + root + QStringLiteral("/sys2"));
        set("XDG_CONFIG_HOME", root + QStringLiteral("/config"));
        set("XDG_CONFIG_DIRS", root + QStringLiteral("/etc"));
    }
    ~PrivateDesktop() {
        for (const auto& [name, value] : saved_) {
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
        }
    }
    void write(const QString& path, const QByteArray& content) const {
        const QString full = dir_.filePath(path);
        QDir().mkpath(QFileInfo(full).path());
        QFile file(full);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(content);
    }

private:
    void set(const char* name, const QString& value) {
        saved_.emplace_back(name, qgetenv(name));
        qputenv(name, value.toUtf8());
    }
    QTemporaryDir dir_;
    std::vector<std::pair<const char*, QByteArray>> saved_;
};

TEST(CommonHelperLinks, OpensTheFirstAddressWhoseSchemeTheDesktopHandles) {
    // Exec is `true`: even a real opener would start nothing.
    const QByteArray entry = "[Desktop Entry]\nType=Application\nName=H\nExec=true %u\n";
    const QByteArray handler = entry + "MimeType=text/plain;x-scheme-handler/sondrel-app;\n";
    const QByteArray defaultPlain =
        "[Default Applications]\nx-scheme-handler/sondrel-app=vendor-plain.desktop\n";
    const QString app = QStringLiteral("sondrel-app://profile/1");
    const QString web = QStringLiteral("https://example.test/profile/1");
    struct Row {
        const char* name;
        std::vector<std::pair<QString, QByteArray>> files;
        QStringList tried;
        bool appOpens = true;
    };
    const std::vector<Row> rows = {
        {"no handler", {}, {web}},
        {"entry in the data home", {{"home/applications/h.desktop", handler}}, {app}},
        {"entry in a subfolder of a later data dir",
         {{"sys2/applications/vendor/h.desktop", handler}},
         {app}},
        {"hidden entry", {{"sys1/applications/h.desktop", handler + "Hidden=true\n"}}, {web}},
        {"entry for another scheme",
         {{"sys1/applications/h.desktop", entry + "MimeType=x-scheme-handler/other;\n"}},
         {web}},
        {"entry whose program is missing",
         {{"sys1/applications/h.desktop", handler + "TryExec=/nonexistent/sondrel\n"}},
         {web}},
        {"default in mimeapps.list",
         {{"config/mimeapps.list", defaultPlain},
          {"sys1/applications/vendor/plain.desktop", entry}},
         {app}},
        {"default naming a missing entry", {{"etc/mimeapps.list", defaultPlain}}, {web}},
        {"association removed",
         {{"config/mimeapps.list",
           "[Removed Associations]\nx-scheme-handler/sondrel-app=h.desktop;\n"},
          {"sys1/applications/h.desktop", handler}},
         {web}},
        {"hidden entry in the home hides the system one",
         {{"home/applications/h.desktop", handler + "Hidden=true\n"},
          {"sys1/applications/h.desktop", handler}},
         {web}},
        {"handler that fails to start",
         {{"home/applications/h.desktop", handler}},
         {app, web},
         false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        PrivateDesktop desktop;
        for (const auto& [path, content] : row.files) {
            desktop.write(path, content);
        }
        QStringList tried;
        CommonHelper::setURLOpener([&](const QUrl& url) {
            tried.append(url.toString());
            return url.scheme() != QLatin1String("sondrel-app") || row.appOpens;
        });
        CommonHelper::tryToOpenURLsArray({app, web, QStringLiteral("https://example.test/x")});
        EXPECT_EQ(tried, row.tried);
        tried.clear();
        CommonHelper::tryToOpenURLsArray({});
        EXPECT_TRUE(tried.isEmpty());
    }
    CommonHelper::setURLOpener({});
}

TEST(CommonHelperMisc, Utf8DataAndArrayPrint) {
    EXPECT_EQ(CommonHelper::NSDataToUTF8String(QByteArray("Кино")), QStringLiteral("Кино"));
    EXPECT_EQ(CommonHelper::NSDataToUTF8String(QByteArray()), QString());
    EXPECT_EQ(CommonHelper::NSDataToUTF8String(QByteArray("\xff\xfe")), std::nullopt);

    sondrel::LogCapture log;
    CommonHelper::print_array({QStringLiteral("a"), 2});
    EXPECT_EQ(log.lines(), QStringList{QStringLiteral("array print: \na\n2")});
}

TEST(CommonHelperMisc, TimeOfDayIsInTheUsersTimeZone) {
    // Five hours and 45 minutes east of UTC, so that neither UTC nor a whole-hour zone
    // gives the same clock.
    const QByteArray savedZone = qgetenv("TZ");
    qputenv("TZ", "<+0545>-5:45");
    const auto clock = [](const QDateTime& utc) {
        return QTime(0, 0).secsTo(utc.addSecs(5 * 3600 + 45 * 60).time());
    };
    const int before = clock(QDateTime::currentDateTimeUtc());
    const CommonHelper::TimeOfDay now = CommonHelper::currentDateTime();
    const int after = clock(QDateTime::currentDateTimeUtc());
    savedZone.isNull() ? qunsetenv("TZ") : qputenv("TZ", savedZone);
    const int got = now.hour * 3600 + now.minute * 60 + now.second;
    if (before <= after) { // not across midnight
        EXPECT_GE(got, before);
        EXPECT_LE(got, after);
    }
}

} // namespace
