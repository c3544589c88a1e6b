// sondrel-play: a command-line player on the same SongPlayer and SongDownloader as the
// window. See --help.

#include "PlayConsole.h"
#include "platform/DurableFile.h"
#include "platform/Log.h"
#include "platform/Network.h"
#include "platform/QuitOnSignals.h"
#include "platform/ServiceConfig.h"
#include "platform/TokenFile.h"
#include "playback/PlaybackResume.h"
#include "playback/SongDownloader.h"
#include "playback/SongPlayer.h"
#include "support/CommonHelper.h"
#include "support/SongList.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cstdio>
#include <memory>

using namespace sondrel;

namespace {

const char* kHelp = R"(Plays a list of songs through the Sondrel song player.

Songs come from a list file (a service answer {"response": [...]} or a JSON array of
song records) or from the service API (own list, or a search).

Commands on stdin, one per line (end of input does not quit):
  p            play or pause
  n            next song (in order, or random with shuffle)
  b            previous song
  shuffle      shuffle on/off
  repeat       repeat the current song on/off
  row N        make the shown list the play list and choose row N (a click on a row)
  seek SECONDS jump within the downloaded part of the song
  volume N     volume 0-100
  q            quit

Events on stdout, one per line:
  playing | paused | stopped | now ROW TITLE-LINE | highlight ROW | tick TIME-LEFT
  buffering            the song ran out of bytes; silence until "playing" follows
  failed ROW REASON    the song's transfer failed for good; the next song follows
  resumed ROW TIME-LEFT  with --resume: back on the song where the last run left off
                       (not playing; "p" goes on from there)

--resume FILE keeps the place in FILE: the song, its row, the list (own list or the
search text) and the time reached, written when a song starts, on pause and at "q". A
place that no longer fits the list (the song is gone, the list changed) is ignored.

The sound goes where SONDREL_AUDIO_OUTPUT says ("null", "wav:PATH", default: the
desktop's sound device), or where --output says.)";

// The song records of a service answer or of a plain array; objects only.
SongList songsOf(const QByteArray& json, QString* error) {
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &parseError);
    QJsonArray items;
    if (doc.isArray()) {
        items = doc.array();
    } else if (doc.isObject() && doc.object().value(QLatin1String("response")).isArray()) {
        items = doc.object().value(QLatin1String("response")).toArray();
    } else {
        *error = doc.isNull() ? parseError.errorString()
                              : QStringLiteral("neither a song array nor a service answer");
        return {};
    }
    QJsonArray songs;
    for (const QJsonValue& v : items) {
        if (v.isObject()) {
            songs.append(v);
        }
    }
    return SongList(songs);
}

// The place kept in `path` (an unreadable or missing file: none), written back durably.
std::unique_ptr<PlaybackResume> resumeFromFile(SongPlayer& player, const QString& path) {
    const auto load = [path] {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
    };
    auto store = [path](const QString& text) {
        const DurableWriteResult written = writeFileDurably(path, text.toUtf8(), 0600);
        if (!written.ok) {
            logLine(QStringLiteral("Cannot keep the place in %1: %2").arg(path, written.error));
        }
    };
    return std::make_unique<PlaybackResume>(player, load, std::move(store));
}

int fail(const QString& text) {
    std::fprintf(stderr, "sondrel-play: %s\n", qPrintable(text));
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("sondrel-play"));
    QCoreApplication::setApplicationVersion(QStringLiteral(SONDREL_VERSION));
    quitOnTerminationSignals(); // as "q": the place is kept
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(kHelp));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption listOption(QStringLiteral("list"), QStringLiteral("Song list file."),
                                        QStringLiteral("FILE"));
    const QCommandLineOption apiOption(QStringLiteral("api"),
                                       QStringLiteral("Service API origin (https://host:port)."),
                                       QStringLiteral("ORIGIN"));
    const QCommandLineOption tokenOption(
        QStringLiteral("token"),
        QStringLiteral("Access token (visible to every local user in the process list)."),
        QStringLiteral("TOKEN"));
    const QCommandLineOption tokenFileOption(
        QStringLiteral("token-file"),
        QStringLiteral("Read the access token from the first line of FILE (\"-\": stdin)."),
        QStringLiteral("FILE"));
    const QCommandLineOption searchOption(QStringLiteral("search"),
                                          QStringLiteral("Search instead of the own list."),
                                          QStringLiteral("TEXT"));
    const QCommandLineOption caOption(QStringLiteral("ca-cert"),
                                      QStringLiteral("Extra trusted certificate (PEM)."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption autoplayOption(QStringLiteral("autoplay"),
                                            QStringLiteral("Start the first song at once."));
    const QCommandLineOption shuffleOption(QStringLiteral("shuffle"),
                                           QStringLiteral("Shuffle on."));
    const QCommandLineOption repeatOption(QStringLiteral("repeat"), QStringLiteral("Repeat on."));
    const QCommandLineOption volumeOption(QStringLiteral("volume"),
                                          QStringLiteral("Volume 0-100 (default 100)."),
                                          QStringLiteral("N"), QStringLiteral("100"));
    const QCommandLineOption ticksOption(QStringLiteral("ticks"),
                                         QStringLiteral("Print the time left every 0.5 s."));
    const QCommandLineOption outputOption(QStringLiteral("output"),
                                          QStringLiteral("Sound output: pulse, null, wav:PATH."),
                                          QStringLiteral("SPEC"));
    const QCommandLineOption cacheOption(
        QStringLiteral("cache-mb"), QStringLiteral("Memory cache budget in MiB (default 256)."),
        QStringLiteral("N"), QStringLiteral("256"));
    const QCommandLineOption resumeOption(
        QStringLiteral("resume"),
        QStringLiteral("Go on where the last run left off; kept in FILE."), QStringLiteral("FILE"));
    parser.addOptions({listOption, apiOption, tokenOption, tokenFileOption, searchOption, caOption,
                       autoplayOption, shuffleOption, repeatOption, volumeOption, ticksOption,
                       outputOption, cacheOption, resumeOption});
    parser.process(app);

    bool ok = false;
    const int volume = parser.value(volumeOption).toInt(&ok);
    if (!ok || volume < 0 || volume > 100) {
        return fail(QStringLiteral("--volume takes 0 to 100"));
    }
    const qint64 cacheMb = parser.value(cacheOption).toLongLong(&ok);
    if (!ok || cacheMb < 0) {
        return fail(QStringLiteral("--cache-mb takes a whole number"));
    }
    if (parser.isSet(caOption) && !trustExtraCertificate(parser.value(caOption))) {
        return fail(QStringLiteral("no certificate in %1").arg(parser.value(caOption)));
    }

    QByteArray json;
    if (parser.isSet(listOption) == parser.isSet(apiOption)) {
        return fail(QStringLiteral("give either --list FILE or --api ORIGIN --token TOKEN"));
    }
    if (parser.isSet(listOption)) {
        QFile file(parser.value(listOption));
        if (!file.open(QIODevice::ReadOnly)) {
            return fail(
                QStringLiteral("cannot read %1: %2").arg(file.fileName(), file.errorString()));
        }
        json = file.readAll();
    } else {
        if (parser.isSet(tokenOption) == parser.isSet(tokenFileOption)) {
            return fail(QStringLiteral("--api needs either --token or --token-file"));
        }
        QString token = parser.value(tokenOption);
        if (parser.isSet(tokenFileOption)) {
            QString error;
            const std::optional<QString> read =
                readTokenFile(parser.value(tokenFileOption), &error);
            if (!read) {
                return fail(error);
            }
            token = *read;
        }
        QString address = QStringLiteral("%1/method/%2?access_token=%3&")
                              .arg(parser.value(apiOption),
                                   parser.isSet(searchOption) ? QStringLiteral("audio.search")
                                                              : QStringLiteral("audio.get"),
                                   token);
        if (parser.isSet(searchOption)) {
            address += QStringLiteral("&q=%1&auto_complete=1&sort=2&count=200&offset=0")
                           .arg(CommonHelper::urlencode(parser.value(searchOption)));
        }
        const HttpResult answer = blockingGet(QUrl(address));
        if (!answer.ok) {
            return fail(QStringLiteral("list request failed: %1").arg(answer.error));
        }
        json = answer.body;
    }
    QString error;
    const SongList songs = songsOf(json, &error);
    if (!error.isEmpty()) {
        return fail(QStringLiteral("no song list: %1").arg(error));
    }

    SongDownloader downloader(nullptr, cacheMb * 1024 * 1024);
    SongPlayer player;
    PlayConsole console(player, parser.isSet(ticksOption), float(volume) / 100.0f);
    player.setDelegate(&console);
    downloader.setDelegate(&console);
    if (parser.isSet(outputOption)) {
        player.setAudioOutputSpec(parser.value(outputOption));
    }
    player.setListOnScreenWithArray(songs);
    std::unique_ptr<PlaybackResume> resume;
    if (parser.isSet(resumeOption)) {
        resume = resumeFromFile(player, parser.value(resumeOption));
        console.setResume(resume.get());
        const QString search = parser.isSet(apiOption) ? parser.value(searchOption) : QString();
        if (resume->showListArrived(search)) {
            console.songPlayerResumed();
        }
    }
    if (parser.isSet(shuffleOption)) {
        player.invertShuffle();
    }
    if (parser.isSet(repeatOption)) {
        player.invertRepeating();
    }
    console.listen();
    if (parser.isSet(autoplayOption)) {
        player.playPause();
    }
    const int status = app.exec();
    if (resume) {
        resume->save();
    }
    player.stop();
    return status;
}
