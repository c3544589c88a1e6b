// sondrel-play as a user runs it: a list file, commands on stdin, events on stdout.

#include "PlaybackTestSupport.h"
#include "ToneSongs.h"
#include "common/StandInService.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace sondrel::test;

namespace {

QString playBinary() {
    return qEnvironmentVariable("SONDREL_BINARY_DIR") + "/tools/sondrel-play/sondrel-play";
}

class SondrelPlay : public ::testing::Test {
protected:
    void SetUp() override {
        service = std::make_unique<StandInService>(
            QStringList{"--demo-count", "3", "--demo-seconds", "2"});
        ASSERT_TRUE(service->isReady()) << service->errorString().toStdString();
    }
    void TearDown() override {
        if (play.state() != QProcess::NotRunning) {
            play.kill();
            play.waitForFinished(5000);
        }
    }
    void start(const QStringList& extra) {
        play.setProcessChannelMode(QProcess::SeparateChannels);
        play.start(playBinary(), extra);
        ASSERT_TRUE(play.waitForStarted(10000)) << play.errorString().toStdString();
    }
    // Collects stdout lines until one equals or starts with `prefix`.
    bool waitForLine(const QString& prefix, int timeoutMs = 30000) {
        return waitUntil(
            [&] {
                while (play.canReadLine()) {
                    lines << QString::fromUtf8(play.readLine()).trimmed();
                }
                for (int i = seen; i < lines.size(); ++i) {
                    if (lines[i].startsWith(prefix)) {
                        seen = i + 1;
                        return true;
                    }
                }
                return false;
            },
            timeoutMs);
    }
    void send(const char* command) { play.write(QByteArray(command) + '\n'); }
    // `songs` as a list file in the test's folder.
    QString writeList(const QString& name, const QJsonArray& songs) {
        const QString path = dir.filePath(name);
        QFile f(path);
        EXPECT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(QJsonDocument(songs).toJson());
        return path;
    }

    std::unique_ptr<StandInService> service;
    QTemporaryDir dir;
    QProcess play;
    QStringList lines;
    int seen = 0;
};

} // namespace

TEST_F(SondrelPlay, PlaysAListFileAndAnswersCommands) {
    // A plain array of the service's records, each kept whole.
    const QString list = writeList("list.json", service->library());
    const QString wav = dir.filePath("out.wav");
    start({"--list", list, "--autoplay", "--ticks", "--output", "wav:" + wav});
    ASSERT_TRUE(waitForLine("playing")) << lines.join('\n').toStdString();
    ASSERT_TRUE(waitForLine("now 0 ")) << lines.join('\n').toStdString();
    ASSERT_TRUE(waitForLine("tick -00:0"));
    send("row 2");
    ASSERT_TRUE(waitForLine("stopped"));
    ASSERT_TRUE(waitForLine("now 2 "));
    ASSERT_TRUE(waitForLine("highlight 2"));
    send("p");
    ASSERT_TRUE(waitForLine("paused"));
    send("volume 50");
    send("p");
    ASSERT_TRUE(waitForLine("playing"));
    // End of input does not quit: the list goes on (2 wraps to 0).
    play.closeWriteChannel();
    ASSERT_TRUE(waitForLine("now 0 ", 60000)) << lines.join('\n').toStdString();
    EXPECT_EQ(play.state(), QProcess::Running);
    play.terminate();
    play.waitForFinished(10000);
    const auto runs = toneRuns(readWav(wav), {300, 400, 500});
    std::vector<double> order;
    for (const ToneRun& r : runs) {
        if (r.hz != 0) {
            order.push_back(r.hz);
        }
    }
    ASSERT_GE(order.size(), 2u) << describe(runs).toStdString();
    EXPECT_EQ(order[0], 300);
    EXPECT_EQ(order[1], 500);
}

TEST_F(SondrelPlay, FetchesTheOwnListFromTheServiceAndQuitsOnQ) {
    // The token comes on the first line of the input, out of the process list; the
    // commands follow it.
    start({"--api", service->apiOrigin(), "--token-file", "-", "--ca-cert",
           service->certificatePath(), "--output", "null"});
    send("demo-token");
    send("n");
    ASSERT_TRUE(waitForLine("now 1 ")) << lines.join('\n').toStdString();
    send("b");
    ASSERT_TRUE(waitForLine("now 0 "));
    send("q");
    ASSERT_TRUE(play.waitForFinished(20000));
    EXPECT_EQ(play.exitCode(), 0);
    EXPECT_EQ(service->requestTargets("/method/audio.get").size(), 1);
}

TEST_F(SondrelPlay, SaysWhenItWaitsForBytes) {
    // The first song arrives slower than it plays (16,000 bytes per second of sound).
    QJsonArray songs = service->library();
    QJsonObject first = songs[0].toObject();
    first["url"] = first["url"].toString() + "?rate=10000";
    songs[0] = first;
    const QString list = writeList("slow.json", songs);
    start({"--list", list, "--autoplay", "--output", "null"});
    ASSERT_TRUE(waitForLine("now 0 ")) << lines.join('\n').toStdString();
    ASSERT_TRUE(waitForLine("buffering")) << lines.join('\n').toStdString();
    ASSERT_TRUE(waitForLine("playing")) << lines.join('\n').toStdString();
    ASSERT_TRUE(waitForLine("now 1 ", 60000)) << lines.join('\n').toStdString();
}

