// The song player's and downloader's rules without a network: lists, titles and times,
// the early-start and seek rules with the figures of their examples, the memory cache.

#include "PlaybackTestSupport.h"
#include "PlayerRecorder.h"
#include "ToneSongs.h"
#include "platform/Log.h"
#include "playback/RebufferGate.h"
#include "playback/SongDownloader.h"
#include "playback/SongMemoryCache.h"
#include "playback/SongPlayer.h"

#include <QJsonArray>
#include <gtest/gtest.h>

using namespace sondrel;
using namespace sondrel::test;

namespace {

QJsonObject song(QJsonValue aid, const QString& artist, const QString& title, QJsonValue duration) {
    return QJsonObject{{"aid", aid},           {"owner_id", 7},
                       {"artist", artist},     {"title", title},
                       {"duration", duration}, {"url", "http://127.0.0.1:1/x.mp3"},
                       {"lyrics_id", 3}};
}

class SongPlayerRules : public ::testing::Test {
protected:
    void SetUp() override {
        SongPlayer::resetProcessWideState();
        SongDownloader::resetProcessWideState();
        downloader = std::make_unique<SongDownloader>();
        player = std::make_unique<SongPlayer>();
        player->setDelegate(&recorder);
        player->setAudioOutputSpec("null");
    }
    void TearDown() override {
        player.reset();
        downloader.reset();
        spin(20);
    }
    // Gives the downloader `bytes` of a song of `expected` bytes and runs the player's
    // play on them (as a memory-cache hit would).
    void load(const QByteArray& bytes, std::int64_t expected) {
        auto data = std::make_shared<AudioData>();
        data->bytes = bytes;
        data->expectedLength = expected;
        downloader->setCurrentSongData(data);
        SongDownloader::setCurrentSongDataLength(expected);
    }

    bool waitForPlaying() {
        return waitUntil([&] { return recorder.count("playing") > 0; }, 10000);
    }

    std::unique_ptr<SongDownloader> downloader;
    std::unique_ptr<SongPlayer> player;
    PlayerRecorder recorder;
};

} // namespace

TEST_F(SongPlayerRules, ListsAreCopiedComparedByValueAndTheFirstBecomesPlayable) {
    QJsonArray own{song(1, "A", "a", 10), song(2, "B", "b", 20)};
    player->setListOnScreenWithArray(own);
    own.append(song(3, "C", "c", 30)); // later changes to the caller's array stay out
    EXPECT_EQ(player->getQuantityFromListOnScreen(), 2u);
    EXPECT_EQ(player->getQuantityFromPlayList(), 2u);
    EXPECT_TRUE(player->isCurrentPlaylistEqualToListOnScreen());

    // The own list fetched again: equal, so the two lists share their records.
    player->setListOnScreenWithArray(QJsonArray{song(1, "A", "a", 10), song(2, "B", "b", 20)});
    EXPECT_TRUE(player->showList().sharesRecordsWith(player->playList()));

    player->setListOnScreenWithArray(QJsonArray{song(9, "S", "s", 5)}); // a search result
    EXPECT_EQ(player->getQuantityFromPlayList(), 2u);                   // play list stays
    EXPECT_FALSE(player->isCurrentPlaylistEqualToListOnScreen());
    LogCapture log;
    player->setListOnScreenAsCurrentPlaylist();
    EXPECT_TRUE(player->isCurrentPlaylistEqualToListOnScreen());
    EXPECT_EQ(log.lines(), (QStringList{"setListOnScreenAsCurrentPlaylist", "self.playList.count=1",
                                        "self.showList.count=1"}));

    // "aid" compared by its text form: the number 9 and the text "9" are one song.
    player->setCurrentSong(QJsonObject{{"aid", "9"}});
    EXPECT_TRUE(player->isCurrentSongEqualToSongInRowInListOnScreen());
    EXPECT_TRUE(player->isCurrentSongEqualToSongInRow(0));
    EXPECT_FALSE(player->isCurrentSongEqualToSongInRow(1)); // outside the show list
    player->clearPlaylists();
    EXPECT_EQ(player->getQuantityFromListOnScreen(), 0u);
    EXPECT_FALSE(player->isCurrentSongEqualToSongInRowInListOnScreen());
}

