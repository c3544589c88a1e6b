#include "service/TokenLifetime.h"

#include "platform/Log.h"

#include <gtest/gtest.h>

namespace {

using sondrel::StartupTokenDecision;

const QDateTime kStored = QDateTime(QDate(2024, 3, 1), QTime(12, 0, 0), Qt::UTC);

TEST(TokenLifetime, PresentOnlyAsANonEmptyText) {
    struct Row {
        const char* what;
        QVariant stored;
        bool present;
    };
    const Row rows[] = {
        {"a token", QVariant(QStringLiteral("abc")), true},
        {"one character", QVariant(QStringLiteral("a")), true},
        {"signed out", QVariant(QString()), false},
        {"empty text", QVariant(QStringLiteral("")), false},
        {"absent", QVariant(), false},
        {"a number", QVariant(12345), false},
        {"a list", QVariant(QStringList{QStringLiteral("abc")}), false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(sondrel::isTokenPresent(row.stored), row.present);
    }
}

TEST(TokenLifetime, UsableUntilTwentyThreeHoursFiftyFiveMinutes) {
    struct Row {
        qint64 ageSeconds;
        bool usable;
    };
    const Row rows[] = {
        {0, true},      {1, true},      {86099, true}, {86100, false},
        {86101, false}, {86400, false}, {-3600, true}, // stored "in the future": still usable
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.ageSeconds);
        EXPECT_EQ(sondrel::isTokenUsable(kStored, kStored.addSecs(row.ageSeconds)), row.usable);
    }
    // The last millisecond before the limit still counts.
    EXPECT_TRUE(sondrel::isTokenUsable(kStored, kStored.addMSecs(86100 * 1000 - 1)));
    EXPECT_FALSE(sondrel::isTokenUsable(QDateTime(), kStored));
}

TEST(TokenLifetime, StartupDecision) {
    struct Row {
        const char* what;
        bool present;
        QVariant date;
        qint64 ageSeconds;
        StartupTokenDecision decision;
    };
    const QVariant date(kStored);
    const Row rows[] = {
        {"no token", false, date, 0, StartupTokenDecision::LoadAuthPage},
        {"no token, no date", false, QVariant(), 0, StartupTokenDecision::LoadAuthPage},
        {"token without date", true, QVariant(), 0, StartupTokenDecision::Nothing},
        {"1 s short of the lifetime", true, date, 86099, StartupTokenDecision::AuthComplete},
        {"exactly the lifetime", true, date, 86100, StartupTokenDecision::LoadAuthPage},
        {"older", true, date, 200000, StartupTokenDecision::LoadAuthPage},
        {"a date that is a text", true, QVariant(QStringLiteral("2024-03-01")), 0,
         StartupTokenDecision::LoadAuthPage},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        EXPECT_EQ(
            sondrel::decideStartupToken(row.present, row.date, kStored.addSecs(row.ageSeconds)),
            row.decision);
    }
}

TEST(TokenLifetime, ClockCanBeReplacedAndRestored) {
    sondrel::setAuthClock([] { return kStored; });
    EXPECT_EQ(sondrel::authNow(), kStored);
    sondrel::setAuthClock({});
    const QDateTime now = sondrel::authNow();
    EXPECT_LE(qAbs(now.secsTo(QDateTime::currentDateTimeUtc())), 5);
}

TEST(TokenHiding, TokensLeaveLogLinesAndErrorTexts) {
    struct Row {
        QString text;
        QString hidden;
    };
    const Row rows[] = {
        {QStringLiteral("https://h/method/audio.get?access_token=SECRET&"),
         QStringLiteral("https://h/method/audio.get?access_token=<hidden>&")},
        {QStringLiteral("Error transferring https://h/m?access_token=SECRET - server replied"),
         QStringLiteral("Error transferring https://h/m?access_token=<hidden> - server replied")},
        {QStringLiteral("http://h/blank.html#access_token=SECRET#x"),
         QStringLiteral("http://h/blank.html#access_token=<hidden>#x")},
        {QStringLiteral("a ACCESS_TOKEN=S1&b access_token=S2"),
         QStringLiteral("a ACCESS_TOKEN=<hidden>&b access_token=<hidden>")},
        {QStringLiteral("redirect=http%3A%2F%2Fh%2F%3Faccess_token%3DSECRET%26user_id%3D1"),
         QStringLiteral("redirect=http%3A%2F%2Fh%2F%3Faccess_token%3D<hidden>%26user_id%3D1")},
        {QStringLiteral("\"access_token=SECRET\""), QStringLiteral("\"access_token=<hidden>\"")},
        {QStringLiteral("access_token=&x"), QStringLiteral("access_token=&x")},
        {QStringLiteral("access_token="), QStringLiteral("access_token=")},
        {QStringLiteral("captcha needed"), QStringLiteral("captcha needed")},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.text.toStdString());
        EXPECT_EQ(sondrel::hideAccessTokens(row.text), row.hidden);
    }

    sondrel::LogCapture capture;
    sondrel::logLine(QStringLiteral("didFailWithError: https://h/x?access_token=SECRET&q=1"));
    ASSERT_EQ(capture.lines().size(), 1);
    EXPECT_EQ(capture.lines().first(),
              QStringLiteral("didFailWithError: https://h/x?access_token=<hidden>&q=1"));
}

} // namespace
