// The list methods and the error answers of the stand-in service, over verified HTTPS.

#include "ClientHelpers.h"

#include <QImage>
#include <QJsonArray>
#include <QRegularExpression>
#include <QSet>
#include <QThread>
#include <gtest/gtest.h>

using sondrel::test::StandInService;
using namespace standin_test;

namespace {

const QString kOwnList = QStringLiteral("access_token=demo-token&");

QString searchQuery(const QString& encodedText) {
    return QStringLiteral("access_token=demo-token&&q=%1&auto_complete=1&sort=2&count=200&offset=0")
        .arg(encodedText);
}

QStringList titles(const QJsonArray& response) {
    QStringList out;
    for (const QJsonValue& v : response) {
        if (v.isObject()) {
            out << v.toObject().value(QStringLiteral("title")).toString();
        }
    }
    return out;
}

int errorCode(const QJsonObject& answer) {
    return answer.value(QStringLiteral("error"))
        .toObject()
        .value(QStringLiteral("error_code"))
        .toInt();
}

class ApiTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
        ASSERT_TRUE(service.trustCertificate());
    }
    StandInService service;
};

} // namespace

TEST_F(ApiTest, OwnListHoldsEveryDemoSongAsFullSongRecords) {
    const Reply reply =
        fetch(service.apiOrigin() + QStringLiteral("/method/audio.get?") + kOwnList);
    ASSERT_EQ(reply.error, QNetworkReply::NoError) << reply.errorText.toStdString();
    EXPECT_TRUE(reply.header("Content-Type").startsWith("application/json"));
    const QJsonArray songs = reply.json().value(QStringLiteral("response")).toArray();
    ASSERT_EQ(songs.size(), 12);

    QSet<int> tones;
    QSet<QString> urls;
    for (int i = 0; i < songs.size(); ++i) {
        const QJsonObject song = songs.at(i).toObject();
        for (const char* key : {"aid", "owner_id", "duration", "lyrics_id", "tone_hz"}) {
            EXPECT_TRUE(song.value(QLatin1String(key)).isDouble()) << key;
        }
        for (const char* key : {"artist", "title", "url"}) {
            EXPECT_FALSE(song.value(QLatin1String(key)).toString().isEmpty()) << key;
        }
        EXPECT_EQ(song.value(QStringLiteral("aid")).toInt(), 100001 + i);
        EXPECT_EQ(song.value(QStringLiteral("owner_id")).toInt(), 1001);
        EXPECT_EQ(song.value(QStringLiteral("duration")).toInt(), 20);
        EXPECT_EQ(song.value(QStringLiteral("tone_hz")).toInt(), 300 + 100 * i);
        const QString url = song.value(QStringLiteral("url")).toString();
        EXPECT_TRUE(url.startsWith(service.httpOrigin() + QStringLiteral("/audio/")))
            << url.toStdString();
        tones.insert(song.value(QStringLiteral("tone_hz")).toInt());
        urls.insert(url);
    }
    EXPECT_EQ(tones.size(), 12);
    EXPECT_EQ(urls.size(), 12);
    const QStringList all = titles(songs);
    EXPECT_TRUE(all.contains(QStringLiteral("Звезда")));
    EXPECT_TRUE(all.contains(QStringLiteral("Best_Song [Live]")));
    EXPECT_TRUE(all.contains(QStringLiteral("Rock+Roll")));
}

TEST_F(ApiTest, BothListenersAnswerTheSameMethods) {
    const QJsonObject overHttps = callApi(service, QStringLiteral("audio.get"), kOwnList);
    const QJsonObject overHttp =
        fetch(service.httpOrigin() + QStringLiteral("/method/audio.get?") + kOwnList).json();
    EXPECT_FALSE(overHttps.isEmpty());
    EXPECT_EQ(overHttps, overHttp);
}

TEST_F(ApiTest, OwnListHonoursCountAndOffset) {
    const QJsonArray songs =
        callApi(service, QStringLiteral("audio.get"), kOwnList + QStringLiteral("count=3&offset=4"))
            .value(QStringLiteral("response"))
            .toArray();
    ASSERT_EQ(songs.size(), 3);
    EXPECT_EQ(songs.at(0).toObject().value(QStringLiteral("aid")).toInt(), 100005);
}

