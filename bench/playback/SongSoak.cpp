// sondrel-song-soak: hundreds of songs from one stand-in service, a random mix of
// misbehaving transfers and good ones, played one after another by the real SongPlayer
// and SongDownloader into an output whose clock runs many times faster than real time.
// See kHelp. A benchmark: it prints figures and never judges them.

#include "common/StandInService.h"
#include "platform/CustomAVAudioPlayer.h"
#include "playback/SongDownloader.h"
#include "playback/SongPlayer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QTimer>
#include <cstdio>
#include <map>
#include <random>
#include <vector>

using namespace sondrel;

namespace {

const char* kHelp = R"(Plays many songs from a stand-in service through the song player, each
song's transfer misbehaving in a way drawn at random, with a sound output whose clock runs
--speed times faster than real time.

Per song it notes how it ended: heard whole (played to its end, then the player moved on
by itself), moved on (the player went on without hearing it whole: a lost song, or a
broken one), or stuck (no progress for --stuck-seconds of real time: no sound heard, no
byte received, no other song; the soak then skips it). At the end it prints a table per
kind of transfer, songs heard whole of those that could be, songs stuck, and the
resident set once the memory cache was full and at the end.

Kinds of transfer (the query added to the song's address; {after} is a random byte
within the first 3/4 of the file):
)";

struct Kind {
    QString query;
    bool hearable = true; // the whole song can be had in spite of the fault
    double weight = 0;
};

// The default mix. Drops and long stalls happen on a song's first request only (once=1),
// as a network blip does: the downloader's resumed request gets the rest.
std::map<QString, Kind> defaultKinds() {
    return {
        {"good", {"", true, 40}},
        {"slow", {"rate=48000", true, 10}}, // 3x real time: slower than the fast clock
        {"drop",
         {"fault=drop&after={after}&once=1", true, 10}}, // a blip: the next try gets through
        {"stall", {"fault=stall&after={after}&seconds=3", true, 8}},
        {"stall-long", {"fault=stall&after={after}&seconds=12&once=1", true, 4}}, // over 10 s
        {"chunked", {"chunked=1", true, 8}},
        {"id3", {"id3pad=300000", true, 8}},
        {"404", {"status=404", false, 6}},
        {"garbage", {"fault=garbage", false, 6}},
    };
}

std::int64_t residentKiB() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly)) {
        return 0;
    }
    for (const QByteArray& line : status.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return 0;
}

struct Tally {
    int songs = 0;
    int whole = 0;
    int movedOn = 0;
    int stuck = 0;
};

class Soak : public QObject, public SongPlayerDelegate {
public:
    Soak(SongPlayer& player, SongDownloader& downloader, std::vector<QString> kindOfSong,
         const std::map<QString, Kind>& kinds, int stuckSeconds)
        : player(player), downloader(downloader), kindOfSong(std::move(kindOfSong)), kinds(kinds),
          stuckMs(qint64(stuckSeconds) * 1000) {
        poll.setInterval(20);
        connect(&poll, &QTimer::timeout, this, [this] { look(); });
    }

    void run() {
        clock.start();
        startSong(0);
        poll.start();
        player.playPause();
    }

    // ---- SongPlayerDelegate
    void songPlayerStopped() override { noteHeard(); }
    void songPlayerPaused() override {}
    void songPlayerPlaying() override { noteHeard(); }
    void songPlayerUpdateCurrentPlaying() override { noteHeard(); }
    void songPlayerPlaybackTimerTick(QTimer*) override {}
    // Sent at the end of every choice of a song: the previous one is over.
    void songPlayerHighlightSongInListWithNumber(std::uint64_t number) override {
        if (done || std::int64_t(number) == current) {
            return;
        }
        finish();
        if (number == 0) { // wrapped round: every song had its turn
            done = true;
            poll.stop();
            QTimer::singleShot(0, this, [this] { end(); });
            return;
        }
        startSong(std::int64_t(number));
    }
    float songPlayerGetVolumeLevel() override { return 1.0f; }

private:
    void startSong(std::int64_t number) {
        current = number;
        heard = 0;
        duration = 0;
        lastHeard = -1;
        lastBytes = -1;
        lastProgress = clock.elapsed();
    }

    // What the current song's audio player has heard; it stays readable until the main
    // loop frees the player, so the end of a song is seen here too.
    void noteHeard() {
        if (CustomAVAudioPlayer* audio = player.theAudio()) {
            lastAudio = audio;
        }
        if (lastAudio) {
            heard = std::max(heard, lastAudio->currentTime());
            duration = std::max(duration, lastAudio->duration());
        }
    }

