// The song player end to end: real transfers from the stand-in service on loopback, the
// real decoder, and the wav output telling which tone was heard in which order.

#include "PlaybackFixture.h"

#include <cstdlib>

using namespace sondrel;
using namespace sondrel::test;

namespace {

class PlaybackEndToEnd : public PlaybackFixture {};

std::vector<double> collapse(const std::vector<double>& tones) {
    std::vector<double> out;
    for (double t : tones) {
        if (out.empty() || out.back() != t) {
            out.push_back(t);
        }
    }
    return out;
}

} // namespace

TEST_F(PlaybackEndToEnd, PlaysTheListInOrderWrapsAroundAndReplaysFromMemory) {
    player->setListOnScreenWithArray(songs());
    ASSERT_EQ(player->getQuantityFromPlayList(), 4u); // the first list becomes playable
    player->playPause();
    ASSERT_TRUE(waitUntil(
        [&] { return recorder.count("now 1") >= 1 && recorder.count("now 0") >= 2; }, 90000))
        << recorder.story().toStdString();
    ASSERT_TRUE(waitUntil([&] { return heard().size() >= 5; }));
    player->stop();
    const std::vector<ToneRun> runs = heard();
    ASSERT_GE(runs.size(), 5u) << describe(runs).toStdString();
    const std::vector<double> expected{300, 400, 500, 600, 300};
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(runs[i].hz, expected[i]) << describe(runs).toStdString();
        if (i < 4) {
            EXPECT_NEAR(runs[i].seconds, kSeconds, 0.15) << describe(runs).toStdString();
        }
    }
    // The second time round the first song came from the memory cache.
    EXPECT_EQ(requestsFor(0), 1);
    EXPECT_EQ(requestsFor(3), 1);
    EXPECT_EQ(downloader->songsCache().count(), 4);
}

TEST_F(PlaybackEndToEnd, NextAndPreviousWrapAtBothEnds) {
    player->setListOnScreenWithArray(songs());
    player->setListOnScreenAsCurrentPlaylist();
    auto playFor = [&](const char* now) {
        EXPECT_TRUE(waitForEvents(now, 1)) << recorder.story().toStdString();
        EXPECT_TRUE(waitUntil([&] { return player->getCurrentPlayingCurrentTime() > 0.5; }));
    };
    player->setSongForPlay(0);
    playFor("now 0");
    player->prev();
    playFor("now 3");
    player->next();
    ASSERT_TRUE(waitForEvents("now 0", 2));
    EXPECT_TRUE(waitUntil([&] { return player->getCurrentPlayingCurrentTime() > 0.5; }));
    player->next();
    playFor("now 1");
    player->stop();
    EXPECT_EQ(heardOrder(), (std::vector<double>{300, 600, 300, 400}));
    EXPECT_TRUE(recorder.events.contains("highlight 3"));
    EXPECT_EQ(player->getCurrentSongNumber(), 1u);
}

TEST_F(PlaybackEndToEnd, RepeatPlaysTheSameSongAgainWithoutANewTransfer) {
    player->setListOnScreenWithArray(songs());
    player->invertRepeating();
    player->setSongForPlay(2);
    ASSERT_TRUE(waitUntil(
        [&] {
            const auto runs = heard();
            return !runs.empty() && runs[0].seconds >= 2 * kSeconds - 0.2;
        },
        60000));
    player->stop();
    EXPECT_EQ(heardOrder(), std::vector<double>{500});
    EXPECT_EQ(requestsFor(2), 1);
    EXPECT_EQ(recorder.count("now 3"), 0);
}

TEST_F(PlaybackEndToEnd, ShuffleFollowsTheUnseededRandSequence) {
    // The sequence a fresh process draws (the player never seeds rand).
    std::srand(1);
    std::vector<std::uint64_t> expected{0};
    for (int i = 0; i < 3; ++i) {
        expected.push_back(std::uint64_t(std::rand()) % kSongs);
    }
    SongPlayer::resetProcessWideState();
    player->setListOnScreenWithArray(songs());
    player->invertShuffle();
    ASSERT_TRUE(player->getShuffle());
    player->setSongForPlay(0);
    ASSERT_TRUE(waitUntil([&] { return recorder.timeAtUpdate.size() >= 4; }, 90000))
        << recorder.story().toStdString();
    player->stop();
    QStringList nows;
    for (const QString& e : recorder.events) {
        if (e.startsWith("now ")) {
            nows << e;
        }
    }
    std::vector<double> expectedTones;
    for (size_t i = 0; i < 4; ++i) {
        EXPECT_EQ(nows.value(int(i)), QStringLiteral("now %1").arg(expected[i]));
        expectedTones.push_back(300 + 100 * double(expected[i]));
    }
    const auto order = heardOrder();
    const auto want = collapse(expectedTones);
    ASSERT_GE(order.size(), want.size() - 1);
    for (size_t i = 0; i + 1 < want.size(); ++i) { // the last one was cut short by stop
        EXPECT_EQ(order[i], want[i]) << describe(heard()).toStdString();
    }
}

