// sondrel-stream URL: plays one HTTP(S) audio address in a terminal while it downloads.
// Commands on standard input: "p" pauses or resumes, "seek SECONDS" jumps, "q" quits.
// Prints every state change, then the bit rate, duration and progress as they change.
// The sound goes where SONDREL_AUDIO_OUTPUT says (the desktop's device by default).

#include "platform/Log.h"
#include "platform/QuitOnSignals.h"
#include "platform/ServiceConfig.h"
#include "streamer/AudioStreamer.h"

#include <QCoreApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <cstdio>
#include <unistd.h>

using sondrel::AudioStreamer;

namespace {

const char* stateName(int state) {
    static const char* const names[] = {"idle",
                                        "starting thread",
                                        "waiting for data",
                                        "flushing end of file",
                                        "waiting for queue to start",
                                        "playing",
                                        "buffering",
                                        "stopping",
                                        "stopped",
                                        "paused"};
    return state >= 0 && state < int(std::size(names)) ? names[state] : "unknown";
}

void say(const QString& text) {
    std::fprintf(stdout, "%s\n", text.toLocal8Bit().constData());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    sondrel::quitOnTerminationSignals(); // as "q"
    const QStringList args = app.arguments();
    QString address;
    for (qsizetype i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--version")) {
            say(QStringLiteral("sondrel-stream " SONDREL_VERSION));
            return 0;
        }
        if (args[i].startsWith(QLatin1String("--"))) {
            if (!args[i].contains(QLatin1Char('='))) {
                ++i; // the option's value
            }
            continue;
        }
        address = args[i];
    }
    if (address.isEmpty()) {
        std::fprintf(stderr, "usage: sondrel-stream [--ca-cert PEM] URL | --version\n"
                             "commands: p (pause/resume), seek SECONDS, q (quit)\n");
        return 2;
    }
    const sondrel::ServiceConfig config = sondrel::loadServiceConfig(args);
    sondrel::setServiceConfig(config);
    if (!config.caCertificate.isEmpty()) {
        sondrel::trustExtraCertificate(config.caCertificate);
    }

    AudioStreamer streamer(QUrl::fromUserInput(address));
    bool started = false;
    int shown = -1;
    QObject::connect(&streamer, &AudioStreamer::notification, &app, [&](const QString&) {
        // Each notification reads the state as it is now; quick changes can show as one.
        const int state = streamer.state();
        if (state != shown) {
            shown = state;
            say(QStringLiteral("state: %1").arg(QLatin1String(stateName(state))));
        }
        if (state != AudioStreamer::Idle) {
            started = true;
        } else if (started) {
            if (streamer.errorCode() != AudioStreamer::AS_NO_ERROR) {
                say(QStringLiteral("error %1: %2")
                        .arg(streamer.errorCode())
                        .arg(AudioStreamer::stringForErrorCode(streamer.errorCode())));
            }
            app.exit(streamer.errorCode() == AudioStreamer::AS_NO_ERROR ? 0 : 1);
        }
    });

    QString lastReport;
    QTimer report;
    QObject::connect(&report, &QTimer::timeout, &app, [&] {
        const QString line = QStringLiteral("bit rate: %1 bps  duration: %2 s  progress: %3 s")
                                 .arg(streamer.calculatedBitRate())
                                 .arg(streamer.duration(), 0, 'f', 1)
                                 .arg(streamer.progress(), 0, 'f', 1);
        if (line != lastReport) {
            lastReport = line;
            say(line);
        }
    });
    report.start(500);

    QSocketNotifier input(STDIN_FILENO, QSocketNotifier::Read);
    QByteArray pending;
    QObject::connect(&input, &QSocketNotifier::activated, &app, [&] {
        char chunk[256];
        const ssize_t got = ::read(STDIN_FILENO, chunk, sizeof chunk);
        if (got <= 0) {
            input.setEnabled(false); // no more commands; play on
            return;
        }
        pending.append(chunk, got);
        qsizetype end = 0;
        while ((end = pending.indexOf('\n')) >= 0) {
            const QString line = QString::fromLocal8Bit(pending.left(end)).trimmed();
            pending.remove(0, end + 1);
            if (line == QLatin1String("p")) {
                streamer.pause();
            } else if (line.startsWith(QLatin1String("seek "))) {
                bool ok = false;
                const double seconds = line.mid(5).trimmed().toDouble(&ok);
                if (ok) {
                    streamer.seekToTime(seconds);
                } else {
                    say(QStringLiteral("seek needs a number of seconds"));
                }
            } else if (line == QLatin1String("q")) {
                streamer.stop();
                app.exit(0);
            } else if (!line.isEmpty()) {
                say(QStringLiteral("commands: p, seek SECONDS, q"));
            }
        }
    });

    QTimer::singleShot(0, &app, [&] { streamer.start(); });
    const int status = app.exec();
    streamer.stop();
    return status;
}
