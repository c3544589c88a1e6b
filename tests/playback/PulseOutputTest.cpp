// The real sound output: our PulseAudio client on a private server with a null sink, whose
// monitor is recorded with parec; the tone played must be in the recording. Skips when
// no PulseAudio server can be started here. Built a second time as
// pulse_no_device_test, where the server address leads nowhere: the player must log and
// stay stopped, without crash or hang.

#include "PlaybackTestSupport.h"
#include "PulseServer.h"
#include "ToneSongs.h"
#include "platform/AudioPlayer.h"
#include "platform/Log.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace sondrel;
using namespace sondrel::test;

namespace {

struct FinishFlag : AudioPlayerDelegate {
    bool finished = false;
    void audioPlayerDidFinishPlaying(AudioPlayer*, bool) override { finished = true; }
};

std::shared_ptr<AudioData> songData(double hz, double seconds) {
    auto d = std::make_shared<AudioData>();
    d->bytes = makeToneMp3({.hz = hz, .seconds = seconds});
    d->expectedLength = d->bytes.size();
    return d;
}

#ifndef SONDREL_NO_DEVICE_TEST

TEST(PulseOutputTest, TheToneReachesTheSoundServer) {
    PulseServer pulse;
    QString why;
    if (!pulse.start(&why)) {
        GTEST_SKIP() << why.toStdString();
    }
    QProcess recorder;
    const QString recording = pulse.path("out.wav");
    recorder.start(
        "parec", {"--latency-msec=20", "-d", "test_sink.monitor", "--file-format=wav", recording});
    ASSERT_TRUE(recorder.waitForStarted(10000));
    ASSERT_TRUE(waitUntil([&] { return QFile(recording).size() > 44; }, 20000));

    LogCapture log;
    AudioPlayer player;
    FinishFlag flag;
    player.setDelegate(&flag);
    ASSERT_TRUE(player.initWithData(songData(880, 2.0), nullptr, "pulse"));
    ASSERT_TRUE(player.play()) << log.lines().join('\n').toStdString();
    ASSERT_TRUE(waitUntil([&] { return flag.finished; }, 60000))
        << log.lines().join('\n').toStdString();
    EXPECT_NEAR(player.currentTime(), 2.0, 0.05);
    spin(500);
    recorder.terminate();
    recorder.waitForFinished(10000);

    const WavData wav = readWav(recording);
    ASSERT_GT(wav.frames(), 0);
    auto runs = toneRuns(wav, {440, 660, 880, 1320});
    double heard880 = 0;
    for (const ToneRun& r : runs) {
        EXPECT_TRUE(r.hz == 0 || r.hz == 880) << describe(runs).toStdString();
        heard880 += r.hz == 880 ? r.seconds : 0;
    }
    // The server's blocks may cut the edges; most of the song must be there.
    EXPECT_GT(heard880, 1.5) << describe(runs).toStdString();
}

// The volume reaches the server's stream, when it opens and while it plays (linear
// levels, shown by the server on its cubic scale: 0.125 is 50 %, 0.5 is 79 %).
TEST(PulseOutputTest, TheVolumeIsTheStreamsVolumeOnTheServer) {
    PulseServer pulse;
    QString why;
    if (!pulse.start(&why)) {
        GTEST_SKIP() << why.toStdString();
    }
    const auto serverShows = [](int percent) {
        return waitUntil([&] {
            QProcess pactl;
            pactl.start("pactl", {"list", "sink-inputs"});
            pactl.waitForFinished(10000);
            return QString::fromUtf8(pactl.readAllStandardOutput())
                .contains(QStringLiteral("%1%").arg(percent, 3));
        });
    };
    AudioPlayer player;
    ASSERT_TRUE(player.initWithData(songData(440, 30.0), nullptr, "pulse"));
    player.setVolume(0.125f);
    ASSERT_TRUE(player.play());
    EXPECT_TRUE(serverShows(50));
    player.setVolume(0.5f);
    EXPECT_TRUE(serverShows(79));
    player.stop();
}

#else

TEST(PulseNoDeviceTest, PlayingWithoutASoundServerLogsAndStaysStopped) {
    LogCapture log;
    AudioPlayer player;
    ASSERT_TRUE(player.initWithData(songData(440, 1.0), nullptr, "pulse"));
    EXPECT_FALSE(player.play());
    EXPECT_FALSE(player.isPlaying());
    spin(200);
    EXPECT_EQ(player.currentTime(), 0.0);
    bool logged = false;
    for (const QString& line : log.lines()) {
        logged |= line.startsWith("Audio output failed: ");
    }
    EXPECT_TRUE(logged) << log.lines().join('\n').toStdString();
}

// The sound module is loaded by the first output; without it the player says why and
// stays stopped. (In a child process: a module is loaded once per process.)
TEST(PulseNoDeviceTest, WithoutTheSoundModuleTheOutputFailsWithTheReason) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            qputenv("SONDREL_MODULE_DIR", "/nonexistent");
            AudioPlayer player;
            const bool loaded = player.initWithData(songData(440, 1.0), nullptr, "pulse");
            const bool played = player.play();
            std::exit(loaded && !played && !player.isPlaying() ? 0 : 1);
        },
        ::testing::ExitedWithCode(0),
        "Audio output failed: the sound module cannot be loaded "
        "\\(/nonexistent/sondrel-pulse-output.so: ");
}

#endif

} // namespace