TEST_F(SondrelPlay, BadArgumentsAreRefusedWithAReason) {
    const struct {
        QStringList args;
        int code;
        const char* says;
    } rows[] = {
        {{"--help"}, 0, "Commands on stdin"},
        {{}, 2, "give either --list"},
        {{"--list", "/nonexistent.json"}, 2, "cannot read"},
        {{"--list", playBinary()}, 2, "no song list"},
        {{"--list", "x", "--volume", "101"}, 2, "--volume"},
        {{"--api", "https://127.0.0.1:1"}, 2, "needs either --token or --token-file"},
        {{"--api", "https://127.0.0.1:1", "--token-file", "/nonexistent"},
         2,
         "cannot read the token file"},
        {{"--api", "https://127.0.0.1:1", "--token-file", "/dev/null"}, 2, "holds no token"},
        {{"--api", "http://192.0.2.1:1", "--token", "t"}, 2, "sent only over HTTPS"},
    };
    for (const auto& row : rows) {
        QProcess p;
        p.start(playBinary(), row.args);
        ASSERT_TRUE(p.waitForFinished(20000));
        EXPECT_EQ(p.exitCode(), row.code) << row.args.join(' ').toStdString();
        const QString all = QString::fromUtf8(p.readAllStandardOutput() + p.readAllStandardError());
        EXPECT_TRUE(all.contains(row.says)) << all.toStdString();
    }
}

TEST_F(SondrelPlay, ResumeGoesOnWhereTheLastRunLeftOff) {
    const QString list = writeList("list.json", service->library());
    const QString place = dir.filePath("place.json");
    const auto writePlace = [&](int row, int length, double seconds) {
        QFile p(place);
        ASSERT_TRUE(p.open(QIODevice::WriteOnly | QIODevice::Truncate));
        p.write(QJsonDocument(QJsonObject{{"search", ""},
                                          {"song", QString::number(100001 + row)},
                                          {"row", row},
                                          {"length", length},
                                          {"seconds", seconds}})
                    .toJson());
    };
    const auto storedRow = [&] {
        QFile p(place);
        return p.open(QIODevice::ReadOnly) ? QJsonDocument::fromJson(p.readAll())["row"].toInt(-1)
                                           : -1;
    };

    // A run that plays a row and quits keeps that place, also when asked to end by the
    // session (SIGTERM).
    for (const int row : {1, 2}) {
        start({"--list", list, "--output", "null", "--resume", place});
        send(row == 1 ? "row 1" : "row 2");
        ASSERT_TRUE(waitForLine(QStringLiteral("now %1 ").arg(row)))
            << lines.join('\n').toStdString();
        if (row == 1) {
            send("q");
        } else {
            play.terminate();
        }
        ASSERT_TRUE(play.waitForFinished(20000));
        EXPECT_EQ(play.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(play.exitCode(), 0);
        EXPECT_EQ(storedRow(), row);
    }

    // Left 1 s into row 2: the next run shows it without playing, and "p" plays the rest,
    // also when the song arrives slower than it plays (it waits for the bytes up to 1 s).
    QJsonArray slow = service->library();
    QJsonObject third = slow[2].toObject();
    third["url"] = third["url"].toString() + "?rate=10000";
    slow[2] = third;
    for (const QString& songs : {list, writeList("slow.json", slow)}) {
        SCOPED_TRACE(songs.toStdString());
        writePlace(2, 3, 1.0);
        const QString wav = dir.filePath("resumed.wav");
        lines.clear();
        seen = 0;
        start({"--list", songs, "--output", "wav:" + wav, "--resume", place});
        ASSERT_TRUE(waitForLine("resumed 2 -00:01")) << lines.join('\n').toStdString();
        send("p");
        ASSERT_TRUE(waitForLine("now 2 ")) << lines.join('\n').toStdString();
        ASSERT_TRUE(waitForLine("now 0 ", 60000)) << lines.join('\n').toStdString();
        send("q");
        ASSERT_TRUE(play.waitForFinished(20000));
        EXPECT_EQ(storedRow(), 0);
        const auto runs = toneRuns(readWav(wav), {300, 400, 500});
        const auto first =
            std::find_if(runs.begin(), runs.end(), [](auto& r) { return r.hz != 0; });
        ASSERT_NE(first, runs.end()) << describe(runs).toStdString();
        EXPECT_EQ(first->hz, 500);
        // The second half only.
        EXPECT_GT(first->seconds, 0.6) << describe(runs).toStdString();
        EXPECT_LT(first->seconds, 1.5) << describe(runs).toStdString();
    }

    // A place that no longer fits the list (it had four songs) is ignored.
    writePlace(2, 4, 1.0);
    lines.clear();
    seen = 0;
    start({"--list", list, "--output", "null", "--resume", place, "--autoplay"});
    ASSERT_TRUE(waitForLine("now 0 ")) << lines.join('\n').toStdString();
    EXPECT_FALSE(lines.filter("resumed").size()) << lines.join('\n').toStdString();
}
