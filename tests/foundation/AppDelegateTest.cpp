#include "shell/AppDelegate.h"

#include "platform/Log.h"
#include "platform/Network.h"

#include <QDateTime>
#include <gtest/gtest.h>

using sondrel::AppDelegate;

namespace {

const QString kSecond = QStringLiteral("Error: You are creating a second AppDelegate. Bad Olvik");

TEST(AppDelegate, SharedInstanceRule) {
    EXPECT_EQ(AppDelegate::sharedInstance(), nullptr) << "no delegate exists before the first";
    sondrel::LogCapture log;
    {
        AppDelegate first;
        EXPECT_EQ(AppDelegate::sharedInstance(), &first);
        EXPECT_FALSE(log.contains(kSecond));

        AppDelegate second;
        EXPECT_EQ(AppDelegate::sharedInstance(), &second) << "the newest delegate wins";
        EXPECT_EQ(log.count(kSecond), 1);
    }
    EXPECT_EQ(AppDelegate::sharedInstance(), nullptr)
        << "a destroyed delegate leaves no dangling instance";
}

TEST(AppDelegate, SettingsThroughTheClassOperations) {
    const QString key = QStringLiteral("lastUserId");
    EXPECT_FALSE(AppDelegate::getObjectWithKey(QStringLiteral("neverWritten")).isValid());
    AppDelegate::saveObjectWithKey(QStringLiteral("42"), key);
    EXPECT_EQ(AppDelegate::getObjectWithKey(key).toString(), QStringLiteral("42"));
    AppDelegate::saveObjectWithKey(QString(), key);
    EXPECT_EQ(AppDelegate::getObjectWithKey(key).toString(), QString())
        << "clearing stores an empty string";
    EXPECT_TRUE(AppDelegate::getObjectWithKey(key).isValid());

    const QDateTime now = QDateTime::currentDateTimeUtc();
    AppDelegate::saveObjectWithKey(now, QStringLiteral("accessTokenDate"));
    EXPECT_EQ(AppDelegate::getObjectWithKey(QStringLiteral("accessTokenDate")).toDateTime(), now);
}

TEST(AppDelegate, EveryActivationAcceptsAllCookies) {
    AppDelegate delegate;
    sondrel::sharedCookieJar().setAcceptPolicy(sondrel::CookieAcceptPolicy::Never);
    delegate.applicationDidBecomeActive();
    EXPECT_EQ(sondrel::sharedCookieJar().acceptPolicy(), sondrel::CookieAcceptPolicy::Always);
    sondrel::sharedCookieJar().setAcceptPolicy(sondrel::CookieAcceptPolicy::Never);
    delegate.applicationDidBecomeActive();
    EXPECT_EQ(sondrel::sharedCookieJar().acceptPolicy(), sondrel::CookieAcceptPolicy::Always)
        << "every activation sets the policy again";
}

} // namespace
