// status.set in its three variants, and the captcha exchange around it.

#include "ClientHelpers.h"

#include <QImage>
#include <QJsonArray>
#include <gtest/gtest.h>

using sondrel::test::StandInService;
using namespace standin_test;

namespace {

// The three request forms the player sends.
QString plain(const QString& aid) {
    return QStringLiteral("access_token=demo-token&audio=1001_%1&text=sondrel").arg(aid);
}
QString withCaptcha(const QString& aid, const QString& sid, const QString& key) {
    return plain(aid) + QStringLiteral("&captcha_sid=%1&captcha_key=%2").arg(sid, key);
}
const QString kClear = QStringLiteral("access_token=demo-token&text=");

QJsonObject statusSet(const StandInService& service, const QString& query) {
    return callApi(service, QStringLiteral("status.set"), query);
}

int errorCode(const QJsonObject& answer) {
    return answer.value(QStringLiteral("error"))
        .toObject()
        .value(QStringLiteral("error_code"))
        .toInt();
}

QString keyOf(const StandInService& service, const QString& sid) {
    for (const QJsonValue& v : service.captchas()) {
        if (v.toObject().value(QStringLiteral("sid")).toString() == sid) {
            return v.toObject().value(QStringLiteral("key")).toString();
        }
    }
    return {};
}

class StatusSetTest : public ::testing::Test {
protected:
    explicit StatusSetTest(const QStringList& arguments = {}) : service(arguments) {}
    void SetUp() override {
        ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
        ASSERT_TRUE(service.trustCertificate());
    }
    StandInService service;
};

class CaptchaEverySecondTest : public StatusSetTest {
protected:
    CaptchaEverySecondTest()
        : StatusSetTest({QStringLiteral("--captcha-every"), QStringLiteral("2")}) {}
};

} // namespace

TEST_F(StatusSetTest, SetAndClearChangeTheProfileStatus) {
    EXPECT_EQ(statusSet(service, plain(QStringLiteral("100003")))
                  .value(QStringLiteral("response"))
                  .toInt(),
              1);
    QJsonObject status = service.status();
    EXPECT_EQ(status.value(QStringLiteral("text")).toString(), QStringLiteral("sondrel"));
    EXPECT_EQ(status.value(QStringLiteral("audio")).toString(), QStringLiteral("1001_100003"));

    EXPECT_EQ(statusSet(service, kClear).value(QStringLiteral("response")).toInt(), 1);
    status = service.status();
    EXPECT_EQ(status.value(QStringLiteral("text")).toString(), QString());
    EXPECT_EQ(status.value(QStringLiteral("audio")).toString(), QString());
    EXPECT_EQ(status.value(QStringLiteral("updates")).toInt(), 2);

    // Every call is in the request log, exactly as sent.
    EXPECT_EQ(service.requestTargets(QStringLiteral("/method/status.set")),
              (QStringList{QStringLiteral("/method/status.set?") + plain(QStringLiteral("100003")),
                           QStringLiteral("/method/status.set?") + kClear}));
}

TEST_F(StatusSetTest, AudioMustNameALibrarySong) {
    // Another owner's song is fine (a search result); an unknown song or a malformed
    // value is not.
    EXPECT_EQ(
        statusSet(service, QStringLiteral("access_token=demo-token&audio=77_100001&text=sondrel"))
            .value(QStringLiteral("response"))
            .toInt(),
        1);
    for (const QString& audio :
         {QStringLiteral("1001_1"), QStringLiteral("100001"), QStringLiteral("x_y")}) {
        SCOPED_TRACE(audio.toStdString());
        EXPECT_EQ(errorCode(statusSet(service, QStringLiteral("access_token=demo-token&audio=") +
                                                   audio + QStringLiteral("&text=sondrel"))),
                  100);
    }
    EXPECT_EQ(service.status().value(QStringLiteral("audio")).toString(),
              QStringLiteral("77_100001"));
}

