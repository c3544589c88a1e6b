// Quitting while a song plays on a real sound server: sondrel-play, its sound going to a
// private PulseAudio server, gets "q" at several moments of playback and must exit with
// status 0 every time (no crash, no abort, no hang). Skips when no PulseAudio server
// can be started here.

#include "PlaybackTestSupport.h"
#include "PulseServer.h"
#include "common/StandInService.h"

#include <QJsonDocument>
#include <QProcess>
#include <gtest/gtest.h>

using namespace sondrel::test;

namespace {

TEST(PulseExitTest, QuittingWhilePlayingExitsCleanly) {
    PulseServer pulse;
    QString why;
    if (!pulse.start(&why)) {
        GTEST_SKIP() << why.toStdString();
    }
    StandInService service({"--demo-count", "1", "--demo-seconds", "30"});
    ASSERT_TRUE(service.isReady()) << service.errorString().toStdString();
    const QString list = pulse.path("list.json");
    QFile f(list);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(QJsonDocument(service.library()).toJson());
    f.close();

    // Right after the stream opened, while the first samples play, after a pause and a
    // resume (the stream corked and uncorked), and well into the song.
    struct Case {
        int quitAfterMs;
        bool pauseFirst;
    };
    for (const Case c : {Case{0, false}, Case{300, false}, Case{300, true}, Case{1500, false}}) {
        SCOPED_TRACE(testing::Message() << "quit after " << c.quitAfterMs << " ms"
                                        << (c.pauseFirst ? ", paused and resumed" : ""));
        QProcess play;
        play.start(qEnvironmentVariable("SONDREL_BINARY_DIR") + "/tools/sondrel-play/sondrel-play",
                   {"--list", list, "--autoplay", "--output", "pulse"});
        ASSERT_TRUE(play.waitForStarted(10000)) << play.errorString().toStdString();
        QByteArray out;
        const auto saw = [&](const QByteArray& line) {
            return waitUntil([&] {
                out += play.readAllStandardOutput();
                return out.contains("\n" + line + "\n") || out.startsWith(line + "\n");
            });
        };
        ASSERT_TRUE(saw("playing")) << play.readAllStandardError().toStdString();
        if (c.pauseFirst) {
            play.write("p\n");
            ASSERT_TRUE(saw("paused"));
            play.write("p\n");
            out.clear();
            ASSERT_TRUE(saw("playing"));
        }
        spin(c.quitAfterMs);
        play.write("q\n");
        ASSERT_TRUE(play.waitForFinished(30000)) << "no exit within 30 s of the quit";
        const QString errors = QString::fromUtf8(play.readAllStandardError());
        EXPECT_EQ(play.exitStatus(), QProcess::NormalExit) << errors.toStdString();
        EXPECT_EQ(play.exitCode(), 0) << errors.toStdString();
        EXPECT_FALSE(errors.contains("Audio output failed")) << errors.toStdString();
    }
}

} // namespace
