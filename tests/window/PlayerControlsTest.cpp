// The real window driving the real song player (sound to the null output): row buttons,
// the play button's states, the title line, the progress slider, the set-up rules, the
// keyboard and the controls restored at start.

#include "WindowFixture.h"
#include "mediakeys/MediaKeyEvent.h"
#include "platform/Log.h"
#include "playback/SongDownloader.h"
#include "shell/EntitySongs.h"
#include "shell/SettingsStore.h"
#include "shell/SongStoreContext.h"
#include "window/AuthorLinks.h"
#include "window/FloatSlider.h"
#include "window/NSAnimationForSlider.h"

#include <QAction>
#include <QFontInfo>
#include <QLineEdit>
#include <QTextBlock>
#include <QTextDocument>
#include <QToolButton>

namespace sondrel::test {
namespace {

class PlayerControls : public WindowFixture {
protected:
    void playRowAndWait(std::int64_t row) {
        clickRowButton(row);
        ASSERT_TRUE(waitFor([&] { return isPlayingSong(static_cast<std::uint64_t>(row)); }))
            << "row " << row << " did not start";
    }
    QString playImage() const { return buttonImageName(controller->playButton()); }
};

TEST_F(PlayerControls, RowButtonPlaysThatSongAndMovesTheMark) {
    playRowAndWait(0);
    EXPECT_TRUE(rowMarked(0));
    EXPECT_EQ(buttonImageName(rowButton(0)), QStringLiteral("pause"));
    EXPECT_EQ(textColour(rowTitle(0)), QColor(Qt::white));
    EXPECT_EQ(textColour(rowTime(0)), QColor(Qt::white));
    EXPECT_EQ(playImage(), QStringLiteral("pauseBig"));
    EXPECT_EQ(table()->selectedRowIndexes(), (std::set<std::int64_t>{0}));
    const AttributedTitle attributed = player()->getCurrentPlayingAttributedTitle();
    const QString title0 = attributed.text;
    // The title line and the row draw the bold part in the title's bold face and the rest
    // in their own font (laid out the way a label lays out its rich text).
    const QFontInfo boldFace(titleBoldFont());
    for (const QLabel* label : {controller->currentSongTitle(), rowTitle(0)}) {
        QTextDocument drawn;
        drawn.setDefaultFont(label->font());
        drawn.setHtml(label->text());
        std::vector<std::pair<QString, QFontInfo>> parts;
        for (auto it = drawn.firstBlock().begin(); !it.atEnd(); ++it) {
            parts.emplace_back(it.fragment().text(), QFontInfo(it.fragment().charFormat().font()));
        }
        ASSERT_EQ(parts.size(), 2U) << label->text().toStdString();
        EXPECT_EQ(parts[0].first, attributed.boldPart());
        EXPECT_EQ(parts[0].second.family(), boldFace.family());
        EXPECT_TRUE(parts[0].second.bold());
        EXPECT_EQ(parts[0].second.pointSize(), 11);
        EXPECT_EQ(parts[1].first, attributed.plainPart());
        EXPECT_EQ(parts[1].second.family(), QFontInfo(label->font()).family());
        EXPECT_EQ(parts[1].second.bold(), label->font().bold());
        EXPECT_EQ(parts[1].second.pointSize(), QFontInfo(label->font()).pointSize());
    }
    ASSERT_TRUE(controller->notification().has_value());
    EXPECT_EQ(controller->notification()->title, QStringLiteral("Sondrel"));
    EXPECT_EQ(controller->notification()->informativeText, title0);
    // The timer writes the time left into the row and the window.
    ASSERT_TRUE(waitFor([&] { return rowTime(0)->text().startsWith(QLatin1Char('-')); }));
    EXPECT_TRUE(controller->currentSongTimeLeft()->text().startsWith(QLatin1Char('-')));

    playRowAndWait(2);
    EXPECT_TRUE(rowMarked(2));
    EXPECT_FALSE(rowMarked(0));
    EXPECT_EQ(buttonImageName(rowButton(0)), QStringLiteral("play"));
    EXPECT_EQ(buttonImageName(rowButton(2)), QStringLiteral("pause"));
    EXPECT_EQ(textColour(rowTitle(0)), QColor(0x5f, 0x7f, 0xa2));
    EXPECT_FALSE(rowTime(0)->text().startsWith(QLatin1Char('-')));
    EXPECT_EQ(table()->selectedRowIndexes(), (std::set<std::int64_t>{2}));
    EXPECT_NE(controller->notification()->informativeText, title0);
    // Both songs were fetched from the service, once each (the song after row 0 may have
    // been fetched ahead as well).
    for (const int row : {0, 2}) {
        const QString aid = songIdText(player()->playList().at(row).value("aid"));
        EXPECT_EQ(service->requestTargets("/audio/" + aid + ".").size(), 1) << row;
    }
}

TEST_F(PlayerControls, ClickingThePlayingRowPausesAndResumesWithoutMovingTheMark) {
    playRowAndWait(1);
    clickRowButton(1);
    ASSERT_TRUE(waitFor([&] { return player()->isPaused(); }));
    EXPECT_EQ(controller->currentSongTitle()->text(), QStringLiteral("На паузе"));
    EXPECT_EQ(playImage(), QStringLiteral("playBig"));
    EXPECT_EQ(buttonImageName(rowButton(1)), QStringLiteral("play"));
    EXPECT_TRUE(rowMarked(1));
    table()->reloadData(); // the rows are built again
    EXPECT_EQ(buttonImageName(rowButton(1)), QStringLiteral("play"));

    clickRowButton(1);
    ASSERT_TRUE(waitFor([&] { return player()->isPlaying(); }));
    EXPECT_EQ(playImage(), QStringLiteral("pauseBig"));
    EXPECT_EQ(buttonImageName(rowButton(1)), QStringLiteral("pause"));
    EXPECT_TRUE(rowMarked(1));
    EXPECT_EQ(player()->getCurrentSongNumber(), 1U);
}

TEST_F(PlayerControls, PausingClosesTheSignInPopover) {
    playRowAndWait(0);
    controller->popover()->show();
    ASSERT_TRUE(controller->popover()->isVisible());
    controller->playSelector();
    ASSERT_TRUE(waitFor([&] { return player()->isPaused(); }));
    EXPECT_FALSE(controller->popover()->isVisible());
}

TEST_F(PlayerControls, StopResetsTheSliderAndShowsTheAuthorsAddress) {
    playRowAndWait(0);
    ASSERT_TRUE(waitFor([&] { return controller->progressSlider()->doubleValue() > 0.0; }));
    EXPECT_LE(controller->progressSlider()->doubleValue(), 1.0);
    player()->stop();
    EXPECT_EQ(controller->progressSlider()->doubleValue(), 0.0);
    EXPECT_EQ(controller->currentSongTitle()->text(), kAuthorWebAddress);
    EXPECT_EQ(playImage(), QStringLiteral("playBig"));
    EXPECT_EQ(buttonImageName(rowButton(0)), QStringLiteral("play"));
}

TEST_F(PlayerControls, DownloadedFillFollowsEachAnnouncementOfTheDownloader) {
    SongDownloader* downloader = SongDownloader::sharedInstance();
    ASSERT_NE(downloader, nullptr);
    FloatSlider* slider = controller->progressSlider();
    // Connected after the window's own connection, so it sees the slider just after it.
    std::vector<std::pair<double, double>> fillAndShare;
    QObject scope;
    QObject::connect(downloader, &SongDownloader::downloadedShareChanged, &scope, [&] {
        const auto data = downloader->getSongData();
        const std::int64_t expected = SongDownloader::currentSongDataLengthValue();
        const double share = !data                                      ? 0.0
                             : downloader->isSongCompletelyDownloaded() ? 1.0
                             : expected > 0 ? double(data->bytes.size()) / double(expected)
                                            : 0.0;
        fillAndShare.emplace_back(slider->availableFraction(), share);
    });
    playRowAndWait(1);
    ASSERT_TRUE(waitFor([&] { return downloader->isSongCompletelyDownloaded(); }));
    ASSERT_FALSE(fillAndShare.empty());
    EXPECT_EQ(fillAndShare.back().second, 1.0);
    for (const auto& [fill, share] : fillAndShare) {
        EXPECT_NEAR(fill, share, 0.001);
    }
}

TEST_F(PlayerControls, BecomingMainThreeTimesSetsUpOnce) {
    SongPlayer* first = player();
    LogCapture log;
    controller->windowDidBecomeMain();
    controller->windowDidBecomeMain();
    EXPECT_EQ(player(), first);
    EXPECT_EQ(log.count(QStringLiteral("Error: You are creating a second SongPlayer. Bad Olvik")),
              0);
    // The start-up list request ran once, and no other one started.
    EXPECT_EQ(controller->listRequestsRunning(), 0);
    EXPECT_EQ(service->requestTargets(QStringLiteral("/method/audio.get")).size(),
              kStartupListRequests);
    // Hidden right after the start-up check, shown again when the sign-in completes.
    EXPECT_TRUE(controller->menuLogoutItem()->isVisible());
    EXPECT_FALSE(AppController::launchedAtThisMoment());
    EXPECT_FALSE(AppController::needToCheckAuthAfterWindowDidBecomeMain());
}

TEST_F(PlayerControls, AnotherListOnScreenLeavesTheRowsAlone) {
    playRowAndWait(0);
    const QString playing = player()->getCurrentPlayingAttributedTitle().text;
    const auto search = [&](const QString& text) {
        controller->searchFieldCell()->setText(text);
        waitForListAfter([&] { controller->searchSelector(); });
    };
    // A search result on screen is not the play list: no row is marked, every row shows
    // its length and "play", even the row of the song now playing (its first row here).
    search(QStringLiteral("Кино"));
    ASSERT_GE(rowCount(), 2);
    ASSERT_EQ(player()->getAttributedTitleForSongInListOnScreenAtRow(0).text, playing);
    for (std::int64_t row = 0; row < rowCount(); ++row) {
        SCOPED_TRACE(row);
        EXPECT_FALSE(rowMarked(row));
        EXPECT_EQ(buttonImageName(rowButton(row)), QStringLiteral("play"));
        EXPECT_EQ(rowTime(row)->text(),
                  player()->getTimeDurationForSongAtRow(static_cast<std::uint64_t>(row)));
    }
    EXPECT_TRUE(isPlayingSong(0)) << "the play list plays on";

    // The same list fetched again equals the play list: the playing row is marked again.
    search(QString());
    ASSERT_GT(rowCount(), 0);
    EXPECT_TRUE(rowMarked(0));
    EXPECT_EQ(buttonImageName(rowButton(0)), QStringLiteral("pause"));

    // A row's button on a search result makes it the play list and plays that row.
    search(QStringLiteral("Кино"));
    playRowAndWait(1);
    EXPECT_TRUE(player()->isCurrentPlaylistEqualToListOnScreen());
    EXPECT_TRUE(rowMarked(1));
    EXPECT_FALSE(rowMarked(0));
}

TEST_F(PlayerControls, RepeatAndShuffleShowTheStateAfterTheChange) {
    auto* repeat = controller->window()->findChild<QToolButton*>(QStringLiteral("repeatButton"));
    auto* shuffle = controller->window()->findChild<QToolButton*>(QStringLiteral("shuffleButton"));
    ASSERT_NE(repeat, nullptr);
    ASSERT_NE(shuffle, nullptr);
    const struct {
        QToolButton* button;
        QString on;
        QString off;
        std::function<bool()> state;
    } rows[] = {
        {repeat, QStringLiteral("repeat"), QStringLiteral("repeat_off"),
         [this] { return player()->getRepeating(); }},
        {shuffle, QStringLiteral("shuffle"), QStringLiteral("shuffle_off"),
         [this] { return player()->getShuffle(); }},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(buttonImageName(row.button), row.off);
        QTest::mouseClick(row.button, Qt::LeftButton);
        EXPECT_TRUE(row.state());
        EXPECT_EQ(buttonImageName(row.button), row.on);
        QTest::mouseClick(row.button, Qt::LeftButton);
        EXPECT_FALSE(row.state());
        EXPECT_EQ(buttonImageName(row.button), row.off);
    }
}

TEST_F(PlayerControls, UnknownPlayButtonStateChangesNothing) {
    const QString title = controller->currentSongTitle()->text();
    controller->playButtonState(3);
    controller->playButtonState(-1);
    EXPECT_EQ(playImage(), QStringLiteral("playBig"));
    EXPECT_EQ(controller->currentSongTitle()->text(), title);
}

TEST_F(PlayerControls, SaveUndoAndRedoKeysActOnTheSongStore) {
    QWidget* window = controller->window();
    auto* undo = window->findChild<QAction*>(QStringLiteral("actionUndo"));
    auto* redo = window->findChild<QAction*>(QStringLiteral("actionRedo"));
    ASSERT_NE(undo, nullptr);
    ASSERT_NE(redo, nullptr);
    SongStoreContext* moc = delegate->managedObjectContext();
    ASSERT_NE(moc, nullptr);
    const QVariant owner(4242);
    const auto songs = [&] { return moc->countSongsOfOwner(owner, nullptr).value_or(999); };
    const unsigned before = songs();
    for (int aid : {1, 2}) {
        EntitySongs().addOrUpdateWithAid(aid, owner, QStringLiteral("A"), QStringLiteral("T"), 10,
                                         QStringLiteral("u"), 0, aid, {}, moc);
    }
    ASSERT_EQ(songs(), before + 2);

    table()->setFocus();
    const struct {
        QKeySequence::StandardKey keys;
        unsigned added;
        bool canUndo;
        bool canRedo;
    } steps[] = {
        {QKeySequence::Undo, 1, true, true},  {QKeySequence::Undo, 0, false, true},
        {QKeySequence::Undo, 0, false, true}, {QKeySequence::Redo, 1, true, true},
        {QKeySequence::Redo, 2, true, false}, {QKeySequence::Undo, 1, true, true},
    };
    for (const auto& step : steps) {
        QTest::keySequence(window, step.keys);
        EXPECT_EQ(songs(), before + step.added);
        EXPECT_EQ(undo->isEnabled(), step.canUndo);
        EXPECT_EQ(redo->isEnabled(), step.canRedo);
    }
    EXPECT_TRUE(moc->hasChanges());
    QTest::keySequence(window, QKeySequence::Save);
    EXPECT_FALSE(moc->hasChanges()) << "the save command commits the changes";
    EXPECT_EQ(songs(), before + 1);
}

TEST_F(PlayerControls, MediaKeysActLikeTheButtonsOnKeyDownOnly) {
    playRowAndWait(0);
    const MediaKeyEvent notAKey{10, 0, MediaKeyEvent::make(NX_KEYTYPE_PLAY, true).data1};
    const struct {
        const char* what;
        MediaKeyEvent event;
        std::uint64_t song; // then playing (or paused) this song
        bool paused;
    } rows[] = {
        {"play down", MediaKeyEvent::make(16, true), 0, true},
        {"play up", MediaKeyEvent::make(16, false), 0, true},
        {"play repeat", MediaKeyEvent::make(16, true, true), 0, false},
        {"next-track down", MediaKeyEvent::make(19, true), 1, false},
        {"next-track up", MediaKeyEvent::make(19, false), 1, false},
        {"next-track repeat", MediaKeyEvent::make(19, true, true), 2, false},
        {"fast-forward down", MediaKeyEvent::make(17, true), 2, false},
        {"rewind down", MediaKeyEvent::make(18, true), 2, false},
        {"previous-track down", MediaKeyEvent::make(20, true), 1, false},
        {"previous-track up", MediaKeyEvent::make(20, false), 1, false},
        {"not a media key event", notAKey, 1, false},
    };
    LogCapture log;
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        controller->mediaKeyTapReceivedMediaKeyEvent(controller->mediaKeyTap(), row.event);
        EXPECT_EQ(player()->getCurrentSongNumber(), row.song);
        ASSERT_TRUE(
            waitFor([&] { return row.paused ? player()->isPaused() : isPlayingSong(row.song); }));
    }
    EXPECT_EQ(log.count(QStringLiteral("Unexpected NSEvent in mediaKeyTap:receivedMediaKeyEvent:")),
              1);
}

TEST_F(PlayerControls, KeyboardPlaysPausesAndSkips) {
    QWidget* window = controller->window();
    table()->setFocus();
    // The first list became the play list: Space starts its first song.
    QTest::keyClick(window, Qt::Key_Space);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(0); }));
    QTest::keyClick(window, Qt::Key_Right, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(1); }));
    QTest::keyClick(window, Qt::Key_Left, Qt::ControlModifier);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(0); }));
    QTest::keyClick(window, Qt::Key_Space);
    ASSERT_TRUE(waitFor([&] { return player()->isPaused(); }));

    // In the search field Space is a space.
    QLineEdit* field = controller->searchFieldCell();
    field->setFocus();
    QTest::keyClick(field, Qt::Key_Space);
    EXPECT_EQ(field->text(), QStringLiteral(" "));
    EXPECT_TRUE(player()->isPaused());
}