    void look() {
        noteHeard();
        const auto data = downloader.getSongData();
        const std::int64_t bytes = data ? data->bytes.size() : 0;
        if (heard != lastHeard || bytes != lastBytes) {
            lastHeard = heard;
            lastBytes = bytes;
            lastProgress = clock.elapsed();
        }
        const std::int64_t budget = downloader.songsCache().budget();
        if (rssFull == 0 && budget > 0 && downloader.songsCache().totalBytes() >= budget * 9 / 10) {
            rssFull = residentKiB();
            fullAt = current;
        }
        if (clock.elapsed() - lastProgress > stuckMs) {
            stuck = true;
            player.next(); // leads to songPlayerHighlightSongInListWithNumber
        }
    }

    void finish() {
        noteHeard();
        const QString& kind = kindOfSong[std::size_t(current)];
        Tally& t = tally[kind];
        ++t.songs;
        const char* how = "moved on";
        if (stuck) {
            ++t.stuck;
            how = "STUCK";
        } else if (duration > 0 && heard >= duration - 0.05) {
            ++t.whole;
            how = "heard whole";
        } else {
            ++t.movedOn;
        }
        std::printf("song %3lld %-10s %-11s %6.2f of %6.2f s  at %7.1f s\n", (long long)current,
                    qPrintable(kind), how, heard, duration, clock.elapsed() / 1000.0);
        std::fflush(stdout);
        stuck = false;
        lastAudio = nullptr;
    }

    void end() {
        player.stop();
        const std::int64_t rssEnd = residentKiB();
        Tally all;
        int couldBe = 0;
        std::printf("\n%-12s %6s %12s %9s %6s\n", "kind", "songs", "heard whole", "moved on",
                    "stuck");
        for (const auto& [name, t] : tally) {
            std::printf("%-12s %6d %12d %9d %6d\n", qPrintable(name), t.songs, t.whole, t.movedOn,
                        t.stuck);
            all.songs += t.songs;
            all.whole += t.whole;
            all.movedOn += t.movedOn;
            all.stuck += t.stuck;
            couldBe += kinds.at(name).hearable ? t.songs : 0;
        }
        std::printf("\nsongs played: %d in %.1f s\n", all.songs, clock.elapsed() / 1000.0);
        std::printf("heard whole: %d of %d that could be\n", all.whole, couldBe);
        std::printf("stuck: %d (no progress for %lld s)\n", all.stuck, (long long)(stuckMs / 1000));
        std::printf("crashes: 0 (the soak ran to its end)\n");
        if (rssFull > 0) {
            std::printf("resident set: %.1f MiB once the cache was full (song %lld), %.1f MiB "
                        "at the end: %+.1f MiB\n",
                        rssFull / 1024.0, (long long)fullAt, rssEnd / 1024.0,
                        (rssEnd - rssFull) / 1024.0);
        } else {
            std::printf("resident set: %.1f MiB at the end (the cache never filled)\n",
                        rssEnd / 1024.0);
        }
        std::fflush(stdout);
        QCoreApplication::quit();
    }

    SongPlayer& player;
    SongDownloader& downloader;
    const std::vector<QString> kindOfSong;
    const std::map<QString, Kind>& kinds;
    const qint64 stuckMs;
    QTimer poll;
    QElapsedTimer clock;
    QPointer<CustomAVAudioPlayer> lastAudio; // the current song's last audio player
    std::int64_t current = 0;
    double heard = 0;
    double duration = 0;
    double lastHeard = -1;
    std::int64_t lastBytes = -1;
    qint64 lastProgress = 0;
    bool stuck = false;
    bool done = false;
    std::int64_t rssFull = 0;
    std::int64_t fullAt = -1;
    std::map<QString, Tally> tally;
};

