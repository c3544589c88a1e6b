// Next -> first audio, with the next song fetched ahead and without, over the stand-in
// service throttled to a given rate. Each run plays song 0 until it is whole, heard
// for a moment and (when fetching ahead) the next song is in memory, then presses next
// and measures two moments: the new audio player plays (it has handed its first
// samples to the output), and the output's clock has consumed them (the wav output
// writes what it consumes through to its file, on its 20 ms pump, so this one is the
// conservative figure). Prints medians; never a test.
//
//   sondrel-next-song-bench [--runs N] [--seconds S] [--rate BYTES_PER_SECOND]

#include "common/StandInService.h"
#include "playback/SongDownloader.h"
#include "playback/SongPlayer.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonObject>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <functional>
#include <vector>

using namespace sondrel;

namespace {

class QuietDelegate : public SongPlayerDelegate {
public:
    void songPlayerStopped() override {}
    void songPlayerPaused() override {}
    void songPlayerPlaying() override {}
    void songPlayerUpdateCurrentPlaying() override {}
    void songPlayerPlaybackTimerTick(QTimer*) override {}
    void songPlayerHighlightSongInListWithNumber(std::uint64_t) override {}
    float songPlayerGetVolumeLevel() override { return 1.0f; }
    void songPlayerBuffering() override {}
    void songPlayerSongFailed(std::uint64_t, const QString&) override {}
};

bool waitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QDeadlineTimer deadline(timeoutMs);
    while (!condition()) {
        if (deadline.hasExpired()) {
            return false;
        }
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    }
    return true;
}

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.empty() ? 0 : v[v.size() / 2];
}

struct Times {
    double playing = -1; // the new audio player plays: its first samples went to the output
    double heard = -1;   // the output's clock has consumed the first samples
};

// One run: milliseconds from next() to each of the two moments.
Times measureOnce(const test::StandInService& service, bool ahead, int rate, const QString& wavDir,
                  int run) {
    SongPlayer::resetProcessWideState();
    SongDownloader::resetProcessWideState();
    SongDownloader downloader;
    downloader.setPrefetchNext(ahead);
    SongPlayer player;
    QuietDelegate delegate;
    player.setDelegate(&delegate);
    player.setAudioOutputSpec(QStringLiteral("wav:%1/first-%2.wav").arg(wavDir).arg(run));
    QJsonArray songs;
    for (int i = 0; i < 2; ++i) {
        songs.append(QJsonObject{{"aid", 100001 + i},
                                 {"url", service.songUrl(i, QStringLiteral("rate=%1").arg(rate))}});
    }
    player.setListOnScreenWithArray(songs);
    player.setSongForPlay(0);
    const bool ready = waitUntil(
        [&] {
            return downloader.getSongData() && downloader.isSongCompletelyDownloaded() &&
                   !downloader.nextSongPrefetcher().isFetching() &&
                   player.getCurrentPlayingCurrentTime() > 0.2;
        },
        120000);
    if (!ready || (ahead && !downloader.songsCache().objectForKey("100002"))) {
        return {};
    }
    const QString heard = QStringLiteral("%1/next-%2.wav").arg(wavDir).arg(run);
    player.setAudioOutputSpec("wav:" + heard);
    QElapsedTimer clock;
    clock.start();
    player.next();
    const bool started = waitUntil([&] { return player.isPlaying(); }, 60000);
    const double playingMs = double(clock.nsecsElapsed()) / 1e6;
    const bool sounded = waitUntil([&] { return QFileInfo(heard).size() > 44; }, 60000);
    const double heardMs = double(clock.nsecsElapsed()) / 1e6;
    player.stop();
    return started && sounded ? Times{playingMs, heardMs} : Times{};
}

} // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addHelpOption();
    const QCommandLineOption runsOption("runs", "Runs of each kind.", "N", "5");
    const QCommandLineOption secondsOption("seconds", "Length of the songs.", "S", "30");
    const QCommandLineOption rateOption("rate", "Bytes per second of the service.", "B", "200000");
    parser.addOptions({runsOption, secondsOption, rateOption});
    parser.process(app);
    const int runs = parser.value(runsOption).toInt();
    const int rate = parser.value(rateOption).toInt();

    test::StandInService service(
        {"--demo-count", "2", "--demo-seconds", parser.value(secondsOption)});
    if (!service.isReady()) {
        std::fprintf(stderr, "stand-in service: %s\n", qPrintable(service.errorString()));
        return 1;
    }
    QTemporaryDir wavDir;
    std::vector<double> playing[2];
    std::vector<double> heard[2];
    int run = 0;
    for (int i = 0; i < runs; ++i) {
        for (const bool ahead : {true, false}) { // alternating, so load hits both alike
            const Times t = measureOnce(service, ahead, rate, wavDir.path(), run++);
            if (t.heard < 0) {
                std::fprintf(stderr, "run %d (%s) did not finish\n", run,
                             ahead ? "fetched ahead" : "not fetched");
                return 1;
            }
            playing[ahead ? 0 : 1].push_back(t.playing);
            heard[ahead ? 0 : 1].push_back(t.heard);
        }
    }
    std::printf("next -> first audio, %d s songs served at %d bytes/s, %d runs each "
                "(target <= 30 ms fetched ahead)\n",
                parser.value(secondsOption).toInt(), rate, runs);
    std::printf("  %-14s %27s %27s\n", "", "to playing: median (max)",
                "to heard: median (min-max)");
    const char* names[2] = {"fetched ahead", "not fetched"};
    for (int k = 0; k < 2; ++k) {
        const auto [lo, hi] = std::minmax_element(heard[k].begin(), heard[k].end());
        std::printf("  %-14s %15.1f ms (%6.1f) %12.1f ms (%.1f-%.1f)\n", names[k],
                    median(playing[k]), *std::max_element(playing[k].begin(), playing[k].end()),
                    median(heard[k]), *lo, *hi);
    }
    return 0;
}
