// The audio player on real MP3 bytes through the real decoder and the wav/null outputs.

#include "PlaybackTestSupport.h"
#include "ToneSongs.h"
#include "platform/AudioOutputClocked.h"
#include "platform/CustomAVAudioPlayer.h"
#include "platform/Log.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <mpg123.h>

using namespace sondrel;
using namespace sondrel::test;

namespace {

struct FinishCounter : AudioPlayerDelegate {
    int finished = 0;
    bool lastSuccess = false;
    void audioPlayerDidFinishPlaying(AudioPlayer*, bool ok) override {
        ++finished;
        lastSuccess = ok;
    }
};

std::shared_ptr<AudioData> dataOf(const QByteArray& bytes, std::int64_t expected = -1) {
    auto d = std::make_shared<AudioData>();
    d->bytes = bytes;
    d->expectedLength = expected;
    return d;
}

// The whole song decoded at once, as the reference for sample comparisons.
std::vector<std::int16_t> decodeAll(const QByteArray& mp3) {
    mpg123_handle* h = mpg123_new(nullptr, nullptr);
    mpg123_param(h, MPG123_ADD_FLAGS, MPG123_QUIET | MPG123_GAPLESS, 0.0);
    mpg123_open_feed(h);
    mpg123_feed(h, reinterpret_cast<const unsigned char*>(mp3.constData()), size_t(mp3.size()));
    std::vector<std::int16_t> out;
    unsigned char buf[16384];
    for (;;) {
        size_t done = 0;
        const int r = mpg123_read(h, buf, sizeof buf, &done);
        out.insert(out.end(), reinterpret_cast<std::int16_t*>(buf),
                   reinterpret_cast<std::int16_t*>(buf + done));
        if (r != MPG123_OK && r != MPG123_NEW_FORMAT) {
            break;
        }
    }
    mpg123_delete(h);
    return out;
}

class AudioPlayerTest : public ::testing::Test {
protected:
    QTemporaryDir dir;
    QString wavPath(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }
};

} // namespace

TEST_F(AudioPlayerTest, CreationFailsWithAnErrorOnBytesThatCannotBeDecodedYet) {
    const QByteArray song = makeToneMp3({.hz = 440, .seconds = 1});
    QByteArray garbage(20000, '\0');
    for (auto& c : garbage) {
        c = char(QRandomGenerator::global()->bounded(256) & 0x7f); // no frame sync byte
    }
    const struct {
        const char* what;
        QByteArray bytes;
    } rows[] = {
        {"nothing", QByteArray()},
        {"first 100 bytes", song.left(100)},
        {"HTML error page", QByteArray("<html><body><h1>404 Not Found</h1></body></html>")},
        {"garbage", garbage},
        {"ID3 tag not complete",
         makeToneMp3({.hz = 440, .seconds = 1, .id3PaddingBytes = 300000}).left(200000)},
    };
    for (const auto& row : rows) {
        CustomAVAudioPlayer player;
        QString error;
        EXPECT_FALSE(player.initWithData(dataOf(row.bytes), &error, "null")) << row.what;
        EXPECT_FALSE(error.isEmpty()) << row.what;
        EXPECT_FALSE(player.play()) << row.what;
    }
}

TEST_F(AudioPlayerTest, DurationIsTheWholeSongFromTheInfoHeaderOrTheExpectedLength) {
    const QByteArray tagged = makeToneMp3({.hz = 440, .seconds = 3});
    const QByteArray plain = makeToneMp3({.hz = 440, .seconds = 3, .infoTag = false});
    const QByteArray padded = makeToneMp3({.hz = 440, .seconds = 3, .id3PaddingBytes = 300000});
    const struct {
        const char* what;
        std::shared_ptr<AudioData> data;
        double expected;
        double tolerance;
    } rows[] = {
        {"Info header, 10 % present", dataOf(tagged.left(tagged.size() / 10)), 3.0, 0.001},
        {"Info header, whole", dataOf(tagged), 3.0, 0.001},
        {"expected length, 10 % present", dataOf(plain.left(plain.size() / 10), plain.size()), 3.0,
         0.1},
        {"no length known, 50 % present", dataOf(plain.left(plain.size() / 2)), 1.5, 0.1},
        {"300 KB ID3 tag", dataOf(padded, padded.size()), 3.0, 0.001},
    };
    for (const auto& row : rows) {
        AudioPlayer player;
        QString error;
        ASSERT_TRUE(player.initWithData(row.data, &error, "null"))
            << row.what << error.toStdString();
        EXPECT_NEAR(player.duration(), row.expected, row.tolerance) << row.what;
        EXPECT_EQ(player.currentTime(), 0.0) << row.what;
        EXPECT_FALSE(player.isPlaying());
    }
}

