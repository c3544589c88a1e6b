// An own list of 10,000 and of 100,000 songs from the answer's arrival to the table on
// screen, with the argument the number of songs.
//
//   BM_ParseAnswer      the JSON work (the background pool's part): answer bytes to
//                       the compact song list, with the shared error check; list_MiB is
//                       the heap the list holds once the bytes are gone
//   BM_ShowList         the main loop's part when a new list arrives: the records become
//                       the player's list on screen (the list they replace is released on
//                       the background pool) and the visible rows are built and painted
//   BM_ShowSameList     the same for a fresh copy of the list being played (the own list
//                       fetched again), which the background part found equal and made
//                       share the played list's records: the current row is marked
//   BM_PlaybackTick     one tick of the playback timer with such a list on screen (it
//                       reads the current song's row and record)
//   BM_ShowListWithAHugeTitle  the main loop's part for a short list with 10 MB in one
//                       title, shown in turn with an ordinary one
//
// Runs offscreen: QT_QPA_PLATFORM=offscreen bench/window/sondrel-song-table-bench

#include "playback/SongPlayer.h"
#include "service/ServiceAnswer.h"
#include "window/AppController.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMainWindow>
#include <QTest>
#include <QTimer>
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <memory>

namespace {

QByteArray answerBytes(int songs, int salt) {
    QJsonArray list;
    for (int i = 0; i < songs; ++i) {
        list.append(QJsonObject{
            {QStringLiteral("aid"), 100000 + i + salt},
            {QStringLiteral("owner_id"), 1001},
            {QStringLiteral("artist"), QStringLiteral("Artist &amp; Band %1").arg(i % 97)},
            {QStringLiteral("title"), QStringLiteral("Песня номер %1 (Live)").arg(i)},
            {QStringLiteral("duration"), 120 + i % 300},
            {QStringLiteral("url"), QStringLiteral("http://127.0.0.1:47080/audio/%1.mp3").arg(i)},
            {QStringLiteral("lyrics_id"), i},
        });
    }
    return QJsonDocument(QJsonObject{{QStringLiteral("response"), list}})
        .toJson(QJsonDocument::Compact);
}

// What the list request hands to the main loop.
sondrel::SongList readSongs(const QByteArray& bytes) {
    return *sondrel::readSongListAnswer(bytes).songs;
}

// Heap in use, blocks that malloc maps on their own (the list's byte block) included.
double heapBytes() {
    const struct mallinfo2 info = mallinfo2();
    return static_cast<double>(info.uordblks + info.hblkhd);
}

void BM_ParseAnswer(benchmark::State& state) {
    const int songs = static_cast<int>(state.range(0));
    const QByteArray bytes = answerBytes(songs, 0);
    for (auto _ : state) {
        const sondrel::SongListAnswer answer = sondrel::readSongListAnswer(bytes);
        benchmark::DoNotOptimize(answer.songs->size());
    }
    const double before = heapBytes();
    const sondrel::SongList kept = readSongs(bytes);
    state.counters["list_MiB"] = (heapBytes() - before) / (1024.0 * 1024.0);
    state.counters["answer_MiB"] = static_cast<double>(bytes.size()) / (1024.0 * 1024.0);
}
BENCHMARK(BM_ParseAnswer)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

// The window with the player made, its start-up list request over (no service here).
class ShownWindow {
public:
    ShownWindow() {
        // The benchmark library runs each function more than once in one process.
        sondrel::AppController::resetProcessWideState();
        controller = std::make_unique<sondrel::AppController>();
        controller->window()->resize(560, 680);
        controller->window()->show();
        ready = QTest::qWaitForWindowExposed(controller->window());
        controller->windowDidBecomeMain();
        ready = ready &&
                QTest::qWaitFor([this] { return controller->listRequestsRunning() == 0; }, 30000);
    }
    bool isReady() const { return ready; }
    sondrel::SongPlayer& player() const { return *sondrel::SongPlayer::sharedInstance(); }
    sondrel::SongTableView& table() const { return *controller->songsTableView(); }

