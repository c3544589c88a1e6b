// Songs that arrive broken: each is logged as it should be, nothing crashes, and the
// player still plays the next song chosen. (Broken and slow transfers: PlaybackNetworkTest.)

#include "PlaybackFixture.h"

using namespace sondrel;
using namespace sondrel::test;

namespace {

class PlaybackFaults : public PlaybackFixture {
protected:
    bool logged(const LogCapture& log, const QString& prefix) const {
        for (const QString& line : log.lines()) {
            if (line.startsWith(prefix)) {
                return true;
            }
        }
        return false;
    }
};

struct FaultRow {
    const char* name;
    const char* query;
    const char* logPrefix;     // a line that must be logged
    bool songPlays;            // some of song 0's tone is heard
    bool cached;               // the answer ends in the memory cache
    const char* url = nullptr; // song 0's whole address, in place of the stand-in's
};

const FaultRow kFaults[] = {
    {"404 with an HTML body", "status=404",
     "Error play song: the song's address answered HTTP 404 instead of the song", false, false},
    {"500 with an HTML body", "status=500",
     "Error play song: the song's address answered HTTP 500 instead of the song", false, false},
    {"a file on this machine", "", "didFailWithError: the song's address is not an http", false,
     false, "file:///etc/hostname"},
    {"garbage bytes", "fault=garbage", "Error play song: ", false, true},
    {"no Content-Length", "chunked=1", "--playPause--", true, true},
    {"300 KB ID3 tag", "id3pad=300000", "--playPause--", true, true},
};

} // namespace

TEST_F(PlaybackFaults, EachBrokenSongIsLoggedAndTheNextSongPlays) {
    for (const FaultRow& row : kFaults) {
        SCOPED_TRACE(row.name);
        // A fresh downloader per row: its memory cache must not answer for song 0.
        player->stop();
        downloader.reset();
        downloader = std::make_unique<SongDownloader>();
        recorder.events.clear();
        LogCapture log;
        const std::int64_t heardBefore = readWav(wavPath()).frames();
        QJsonArray list = songs({{0, row.query}});
        if (row.url != nullptr) {
            QJsonObject first = list[0].toObject();
            first[QStringLiteral("url")] = QString::fromLatin1(row.url);
            list[0] = first;
        }
        player->setListOnScreenWithArray(list);
        player->setListOnScreenAsCurrentPlaylist();
        player->setSongForPlay(0);
        // The transfer ends one way or the other (the stall after the 10 s time-out).
        ASSERT_TRUE(waitUntil([&] { return logged(log, row.logPrefix); }, 60000))
            << log.lines().join('\n').toStdString();
        ASSERT_TRUE(waitUntil(
            [&] {
                return logged(log, "didFailWithError: ") ||
                       downloader->isSongCompletelyDownloaded();
            },
            60000));
        if (row.songPlays) {
            ASSERT_TRUE(waitUntil([&] {
                const WavData wav = readWav(wavPath());
                return wav.frames() > heardBefore + 22050 &&
                       dominantTone(wav, wav.frames() - 4410, 4410, tones()) == 300;
            })) << recorder.story().toStdString();
        }
        // (The next song may be cached too: it is fetched ahead once song 0 is whole.)
        EXPECT_EQ(downloader->songsCache().objectForKey("100001").has_value(), row.cached);
        // A song that could never play is left for the next by the player itself; one
        // that broke off after playing waits for the user.
        if (row.songPlays) {
            if (player->getCurrentSongNumber() != 1) {
                player->setSongForPlay(1);
            }
        }
        ASSERT_TRUE(waitForEvents("now 1", 1)) << recorder.story().toStdString();
        ASSERT_TRUE(waitUntil([&] {
            const WavData wav = readWav(wavPath());
            return wav.frames() > 4410 &&
                   dominantTone(wav, wav.frames() - 4410, 4410, tones()) == 400;
        })) << recorder.story().toStdString();
    }
}

TEST_F(PlaybackFaults, ASecondStartCancelsTheRunningTransfer) {
    // Song 0 crawls; choosing it again before it plays and then song 1 never mixes bytes.
    player->setListOnScreenWithArray(songs({{0, "rate=500"}}));
    player->setSongForPlay(0);
    ASSERT_TRUE(waitUntil([&] { return requestsFor(0) == 1; }));
    player->playPause(); // no audio player yet: starts the download again
    ASSERT_TRUE(waitUntil([&] { return requestsFor(0) == 2; }));
    player->setSongForPlay(1);
    ASSERT_TRUE(waitForEvents("now 1", 1));
    ASSERT_TRUE(waitUntil([&] { return downloader->isSongCompletelyDownloaded(); }));
    // The buffer holds song 1 exactly as the service has it.
    int status = 0;
    const QByteArray original = service->httpGet("/audio/100002.mp3", &status);
    ASSERT_EQ(status, 200);
    EXPECT_EQ(downloader->getSongData()->bytes, original);
    // A position beyond the play list does nothing.
    player->stop();
    LogCapture log;
    const int before = int(service->requestTargets("/audio/").size());
    player->setSongForPlay(17);
    spin(300);
    EXPECT_EQ(int(service->requestTargets("/audio/").size()), before);
    EXPECT_FALSE(player->isPlaying());
}

TEST_F(PlaybackFaults, AListOfSongsThatCannotPlayIsWalkedOnceAndThenStops) {
    std::map<int, QString> broken;
    for (int i = 0; i < kSongs; ++i) {
        broken[i] = QStringLiteral("status=404");
    }
    LogCapture log;
    player->setListOnScreenWithArray(songs(broken));
    player->setListOnScreenAsCurrentPlaylist();
    player->setSongForPlay(1);
    // Each song is tried once, from the chosen one round to the one before it.
    ASSERT_TRUE(waitUntil([&] { return requestsFor(0) == 1; })) << recorder.story().toStdString();
    spin(1500); // time enough for a further round, which must not come
    for (int i = 0; i < kSongs; ++i) {
        EXPECT_EQ(requestsFor(i), 1) << "song " << i;
    }
    EXPECT_EQ(player->getCurrentSongNumber(), 0u);
    EXPECT_FALSE(player->isPlaying());
}