TEST_F(SongPlayerRules, ASecondInstanceIsLoggedAndReplacesTheFirst) {
    LogCapture log;
    SongPlayer second;
    SongDownloader secondDownloader;
    EXPECT_EQ(SongPlayer::sharedInstance(), &second);
    EXPECT_EQ(SongDownloader::sharedInstance(), &secondDownloader);
    EXPECT_TRUE(log.contains("Error: You are creating a second SongPlayer. Bad Olvik"));
    EXPECT_TRUE(log.contains("Error: You are creating a second SongDownloader. Bad Olvik"));
}

TEST_F(SongPlayerRules, StyledTitlesFollowTheSeparatorAndBoldRules) {
    const struct {
        const char* artist;
        const char* title;
        const char* text;
        int bold;
    } rows[] = {
        {"Foo", "Bar", "Foo - Bar", 5},
        {"", "Bar", "Bar", 2},
        {"Foo", "", "Foo", 3},
        {"", "", "", 0},
        {"\u266B\u266B", "Song", "Song", 2}, // decoration only: the artist counts as empty
        {"Rock&amp;Roll", "Best_Song [Live]", "Rock&Roll - Best Song Live", 11},
        {"Bad %zz", "Title", "Title", 2}, // the cleaner rejects the artist
    };
    QJsonArray list;
    for (const auto& r : rows) {
        list.append(
            song(list.size() + 1, QString::fromUtf8(r.artist), QString::fromUtf8(r.title), 60));
    }
    player->setListOnScreenWithArray(list);
    for (int i = 0; i < int(std::size(rows)); ++i) {
        const AttributedTitle t = player->getAttributedTitleForSongInListOnScreenAtRow(i);
        EXPECT_EQ(t.text, QString::fromUtf8(rows[i].text)) << i;
        EXPECT_EQ(t.boldLength, rows[i].bold) << i;
    }
    EXPECT_EQ(player->getAttributedTitleForSongInListOnScreenAtRow(0).toHtml(), "<b>Foo -</b> Bar");
    EXPECT_EQ(player->getCurrentPlayingAttributedTitle().text, "Foo - Bar");
    // Rows outside the lists read nothing.
    EXPECT_EQ(player->getAttributedTitleForSongInListOnScreenAtRow(-1), AttributedTitle());
    EXPECT_EQ(player->getAttributedTitleForSongInListOnScreenAtRow(99), AttributedTitle());
    EXPECT_EQ(player->getTimeDurationForSongAtRow(99), "00:00");
}

TEST_F(SongPlayerRules, TimeLeftCountsFromTheRecordsDuration) {
    const QByteArray mp3 = makeToneMp3({.hz = 440, .seconds = 3});
    const struct {
        QJsonValue duration;
        double at;
        const char* left;
    } rows[] = {
        {188, 1.0, "-03:07"},     {76, 0.4, "-01:15"},
        {3726, 1.0, "-01:02:05"}, {"200", 2.0, "-03:18"}, // a numeric text
        {1, 2.0, "-00:01"}, // past the record's end: the full duration
    };
    for (const auto& r : rows) {
        player->stop();
        player->setListOnScreenWithArray({});
        player->clearPlaylists();
        player->setListOnScreenWithArray(QJsonArray{song(5, "A", "B", r.duration)});
        EXPECT_EQ(player->getCurrentPlayingTimeLeft(),
                  QLatin1Char('-') + player->getTimeDurationForCurrentSong());
        player->setCurrentSong();
        load(mp3, mp3.size());
        player->play();
        ASSERT_NE(player->theAudio(), nullptr);
        player->theAudio()->pause();
        player->theAudio()->setCurrentTime(r.at);
        EXPECT_EQ(player->getCurrentPlayingTimeLeft(), r.left) << r.left;
    }
    player->stop();
    EXPECT_EQ(player->getCurrentPlayingSecondsLeft(), 0.0f);
    EXPECT_EQ(player->getTimeDurationForSongAtRow(0), "00:01");
}