    // What a list request does once its answer has arrived: the background part's last
    // step, then the main loop's part and the paint of the new rows.
    void show(sondrel::SongList songs) const {
        sondrel::AppController::shareRecordsWithPlayList(songs, player().playList());
        const sondrel::SongList shown = songs;
        songs = sondrel::SongList(); // the request's job ends
        mainLoopPart(shown);
    }
    void mainLoopPart(const sondrel::SongList& songs) const {
        controller->replaceListOnScreen(songs);
        table().reloadData();
        table().viewport()->repaint();
    }

private:
    std::unique_ptr<sondrel::AppController> controller;
    bool ready = false;
};

// False, with the benchmark skipped, when the window could not be shown.
bool isShown(const ShownWindow& window, benchmark::State& state) {
    if (!window.isReady()) {
        state.SkipWithError("window not shown");
    }
    return window.isReady();
}

void BM_ShowList(benchmark::State& state) {
    const int songs = static_cast<int>(state.range(0));
    const QByteArray answers[2] = {answerBytes(songs, 0), answerBytes(songs, 1)};
    ShownWindow window;
    if (!isShown(window, state)) {
        return;
    }
    window.show(readSongs(answers[0])); // the play list, which stays
    int which = 1;
    for (auto _ : state) {
        state.PauseTiming();
        const sondrel::SongList fresh = readSongs(answers[which]);
        which = 1 - which;
        state.ResumeTiming();
        window.mainLoopPart(fresh);
    }
    state.counters["rows_built"] = static_cast<double>(window.table().loadedRows().size());
}
BENCHMARK(BM_ShowList)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_ShowSameList(benchmark::State& state) {
    const int songs = static_cast<int>(state.range(0));
    const QByteArray answer = answerBytes(songs, 0);
    ShownWindow window;
    if (!isShown(window, state)) {
        return;
    }
    window.show(readSongs(answer));
    for (auto _ : state) {
        state.PauseTiming();
        sondrel::SongList fresh = readSongs(answer);
        sondrel::AppController::shareRecordsWithPlayList(fresh, window.player().playList());
        state.ResumeTiming();
        window.mainLoopPart(fresh);
    }
    if (!window.player().isCurrentPlaylistEqualToListOnScreen()) {
        state.SkipWithError("the copy was not found equal");
    }
}
BENCHMARK(BM_ShowSameList)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

void BM_PlaybackTick(benchmark::State& state) {
    const int songs = static_cast<int>(state.range(0));
    const QByteArray answer = answerBytes(songs, 0);
    ShownWindow window;
    if (!isShown(window, state)) {
        return;
    }
    window.show(readSongs(answer));
    window.show(readSongs(answer));
    QTimer timer;
    for (auto _ : state) {
        window.player().delegate()->songPlayerPlaybackTimerTick(&timer);
    }
}
BENCHMARK(BM_PlaybackTick)->Arg(10000)->Arg(100000)->Unit(benchmark::kMicrosecond);

// A list with 10 MB of text in one title (an odd or hostile answer), shown in turn with an
// ordinary one: the main loop's part should stay within a frame (16.7 ms).
void BM_ShowListWithAHugeTitle(benchmark::State& state) {
    QString huge(10 * 1024 * 1024, QLatin1Char('a'));
    for (qsizetype i = 0; i < huge.size(); i += 7) {
        huge[i] = QLatin1Char(' ');
    }
    QJsonArray odd = readSongs(answerBytes(20, 0)).toJsonArray();
    QJsonObject first = odd[0].toObject();
    first[QStringLiteral("title")] = huge;
    odd[0] = first;
    const sondrel::SongList lists[2] = {odd, readSongs(answerBytes(20, 1))};
    ShownWindow window;
    if (!isShown(window, state)) {
        return;
    }
    window.show(lists[1]);
    int which = 0;
    for (auto _ : state) {
        window.mainLoopPart(lists[which]);
        which = 1 - which;
    }
}
BENCHMARK(BM_ShowListWithAHugeTitle)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