TEST_F(PlayerControls, FirstLaunchGlidesTheVolumeToItsMaximum) {
    if (AppDelegate::getObjectWithKey(QStringLiteral("lastVolume")).isValid()) {
        GTEST_SKIP() << "an earlier test in this process stored a volume";
    }
    ASSERT_TRUE(waitFor([&] { return controller->volumeSlider()->doubleValue() == 100.0; }));
    EXPECT_EQ(buttonImageName(controller->translateButton()), QStringLiteral("translate_off"));
}

TEST_F(PlayerControls, VolumeSliderGlidesToTheStoredVolume) {
    struct Row {
        QString stored;
        double start;
        double expected;
    };
    const Row rows[] = {
        {QStringLiteral("40.000000"), 90.0, 40.0},   {QStringLiteral("40.000000"), 10.0, 40.0},
        {QStringLiteral("75.5"), 75.5, 75.5}, // target equals start: it stays
        {QStringLiteral("not a number"), 50.0, 0.0}, {QStringLiteral("12abc"), 50.0, 12.0},
    };
    FloatSlider* slider = controller->volumeSlider();
    const auto animationsOver = [&] {
        return controller->findChildren<NSAnimationForSlider*>().isEmpty();
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.stored.toStdString());
        // The glide of the start-up (or of the row before) has ended and is gone.
        ASSERT_TRUE(waitFor(animationsOver));
        AppDelegate::saveObjectWithKey(row.stored, QStringLiteral("lastVolume"));
        slider->setDoubleValue(row.start);
        QSignalSpy actions(slider, &FloatSlider::action);
        double low = row.start;
        double high = row.start;
        QObject watcher;
        QObject::connect(slider, &QAbstractSlider::valueChanged, &watcher, [&] {
            low = std::min(low, slider->doubleValue());
            high = std::max(high, slider->doubleValue());
        });
        controller->repairControls();
        ASSERT_TRUE(waitFor([&] { return slider->doubleValue() == row.expected; }))
            << slider->doubleValue();
        // The slider moved only between the two ends, and fired no action: the stored
        // volume and the player's volume are untouched.
        EXPECT_GE(low, std::min(row.start, row.expected));
        EXPECT_LE(high, std::max(row.start, row.expected));
        EXPECT_EQ(actions.count(), 0);
        EXPECT_EQ(AppDelegate::getObjectWithKey(QStringLiteral("lastVolume")).toString(),
                  row.stored);
    }
    // The player's next question stores and answers the slider's value.
    slider->setDoubleValue(40.0);
    EXPECT_FLOAT_EQ(controller->songPlayerGetVolumeLevel(), 0.4f);
    EXPECT_EQ(AppDelegate::getObjectWithKey(QStringLiteral("lastVolume")).toString(),
              QStringLiteral("40.000000"));
}

TEST_F(PlayerControls, StatusBroadcastSwitchIsRestored) {
    for (const bool on : {true, false}) {
        AppDelegate::saveObjectWithKey(on, QStringLiteral("lastTranslateCurrentSongToProfile"));
        controller->repairControls();
        EXPECT_EQ(AppController::translateNowPlayingToProfile(), on);
        EXPECT_EQ(buttonImageName(controller->translateButton()),
                  on ? QStringLiteral("translate") : QStringLiteral("translate_off"));
    }
}

} // namespace
} // namespace sondrel::test
