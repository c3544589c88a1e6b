// The stored place: which texts count as one, when a list fits it, and where the player
// then stands (a real SongPlayer, nothing played).

#include "playback/PlaybackResume.h"

#include "playback/SongDownloader.h"
#include "playback/SongPlayer.h"

#include <QJsonArray>
#include <QJsonObject>
#include <gtest/gtest.h>

using namespace sondrel;

namespace {

TEST(ResumePointText, OnlyWholePlacesAreRead) {
    const struct {
        const char* text;
        bool read;
    } rows[] = {
        {R"({"search":"a b","song":"7","row":1,"length":3,"seconds":12.5})", true},
        {R"({"search":"","song":"7","row":0,"length":1,"seconds":0})", true},
        {"", false},
        {"{\"song\":", false},
        {R"({"search":"","song":"","row":0,"length":1,"seconds":0})", false},  // no song
        {R"({"search":"","song":"7","row":3,"length":3,"seconds":0})", false}, // row outside
        {R"({"search":"","song":"7","row":1.5,"length":3,"seconds":0})", false},
        {R"({"search":"","song":"7","row":-1,"length":3,"seconds":0})", false},
        {R"({"search":"","song":"7","row":"1","length":3,"seconds":0})", false},
        {R"({"search":"","song":"7","row":1,"length":3,"seconds":-2})", false},
        {R"({"song":"7","row":1,"length":3,"seconds":2})", false}, // no list named
        {R"(["search","song"])", false},
    };
    for (const auto& row : rows) {
        const std::optional<ResumePoint> point = ResumePoint::fromText(QString::fromUtf8(row.text));
        EXPECT_EQ(point.has_value(), row.read) << row.text;
        if (point) {
            EXPECT_EQ(ResumePoint::fromText(point->toText())->toText(), point->toText());
        }
    }
}

QJsonArray songs(int count, const QJsonValue& duration = 200) {
    QJsonArray list;
    for (int i = 0; i < count; ++i) {
        list.append(QJsonObject{{"aid", 100 + i}, {"duration", duration}, {"url", "x"}});
    }
    return list;
}

TEST(PlaybackResume, AListThatStillFitsPutsThePlayerOnTheSong) {
    const struct {
        const char* name;
        QString search;  // of the arriving list
        QJsonArray list; // the arriving list
        bool applied;
        double seconds; // where the next play starts
        float progress; // what the slider shows
    } rows[] = {
        {"fits", "", songs(4), true, 50, 0.25f},
        {"search list fits", "Кино", songs(4), false, 0, 0},
        {"song gone", "", songs(2), false, 0, 0},
        {"list grew", "", songs(5), false, 0, 0},
        {"no duration: from the start", "", songs(4, QJsonValue()), true, 0, 0},
        {"text duration", "", songs(4, "200"), true, 50, 0.25f},
    };
    const QString stored = R"({"search":"","song":"102","row":2,"length":4,"seconds":50})";
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        SongPlayer::resetProcessWideState();
        SongPlayer player;
        QString saved = QStringLiteral("untouched");
        PlaybackResume resume(
            player, [&] { return stored; }, [&](const QString& text) { saved = text; });
        EXPECT_FALSE(resume.storedSearch().has_value()); // the own list
        player.setListOnScreenWithArray(row.list);
        EXPECT_EQ(resume.showListArrived(row.search), row.applied);
        EXPECT_FALSE(resume.isWaiting());
        EXPECT_EQ(player.theAudio(), nullptr);
        EXPECT_EQ(player.getCurrentSongNumber(), row.applied ? 2u : 0u);
        EXPECT_EQ(player.resumeSeconds(), row.seconds);
        EXPECT_FLOAT_EQ(player.getCurrentPlayingPercentageProgress(), row.progress);
        // A quit right away stores where the player stands (a dropped place: none).
        resume.save();
        const QString holds = saved == QStringLiteral("untouched") ? stored : saved;
        if (row.applied) {
            ASSERT_TRUE(ResumePoint::fromText(holds).has_value());
            EXPECT_EQ(ResumePoint::fromText(holds)->seconds, row.seconds);
        } else {
            EXPECT_EQ(holds, QString());
        }
    }
}

TEST(PlaybackResume, APointNearTheEndStartsTheSongAgainAndStopForgetsIt) {
    SongPlayer::resetProcessWideState();
    SongPlayer player;
    player.setListOnScreenWithArray(songs(3));
    player.setResumePoint(1, 195); // in the last 3 % of 200 s
    EXPECT_EQ(player.getCurrentSongNumber(), 1u);
    EXPECT_EQ(player.resumeSeconds(), 0);
    EXPECT_EQ(player.getCurrentPlayingTimeLeft(), "-03:20");
    player.setResumePoint(1, 80);
    EXPECT_EQ(player.getCurrentPlayingTimeLeft(), "-02:00");
    player.seekToWithMax(0.25f, 1.0f); // the slider moves the waiting point
    EXPECT_EQ(player.resumeSeconds(), 50);
    player.stop();
    EXPECT_EQ(player.resumeSeconds(), 0);
    EXPECT_EQ(player.getCurrentPlayingTimeLeft(), "-03:20");
}

} // namespace
