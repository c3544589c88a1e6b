#include "service/ServiceAnswer.h"

#include "platform/Log.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

using sondrel::ServiceErrorAction;

const QString kCaptchaLine = QStringLiteral("captcha needed");
const QString kExpiredLine = QStringLiteral("token has been expired, need re-auth");

TEST(ServiceAnswer, ListAnswersTable) {
    struct Row {
        const char* name;
        QByteArray bytes;
        bool parses;     // false: the list on screen stays
        QList<int> aids; // the songs taken, in order
        ServiceErrorAction action;
        QString logged; // the check's line, or empty
    };
    const Row rows[] = {
        {"own list",
         R"({"response":[{"aid":1},{"aid":2}]})",
         true,
         {1, 2},
         ServiceErrorAction::None,
         {}},
        {"search with a leading count",
         R"({"response":[27,{"aid":5},"x",{"aid":6},null]})",
         true,
         {5, 6},
         ServiceErrorAction::None,
         {}},
        {"empty list", R"({"response":[]})", true, {}, ServiceErrorAction::None, {}},
        {"no response key", R"({"other":1})", true, {}, ServiceErrorAction::None, {}},
        {"error 5",
         R"({"error":{"error_code":5,"error_msg":"x"}})",
         true,
         {},
         ServiceErrorAction::ReAuthorize,
         kExpiredLine},
        {"error 14",
         R"({"error":{"error_code":14,"captcha_sid":"1"}})",
         true,
         {},
         ServiceErrorAction::CaptchaNeeded,
         kCaptchaLine},
        {"error 5.0 is 5",
         R"({"error":{"error_code":5.0}})",
         true,
         {},
         ServiceErrorAction::ReAuthorize,
         kExpiredLine},
        {"other error", R"({"error":{"error_code":6}})", true, {}, ServiceErrorAction::None, {}},
        {"error 5.5", R"({"error":{"error_code":5.5}})", true, {}, ServiceErrorAction::None, {}},
        // Answers the service never sends: they change nothing.
        {"empty bytes", "", false, {}, ServiceErrorAction::None, {}},
        {"html page", "<html>502 Bad Gateway</html>", false, {}, ServiceErrorAction::None, {}},
        {"truncated", R"({"response":[{"aid":1},{"ai)", false, {}, ServiceErrorAction::None, {}},
        {"top level array", R"([{"aid":1}])", false, {}, ServiceErrorAction::None, {}},
        {"top level number", "5", false, {}, ServiceErrorAction::None, {}},
        {"response an object",
         R"({"response":{"aid":1}})",
         false,
         {},
         ServiceErrorAction::None,
         {}},
        {"response a number", R"({"response":1})", false, {}, ServiceErrorAction::None, {}},
        {"code as text",
         R"({"error":{"error_code":"5"}})",
         false,
         {},
         ServiceErrorAction::None,
         {}},
        {"code missing", R"({"error":{"error_msg":"x"}})", false, {}, ServiceErrorAction::None, {}},
        {"error not an object", R"({"error":5})", false, {}, ServiceErrorAction::None, {}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        sondrel::LogCapture log;
        const sondrel::SongListAnswer answer = sondrel::readSongListAnswer(row.bytes);
        EXPECT_EQ(answer.action, row.action);
        ASSERT_EQ(answer.songs.has_value(), row.parses);
        if (answer.songs) {
            QList<int> aids;
            for (qsizetype i = 0; i < answer.songs->size(); ++i) {
                aids.append(answer.songs->at(i).value(QStringLiteral("aid")).toInt());
            }
            EXPECT_EQ(aids, row.aids);
        }
        if (row.logged.isEmpty()) {
            EXPECT_TRUE(log.lines().isEmpty()) << log.lines().join('|').toStdString();
        } else {
            EXPECT_EQ(log.lines(), QStringList{row.logged});
        }
        // The stand-alone check agrees with the list reading.
        log.clear();
        EXPECT_EQ(sondrel::checkResponseOnErrors(row.bytes), row.action);
    }
}

TEST(ServiceAnswer, SongRecordsKeepEveryKey) {
    const QByteArray bytes =
        R"({"response":[{"aid":100001,"owner_id":1001,"artist":"A","title":"T","duration":20,)"
        R"("url":"http://h/a.mp3","lyrics_id":7,"tone_hz":300}]})";
    const auto answer = sondrel::readSongListAnswer(bytes);
    ASSERT_TRUE(answer.songs);
    ASSERT_EQ(answer.songs->size(), 1);
    EXPECT_EQ(answer.songs->at(0),
              QJsonDocument::fromJson(bytes).object()["response"].toArray()[0].toObject());
}

} // namespace
