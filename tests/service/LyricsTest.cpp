#include "service/Lyrics.h"

#include "support/CommonHelper.h"

#include <QJsonDocument>
#include <gtest/gtest.h>

namespace {

using sondrel::lyricsFromAnswer;
using sondrel::lyricsIdOfSong;

TEST(Lyrics, AnswersTable) {
    struct Row {
        const char* name;
        QByteArray bytes;
        std::optional<QString> text; // nothing: not a lyrics answer
    };
    const Row rows[] = {
        {"lines and entities",
         R"({"response":{"lyrics_id":7,"text":"One &amp; two\nIt&#39;s &quot;three&quot; &lt;3&#x21;"}})",
         QStringLiteral("One & two\nIt's \"three\" <3!")},
        {"windows line ends and <br>", R"({"response":{"text":"a\r\nb<br/>c\rd"}})",
         QStringLiteral("a\nb\nc\nd")},
        {"unknown and broken references stay",
         R"({"response":{"text":"&bogus; &#0; &#xD800; &amp"}})",
         QStringLiteral("&bogus; &#0; &#xD800; &amp")},
        {"surrounding blank space", R"({"response":{"text":"\n  la la \n"}})",
         QStringLiteral("la la")},
        {"empty text", R"({"response":{"lyrics_id":7,"text":""}})", QString()},
        {"no text", R"({"response":{"lyrics_id":7}})", QString()},
        {"text of another type", R"({"response":{"text":12}})", std::nullopt},
        {"response not an object", R"({"response":[1]})", std::nullopt},
        {"error answer", R"({"error":{"error_code":100}})", std::nullopt},
        {"not JSON", "<html>", std::nullopt},
        {"nothing", "", std::nullopt},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(lyricsFromAnswer(row.bytes), row.text) << row.name;
    }
}

TEST(Lyrics, SongIdsTable) {
    struct Row {
        const char* song;
        std::optional<QString> id;
    };
    const Row rows[] = {
        {R"({"lyrics_id":200001})", QStringLiteral("200001")},
        {R"({"lyrics_id":"42"})", QStringLiteral("42")},
        {R"({"lyrics_id":0})", std::nullopt},
        {R"({"lyrics_id":-3})", std::nullopt},
        {R"({"lyrics_id":1.5})", std::nullopt},
        {R"({"lyrics_id":"x1"})", std::nullopt},
        {R"({"lyrics_id":null})", std::nullopt},
        {R"({"lyrics_id":[1]})", std::nullopt},
        {R"({"aid":1})", std::nullopt},
    };
    for (const Row& row : rows) {
        const QJsonObject song = QJsonDocument::fromJson(row.song).object();
        EXPECT_EQ(lyricsIdOfSong(song), row.id) << row.song;
    }
    EXPECT_EQ(sondrel::URLLyrics(QStringLiteral("https://api/method"), QStringLiteral("T"),
                                 QStringLiteral("9"))
                  .toString(),
              QStringLiteral("https://api/method/audio.getLyrics?access_token=T&lyrics_id=9"));
}

} // namespace
