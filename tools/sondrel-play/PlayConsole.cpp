#include "PlayConsole.h"

#include "playback/PlaybackResume.h"
#include "playback/SongPlayer.h"

#include <QCoreApplication>
#include <cstdio>
#include <unistd.h>

namespace sondrel {

PlayConsole::PlayConsole(SongPlayer& p, bool showTicks, float level, QObject* parent)
    : QObject(parent), player(p), ticks(showTicks), volume(level) {}

void PlayConsole::listen() {
    notifier = new QSocketNotifier(STDIN_FILENO, QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] { readInput(); });
}

void PlayConsole::readInput() {
    char chunk[4096];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n <= 0) {
        notifier->setEnabled(false); // end of input: keep playing
        if (!partial.isEmpty()) {
            command(QString::fromUtf8(std::exchange(partial, {})));
        }
        return;
    }
    partial.append(chunk, n);
    qsizetype end;
    while ((end = partial.indexOf('\n')) >= 0) {
        const QByteArray line = partial.left(end);
        partial.remove(0, end + 1);
        command(QString::fromUtf8(line));
    }
}

bool PlayConsole::command(const QString& input) {
    const QStringList words = input.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (words.isEmpty()) {
        return true;
    }
    const QString& verb = words.first();
    bool ok = words.size() == 1;
    if (verb == QLatin1String("p") && ok) {
        player.playPause();
    } else if (verb == QLatin1String("n") && ok) {
        player.next();
    } else if (verb == QLatin1String("b") && ok) {
        player.prev();
    } else if (verb == QLatin1String("shuffle") && ok) {
        player.invertShuffle();
    } else if (verb == QLatin1String("repeat") && ok) {
        player.invertRepeating();
    } else if (verb == QLatin1String("q") && ok) {
        QCoreApplication::quit();
    } else if (verb == QLatin1String("row") && words.size() == 2) {
        const qulonglong row = words[1].toULongLong(&ok);
        if (ok) {
            player.setListOnScreenAsCurrentPlaylist();
            player.setSongForPlay(row);
        }
    } else if (verb == QLatin1String("seek") && words.size() == 2) {
        const float seconds = words[1].toFloat(&ok);
        const float duration = player.getCurrentPlayingDuration();
        if (ok && duration > 0) {
            player.seekToWithMax(seconds, duration);
        }
    } else if (verb == QLatin1String("volume") && words.size() == 2) {
        const int level = words[1].toInt(&ok);
        ok = ok && level >= 0 && level <= 100;
        if (ok) {
            volume = float(level) / 100.0f;
            player.setVolume();
        }
    } else {
        ok = false;
    }
    if (!ok) {
        std::fprintf(stderr, "sondrel-play: unknown command: %s\n", qPrintable(input));
    }
    return ok;
}

void PlayConsole::songPlayerUpdateCurrentPlaying() {
    emitLine(QStringLiteral("now %1 %2")
                 .arg(player.getCurrentSongNumber())
                 .arg(player.getCurrentPlayingAttributedTitle().text));
    if (resume != nullptr) {
        resume->songChanged();
    }
}

void PlayConsole::songPlayerPaused() {
    emitLine(QStringLiteral("paused"));
    if (resume != nullptr) {
        resume->save();
    }
}

void PlayConsole::songPlayerResumed() {
    emitLine(QStringLiteral("resumed %1 %2")
                 .arg(player.getCurrentSongNumber())
                 .arg(player.getCurrentPlayingTimeLeft()));
}

void PlayConsole::songPlayerSongFailed(std::uint64_t number, const QString& reason) {
    emitLine(QStringLiteral("failed %1 %2").arg(number).arg(reason));
}

void PlayConsole::songPlayerPlaybackTimerTick(QTimer*) {
    if (ticks) {
        emitLine(QStringLiteral("tick %1").arg(player.getCurrentPlayingTimeLeft()));
    }
}

void PlayConsole::songPlayerHighlightSongInListWithNumber(std::uint64_t number) {
    emitLine(QStringLiteral("highlight %1").arg(number));
}

void PlayConsole::emitLine(const QString& line) {
    std::fputs(qPrintable(line + QLatin1Char('\n')), stdout);
    std::fflush(stdout);
}

} // namespace sondrel
