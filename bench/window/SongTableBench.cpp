// A 10,000-song own list from the answer's arrival to the table on screen.
//
//   BM_ParseAnswer      the JSON work (the background pool's part): answer bytes to
//                       song records, with the shared error check
//   BM_ShowList         the main loop's part: the records become the player's list on
//                       screen and the visible rows are built and painted (lists
//                       alternate, so the old list is released each time, as it is
//                       when a new answer replaces it)
//   BM_ShowListWithAHugeTitle  the same for a short list with 10 MB in one title
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
#include <benchmark/benchmark.h>

namespace {

constexpr int kSongs = 10000;

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

void BM_ParseAnswer(benchmark::State& state) {
    const QByteArray bytes = answerBytes(kSongs, 0);
    for (auto _ : state) {
        const sondrel::SongListAnswer answer = sondrel::readSongListAnswer(bytes);
        benchmark::DoNotOptimize(answer.songs->size());
    }
    state.counters["answer_KiB"] = static_cast<double>(bytes.size()) / 1024.0;
}
BENCHMARK(BM_ParseAnswer)->Unit(benchmark::kMillisecond);

// Shows the two lists in turn, as list answers replace each other.
void showLists(benchmark::State& state, const QJsonArray (&lists)[2]) {
    // The benchmark library runs this function more than once in one process.
    sondrel::AppController::resetProcessWideState();
    sondrel::AppController controller;
    controller.window()->resize(560, 680);
    controller.window()->show();
    if (!QTest::qWaitForWindowExposed(controller.window())) {
        state.SkipWithError("window not shown");
        return;
    }
    // The set-up makes the player; its start-up list request finds no service here.
    controller.windowDidBecomeMain();
    if (!QTest::qWaitFor([&] { return controller.listRequestsRunning() == 0; }, 30000)) {
        state.SkipWithError("the start-up request did not end");
        return;
    }
    sondrel::SongPlayer& player = *sondrel::SongPlayer::sharedInstance();
    sondrel::SongTableView* table = controller.songsTableView();
    int which = 0;
    for (auto _ : state) {
        // What the list request's main-loop step does, then the paint of the new rows.
        player.setListOnScreenWithArray(lists[which]);
        table->reloadData();
        table->viewport()->repaint();
        which = 1 - which;
    }
    state.counters["rows_built"] = table->loadedRows().size();
}
void BM_ShowList(benchmark::State& state) {
    const QJsonArray lists[2] = {*sondrel::readSongListAnswer(answerBytes(kSongs, 0)).songs,
                                 *sondrel::readSongListAnswer(answerBytes(kSongs, 1)).songs};
    showLists(state, lists);
}
BENCHMARK(BM_ShowList)->Unit(benchmark::kMillisecond);

// A list with 10 MB of text in one title (an odd or hostile answer), shown in turn with an
// ordinary one: the main loop's part should stay within a frame (16.7 ms).
void BM_ShowListWithAHugeTitle(benchmark::State& state) {
    QString huge(10 * 1024 * 1024, QLatin1Char('a'));
    for (qsizetype i = 0; i < huge.size(); i += 7) {
        huge[i] = QLatin1Char(' ');
    }
    QJsonArray odd = *sondrel::readSongListAnswer(answerBytes(20, 0)).songs;
    QJsonObject first = odd[0].toObject();
    first[QStringLiteral("title")] = huge;
    odd[0] = first;
    const QJsonArray lists[2] = {odd, *sondrel::readSongListAnswer(answerBytes(20, 1)).songs};
    showLists(state, lists);
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
