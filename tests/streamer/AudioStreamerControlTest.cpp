// Seeking (ranged requests), pausing, stopping, TLS trust and a failing sound device,
// all against a real server and heard through the wav: output.

#include "StreamerTestSupport.h"
#include "platform/AudioOutput.h"
#include "platform/ServiceConfig.h"
#include "streamer/StreamHeaders.h"

#include <QCoreApplication>
#include <QElapsedTimer>

namespace sondrel::test {
namespace {

using Streamer = AudioStreamer;

constexpr int kRate = 44100;
constexpr int kFrameBytes = 4;

class AudioStreamerControl : public StreamerFixture {
protected:
    // Waits until the streamer has played a little, noting the largest progress seen.
    bool waitPlayed(AudioStreamer& s, double seconds) {
        return waitUntil([&] { return s.isPlaying() && s.progress() > seconds; });
    }
    void pauseMainLoop(int ms) {
        QElapsedTimer t;
        t.start();
        waitUntil([&] { return t.elapsed() >= ms; });
    }
};

std::vector<std::int16_t> lastSeconds(const std::vector<std::int16_t>& samples, double seconds) {
    const auto n = std::size_t(seconds * kRate * 2);
    return {samples.end() - std::ptrdiff_t(std::min(n, samples.size())), samples.end()};
}

TEST_F(AudioStreamerControl, SeekInTheMiddleAsksForARangeAndResumesWithTheRightTone) {
    const auto pcm = tonePcm({{440, 2}, {880, 2}});
    const QByteArray wav = makeWav(pcm, kRate, 2);
    const QByteArray mp3 = encodeMp3(pcm, kRate, 2, false);
    const QByteArray m4a = muxM4a(pcm, kRate, 2, true);
    server.serve("/tone.wav", wav);
    server.serve("/tone.mp3", mp3);
    server.serve("/tone.m4a", m4a);
    struct Row {
        const char* path;
        const char* query;
        const QByteArray& body;
    };
    for (const Row& row : {Row{"/tone.wav", "", wav}, Row{"/tone.mp3", "", mp3},
                           Row{"/tone.mp3", "norange=1", mp3}, Row{"/tone.m4a", "", m4a}}) {
        SCOPED_TRACE(std::string(row.path) + "?" + row.query);
        const std::size_t before = server.requests().size();
        const int index = created;
        auto streamer = makeStreamer(server.url(row.path, row.query));
        streamer->start();
        ASSERT_TRUE(waitPlayed(*streamer, 0.3));
        const QMap<QString, QString> firstHeaders = streamer->httpHeaders();
        streamer->seekToTime(3.0);
        double progress = 0;
        QMap<QString, QString> headersAfterSeek;
        ASSERT_TRUE(waitUntil([&] {
            progress = std::max(progress, streamer->progress());
            if (progress > 3.2 && headersAfterSeek.isEmpty()) {
                headersAfterSeek = streamer->httpHeaders();
            }
            return streamer->isIdle();
        }));
        EXPECT_EQ(streamer->errorCode(), Streamer::AS_NO_ERROR);
        EXPECT_GE(progress, 3.7);
        EXPECT_LE(progress, 4.3);
        // The headers stay those of the first, whole answer.
        const QString length = QStringLiteral("Content-Length");
        EXPECT_EQ(firstHeaders.value(length).toLongLong(), row.body.size());
        EXPECT_EQ(headersAfterSeek.value(length), firstHeaders.value(length));
        EXPECT_FALSE(headersAfterSeek.contains(QStringLiteral("Content-Range")));

        const auto requests = server.requests();
        ASSERT_EQ(requests.size(), before + 2);
        EXPECT_EQ(requests[before].range, "");
        const std::string range = requests[before + 1].range;
        ASSERT_EQ(range.rfind("bytes=", 0), 0u) << range;
        const WavData out = heard(index);
        EXPECT_EQ(tonesHeard(out), (std::vector<double>{440, 880}));
        if (std::string(row.path) == "/tone.wav") {
            // Sample-exact: the range starts at the frame of 3.0 s, the rest is heard whole.
            const std::int64_t dataOffset = wav.indexOf("data") + 8;
            EXPECT_EQ(range, "bytes=" + std::to_string(dataOffset + 3 * kRate * kFrameBytes) + "-" +
                                 std::to_string(wav.size()));
            EXPECT_EQ(lastSeconds(out.samples, 1.0), lastSeconds(pcm, 1.0));
        } else {
            const double start = std::stod(range.substr(6));
            EXPECT_NEAR(start / double(row.body.size()), 0.75, 0.03);
            EXPECT_LT(secondsOf(out), 3.0); // a second was skipped
        }
    }
}

TEST_F(AudioStreamerControl, SeekNearTheEndStartsTwoBufferSizesBeforeIt) {
    const QByteArray mp3 = encodeMp3(tonePcm({{440, 4}}), kRate, 2, false);
    server.serve("/tone.mp3", mp3);
    const auto header = readMpegFrameHeader(reinterpret_cast<const std::uint8_t*>(mp3.data()), 4);
    ASSERT_TRUE(header);
    auto streamer = makeStreamer(server.url("/tone.mp3"));
    streamer->start();
    ASSERT_TRUE(waitPlayed(*streamer, 0.3));
    EXPECT_NEAR(streamer->calculatedBitRate(), 128000, 2000);
    EXPECT_NEAR(streamer->duration(), 4.0, 0.1);
    streamer->seekToTime(3.999);
    ASSERT_TRUE(waitUntil([&] { return streamer->isIdle(); }));
    EXPECT_EQ(streamer->errorCode(), Streamer::AS_NO_ERROR);
    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 2u);
    const std::int64_t start = std::stoll(requests[1].range.substr(6));
    EXPECT_EQ(start, mp3.size() - 2 * std::int64_t(header->maxFrameSize));
}

TEST_F(AudioStreamerControl, SeekBeforeTheBitRateIsKnownDoesNothing) {
    const auto pcm = tonePcm({{440, 1}});
    server.serve("/tone.wav", makeWav(pcm, kRate, 2));
    // No byte comes for three seconds, so the seek is served while nothing is known.
    auto streamer = makeStreamer(server.url("/tone.wav", "fault=stall&after=0&seconds=3"));
    streamer->start();
    streamer->seekToTime(0.5);
    ASSERT_TRUE(waitUntil([&] { return streamer->isIdle(); }));
    EXPECT_EQ(streamer->errorCode(), Streamer::AS_NO_ERROR);
    ASSERT_EQ(server.requests().size(), 1u);
    EXPECT_EQ(server.requests()[0].range, "");
    EXPECT_EQ(heard().samples, pcm);
}

TEST_F(AudioStreamerControl, PauseHoldsTheSoundAndResumeLosesNothing) {
    const auto pcm = tonePcm({{440, 2}});
    server.serve("/tone.wav", makeWav(pcm, kRate, 2));
    auto streamer = makeStreamer(server.url("/tone.wav"));
    streamer->start();
    ASSERT_TRUE(waitPlayed(*streamer, 0.3));
    streamer->pause();
    EXPECT_TRUE(streamer->isPaused());
    pauseMainLoop(200);
    const double held = streamer->progress();
    const std::int64_t heardBefore = heard().frames();
    pauseMainLoop(400);
    EXPECT_EQ(streamer->progress(), held);
    EXPECT_EQ(heard().frames(), heardBefore);
    streamer->start(); // from paused, start resumes
    EXPECT_TRUE(streamer->isPlaying());
    ASSERT_TRUE(waitUntil([&] { return streamer->isIdle(); }));
    EXPECT_EQ(streamer->errorCode(), Streamer::AS_NO_ERROR);
    EXPECT_EQ(heard().samples, pcm);
}

TEST_F(AudioStreamerControl, TheEndOfTheBodyWhilePausedWaitsForTheResume) {
    const QByteArray mp3 = encodeMp3(tonePcm({{440, 1.5}}), kRate, 2, false);
    server.serve("/tone.mp3", mp3);
    // The last bytes come three seconds late, while the caller has paused.
    auto streamer = makeStreamer(
        server.url("/tone.mp3", "fault=stall&seconds=3&after=" + std::to_string(mp3.size() - 200)));
    streamer->start();
    ASSERT_TRUE(waitPlayed(*streamer, 0.5));
    streamer->pause();
    ASSERT_TRUE(waitUntil([&] { return streamer->stopReason() == Streamer::StoppingEndOfFile; }));
    EXPECT_TRUE(streamer->isPaused());
    streamer->start();
    ASSERT_TRUE(waitUntil([&] { return streamer->isIdle(); }));
    EXPECT_EQ(streamer->errorCode(), Streamer::AS_NO_ERROR);
    EXPECT_NEAR(secondsOf(heard()), 1.5, 0.1);
    EXPECT_EQ(tonesHeard(heard()), std::vector<double>{440});
}

TEST_F(AudioStreamerControl, StopFromIdleReturnsAtOnceAndWhilePlayingAfterTheCleanUp) {
    server.serve("/tone.wav", makeWav(tonePcm({{440, 3}}), kRate, 2));
    auto idle = makeStreamer(server.url("/tone.wav"));
    idle->stop();
    EXPECT_TRUE(idle->isIdle());
    QCoreApplication::processEvents();
    EXPECT_EQ(notifications, 0);

    auto playing = makeStreamer(server.url("/tone.wav"));
    playing->start();
    ASSERT_TRUE(waitPlayed(*playing, 0.2));
    playing->stop();
    EXPECT_TRUE(playing->isIdle());
    EXPECT_EQ(playing->stopReason(), Streamer::StoppingUserAction);
    EXPECT_EQ(playing->errorCode(), Streamer::AS_NO_ERROR);
    EXPECT_TRUE(playing->httpHeaders().isEmpty());
    EXPECT_LT(secondsOf(heard(1)), 2.0);

    // A streamer destroyed while playing stops and joins its threads.
    auto dropped = makeStreamer(server.url("/tone.wav"));
    dropped->start();
    ASSERT_TRUE(waitPlayed(*dropped, 0.1));
    dropped.reset();
}

TEST_F(AudioStreamerControl, HttpsTrustsOnlyTheSystemRootsAndTheConfiguredCertificate) {
    QString certificate;
    QString key;
    ASSERT_TRUE(makeSelfSignedCertificate(dir.path(), &certificate, &key));
    StreamTestServer tls(certificate, key);
    ASSERT_TRUE(tls.isRunning());
    const auto pcm = tonePcm({{440, 0.5}});
    tls.serve("/tone.wav", makeWav(pcm, kRate, 2));

    auto untrusted = makeStreamer(tls.url("/tone.wav"));
    ASSERT_TRUE(playToEnd(*untrusted));
    EXPECT_EQ(untrusted->errorCode(), Streamer::AS_AUDIO_DATA_NOT_FOUND);
    EXPECT_TRUE(tls.requests().empty()); // refused during the handshake

    ServiceConfig config;
    config.caCertificate = certificate;
    setServiceConfig(config);
    auto trusted = makeStreamer(tls.url("/tone.wav"));
    ASSERT_TRUE(playToEnd(*trusted));
    EXPECT_EQ(trusted->errorCode(), Streamer::AS_NO_ERROR);
    EXPECT_EQ(heard(1).samples, pcm);
}

// A sound device that breaks once it has been given samples.
class BreakingOutput : public AudioOutput {
public:
    bool start(const AudioFormat& format) override { return inner->start(format); }
    std::int64_t bytesFree() const override { return inner->bytesFree(); }
    std::int64_t write(const char* data, std::int64_t length) override {
        const std::int64_t n = inner->write(data, length);
        broken = broken || n > 0;
        return n;
    }
    std::int64_t playedFrames() const override { return inner->playedFrames(); }
    std::int64_t bufferedFrames() const override { return inner->bufferedFrames(); }
    void pause() override { inner->pause(); }
    void resume() override { inner->resume(); }
    void stop() override { inner->stop(); }
    void setVolume(double volume) override { inner->setVolume(volume); }
    bool failed() const override { return broken; }
    QString errorString() const override { return QStringLiteral("the device is gone"); }

private:
    std::unique_ptr<AudioOutput> inner = createAudioOutput(QStringLiteral("null"));
    bool broken = false;
};

TEST_F(AudioStreamerControl, AFailedPauseOfTheQueueStillEndsInIdle) {
    const QByteArray wav = makeWav(tonePcm({{440, 3}}), kRate, 2);
    server.serve("/tone.wav", wav);
    // Fifteen buffers and a little: the queue starts, drains, and the stream stalls.
    const qsizetype stallAt = wav.indexOf("data") + 8 + 15 * 2048 + 100;
    auto streamer = makeStreamer(
        server.url("/tone.wav", "fault=stall&seconds=5&after=" + std::to_string(stallAt)));
    streamer->setAudioOutputFactory([] { return std::make_unique<BreakingOutput>(); });
    ASSERT_TRUE(playToEnd(*streamer, 30));
    EXPECT_EQ(streamer->errorCode(), Streamer::AS_AUDIO_QUEUE_PAUSE_FAILED);
    streamer->stop(); // returns: nothing waits for ever
    EXPECT_TRUE(streamer->isIdle());
}

} // namespace
} // namespace sondrel::test
