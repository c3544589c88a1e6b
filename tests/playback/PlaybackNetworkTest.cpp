// Songs over a bad network, end to end: the stand-in throttles, drops and stalls real
// transfers, the real decoder plays them into the wav output, and what was heard tells
// whether playback went on by itself, lost or repeated nothing, or gave up and moved on.

#include "PlaybackFixture.h"

using namespace sondrel;
using namespace sondrel::test;

namespace {

class PlaybackNetwork : public PlaybackFixture {};

enum class Cached { Original, Tagged, Changed, Nothing };

struct NetworkRow {
    const char* name;
    QString query;
    int starts;      // "now 0" events: the song was announced (and started) this often
    bool mustRunDry; // at least one "buffering" on the way
    int minRequests; // requests for the song's file
    Cached cached;   // what the memory cache holds for the song in the end
    bool gaveUp;     // "failed 0" and only a part heard
};

} // namespace

TEST_F(PlaybackNetwork, GoesOnByItselfResumesAndGivesUpInBounds) {
    int status = 0;
    const QByteArray original = service->httpGet("/audio/100001.mp3", &status);
    ASSERT_EQ(status, 200);
    const QString nearEnd = QString::number(original.size() * 99 / 100);
    // 128 kbit/s songs need 16,000 bytes/s; the drops and stalls come at 12,000 bytes.
    const NetworkRow rows[] = {
        {"slower than playback", "rate=10000", 1, true, 1, Cached::Original, false},
        // Without a length playback starts at 64 KiB: a 60 KB tag lets it start early and
        // run dry.
        {"no length, dry until the end", "chunked=1&id3pad=60000&rate=12000", 1, true, 1,
         Cached::Tagged, false},
        {"dry at 99 % until the end of the transfer",
         "fault=stall&seconds=4&once=1&after=" + nearEnd, 1, true, 1, Cached::Original, false},
        {"dropped once", "fault=drop&after=12000&once=1", 1, false, 2, Cached::Original, false},
        {"stalled once", "fault=stall&after=12000&seconds=60&once=1", 1, false, 2, Cached::Original,
         false},
        {"200 instead of 206", "fault=drop&after=12000&once=1&norange=1", 1, false, 2,
         Cached::Original, false},
        {"changed file", "fault=drop&after=12000&once=1&changed=1", 2, false, 2, Cached::Changed,
         false},
        {"gave up", "fault=drop&after=12000", 1, true, 3, Cached::Nothing, true},
        {"behind a redirect", "status=302", 1, false, 2, Cached::Original, false},
    };
    for (const NetworkRow& row : rows) {
        SCOPED_TRACE(row.name);
        // A fresh downloader per row: its memory cache must not answer for song 0.
        player->stop();
        downloader.reset();
        downloader = std::make_unique<SongDownloader>();
        downloader->setRetrySchedule({100, 400, 1500});
        downloader->setStallTimeoutMs(3000);
        recorder.events.clear();
        service->reset();
        const std::int64_t heardBefore = readWav(wavPath()).frames();
        player->setListOnScreenWithArray(songs({{0, row.query}}));
        player->setListOnScreenAsCurrentPlaylist();
        player->setSongForPlay(0);
        // Song 0 ends (whole or given up) and the player moves on by itself.
        ASSERT_TRUE(waitForEvents("now 1", 1, 90000)) << recorder.story().toStdString();
        player->stop();

        EXPECT_EQ(recorder.count("now 0"), row.starts) << recorder.story().toStdString();
        if (row.mustRunDry) {
            EXPECT_GE(recorder.count("buffering"), 1) << recorder.story().toStdString();
        }
        EXPECT_GE(requestsFor(0), row.minRequests);
        EXPECT_EQ(encodedSongRequests(), 0);
        EXPECT_EQ(recorder.count("failed 0"), row.gaveUp ? 1 : 0) << recorder.story().toStdString();
        const std::optional<QByteArray> cached = downloader->songsCache().objectForKey("100001");
        switch (row.cached) {
        case Cached::Original:
            EXPECT_TRUE(cached == original); // every byte once, in order
            break;
        case Cached::Tagged:
        case Cached::Changed:
            ASSERT_TRUE(cached.has_value());
            EXPECT_EQ(cached->size(),
                      original.size() + (row.cached == Cached::Tagged ? 60000 : 4096));
            EXPECT_TRUE(cached->endsWith(original));
            break;
        case Cached::Nothing:
            EXPECT_FALSE(cached.has_value());
            break;
        }
        // What was heard of song 0 since the row began: all of it exactly once, unless the
        // file changed (heard again from the start) or the transfer was given up.
        WavData wav = readWav(wavPath());
        wav.samples.erase(wav.samples.begin(), wav.samples.begin() + heardBefore * wav.channels);
        double seconds = 0;
        for (const ToneRun& r : toneRuns(wav, tones())) {
            seconds += r.hz == 300 ? r.seconds : 0;
        }
        if (row.gaveUp) {
            EXPECT_GT(seconds, 0.3);
            EXPECT_LT(seconds, kSeconds - 0.5);
        } else if (row.starts == 1) {
            EXPECT_NEAR(seconds, kSeconds, 0.1);
        } else {
            EXPECT_GE(seconds, kSeconds - 0.1);
        }
    }
}
