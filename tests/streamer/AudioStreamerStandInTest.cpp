// The streamer against the project's stand-in service: its LAME demo songs over HTTP and
// HTTPS (its own certificate configured, verification on), its large-ID3 and fault
// parameters, and its record of Range requests.

#include "StreamerTestSupport.h"
#include "common/StandInService.h"
#include "platform/ServiceConfig.h"

#include <QJsonArray>
#include <QJsonObject>

namespace sondrel::test {
namespace {

using Streamer = AudioStreamer;

// Demo song i sounds at 300 + 100 i Hz.
const std::vector<double> kDemoTones{300, 400, 500};

class AudioStreamerStandIn : public StreamerFixture {
protected:
    void SetUp() override {
        StreamerFixture::SetUp();
        ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    }
    StandInService service{{QStringLiteral("--demo-count"), QStringLiteral("3"),
                            QStringLiteral("--demo-seconds"), QStringLiteral("3")}};
};

TEST_F(AudioStreamerStandIn, DemoSongsPlayOverHttpAndFaultsEndInTheirCodes) {
    struct Row {
        const char* query;
        int errorCode;
    };
    const Row rows[] = {
        {"", Streamer::AS_NO_ERROR},
        {"id3pad=300000", Streamer::AS_NO_ERROR},
        {"chunked=1", Streamer::AS_NO_ERROR},
        {"rate=64000", Streamer::AS_NO_ERROR},
        {"fault=stall&after=20000&seconds=2", Streamer::AS_NO_ERROR},
        {"fault=drop&after=20000", Streamer::AS_AUDIO_DATA_NOT_FOUND},
        {"fault=drop&after=0", Streamer::AS_AUDIO_DATA_NOT_FOUND},
        {"status=404", Streamer::AS_AUDIO_DATA_NOT_FOUND},
        {"status=500", Streamer::AS_AUDIO_DATA_NOT_FOUND},
        {"fault=garbage", Streamer::AS_AUDIO_DATA_NOT_FOUND},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.query);
        const int index = created;
        auto streamer = makeStreamer(service.songUrl(1, QString::fromLatin1(row.query)));
        ASSERT_TRUE(playToEnd(*streamer));
        EXPECT_EQ(streamer->errorCode(), row.errorCode);
        if (row.errorCode == Streamer::AS_NO_ERROR) {
            const WavData out = heard(index);
            EXPECT_NEAR(secondsOf(out), 3.0, 0.15);
            EXPECT_EQ(tonesHeard(out, 0.2, kDemoTones), std::vector<double>{400});
        }
    }
}

TEST_F(AudioStreamerStandIn, HttpsNeedsTheServiceCertificateAndSeeksWithARange) {
    const QString url = service.apiOrigin() + QStringLiteral("/audio/100003.mp3");
    auto refused = makeStreamer(url);
    ASSERT_TRUE(playToEnd(*refused));
    EXPECT_EQ(refused->errorCode(), Streamer::AS_AUDIO_DATA_NOT_FOUND);

    setServiceConfig(service.config());
    const int index = created;
    auto streamer = makeStreamer(url);
    streamer->start();
    ASSERT_TRUE(waitUntil([&] { return streamer->isPlaying() && streamer->progress() > 0.3; }));
    streamer->seekToTime(2.0);
    ASSERT_TRUE(waitUntil([&] { return streamer->isIdle(); }));
    EXPECT_EQ(streamer->errorCode(), Streamer::AS_NO_ERROR);
    EXPECT_LT(secondsOf(heard(index)), 2.5);
    EXPECT_EQ(tonesHeard(heard(index), 0.2, kDemoTones), std::vector<double>{500});

    int ranged = 0;
    for (const QJsonValue& request : service.requests()) {
        const QJsonObject r = request.toObject();
        EXPECT_EQ(r.value(QStringLiteral("accept_encoding")).toString(),
                  QStringLiteral("identity"));
        if (r.value(QStringLiteral("path")).toString() == QStringLiteral("/audio/100003.mp3") &&
            r.value(QStringLiteral("range")).toString().startsWith(QStringLiteral("bytes="))) {
            ++ranged;
        }
    }
    EXPECT_EQ(ranged, 1);
}

} // namespace
} // namespace sondrel::test