TEST_F(PlaybackEndToEnd, PauseAndResumeGoOnFromTheSamePosition) {
    player->setListOnScreenWithArray(songs());
    player->setSongForPlay(0);
    ASSERT_TRUE(waitUntil([&] { return player->getCurrentPlayingCurrentTime() > 0.7; }));
    player->setSongForPlay(0); // the same row again: pause
    EXPECT_TRUE(player->isPaused());
    EXPECT_EQ(recorder.count("paused"), 1);
    const float pausedAt = player->getCurrentPlayingCurrentTime();
    const int ticksBefore = recorder.ticks;
    // The timer ticks on while paused, and the position stands still.
    ASSERT_TRUE(waitUntil([&] { return recorder.ticks >= ticksBefore + 2; }));
    EXPECT_EQ(player->getCurrentPlayingCurrentTime(), pausedAt);
    player->setSongForPlay(0); // and again: resume
    EXPECT_TRUE(player->isPlaying());
    EXPECT_GE(player->getCurrentPlayingCurrentTime(), pausedAt);
    ASSERT_TRUE(waitForEvents("now 1", 1));
    player->stop();
    const auto runs = heard();
    ASSERT_GE(runs.size(), 1u);
    EXPECT_EQ(runs[0].hz, 300);
    EXPECT_NEAR(runs[0].seconds, kSeconds, 0.15) << describe(runs).toStdString();
}

TEST_F(PlaybackEndToEnd, SeeksInsideTheDownloadedPartAndRefusesBeyondIt) {
    // Song 0 arrives slowly (a quarter of its bit rate); song 1 at once.
    player->setListOnScreenWithArray(songs({{0, "rate=4000"}}));
    player->setSongForPlay(0);
    ASSERT_TRUE(waitForEvents("now 0", 1));
    player->seekToWithMax(1.5f, 2.0f); // far beyond what has arrived
    EXPECT_LT(player->getCurrentPlayingCurrentTime(), 1.0f);

    player->setSongForPlay(1);
    ASSERT_TRUE(waitForEvents("now 1", 1));
    ASSERT_TRUE(waitUntil([&] { return downloader->isSongCompletelyDownloaded(); }));
    // Heard so far (however long the machine took to get here), then from the middle on.
    const float heardBeforeSeek = player->getCurrentPlayingCurrentTime();
    ASSERT_LT(heardBeforeSeek, kSeconds / 2);
    player->seekToWithMax(0.5f, 1.0f); // half way: allowed
    EXPECT_GE(player->getCurrentPlayingCurrentTime(), 1.0f);
    ASSERT_TRUE(waitForEvents("now 2", 1));
    player->stop();
    const auto runs = heard();
    const auto song1 =
        std::find_if(runs.begin(), runs.end(), [](const ToneRun& r) { return r.hz == 400; });
    ASSERT_NE(song1, runs.end()) << describe(runs).toStdString();
    EXPECT_NEAR(song1->seconds, heardBeforeSeek + kSeconds / 2, 0.2)
        << describe(runs).toStdString();
}

TEST_F(PlaybackEndToEnd, StartsAtThreePercentAndGoesOnWhereItRanDry) {
    // 128 kbit/s songs served at 4,000 bytes/s: playback outruns the transfer by far, even
    // when a busy machine holds the first start back for seconds.
    LogCapture log;
    player->setListOnScreenWithArray(songs({{0, "rate=4000"}}));
    player->setSongForPlay(0);
    ASSERT_TRUE(waitForEvents("now 1", 1, 90000)) << recorder.story().toStdString();
    player->stop();
    ASSERT_FALSE(recorder.bytesAtPlaying.empty());
    const std::int64_t expected =
        downloader->songsCache().objectForKey("100001").value_or(QByteArray()).size();
    ASSERT_GT(expected, 0);
    // The first start came with the batch that took the download to 3 % or more.
    EXPECT_GE(recorder.bytesAtPlaying[0] / (expected / 100), 3);
    // It ran dry, said so, and went on with the same player: the song started once.
    EXPECT_EQ(recorder.count("now 0"), 1) << recorder.story().toStdString();
    EXPECT_GE(recorder.count("buffering"), 1) << recorder.story().toStdString();
    // Every sample of the song heard once: no restart, nothing skipped.
    const auto runs = heard();
    ASSERT_GE(runs.size(), 1u);
    EXPECT_EQ(runs[0].hz, 300);
    EXPECT_NEAR(runs[0].seconds, kSeconds, 0.15) << describe(runs).toStdString();
}