TEST_F(SongPlayerRules, EarlyStartComesWithTheBatchThatReachesThreePercent) {
    // 4,000,000 bytes expected: a hundredth is 40,000, so 119,999 bytes are 2 % and
    // 120,000 bytes 3 %.
    QByteArray bytes = makeToneMp3({.hz = 440, .seconds = 3});
    player->setListOnScreenWithArray(QJsonArray{song(5, "A", "B", 3)});
    player->setCurrentSong();
    load(bytes + QByteArray(119999 - bytes.size(), '\0'), 4000000);
    downloader->calculateCompleteDownloadingPercentageForData();
    spin(100);
    EXPECT_EQ(recorder.count("playing"), 0);
    downloader->getSongData()->bytes.append('\0');
    downloader->calculateCompleteDownloadingPercentageForData();
    EXPECT_EQ(recorder.count("playing"), 0); // queued, not called from inside the batch
    // A batch that comes before the queued start has run queues no second one.
    downloader->getSongData()->bytes.append('\0');
    downloader->calculateCompleteDownloadingPercentageForData();
    ASSERT_TRUE(waitForPlaying());
    // While it plays (or is paused), arriving bytes queue no further start.
    downloader->getSongData()->bytes.append(QByteArray(200000, '\0'));
    downloader->calculateCompleteDownloadingPercentageForData();
    player->playPause();
    downloader->calculateCompleteDownloadingPercentageForData();
    spin(100);
    EXPECT_EQ(recorder.count("playing"), 1);
    EXPECT_TRUE(player->isPaused());
}

TEST_F(SongPlayerRules, EarlyStartWithoutAUsableLengthWaitsFor64KiBOrTheEnd) {
    const QByteArray bytes = makeToneMp3({.hz = 440, .seconds = 6});
    ASSERT_GT(bytes.size(), 65536);
    player->setListOnScreenWithArray(QJsonArray{song(5, "A", "B", 6)});
    player->setCurrentSong();
    load(bytes.left(65535), -1);
    downloader->calculateCompleteDownloadingPercentageForData();
    spin(100);
    EXPECT_EQ(recorder.count("playing"), 0);
    downloader->getSongData()->bytes = bytes.left(65536);
    downloader->calculateCompleteDownloadingPercentageForData();
    ASSERT_TRUE(waitForPlaying());
}

TEST_F(SongPlayerRules, SeekRuleKeepsATwoPercentMargin) {
    // The example: 5,000,000 bytes expected, a 250 s song, 2,000,000 bytes received.
    QByteArray bytes =
        makeToneMp3({.hz = 440, .seconds = 250, .sampleRate = 8000, .channels = 1, .kbps = 32});
    ASSERT_LT(bytes.size(), 1500000);
    player->setListOnScreenWithArray(QJsonArray{song(5, "A", "B", 250)});
    player->setCurrentSong();
    load(bytes + QByteArray(2000000 - bytes.size(), '\0'), 5000000);
    player->play();
    ASSERT_NE(player->theAudio(), nullptr);
    ASSERT_EQ(player->getCurrentPlayingDuration(), 250.0f);
    EXPECT_TRUE(downloader->canISeekToTime(80));
    EXPECT_FALSE(downloader->canISeekToTime(95)); // leaves exactly the margin
    player->seekToWithMax(95, 250);
    EXPECT_LT(player->getCurrentPlayingCurrentTime(), 10.0f);
    player->seekToWithMax(80, 250);
    // The pretend device's clock may run on for up to its buffer while this thread waits.
    EXPECT_NEAR(player->getCurrentPlayingCurrentTime(), 80.0, 0.3);
    player->seekToWithMax(1, 0); // no maximum: ignored
    EXPECT_NEAR(player->getCurrentPlayingCurrentTime(), 80.0, 0.5);
    // Complete: the last 2 % are still refused.
    load(bytes + QByteArray(5000000 - bytes.size(), '\0'), 5000000);
    EXPECT_TRUE(downloader->isSongCompletelyDownloaded());
    EXPECT_TRUE(downloader->canISeekToTime(240));
    EXPECT_FALSE(downloader->canISeekToTime(246));
}