TEST_F(ApiTest, SearchMatchesArtistAndTitleIgnoringCase) {
    struct Case {
        const char* encodedQuery;
        int total;
        QStringList titles;
    };
    const QList<Case> cases = {
        // "кино", "КИНО": Cyrillic lower and upper case find both songs of "Кино".
        {"%D0%BA%D0%B8%D0%BD%D0%BE", 2, {QStringLiteral("Звезда"), QStringLiteral("Группа крови")}},
        {"%D0%9A%D0%98%D0%9D%D0%9E", 2, {QStringLiteral("Звезда"), QStringLiteral("Группа крови")}},
        // "зВЕЗДА": a title in mixed case.
        {"%D0%B7%D0%92%D0%95%D0%97%D0%94%D0%90", 1, {QStringLiteral("Звезда")}},
        // "ÜBER" finds "Ensemble Über" (Latin-1 letters fold too).
        {"%C3%9CBER", 1, {QStringLiteral("Straße nach Süden")}},
        {"best_song", 1, {QStringLiteral("Best_Song [Live]")}},
        // An encoded "+" is a plus sign; a bare "+" is a space, as in any query string.
        {"rock%2Broll", 1, {QStringLiteral("Rock+Roll")}},
        {"rock+roll", 0, {}},
        // Artist and title together.
        {"%D0%94%D0%94%D0%A2%20%D0%BE%D1%81%D0%B5%D0%BD%D1%8C", 1, {QStringLiteral("Осень")}},
        {"nothing-like-this", 0, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.encodedQuery);
        const QJsonArray response = callApi(service, QStringLiteral("audio.search"),
                                            searchQuery(QLatin1String(c.encodedQuery)))
                                        .value(QStringLiteral("response"))
                                        .toArray();
        ASSERT_FALSE(response.isEmpty());
        EXPECT_TRUE(response.at(0).isDouble());
        EXPECT_EQ(response.at(0).toInt(), c.total);
        EXPECT_EQ(titles(response), c.titles);
    }
}

TEST_F(ApiTest, SearchWindowKeepsTheTotal) {
    const QJsonArray response =
        callApi(
            service, QStringLiteral("audio.search"),
            QStringLiteral("access_token=demo-token&q=%D0%BA%D0%B8%D0%BD%D0%BE&count=1&offset=1"))
            .value(QStringLiteral("response"))
            .toArray();
    EXPECT_EQ(response.at(0).toInt(), 2);
    EXPECT_EQ(titles(response), QStringList{QStringLiteral("Группа крови")});
}

TEST(ApiLimits, SearchNeverAnswersMoreThanTwoHundredSongs) {
    StandInService service({QStringLiteral("--demo-count"), QStringLiteral("205"),
                            QStringLiteral("--demo-seconds"), QStringLiteral("1")});
    ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    ASSERT_TRUE(service.trustCertificate());
    // An empty query matches every song.
    const QJsonArray response = callApi(service, QStringLiteral("audio.search"),
                                        QStringLiteral("access_token=demo-token&q=&count=500"))
                                    .value(QStringLiteral("response"))
                                    .toArray();
    EXPECT_EQ(response.at(0).toInt(), 205);
    EXPECT_EQ(response.size(), 201);
}

TEST_F(ApiTest, BadTokensAnswerErrorFive) {
    const QStringList queries = {
        QString(),                                   // no token at all
        QStringLiteral("access_token="),             // empty
        QStringLiteral("access_token=not-a-token&"), // unknown
    };
    for (const QString& method : {QStringLiteral("audio.get"), QStringLiteral("audio.search"),
                                  QStringLiteral("status.set")}) {
        for (const QString& query : queries) {
            SCOPED_TRACE((method + QLatin1Char('?') + query).toStdString());
            const QJsonObject answer = callApi(service, method, query + QStringLiteral("&q=a"));
            EXPECT_EQ(errorCode(answer), 5);
            EXPECT_FALSE(answer.contains(QStringLiteral("response")));
            EXPECT_FALSE(answer.value(QStringLiteral("error"))
                             .toObject()
                             .value(QStringLiteral("error_msg"))
                             .toString()
                             .isEmpty());
        }
    }
}

TEST_F(ApiTest, UnknownMethodAnswersErrorThree) {
    EXPECT_EQ(errorCode(callApi(service, QStringLiteral("audio.delete"), kOwnList)), 3);
}