TEST_F(CaptchaEverySecondTest, EverySecondSetDemandsACaptchaThatTheAnswerSolves) {
    EXPECT_TRUE(
        statusSet(service, plain(QStringLiteral("100001"))).contains(QStringLiteral("response")));
    // Clearing never asks for a captcha and does not count.
    EXPECT_TRUE(statusSet(service, kClear).contains(QStringLiteral("response")));

    const QJsonObject demand = statusSet(service, plain(QStringLiteral("100002")));
    ASSERT_EQ(errorCode(demand), 14);
    const QJsonObject error = demand.value(QStringLiteral("error")).toObject();
    const QString sid = error.value(QStringLiteral("captcha_sid")).toString();
    ASSERT_FALSE(sid.isEmpty());
    EXPECT_EQ(service.status().value(QStringLiteral("audio")).toString(), QString())
        << "a refused update must not change the status";

    const Reply picture = fetch(error.value(QStringLiteral("captcha_img")).toString());
    const QImage image = QImage::fromData(picture.body, "PNG");
    ASSERT_FALSE(image.isNull());
    EXPECT_EQ(image.size(), QSize(130, 50));

    // A wrong answer brings a new captcha; the right one sets the status.
    const QJsonObject wrong =
        statusSet(service, withCaptcha(QStringLiteral("100002"), sid, QStringLiteral("nope")));
    ASSERT_EQ(errorCode(wrong), 14);
    const QString newSid = wrong.value(QStringLiteral("error"))
                               .toObject()
                               .value(QStringLiteral("captcha_sid"))
                               .toString();
    EXPECT_NE(newSid, sid);
    const QString key = keyOf(service, newSid);
    ASSERT_EQ(key.size(), 5);
    EXPECT_EQ(statusSet(service, withCaptcha(QStringLiteral("100002"), newSid, key.toUpper()))
                  .value(QStringLiteral("response"))
                  .toInt(),
              1);
    EXPECT_EQ(service.status().value(QStringLiteral("audio")).toString(),
              QStringLiteral("1001_100002"));

    // The player keeps sending the solved captcha with later updates: still accepted.
    for (const char* aid : {"100003", "100004", "100005"}) {
        EXPECT_TRUE(statusSet(service, withCaptcha(QLatin1String(aid), newSid, key))
                        .contains(QStringLiteral("response")));
    }
}

TEST_F(StatusSetTest, CaptchaOnDemandForStatusSetOnly) {
    ASSERT_TRUE(service.nextApiError(14, QStringLiteral("status.set")));
    EXPECT_TRUE(
        callApi(service, QStringLiteral("audio.get"), QStringLiteral("access_token=demo-token&"))
            .contains(QStringLiteral("response")));
    const QJsonObject demand = statusSet(service, plain(QStringLiteral("100001")));
    ASSERT_EQ(errorCode(demand), 14);
    const QString sid = demand.value(QStringLiteral("error"))
                            .toObject()
                            .value(QStringLiteral("captcha_sid"))
                            .toString();
    EXPECT_EQ(statusSet(service, withCaptcha(QStringLiteral("100001"), sid, keyOf(service, sid)))
                  .value(QStringLiteral("response"))
                  .toInt(),
              1);
    const QJsonArray captchas = service.captchas();
    ASSERT_EQ(captchas.size(), 1);
    EXPECT_TRUE(captchas.at(0).toObject().value(QStringLiteral("solved")).toBool());
}

TEST_F(StatusSetTest, CaptchaPicturesDifferAndShowText) {
    QList<QImage> images;
    for (int i = 0; i < 2; ++i) {
        ASSERT_TRUE(service.nextApiError(14));
        const QJsonObject error = statusSet(service, plain(QStringLiteral("100001")))
                                      .value(QStringLiteral("error"))
                                      .toObject();
        images << QImage::fromData(
            fetch(error.value(QStringLiteral("captcha_img")).toString()).body, "PNG");
        ASSERT_FALSE(images.last().isNull());
        // The letters are drawn dark on a light ground.
        int dark = 0;
        for (int y = 0; y < images.last().height(); ++y) {
            for (int x = 0; x < images.last().width(); ++x) {
                dark += qGray(images.last().pixel(x, y)) < 100 ? 1 : 0;
            }
        }
        EXPECT_GT(dark, 200);
    }
    EXPECT_NE(images.at(0), images.at(1));
}