TEST_F(SongPlayerRules, StopLeavesTheDownloaderEmptyAndSendsOneLastTick) {
    const QByteArray bytes = makeToneMp3({.hz = 440, .seconds = 3});
    player->setListOnScreenWithArray(QJsonArray{song(5, "A", "B", 3)});
    player->setCurrentSong();
    load(bytes, bytes.size());
    player->play();
    ASSERT_NE(player->playbackTimer(), nullptr);
    const int ticks = recorder.ticks;
    player->stop();
    EXPECT_EQ(recorder.ticks, ticks + 1);
    EXPECT_EQ(recorder.events.last(), "stopped");
    EXPECT_EQ(player->theAudio(), nullptr);
    EXPECT_EQ(player->playbackTimer(), nullptr);
    EXPECT_TRUE(downloader->isSongCompletelyDownloaded()); // nothing held, nothing expected
    EXPECT_FALSE(downloader->isInProgress());
    spin(700);
    EXPECT_EQ(recorder.ticks, ticks + 1);
    // Not decodable: logged, stopped sent, no audio player.
    LogCapture log;
    load(QByteArray("<html>404</html>"), 16);
    player->play();
    EXPECT_EQ(player->theAudio(), nullptr);
    EXPECT_EQ(recorder.events.last(), "stopped");
    ASSERT_EQ(log.lines().size(), 1);
    EXPECT_TRUE(log.lines()[0].startsWith("Error play song: "));
}

TEST(SongMemoryCache, DropsTheLeastRecentlyUsedAndNeverExceedsItsBudget) {
    SongMemoryCache cache(1000);
    cache.setObjectForKey(QByteArray(400, 'a'), "a");
    cache.setObjectForKey(QByteArray(400, 'b'), "b");
    ASSERT_TRUE(cache.objectForKey("a")); // a is now the most recent
    cache.setObjectForKey(QByteArray(400, 'c'), "c");
    EXPECT_FALSE(cache.objectForKey("b"));
    EXPECT_TRUE(cache.objectForKey("a"));
    EXPECT_TRUE(cache.objectForKey("c"));
    EXPECT_EQ(cache.totalBytes(), 800);
    cache.setObjectForKey(QByteArray(1001, 'x'), "x"); // larger than the budget: not kept
    EXPECT_FALSE(cache.objectForKey("x"));
    EXPECT_EQ(cache.count(), 2);
    cache.setObjectForKey(QByteArray(100, 'a'), "a"); // replacing frees the old bytes
    EXPECT_EQ(cache.totalBytes(), 500);
    cache.setBudget(450);
    EXPECT_LE(cache.totalBytes(), 450);
    EXPECT_TRUE(cache.objectForKey("a"));
    for (int i = 0; i < 100; ++i) {
        cache.setObjectForKey(QByteArray(37 + i, 'z'), QString::number(i));
        ASSERT_LE(cache.totalBytes(), cache.budget());
    }
}

TEST(RebufferGate, WaitsOnceForWhatTheRestOfTheSongNeeds) {
    // Songs of 16,000 bytes per second of sound that ran dry at 40,000 bytes; the
    // 320,000-byte one has 280,000 bytes (17.5 s) not heard yet.
    struct Case {
        const char* name;
        std::int64_t expected;
        std::int64_t have;
        double rate; // download bytes per second
        bool resume;
    };
    const Case cases[] = {
        {"fast download: 2 s of sound suffice", 320000, 72000, 64000, true},
        {"fast download: less than 2 s is not enough", 320000, 71000, 64000, false},
        {"rate unknown yet: 2 s of sound", 320000, 72000, 0, true},
        // At 12,000 bytes/s the rest (320,000 - have) must come within 0.9 x 17.5 s:
        // have >= 131,000.
        {"slow download: the rest arrives in time", 320000, 131000, 12000, true},
        {"slow download: not yet", 320000, 130000, 12000, false},
        {"very slow, long song: a minute of sound at most", 3000000, 1000000, 100, true},
        {"very slow, long song: less than a minute", 3000000, 999000, 100, false},
        {"everything is here", 320000, 320000, 100, true},
        {"no length: 5 s of sound", -1, 120000, 12000, true},
        {"no length: less", -1, 119000, 12000, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RebufferInput in;
        in.expected = c.expected;
        in.have = c.have;
        in.dryAt = 40000;
        in.audioBytesPerSecond = 16000;
        in.downloadBytesPerSecond = c.rate;
        EXPECT_EQ(mayResumeAfterRunningDry(in), c.resume);
    }
}
