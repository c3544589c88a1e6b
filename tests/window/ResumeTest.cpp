// Quitting and starting again: the window comes back on the list, the song, the title,
// the slider and the time where the user left off, without playing; Play goes on from
// there. A stored place that no longer fits its list is dropped without a word.

#include "WindowFixture.h"
#include "support/CommonHelper.h"
#include "window/AuthorLinks.h"
#include "window/FloatSlider.h"
#include "window/LyricsPanel.h"

#include <QAction>
#include <QLineEdit>
#include <QToolButton>

namespace sondrel::test {
namespace {

constexpr double kDemoSeconds = 20.0;

class Resume : public WindowFixture {
protected:
    // The process ends: the controller goes, as at quit.
    void quit() {
        controller.reset();
        backgroundPool().waitForDone(kWaitMs);
        AppController::resetProcessWideState();
        SongPlayer::resetProcessWideState();
        SongDownloader::resetProcessWideState();
        CustomAVAudioPlayer::resetPausedFlag();
    }
    static void store(const QString& text) {
        AppDelegate::saveObjectWithKey(text, PlaybackResume::kSettingsKey);
    }
    static std::optional<ResumePoint> stored() {
        return ResumePoint::fromText(
            AppDelegate::getObjectWithKey(PlaybackResume::kSettingsKey).toString());
    }
    std::vector<std::int64_t> markedRows() const {
        std::vector<std::int64_t> rows;
        for (std::int64_t row = 0; row < rowCount(); ++row) {
            if (rowMarked(row)) {
                rows.push_back(row);
            }
        }
        return rows;
    }
    void playRow(std::int64_t row) {
        clickRowButton(row);
        ASSERT_TRUE(waitFor([&] { return isPlayingSong(static_cast<std::uint64_t>(row)); }));
    }
};

struct Case {
    const char* name;
    std::function<void()> leave;   // what the first run does before it quits
    std::optional<QString> stored; // then stored instead of what the quit saved
    QString search;                // the list after the restart ("": the own list)
    std::int64_t row;              // the marked row after the restart, -1: none
};

TEST_F(Resume, StartsWhereTheUserLeftOff) {
    const QString kino = QStringLiteral("Кино");
    const Case cases[] = {
        {"paused halfway through the own list's third song",
         [this] {
             playRow(2);
             ASSERT_TRUE(waitFor(
                 [] { return SongDownloader::sharedInstance()->isSongCompletelyDownloaded(); }));
             player()->seekToWithMax(0.5f, 1.0f);
             ASSERT_TRUE(
                 waitFor([this] { return player()->getCurrentPlayingCurrentTime() >= 10; }));
             QTest::mouseClick(controller->playButton(), Qt::LeftButton);
             ASSERT_TRUE(player()->isPaused());
         },
         std::nullopt, QString(), 2},
        {"playing a search result",
         [&] {
             controller->searchFieldCell()->setText(kino);
             waitForListAfter(
                 [&] { QTest::keyClick(controller->searchFieldCell(), Qt::Key_Return); });
             playRow(1);
         },
         std::nullopt, kino, 1},
        {"song gone from its row", [] {},
         QStringLiteral(R"({"search":"","song":"999999","row":3,"length":12,"seconds":5})"),
         QString(), -1},
        {"list changed (one song more than now)", [] {},
         QStringLiteral(R"({"search":"","song":"100004","row":3,"length":13,"seconds":5})"),
         QString(), -1},
        {"unreadable", [] {}, QStringLiteral("{\"row\":"), QString(), -1},
        {"nothing stored", [] {}, QString(), QString(), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        c.leave();
        if (HasFatalFailure()) {
            return;
        }
        quit();
        if (c.stored) {
            store(*c.stored);
        }
        startWindow(c.search.isEmpty() ? QStringLiteral("/method/audio.get")
                                       : QStringLiteral("/method/audio.search"));
        if (HasFatalFailure()) {
            return;
        }
        const qsizetype songRequests = service->requestTargets(QStringLiteral("/audio/")).size();
        EXPECT_EQ(controller->searchFieldCell()->text(), c.search);
        EXPECT_EQ(buttonImageName(controller->playButton()), QStringLiteral("playBig"));
        EXPECT_EQ(player()->theAudio(), nullptr);
        if (c.row < 0) {
            EXPECT_TRUE(markedRows().empty());
            EXPECT_EQ(controller->currentSongTitle()->text(), kAuthorWebAddress);
            EXPECT_EQ(controller->progressSlider()->doubleValue(), 0.0);
            continue;
        }
        const std::optional<ResumePoint> point = stored();
        ASSERT_TRUE(point.has_value());
        EXPECT_EQ(markedRows(), std::vector<std::int64_t>{c.row});
        EXPECT_EQ(buttonImageName(rowButton(c.row)), QStringLiteral("play"));
        const AttributedTitle title = player()->getCurrentPlayingAttributedTitle();
        EXPECT_EQ(title.text, player()->getAttributedTitleForSongInListOnScreenAtRow(c.row).text);
        EXPECT_TRUE(controller->currentSongTitle()->text().contains(title.plainPart()));
        EXPECT_NEAR(controller->progressSlider()->doubleValue(), point->seconds / kDemoSeconds,
                    0.01);
        const QString left = QLatin1Char('-') + CommonHelper::convertTimeFromSecondsInt(
                                                    std::int32_t(kDemoSeconds - point->seconds));
        EXPECT_EQ(controller->currentSongTimeLeft()->text(), left);
        EXPECT_EQ(rowTime(c.row)->text(), left);
        // The desktop's media controls (MPRIS) see the song and its place too.
        const PlayerState desktop = controller->playerState();
        ASSERT_TRUE(desktop.song.has_value());
        EXPECT_EQ(desktop.song->title,
                  player()->currentSong().value(QStringLiteral("title")).toString());
        EXPECT_NEAR(double(desktop.positionUs) / 1e6, point->seconds, 0.05);
        // Its lyrics can be read before it plays (they start with the song's title).
        controller->lyricsPanel()->toggleAction()->trigger();
        const QString songTitle = player()->currentSong().value(QStringLiteral("title")).toString();
        EXPECT_TRUE(waitFor([&] {
            return controller->lyricsPanel()->shownText().startsWith(songTitle + QLatin1Char('\n'));
        })) << controller->lyricsPanel()->shownText().toStdString();

        // Nothing played by itself; Play goes on from the stored time.
        QTest::qWait(200);
        EXPECT_EQ(service->requestTargets(QStringLiteral("/audio/")).size(), songRequests);
        QTest::mouseClick(controller->playButton(), Qt::LeftButton);
        ASSERT_TRUE(waitFor([&] { return isPlayingSong(static_cast<std::uint64_t>(c.row)); }));
        EXPECT_GE(player()->getCurrentPlayingCurrentTime(), point->seconds - 0.05);
        EXPECT_LT(player()->getCurrentPlayingCurrentTime(), point->seconds + 5);
        EXPECT_TRUE(rowMarked(c.row));
    }
}

} // namespace
} // namespace sondrel::test