int fail(const QString& text) {
    std::fprintf(stderr, "sondrel-song-soak: %s\n", qPrintable(text));
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    std::map<QString, Kind> kinds = defaultKinds();
    QString help = QString::fromUtf8(kHelp);
    for (const auto& [name, kind] : kinds) {
        help += QStringLiteral("  %1 %2 (weight %3%4)\n")
                    .arg(name, -12)
                    .arg(kind.query.isEmpty() ? QStringLiteral("-") : kind.query)
                    .arg(kind.weight)
                    .arg(kind.hearable ? QString() : QStringLiteral(", cannot be heard whole"));
    }
    QCommandLineParser parser;
    parser.setApplicationDescription(help);
    parser.addHelpOption();
    const QCommandLineOption songsOption("songs", "Songs to play (default 300).", "N", "300");
    const QCommandLineOption secondsOption("seconds", "Length of each song (default 10).", "S",
                                           "10");
    const QCommandLineOption speedOption("speed", "Clock speed of the output (default 20).", "N",
                                         "20");
    const QCommandLineOption stuckOption(
        "stuck-seconds", "Real seconds without progress that make a song stuck (default 25).", "S",
        "25");
    const QCommandLineOption cacheOption("cache-mb", "Memory cache budget (default 8).", "N", "8");
    const QCommandLineOption seedOption("seed", "Random seed (default 1).", "N", "1");
    const QCommandLineOption mixOption(
        "mix", "Weights, e.g. good=50,drop=50 (kinds not named get 0).", "LIST");
    const QCommandLineOption faultOption(
        "fault", "A kind of transfer that can be heard whole: NAME=QUERY (repeatable).",
        "NAME=QUERY");
    const QCommandLineOption lostOption(
        "lost-fault", "A kind of transfer that cannot be heard whole: NAME=QUERY.", "NAME=QUERY");
    parser.addOptions({songsOption, secondsOption, speedOption, stuckOption, cacheOption,
                       seedOption, mixOption, faultOption, lostOption});
    parser.process(app);

    const int songs = parser.value(songsOption).toInt();
    const int seconds = parser.value(secondsOption).toInt();
    const int speed = parser.value(speedOption).toInt();
    const int stuckSeconds = parser.value(stuckOption).toInt();
    const qint64 cacheMb = parser.value(cacheOption).toLongLong();
    if (songs < 1 || seconds < 2 || speed < 1 || stuckSeconds < 1 || cacheMb < 1) {
        return fail(QStringLiteral("--songs, --seconds, --speed, --stuck-seconds and --cache-mb "
                                   "take positive numbers"));
    }
    const std::pair<const QCommandLineOption*, bool> faultOptions[] = {{&faultOption, true},
                                                                       {&lostOption, false}};
    for (const auto& [option, hearable] : faultOptions) {
        for (const QString& entry : parser.values(*option)) {
            const qsizetype eq = entry.indexOf('=');
            if (eq <= 0) {
                return fail(QStringLiteral("%1 is not NAME=QUERY").arg(entry));
            }
            Kind& kind = kinds[entry.left(eq)];
            kind.query = entry.mid(eq + 1);
            kind.hearable = hearable;
            kind.weight = kind.weight > 0 ? kind.weight : 10;
        }
    }
    if (parser.isSet(mixOption)) {
        for (auto& [name, kind] : kinds) {
            kind.weight = 0;
        }
        for (const QString& entry : parser.value(mixOption).split(',', Qt::SkipEmptyParts)) {
            const QStringList pair = entry.split('=');
            bool ok = false;
            const double weight = pair.value(1).toDouble(&ok);
            if (pair.size() != 2 || !ok || weight < 0 || !kinds.count(pair[0])) {
                return fail(QStringLiteral("%1: give a known kind and a weight").arg(entry));
            }
            kinds[pair[0]].weight = weight;
        }
    }

    constexpr int kDemoSongs = 8;
    test::StandInService service(
        {"--demo-count", QString::number(kDemoSongs), "--demo-seconds", QString::number(seconds)});
    if (!service.isReady()) {
        return fail(service.errorString());
    }

    std::mt19937 random(parser.value(seedOption).toUInt());
    std::vector<QString> names;
    std::vector<double> weights;
    for (const auto& [name, kind] : kinds) {
        names.push_back(name);
        weights.push_back(kind.weight);
    }
    std::discrete_distribution<std::size_t> pick(weights.begin(), weights.end());
    // 128 kbit/s: 16,000 bytes a second.
    std::uniform_int_distribution<int> faultByte(8192, seconds * 12000);
    std::vector<QString> kindOfSong;
    QJsonArray list;
    for (int i = 0; i < songs; ++i) {
        const QString& name = names[pick(random)];
        kindOfSong.push_back(name);
        QString query = kinds[name].query;
        query.replace(QStringLiteral("{after}"), QString::number(faultByte(random)));
        // Each song its own id: the memory cache must not answer for another song.
        list.append(QJsonObject{{"aid", 500001 + i},
                                {"owner_id", 1},
                                {"artist", "Soak"},
                                {"title", QStringLiteral("%1 %2").arg(name).arg(i)},
                                {"duration", seconds},
                                {"url", service.songUrl(i % kDemoSongs, query)}});
    }

    SongDownloader downloader(nullptr, cacheMb * 1024 * 1024);
    SongPlayer player;
    Soak soak(player, downloader, kindOfSong, kinds, stuckSeconds);
    player.setDelegate(&soak);
    player.setAudioOutputSpec(QStringLiteral("null:fast=%1").arg(speed));
    player.setListOnScreenWithArray(list);
    soak.run();
    return app.exec();
}
