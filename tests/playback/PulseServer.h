#pragma once
// A private PulseAudio server with one null sink ("test_sink"), for the life of the test
// program: start() points this process (and the programs it starts) at it through
// PULSE_SERVER and PULSE_COOKIE. Skipping is the caller's choice when it cannot start.

#include "PlaybackTestSupport.h"

#include <QFile>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

namespace sondrel::test {

class PulseServer {
public:
    bool start(QString* why) {
        if (QStandardPaths::findExecutable("pulseaudio").isEmpty() ||
            QStandardPaths::findExecutable("parec").isEmpty()) {
            *why = "pulseaudio or parec is not installed";
            return false;
        }
        if (!dir.isValid()) {
            *why = "no temporary folder";
            return false;
        }
        const QString run = dir.path();
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", run);
        env.insert("XDG_RUNTIME_DIR", run);
        server.setProcessEnvironment(env);
        server.setProcessChannelMode(QProcess::MergedChannels);
        server.start("pulseaudio",
                     {"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit",
                      "--use-pid-file=no", "-L",
                      "module-null-sink sink_name=test_sink rate=44100 channels=2", "-L",
                      "module-native-protocol-unix socket=" + run + "/native auth-anonymous=1"});
        if (!server.waitForStarted(10000)) {
            *why = "pulseaudio did not start: " + server.errorString();
            return false;
        }
        const bool ready = waitUntil(
            [&] {
                return QFile::exists(run + "/native") || server.state() == QProcess::NotRunning;
            },
            20000);
        if (!ready || server.state() == QProcess::NotRunning) {
            *why = "pulseaudio did not come up: " + QString::fromLocal8Bit(server.readAll());
            return false;
        }
        qputenv("PULSE_SERVER", ("unix:" + run + "/native").toLocal8Bit());
        qputenv("PULSE_COOKIE", (run + "/cookie").toLocal8Bit());
        return true;
    }
    ~PulseServer() {
        if (server.state() != QProcess::NotRunning) {
            server.terminate();
            if (!server.waitForFinished(5000)) {
                server.kill();
                server.waitForFinished(5000);
            }
        }
    }
    QString path(const QString& name) const { return dir.filePath(name); }

private:
    QTemporaryDir dir;
    QProcess server;
};

} // namespace sondrel::test
