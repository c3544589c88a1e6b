#include "service/StatusBroadcast.h"

#include <QJsonValue>
#include <gtest/gtest.h>

namespace {

using sondrel::StatusRequestValues;

const QString kOrigin = QStringLiteral("https://127.0.0.1:47443");

StatusRequestValues values(std::optional<QString> sid = std::nullopt,
                           const QString& key = QStringLiteral("k3y")) {
    return {QStringLiteral("T0K"), QStringLiteral("77"), QStringLiteral("100001"), std::move(sid),
            key};
}

TEST(StatusBroadcast, ThreeVariants) {
    struct Row {
        const char* what;
        bool set;
        StatusRequestValues values;
        QString address;
    };
    const QString base = kOrigin + QStringLiteral("/method/status.set?access_token=T0K");
    const Row rows[] = {
        {"clear", false, values(), base + QStringLiteral("&text=")},
        {"clear ignores a held captcha", false, values(QStringLiteral("55")),
         base + QStringLiteral("&text=")},
        {"plain", true, values(), base + QStringLiteral("&audio=77_100001&text=sondrel")},
        {"with captcha", true, values(QStringLiteral("55")),
         base + QStringLiteral("&audio=77_100001&text=sondrel&captcha_sid=55&captcha_key=k3y")},
        {"with captcha, empty answer", true, values(QStringLiteral("55"), QString()),
         base + QStringLiteral("&audio=77_100001&text=sondrel&captcha_sid=55&captcha_key=")},
        {"placeholders in values stay as typed", true,
         values(QStringLiteral("55"), QStringLiteral("%1x")),
         base + QStringLiteral("&audio=77_100001&text=sondrel&captcha_sid=55&captcha_key=%1x")},
        {"no token or user id stored",
         true,
         {QString(), QString(), QStringLiteral("5"), {}, {}},
         kOrigin + QStringLiteral("/method/status.set?access_token=&audio=_5&text=sondrel")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(sondrel::statusSetAddress(kOrigin, row.set, row.values), row.address);
    }
}

TEST(StatusBroadcast, AddressesThatCannotBeFormedAreNotSent) {
    struct Row {
        const char* what;
        QString key;
        bool formed;
    };
    const Row rows[] = {
        {"letters and digits", QStringLiteral("ab12"), true},
        {"a space", QStringLiteral("ab 12"), false},
        {"a broken escape", QStringLiteral("ab%zz"), false},
        {"a lone percent", QStringLiteral("100%"), false},
        {"a letter outside ASCII", QStringLiteral("äb"), false},
        {"a quote", QStringLiteral("a\"b"), false},
        {"a valid escape", QStringLiteral("a%20b"), true},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto url =
            sondrel::statusSetURL(kOrigin, true, values(QStringLiteral("55"), row.key));
        EXPECT_EQ(url.has_value(), row.formed);
        if (url) {
            // What goes on the wire is the address as built.
            EXPECT_EQ(
                QString::fromLatin1(url->toEncoded()),
                sondrel::statusSetAddress(kOrigin, true, values(QStringLiteral("55"), row.key)));
        }
    }
}

TEST(StatusBroadcast, IdsAsTheServiceWritesThem) {
    EXPECT_EQ(sondrel::idText(QJsonValue(100001)), QStringLiteral("100001"));
    EXPECT_EQ(sondrel::idText(QJsonValue(4294967297.0)), QStringLiteral("4294967297"));
    EXPECT_EQ(sondrel::idText(QJsonValue(-5)), QStringLiteral("-5"));
    EXPECT_EQ(sondrel::idText(QJsonValue(QStringLiteral("123_4"))), QStringLiteral("123_4"));
    EXPECT_EQ(sondrel::idText(QJsonValue(14.5)), QStringLiteral("14.5"));
    EXPECT_EQ(sondrel::idText(QJsonValue(true)), QString());
    EXPECT_EQ(sondrel::idText(QJsonValue()), QString());
}

TEST(StatusBroadcast, CaptchaDemands) {
    struct Row {
        const char* what;
        QByteArray answer;
        std::optional<QString> sid;
    };
    const Row rows[] = {
        {"demand",
         R"({"error":{"error_code":14,"captcha_sid":"55","captcha_img":"http://h/c?s=55"}})",
         QStringLiteral("55")},
        {"code as text",
         R"({"error":{"error_code":"14","captcha_sid":"56","captcha_img":"http://h/c"}})",
         QStringLiteral("56")},
        {"sid as a number",
         R"({"error":{"error_code":14,"captcha_sid":57,"captcha_img":"http://h/c"}})",
         QStringLiteral("57")},
        {"success", R"({"response":1})", std::nullopt},
        {"expired token",
         R"({"error":{"error_code":5,"captcha_sid":"1","captcha_img":"http://h/c"}})",
         std::nullopt},
        {"code 140", R"({"error":{"error_code":140,"captcha_sid":"1","captcha_img":"http://h/c"}})",
         std::nullopt},
        {"code 14.5",
         R"({"error":{"error_code":14.5,"captcha_sid":"1","captcha_img":"http://h/c"}})",
         std::nullopt},
        {"no picture", R"({"error":{"error_code":14,"captcha_sid":"1"}})", std::nullopt},
        {"no id", R"({"error":{"error_code":14,"captcha_img":"http://h/c"}})", std::nullopt},
        {"error not an object", R"({"error":14})", std::nullopt},
        {"not JSON", "<html>busy</html>", std::nullopt},
        {"cut short", R"({"error":{"error_code":14,"captcha_sid":"1")", std::nullopt},
        {"top level array", R"([{"error":{"error_code":14}}])", std::nullopt},
        {"no answer", QByteArray(), std::nullopt},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        const auto demand = sondrel::captchaDemandFromAnswer(row.answer);
        ASSERT_EQ(demand.has_value(), row.sid.has_value());
        if (demand) {
            EXPECT_EQ(demand->sid, *row.sid);
            EXPECT_TRUE(demand->imageAddress.startsWith(QStringLiteral("http://h/c")));
        }
    }
}

} // namespace
