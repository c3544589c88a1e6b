// The streamer plays whole files of every format from a real server through the wav:
// output, and fails cleanly (code, alert, back to idle) when the stream gives no audio.

#include "StreamerTestSupport.h"
#include "platform/Log.h"

namespace sondrel::test {
namespace {

using Streamer = AudioStreamer;

class AudioStreamerPlay : public StreamerFixture {};

TEST_F(AudioStreamerPlay, EveryFormatPlaysToTheEndWithItsTone) {
    const auto pcm = tonePcm({{440, 1.5}});
    const QByteArray wav = makeWav(pcm, 44100, 2);
    struct Row {
        const char* path;
        QByteArray body;
        bool exactPcm;            // every sample heard as it was made
        std::uint32_t pcmBitRate; // 0: compressed
    };
    const Row rows[] = {
        {"/cbr.mp3", encodeMp3(pcm, 44100, 2, false), false, 0},
        {"/vbr.mp3", encodeMp3(pcm, 44100, 2, true), false, 0},
        {"/tagged.mp3", id3Tag(400000) + encodeMp3(pcm, 44100, 2, false), false, 0},
        {"/tone.aac", encodeAdts(pcm, 44100, 2), false, 0},
        {"/tone.wav", wav, true, 1411200},
        {"/tone.aiff", makeAiff(pcm, 44100, 2), true, 1411200},
        {"/tone.aifc", makeAiff(pcm, 44100, 2, true), true, 1411200},
        {"/tone.m4a", muxM4a(pcm, 44100, 2, true), false, 0},
        {"/mp3.mp4", muxMp3InMp4(pcm, 44100, 2), false, 0},
        // 24-bit frames: the parser hands on batches that do not divide the buffer size.
        {"/tone.caf", muxCaf(pcm, 44100, 2, CafCodec::Pcm24BigEndian), true, 2116800},
        {"/alac.caf", cafWithTableFirst(muxCaf(pcm, 44100, 2, CafCodec::Alac)), true, 0},
        // Not in the hint list: parsed with the 'adts' hint.
        {"/stream.bin", encodeAdts(pcm, 44100, 2), false, 0},
        // The content decides when it plainly is MP3 or ADTS.
        {"/mp3.m4a", encodeMp3(pcm, 44100, 2, false), false, 0},
        {"/adts.caf", encodeAdts(pcm, 44100, 2), false, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.path);
        server.serve(row.path, row.body);
        const int index = created;
        auto streamer = makeStreamer(server.url(row.path));
        double bitRate = 0;
        double duration = 0;
        streamer->start();
        ASSERT_TRUE(waitUntil([&] {
            if (streamer->duration() > 0) {
                bitRate = streamer->calculatedBitRate();
                duration = streamer->duration();
            }
            return streamer->isIdle();
        }));
        EXPECT_EQ(streamer->errorCode(), Streamer::AS_NO_ERROR);
        EXPECT_EQ(streamer->stopReason(), Streamer::StoppingEndOfFile);
        const WavData out = heard(index);
        ASSERT_EQ(out.sampleRate, 44100);
        if (row.pcmBitRate) {
            EXPECT_EQ(bitRate, row.pcmBitRate);
        }
        if (row.exactPcm) {
            EXPECT_EQ(out.samples, pcm); // every sample, none lost or doubled
        } else {
            // Decoders add their priming and padding, never lose the tone.
            EXPECT_GE(secondsOf(out), 1.45);
            EXPECT_LE(secondsOf(out), 1.65);
        }
        EXPECT_EQ(tonesHeard(out), std::vector<double>{440});
        EXPECT_NEAR(duration, 1.5, 0.25);
        EXPECT_TRUE(alerts.isEmpty()) << alerts.join(QLatin1Char(',')).toStdString();
    }
    EXPECT_EQ(AudioStreamer(QUrl(server.url("/stream.bin"))).fileExtension(), QString());
}

TEST_F(AudioStreamerPlay, AnnouncesEveryStateOnTheMainLoopFromStartToIdle) {
    server.serve("/tone.wav", makeWav(tonePcm({{440, 0.5}}), 44100, 2));
    auto streamer = makeStreamer(server.url("/tone.wav"));
    ASSERT_TRUE(playToEnd(*streamer));
    EXPECT_GE(notifications, 6);
    ASSERT_FALSE(statesSeen.empty());
    EXPECT_EQ(statesSeen.back(), Streamer::Idle);
    EXPECT_NE(std::find(statesSeen.begin(), statesSeen.end(), int(Streamer::Playing)),
              statesSeen.end());
    EXPECT_EQ(streamer->fileExtension(), QStringLiteral("wav"));
}

TEST_F(AudioStreamerPlay, BodiesShorterThanOneBufferStillPlay) {
    const auto pcm = tonePcm({{440, 0.01}}); // 1764 bytes of samples
    server.serve("/short.wav", makeWav(pcm, 44100, 2));
    server.serve("/short.mp3", encodeMp3(tonePcm({{440, 0.05}}), 44100, 2, false, false));
    ASSERT_LT(makeWav(pcm, 44100, 2).size(), 2048);

    auto wav = makeStreamer(server.url("/short.wav"));
    ASSERT_TRUE(playToEnd(*wav));
    EXPECT_EQ(wav->errorCode(), Streamer::AS_NO_ERROR);
    EXPECT_EQ(heard(0).samples, pcm);

    auto mp3 = makeStreamer(server.url("/short.mp3"));
    ASSERT_TRUE(playToEnd(*mp3));
    EXPECT_EQ(mp3->errorCode(), Streamer::AS_NO_ERROR);
    EXPECT_GT(heard(1).frames(), 1000);
}

TEST_F(AudioStreamerPlay, RedirectsAndChunkedBodiesPlay) {
    const auto pcm = tonePcm({{440, 0.5}});
    server.serve("/tone.wav", makeWav(pcm, 44100, 2));
    for (const char* query : {"redirect=/tone.wav", "chunked=1"}) {
        SCOPED_TRACE(query);
        const int index = created;
        auto streamer = makeStreamer(server.url("/tone.wav", query));
        ASSERT_TRUE(playToEnd(*streamer));
        EXPECT_EQ(streamer->errorCode(), Streamer::AS_NO_ERROR);
        EXPECT_EQ(heard(index).samples, pcm);
    }
}

TEST_F(AudioStreamerPlay, NoAudioBeforeTheStreamFailsGivesCodeSevenAndAnAlert) {
    const QByteArray mp3 = encodeMp3(tonePcm({{440, 1}}), 44100, 2, false);
    server.serve("/tone.mp3", mp3);
    server.serve("/text.mp3", QByteArray(3000, 'x'));
    const QString refused = [] {
        StreamTestServer gone;
        return gone.url("/tone.mp3");
    }();
    const QString rows[] = {
        server.url("/tone.mp3", "fault=drop&after=0"),
        server.url("/tone.mp3", "fault=drop&after=300"),
        server.url("/tone.mp3", "status=404"),
        server.url("/tone.mp3", "status=500"),
        server.url("/missing.mp3"),
        server.url("/text.mp3"),
        refused,
    };
    for (const QString& url : rows) {
        SCOPED_TRACE(url.toStdString());
        alerts.clear();
        LogCapture log;
        auto streamer = makeStreamer(url);
        ASSERT_TRUE(playToEnd(*streamer));
        EXPECT_EQ(streamer->errorCode(), Streamer::AS_AUDIO_DATA_NOT_FOUND);
        EXPECT_TRUE(log.contains(QStringLiteral("No audio data found.")));
        ASSERT_TRUE(waitUntil([&] { return !alerts.isEmpty(); }, 10));
        EXPECT_EQ(alerts, QStringList{QStringLiteral(
                              "File Error|Unable to configure network read stream.")});
    }
}

TEST_F(AudioStreamerPlay, FilesThatCannotBeReadFrontToBackFailWithTheParseError) {
    const auto pcm = tonePcm({{440, 0.5}});
    server.serve("/late.m4a", muxM4a(pcm, 44100, 2, false));
    server.serve("/late.caf", muxCaf(pcm, 44100, 2, CafCodec::Alac));
    for (const char* path : {"/late.m4a", "/late.caf"}) {
        SCOPED_TRACE(path);
        alerts.clear();
        LogCapture log;
        const int index = created;
        auto streamer = makeStreamer(server.url(path));
        ASSERT_TRUE(playToEnd(*streamer));
        EXPECT_EQ(streamer->errorCode(), Streamer::AS_FILE_STREAM_PARSE_BYTES_FAILED);
        EXPECT_TRUE(log.contains(QStringLiteral("Parse bytes failed. err: optm %1")
                                     .arg(std::int32_t(kStatusNotOptimized))));
        ASSERT_TRUE(waitUntil([&] { return !alerts.isEmpty(); }, 10));
        EXPECT_EQ(heard(index).frames(), 0);
    }
}

TEST_F(AudioStreamerPlay, ADropInTheMiddleStopsWithCodeSevenAfterSomeAudio) {
    const auto pcm = tonePcm({{440, 3}});
    server.serve("/tone.wav", makeWav(pcm, 44100, 2));
    auto streamer = makeStreamer(server.url("/tone.wav", "fault=drop&after=200000"));
    ASSERT_TRUE(playToEnd(*streamer));
    EXPECT_EQ(streamer->errorCode(), Streamer::AS_AUDIO_DATA_NOT_FOUND);
    EXPECT_EQ(streamer->stopReason(), Streamer::StoppingError);
    const WavData out = heard();
    EXPECT_GT(out.frames(), 0);
    EXPECT_LT(out.frames(), std::int64_t(pcm.size() / 2));
}

TEST_F(AudioStreamerPlay, AStallShorterThanTheTimeOutBuffersAndLosesNothing) {
    const auto pcm = tonePcm({{440, 2}});
    server.serve("/tone.wav", makeWav(pcm, 44100, 2));
    auto streamer = makeStreamer(server.url("/tone.wav", "fault=stall&after=150000&seconds=2"));
    ASSERT_TRUE(playToEnd(*streamer));
    EXPECT_EQ(streamer->errorCode(), Streamer::AS_NO_ERROR);
    EXPECT_NE(std::find(statesSeen.begin(), statesSeen.end(), int(Streamer::Buffering)),
              statesSeen.end());
    EXPECT_EQ(heard().samples, pcm);
}

TEST_F(AudioStreamerPlay, AStallLongerThanTheTimeOutFails) {
    server.serve("/tone.wav", makeWav(tonePcm({{440, 2}}), 44100, 2));
    auto streamer = makeStreamer(server.url("/tone.wav", "fault=stall&after=150000&seconds=4"));
    streamer->setTransferTimeout(std::chrono::milliseconds(1000));
    ASSERT_TRUE(playToEnd(*streamer));
    EXPECT_EQ(streamer->errorCode(), Streamer::AS_AUDIO_DATA_NOT_FOUND);
}

} // namespace
} // namespace sondrel::test
