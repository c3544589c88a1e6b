// The next song fetched in advance, end to end through the stand-in service: what the
// memory cache holds before the next song starts, how many requests the service saw for
// it, and what was heard. Also the downloaded-share signal while bytes arrive.

#include "PlaybackFixture.h"

#include <QElapsedTimer>
#include <cstdlib>

using namespace sondrel;
using namespace sondrel::test;

namespace {

class Prefetch : public PlaybackFixture {};

enum class Then { Skip, ReachEnd, PickOther };

struct PrefetchRow {
    const char* name;
    std::map<int, QString> queries;
    bool shuffle;
    bool repeat;
    double budgetInSongs; // the cache budget as a multiple of one song (0: the default)
    Then then;
    bool prefetched;    // the next song is whole in memory before it starts
    int requestsBefore; // requests for the next song before it starts
};

QString idOf(int index) {
    return QString::number(100001 + index);
}

} // namespace

TEST_F(Prefetch, FetchesTheNextSongAheadAndStartsItFromMemory) {
    int status = 0;
    const std::int64_t songBytes = service->httpGet("/audio/100001.mp3", &status).size();
    ASSERT_EQ(status, 200);
    const PrefetchRow rows[] = {
        {"skipped to", {}, false, false, 0, Then::Skip, true, 1},
        {"reached at the end", {}, false, false, 0, Then::ReachEnd, true, 1},
        {"shuffle: the pick drawn ahead", {}, true, false, 0, Then::Skip, true, 1},
        {"repeat: nothing", {}, false, true, 0, Then::Skip, false, 0},
        {"broken off: nothing kept",
         {{1, "fault=drop&after=12000&once=1"}},
         false,
         false,
         0,
         Then::Skip,
         false,
         1},
        {"beyond the budget: nothing kept", {}, false, false, 1.5, Then::Skip, false, 1},
        {"cancelled by another pick",
         {{1, "rate=4000"}},
         false,
         false,
         0,
         Then::PickOther,
         false,
         1},
    };
    for (const PrefetchRow& row : rows) {
        SCOPED_TRACE(row.name);
        player->stop();
        downloader.reset();
        SongPlayer::resetProcessWideState();
        int upcoming = 1;
        if (row.shuffle) {
            upcoming = std::rand() % kSongs; // the first pick of a fresh process
            SongPlayer::resetProcessWideState();
            ASSERT_NE(upcoming, 0);
            player->invertShuffle();
        }
        if (row.repeat) {
            player->invertRepeating();
        }
        downloader = std::make_unique<SongDownloader>(
            nullptr, row.budgetInSongs > 0 ? std::int64_t(songBytes * row.budgetInSongs)
                                           : SongMemoryCache::kDefaultBudget);
        recorder.events.clear();
        service->reset();
        player->setListOnScreenWithArray(songs(row.queries));
        player->setListOnScreenAsCurrentPlaylist();
        player->setSongForPlay(0);
        SongPrefetcher& prefetcher = downloader->nextSongPrefetcher();

        if (row.then == Then::PickOther) {
            ASSERT_TRUE(waitUntil([&] { return prefetcher.fetchingId() == idOf(upcoming); }));
            player->setSongForPlay(3);
            EXPECT_FALSE(prefetcher.isFetching());
            ASSERT_TRUE(waitForEvents("now 3", 1)) << recorder.story().toStdString();
            ASSERT_TRUE(waitUntil([&] { return downloader->songsCache().count() == 2; }));
            EXPECT_FALSE(downloader->songsCache().objectForKey(idOf(upcoming)).has_value());
            EXPECT_EQ(requestsFor(upcoming), row.requestsBefore);
            continue;
        }

        // Song 0 is whole and heard, and whatever was fetched ahead has ended.
        ASSERT_TRUE(waitUntil([&] {
            return downloader->getSongData() && downloader->isSongCompletelyDownloaded() &&
                   !prefetcher.isFetching() && player->getCurrentPlayingCurrentTime() > 0.3;
        })) << recorder.story().toStdString();
        EXPECT_EQ(downloader->songsCache().objectForKey(idOf(upcoming)).has_value(),
                  row.prefetched);
        EXPECT_EQ(requestsFor(upcoming), row.requestsBefore);
        EXPECT_EQ(downloader->songsCache().count(), row.prefetched ? 2 : 1);

        if (row.then == Then::Skip) {
            player->next();
        }
        const QString now = QStringLiteral("now %1").arg(upcoming);
        ASSERT_TRUE(waitForEvents(now, 1, 60000)) << recorder.story().toStdString();
        ASSERT_TRUE(waitUntil([&] { return player->getCurrentPlayingCurrentTime() > 0.3; }));
        player->stop();
        // From memory: no request beyond those made before it started.
        EXPECT_EQ(requestsFor(upcoming), row.requestsBefore + (row.prefetched ? 0 : 1));
        EXPECT_EQ(encodedSongRequests(), 0);
        const std::vector<double> order = heardOrder();
        ASSERT_GE(order.size(), 2u) << describe(heard()).toStdString();
        EXPECT_EQ(order[order.size() - 2], 300);
        EXPECT_EQ(order.back(), 300 + 100 * upcoming) << describe(heard()).toStdString();
    }
}

TEST_F(Prefetch, DownloadedShareFollowsTheBytesWhilePaused) {
    // About four seconds for the song; paused as soon as it plays.
    player->setListOnScreenWithArray(songs({{0, "rate=8000"}}));
    std::vector<double> shares;
    QObject scope; // ends the connections with the locals they use
    QObject::connect(downloader.get(), &SongDownloader::downloadedShareChanged, &scope, [&] {
        const auto data = downloader->getSongData();
        const std::int64_t expected = SongDownloader::currentSongDataLengthValue();
        if (data && expected > 0 && player->isPaused()) {
            shares.push_back(double(data->bytes.size()) / double(expected));
        }
    });
    QElapsedTimer clock;
    clock.start();
    int announced = 0;
    QObject::connect(downloader.get(), &SongDownloader::downloadedShareChanged, &scope,
                     [&] { ++announced; });
    player->setSongForPlay(0);
    ASSERT_TRUE(waitForEvents("now 0", 1));
    player->setSongForPlay(0); // pause
    ASSERT_TRUE(player->isPaused());
    ASSERT_TRUE(waitUntil([&] { return downloader->isSongCompletelyDownloaded(); }));
    const qint64 elapsed = clock.elapsed();
    ASSERT_GE(shares.size(), 3u);
    EXPECT_TRUE(std::is_sorted(shares.begin(), shares.end()));
    EXPECT_LT(shares.front(), 1.0);
    EXPECT_EQ(shares.back(), 1.0);
    // Held back while bytes arrive: never more than one per interval, plus the moments
    // the song started, became whole or was cleared.
    EXPECT_LE(announced, elapsed / SongDownloader::kShareSignalMs + 4);
}