TEST_F(AudioPlayerTest, PlaysTheWholeSongIntoTheWavFileAndReportsTheEndOnce) {
    const QByteArray song = makeToneMp3({.hz = 660, .seconds = 1.5});
    CustomAVAudioPlayer player;
    FinishCounter counter;
    player.setDelegate(&counter);
    QString error;
    ASSERT_TRUE(player.initWithData(dataOf(song), &error, "wav:" + wavPath("a.wav")));
    ASSERT_TRUE(player.play());
    EXPECT_TRUE(player.isPlaying());
    ASSERT_TRUE(waitUntil([&] { return counter.finished > 0; }));
    spin(200);
    EXPECT_EQ(counter.finished, 1);
    EXPECT_TRUE(counter.lastSuccess);
    EXPECT_FALSE(player.isPlaying());
    EXPECT_NEAR(player.currentTime(), 1.5, 0.001);

    const WavData wav = readWav(wavPath("a.wav"));
    ASSERT_EQ(wav.sampleRate, 44100);
    EXPECT_EQ(wav.frames(), 66150); // every sample, no more
    const auto runs = toneRuns(wav, {440, 660, 880});
    ASSERT_EQ(runs.size(), 1u) << describe(runs).toStdString();
    EXPECT_EQ(runs[0].hz, 660);
}

TEST_F(AudioPlayerTest, FollowsTheBufferAsItGrowsAndContinuesAfterRunningDry) {
    const QByteArray song = makeToneMp3({.hz = 440, .seconds = 2});
    auto data = dataOf(song.left(song.size() / 4), song.size());
    CustomAVAudioPlayer player;
    FinishCounter counter;
    player.setDelegate(&counter);
    ASSERT_TRUE(player.initWithData(data, nullptr, "wav:" + wavPath("grow.wav")));
    ASSERT_TRUE(player.play());
    // Bytes that arrive while it plays are played without a break.
    data->bytes = song.left(song.size() / 2);
    ASSERT_TRUE(waitUntil([&] { return counter.finished > 0; }));
    const double dryAt = player.currentTime();
    EXPECT_GT(dryAt, 0.8);
    EXPECT_LT(dryAt, 1.2);
    // Ran dry; the rest arrives; play goes on from where it stopped.
    data->bytes = song;
    ASSERT_TRUE(player.play());
    EXPECT_GE(player.currentTime(), dryAt);
    ASSERT_TRUE(waitUntil([&] { return counter.finished > 1; }));
    EXPECT_NEAR(player.currentTime(), 2.0, 0.001);
    const WavData wav = readWav(wavPath("grow.wav"));
    EXPECT_EQ(wav.frames(), 88200); // nothing heard twice, nothing lost
    // Played to the end with nothing new: play starts the song again.
    ASSERT_TRUE(player.play());
    EXPECT_LT(player.currentTime(), 0.5);
    player.stop();
}

