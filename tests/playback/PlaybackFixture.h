#pragma once
// End-to-end fixture: the stand-in service on loopback with short demo songs (song i is
// a tone of 300 + 100*i Hz), a real SongDownloader and SongPlayer, and the wav output
// recording what was heard.

#include "PlaybackTestSupport.h"
#include "PlayerRecorder.h"
#include "ToneSongs.h"
#include "common/StandInService.h"
#include "platform/Log.h"
#include "playback/SongDownloader.h"
#include "playback/SongPlayer.h"

#include <QJsonArray>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace sondrel::test {

class PlaybackFixture : public ::testing::Test {
protected:
    static constexpr int kSongs = 4;
    static constexpr double kSeconds = 2.0;

    void SetUp() override {
        service = std::make_unique<StandInService>(QStringList{
            "--demo-count", QString::number(kSongs), "--demo-seconds", QString::number(kSeconds)});
        ASSERT_TRUE(service->isReady()) << service->errorString().toStdString();
        SongPlayer::resetProcessWideState();
        SongDownloader::resetProcessWideState();
        downloader = std::make_unique<SongDownloader>();
        player = std::make_unique<SongPlayer>();
        player->setDelegate(&recorder);
        player->setAudioOutputSpec("wav:" + wavPath());
    }

    void TearDown() override {
        if (player) {
            player->stop();
        }
        player.reset();
        downloader.reset();
        spin(50); // let players handed to deleteLater go
    }

    QString wavPath() const { return dir.filePath("heard.wav"); }

    // The demo songs as the service lists them; `queries` puts fault parameters on songs.
    QJsonArray songs(const std::map<int, QString>& queries = {}) const {
        QJsonArray list;
        for (int i = 0; i < kSongs; ++i) {
            QJsonObject song{
                {"aid", 100001 + i},
                {"owner_id", 1},
                {"artist", QStringLiteral("Artist %1").arg(i)},
                {"title", QStringLiteral("Tone %1").arg(300 + 100 * i)},
                {"duration", int(kSeconds)},
                {"url", service->songUrl(i, queries.count(i) ? queries.at(i) : QString())}};
            list.append(song);
        }
        return list;
    }

    static std::vector<double> tones() {
        std::vector<double> hz;
        for (int i = 0; i < kSongs; ++i) {
            hz.push_back(300 + 100 * i);
        }
        return hz;
    }

    // The tones heard so far, in order (silence left out), and each one's length.
    std::vector<ToneRun> heard() const {
        std::vector<ToneRun> runs;
        for (const ToneRun& r : toneRuns(readWav(wavPath()), tones())) {
            if (r.hz == 0) {
                continue;
            }
            if (!runs.empty() && runs.back().hz == r.hz) {
                runs.back().seconds += r.seconds;
            } else {
                runs.push_back(r);
            }
        }
        return runs;
    }
    std::vector<double> heardOrder() const {
        std::vector<double> order;
        for (const ToneRun& r : heard()) {
            order.push_back(r.hz);
        }
        return order;
    }

    // Requests the service got for demo song `index`.
    int requestsFor(int index) const {
        return int(
            service->requestTargets(QStringLiteral("/audio/%1.mp3").arg(100001 + index)).size());
    }

    // Song requests the service got that did not ask for the stored bytes unencoded.
    int encodedSongRequests() const {
        int encoded = 0;
        for (const QJsonValue& v : service->requests()) {
            const QJsonObject r = v.toObject();
            encoded += r.value(QStringLiteral("path")).toString().startsWith(u"/audio/") &&
                       r.value(QStringLiteral("accept_encoding")).toString() != u"identity";
        }
        return encoded;
    }

    // Runs the loop until the recorder has `n` events `event`.
    bool waitForEvents(const QString& event, int n, int timeoutMs = 60000) {
        return waitUntil([&] { return recorder.count(event) >= n; }, timeoutMs);
    }

    QTemporaryDir dir;
    std::unique_ptr<StandInService> service;
    std::unique_ptr<SongDownloader> downloader;
    std::unique_ptr<SongPlayer> player;
    PlayerRecorder recorder;
};

} // namespace sondrel::test
