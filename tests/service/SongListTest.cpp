#include "support/SongList.h"

#include "support/CommonHelper.h"

#include <QJsonDocument>
#include <QThread>
#include <gtest/gtest.h>

namespace {

using sondrel::SongList;

QJsonObject record(const char* json) {
    return QJsonDocument::fromJson(json).object();
}

// Every record comes back with every key and value it had, whatever it holds.
TEST(SongList, RecordsComeBackAsTheyWere) {
    struct Row {
        const char* name;
        const char* json;
    };
    const Row rows[] = {
        {"ordinary", R"({"aid":100001,"owner_id":1001,"artist":"A","title":"T","duration":215,)"
                     R"("url":"http://127.0.0.1:1/a.mp3","lyrics_id":7})"},
        {"not ASCII", R"({"aid":2,"artist":"Кино","title":"Группа крови 🎸","url":"ü"})"},
        {"HTML entities",
         R"({"aid":3,"artist":"Tom &amp; Jerry","title":"It&#39;s %20 &quot;x&quot;"})"},
        {"escapes", R"({"aid":4,"title":"a\"b\\c\n\t\u0001/\u2028"})"},
        {"empty record", "{}"},
        {"odd values", R"({"aid":"5","duration":"3:15","url":null,"x":[1,{"y":true}],"z":{}})"},
        {"big and small numbers", R"({"aid":9007199254740993,"a":-0.5,"b":1e300,"c":-7})"},
        {"extra keys the player never reads", R"({"aid":6,"genre_id":18,"no_search":1,"":""})"},
    };
    QJsonArray all;
    for (const Row& row : rows) {
        all.append(record(row.json));
    }
    const SongList list(all);
    ASSERT_EQ(list.size(), all.size());
    for (qsizetype i = 0; i < list.size(); ++i) {
        SCOPED_TRACE(rows[i].name);
        EXPECT_EQ(list.at(i), all.at(i).toObject());
        EXPECT_EQ(list.at(i), record(rows[i].json)); // again, from the record read last
    }
    EXPECT_EQ(list.toJsonArray(), all);
    // What the titles show is cleaned from the record's own text.
    EXPECT_EQ(sondrel::CommonHelper::cleanFromHTMLCharacters(list.at(2).value("artist").toString()),
              QStringLiteral("Tom & Jerry"));

    // A record of hundreds of kilobytes comes back, and compares, like any other.
    QString big(300 * 1024, QChar(0x416));
    const SongList withBig(QJsonArray{all.at(0), QJsonObject{{"aid", 8}, {"title", big}}});
    EXPECT_EQ(withBig.at(1).value("title").toString(), big);
    EXPECT_EQ(withBig, SongList(withBig.toJsonArray()));
    big[200000] = QLatin1Char('x');
    EXPECT_FALSE(withBig ==
                 SongList(QJsonArray{all.at(0), QJsonObject{{"aid", 8}, {"title", big}}}));
}

TEST(SongList, PositionsOutsideAndElementsThatAreNoRecords) {
    const SongList list(QJsonArray{record(R"({"aid":1})"), 5, "x", record(R"({"aid":2})")});
    ASSERT_EQ(list.size(), 4);
    EXPECT_EQ(list.at(1), QJsonObject()); // kept in place as an empty record
    EXPECT_EQ(list.at(3).value("aid").toInt(), 2);
    for (const qsizetype outside : {qsizetype(-1), qsizetype(4), qsizetype(1) << 40}) {
        EXPECT_EQ(list.at(outside), QJsonObject()) << outside;
    }
    for (const SongList& empty : {SongList(), SongList(QJsonArray())}) {
        EXPECT_TRUE(empty.isEmpty());
        EXPECT_EQ(empty.at(0), QJsonObject());
        EXPECT_EQ(empty, SongList());
        EXPECT_EQ(empty.toJsonArray(), QJsonArray());
    }
}

TEST(SongList, EqualWhenEveryRecordIsEqualInPlace) {
    const QJsonArray songs{record(R"({"aid":1,"title":"Один"})"), record(R"({"aid":2})"),
                           record(R"({"aid":3,"title":"Three"})")};
    const SongList list(songs);
    struct Row {
        const char* name;
        QJsonArray other;
        bool equal;
    };
    QJsonArray lastChanged = songs;
    lastChanged[2] = record(R"({"aid":3,"title":"Thrее"})"); // a Cyrillic "е"
    QJsonArray swapped = songs;
    swapped[0] = songs[1];
    swapped[1] = songs[0];
    QJsonArray longer = songs;
    longer.append(QJsonObject());
    const Row rows[] = {
        {"built again", songs, true},
        {"keys in another order",
         QJsonDocument::fromJson(R"([{"title":"Один","aid":1},)"
                                 R"({"aid":2},{"title":"Three","aid":3}])")
             .array(),
         true},
        {"whole numbers written with a fraction",
         QJsonDocument::fromJson(R"([{"aid":1.0,"title":"Один"},{"aid":2e0},)"
                                 R"({"aid":3,"title":"Three"}])")
             .array(),
         true},
        {"the last record differs", lastChanged, false},
        {"two records swapped", swapped, false},
        {"one more record", longer, false},
        {"no records", {}, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.name);
        const SongList other(row.other);
        EXPECT_EQ(list == other, row.equal);
        EXPECT_EQ(other == list, row.equal);
        EXPECT_FALSE(other.sharesRecordsWith(list));
    }
    const SongList copy = list;
    EXPECT_TRUE(copy.sharesRecordsWith(list));
    EXPECT_EQ(copy, list);
}

// A list read on the background pool is read on the main thread: one list read from two
// threads at once gives each the records it asks for.
TEST(SongList, ReadFromTwoThreadsAtOnce) {
    QJsonArray songs;
    for (int i = 0; i < 200; ++i) {
        songs.append(QJsonObject{{"aid", i}, {"title", QString(i, QChar(0x416))}});
    }
    const SongList list(songs);
    const auto readAll = [&list] {
        int wrong = 0;
        for (int round = 0; round < 20; ++round) {
            for (qsizetype i = 0; i < list.size(); ++i) {
                wrong += list.at(i).value("aid").toInt() != i ? 1 : 0;
            }
        }
        return wrong;
    };
    int otherWrong = -1;
    std::unique_ptr<QThread> other(QThread::create([&] { otherWrong = readAll(); }));
    other->start();
    const int wrong = readAll();
    other->wait();
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(otherWrong, 0);
}

} // namespace