TEST_F(AudioPlayerTest, SeeksSampleExactlyAndPausesWhereTheListenerIs) {
    const QByteArray song = makeToneMp3({.hz = 523.25, .seconds = 3});
    const std::vector<std::int16_t> reference = decodeAll(song);
    ASSERT_EQ(reference.size(), 3u * 44100 * 2);
    for (double target : {1.0, 2.3456, 0.25}) {
        const QString path = wavPath(qPrintable(QStringLiteral("seek%1.wav").arg(target)));
        CustomAVAudioPlayer player;
        ASSERT_TRUE(player.initWithData(dataOf(song), nullptr, "wav:" + path));
        // Play a little first, so the decoder has moved on when the seek comes.
        ASSERT_TRUE(player.play());
        ASSERT_TRUE(waitUntil([&] { return player.currentTime() > 0.5; }));
        player.pause();
        const std::int64_t before = readWav(path).frames();
        EXPECT_EQ(std::int64_t(player.currentTime() * 44100 + 0.5), before);
        player.setCurrentTime(target);
        const std::int64_t frame = std::int64_t(target * 44100);
        EXPECT_DOUBLE_EQ(player.currentTime(), double(frame) / 44100);
        ASSERT_TRUE(player.play());
        ASSERT_TRUE(waitUntil([&] { return player.currentTime() > target + 0.2; }));
        player.pause();
        EXPECT_TRUE(player.isPaused());
        const double pausedAt = player.currentTime();
        spin(300);
        EXPECT_EQ(player.currentTime(), pausedAt);
        player.stop();
        const WavData wav = readWav(path);
        ASSERT_GE(wav.frames(), before + 4410);
        // The first samples heard are the song's own samples from the target on.
        for (std::int64_t i = 0; i < 4410 * 2; ++i) {
            ASSERT_EQ(wav.samples[before * 2 + i], reference[frame * 2 + i])
                << "target " << target << " sample " << i;
        }
    }
}

TEST_F(AudioPlayerTest, VolumeScalesWhatIsHeard) {
    const QByteArray song = makeToneMp3({.hz = 440, .seconds = 0.5});
    const std::vector<std::int16_t> reference = decodeAll(song);
    AudioPlayer player;
    ASSERT_TRUE(player.initWithData(dataOf(song), nullptr, "wav:" + wavPath("vol.wav")));
    player.setVolume(0.25f);
    FinishCounter counter;
    player.setDelegate(&counter);
    ASSERT_TRUE(player.play());
    ASSERT_TRUE(waitUntil([&] { return counter.finished > 0; }));
    const WavData wav = readWav(wavPath("vol.wav"));
    ASSERT_EQ(wav.samples.size(), reference.size());
    for (size_t i = 1000; i < 1100; ++i) {
        EXPECT_NEAR(wav.samples[i], reference[i] * 0.25, 1.0);
    }
}

TEST_F(AudioPlayerTest, AnOutputThatCannotOpenLeavesTheStoppedStateWithALogLine) {
    LogCapture log;
    AudioPlayer player;
    ASSERT_TRUE(player.initWithData(dataOf(makeToneMp3({.seconds = 1})), nullptr,
                                    "wav:/nonexistent-folder/x.wav"));
    EXPECT_FALSE(player.play());
    EXPECT_FALSE(player.isPlaying());
    bool logged = false;
    for (const QString& line : log.lines()) {
        logged |= line.startsWith("Audio output failed: ");
    }
    EXPECT_TRUE(logged) << log.lines().join('\n').toStdString();
}

// The fast clock's output buffers as much real time as the real-time one, so it holds
// `speed` times the frames; a speed it cannot take is an unknown output, said in the log.
TEST(AudioOutputChoice, TheFastClockBuffersSpeedTimesTheFrames) {
    const AudioFormat format; // 44.1 kHz stereo
    const std::int64_t realTimeBytes = std::int64_t(format.sampleRate) *
                                       ClockedAudioOutput::kBufferMs / 1000 *
                                       format.bytesPerFrame();
    struct Case {
        const char* spec;
        int speed;
        bool known;
    };
    for (const Case c :
         {Case{"null", 1, true}, Case{"null:fast", 20, true}, Case{"null:fast=5", 5, true},
          Case{"null:fast=100", 100, true}, Case{"null:fast=0", 1, false},
          Case{"null:fast=101", 1, false}, Case{"null:fast=x", 1, false}}) {
        SCOPED_TRACE(c.spec);
        LogCapture log;
        const auto output = createAudioOutput(QString::fromLatin1(c.spec));
        ASSERT_TRUE(output->start(format));
        EXPECT_EQ(output->bytesFree(), realTimeBytes * c.speed);
        EXPECT_EQ(log.lines().filter("Unknown audio output").size(), c.known ? 0 : 1);
    }
}