TEST_F(ApiTest, ExpiredTokensAnswerErrorFive) {
    ASSERT_TRUE(callApi(service, QStringLiteral("audio.get"), kOwnList)
                    .contains(QStringLiteral("response")));
    ASSERT_TRUE(service.expireTokens());
    EXPECT_EQ(errorCode(callApi(service, QStringLiteral("audio.get"), kOwnList)), 5);
}

TEST(ApiTokens, TokensExpireAfterTheirLifetime) {
    StandInService service({QStringLiteral("--token"), QStringLiteral("short-lived"),
                            QStringLiteral("--no-demo-token"), QStringLiteral("--token-lifetime"),
                            QStringLiteral("1")});
    ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    ASSERT_TRUE(service.trustCertificate());
    EXPECT_EQ(errorCode(callApi(service, QStringLiteral("audio.get"), kOwnList)), 5)
        << "--no-demo-token still accepted demo-token";
    // Accepted at first (unless the machine was slower than a second), then refused
    // for good once the lifetime has passed.
    EXPECT_TRUE(waitFor([&] {
        return errorCode(callApi(service, QStringLiteral("audio.get"),
                                 QStringLiteral("access_token=short-lived&"))) == 5;
    }));
    QThread::msleep(100);
    EXPECT_EQ(errorCode(callApi(service, QStringLiteral("audio.get"),
                                QStringLiteral("access_token=short-lived&"))),
              5);
}

TEST_F(ApiTest, QueuedErrorAnswersOnlyTheNextCallOfItsMethod) {
    ASSERT_TRUE(service.nextApiError(14, QStringLiteral("audio.search")));
    EXPECT_TRUE(callApi(service, QStringLiteral("audio.get"), kOwnList)
                    .contains(QStringLiteral("response")));
    EXPECT_EQ(errorCode(callApi(service, QStringLiteral("audio.search"),
                                searchQuery(QStringLiteral("a")))),
              14);
    EXPECT_TRUE(callApi(service, QStringLiteral("audio.search"), searchQuery(QStringLiteral("a")))
                    .contains(QStringLiteral("response")));

    ASSERT_TRUE(service.nextApiError(5, {}, 2));
    EXPECT_EQ(errorCode(callApi(service, QStringLiteral("audio.get"), kOwnList)), 5);
    EXPECT_EQ(errorCode(callApi(service, QStringLiteral("audio.search"),
                                searchQuery(QStringLiteral("a")))),
              5);
    EXPECT_TRUE(callApi(service, QStringLiteral("audio.get"), kOwnList)
                    .contains(QStringLiteral("response")));
}

TEST(ApiErrors, ForcedCaptchaErrorCarriesAFetchablePicture) {
    StandInService service({QStringLiteral("--force-error"), QStringLiteral("14")});
    ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    ASSERT_TRUE(service.trustCertificate());
    QSet<QString> sids;
    for (int i = 0; i < 2; ++i) {
        const QJsonObject error = callApi(service, QStringLiteral("audio.get"), kOwnList)
                                      .value(QStringLiteral("error"))
                                      .toObject();
        EXPECT_EQ(error.value(QStringLiteral("error_code")).toInt(), 14);
        const QString sid = error.value(QStringLiteral("captcha_sid")).toString();
        const QString img = error.value(QStringLiteral("captcha_img")).toString();
        EXPECT_TRUE(QRegularExpression(QStringLiteral("^[0-9]+$")).match(sid).hasMatch())
            << sid.toStdString();
        EXPECT_TRUE(img.startsWith(service.httpOrigin())) << img.toStdString();
        sids.insert(sid);

        const Reply picture = fetch(img);
        ASSERT_EQ(picture.status, 200);
        EXPECT_EQ(picture.header("Content-Type"), "image/png");
        const QImage image = QImage::fromData(picture.body, "PNG");
        ASSERT_FALSE(image.isNull());
        EXPECT_EQ(image.size(), QSize(130, 50));
    }
    EXPECT_EQ(sids.size(), 2) << "every demand gets a captcha of its own";
    EXPECT_EQ(fetch(service.httpOrigin() + QStringLiteral("/captcha.php?sid=999")).status, 404);
}
