// The real window as a screen reader and a keyboard user meet it, through Qt's
// accessibility interfaces: every control's name, role and description, the song rows
// with their texts and the row that plays, names and states that follow the player,
// the Tab order, and the song list driven by Up, Down and Enter.

#include "WindowFixture.h"
#include "support/CommonHelper.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QAccessibleInterface>
#include <QLineEdit>
#include <QToolButton>
#include <vector>

namespace sondrel::test {
namespace {

class Accessibility : public WindowFixture {
protected:
    QAccessibleInterface* accessible(QObject* object) const {
        return QAccessible::queryAccessibleInterface(object);
    }
    QAccessibleInterface* songList() const { return accessible(table()); }
    QAccessibleInterface* songRow(int row) const { return songList()->child(row); }
    QWidget* named(const char* objectName) const {
        return controller->window()->findChild<QWidget*>(QLatin1String(objectName));
    }
    // The names in the window's accessible tree, walked from the window down as a screen
    // reader walks it, with the role of each.
    static void collect(QAccessibleInterface* node, std::vector<std::pair<QString, int>>& out,
                        int depth = 0) {
        out.emplace_back(node->text(QAccessible::Name), node->role());
        if (depth > 20) {
            return;
        }
        for (int i = 0; i < node->childCount() && i < 200; ++i) {
            if (QAccessibleInterface* child = node->child(i)) {
                collect(child, out, depth + 1);
            }
        }
    }
    // Presses row `row` the way a screen reader does, and waits until it plays.
    void pressRowAndWait(int row) {
        QAccessibleActionInterface* actions = songRow(row)->actionInterface();
        ASSERT_NE(actions, nullptr);
        actions->doAction(QAccessibleActionInterface::pressAction());
        ASSERT_TRUE(waitFor([&] { return isPlayingSong(static_cast<std::uint64_t>(row)); }));
    }
};

TEST_F(Accessibility, EveryControlHasANameARoleAndWhereUsefulADescription) {
    struct Case {
        const char* objectName;
        QString name;
        QAccessible::Role role;
        bool described;
    };
    const std::vector<Case> cases = {
        {"backwardButton", "Previous song", QAccessible::Button, true},
        {"playButton", "Play", QAccessible::Button, true},
        {"forwardButton", "Next song", QAccessible::Button, true},
        {"progressSlider", "Position", QAccessible::Slider, true},
        {"volumeSlider", "Volume", QAccessible::Slider, true},
        {"searchFieldCell", "Search", QAccessible::EditableText, true},
        {"repeatButton", "Repeat", QAccessible::Button, true},
        {"shuffleButton", "Shuffle", QAccessible::Button, true},
        {"translateButton", "Status broadcast", QAccessible::Button, true},
        {"loginPopoverDot", "Sign in", QAccessible::Button, true},
        {"translateCaptchaTextfield", "Captcha answer", QAccessible::EditableText, true},
        {"translateCaptchaImageView", "Captcha picture", QAccessible::StaticText, false},
        {"songsTableView", "Songs", QAccessible::List, true},
        {"twitterButton", "Twitter", QAccessible::Button, true},
        {"facebookButton", "Facebook", QAccessible::Button, true},
        {"linkedinButton", "LinkedIn", QAccessible::Button, true},
        {"currentSongTimeLeft", "", QAccessible::StaticText, true},
    };
    std::vector<std::pair<QString, int>> tree;
    collect(accessible(controller->window()), tree);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.objectName);
        QWidget* widget = named(c.objectName);
        ASSERT_NE(widget, nullptr);
        QAccessibleInterface* iface = accessible(widget);
        ASSERT_NE(iface, nullptr);
        if (!c.name.isEmpty()) {
            EXPECT_EQ(iface->text(QAccessible::Name), c.name);
        }
        EXPECT_EQ(iface->role(), c.role);
        EXPECT_EQ(!iface->text(QAccessible::Description).isEmpty(), c.described);
        // Reachable from the window (the captcha shows only when the service asks).
        if (widget->isVisibleTo(controller->window()) && !c.name.isEmpty()) {
            EXPECT_NE(std::find(tree.begin(), tree.end(), std::pair(c.name, int(c.role))),
                      tree.end());
        }
    }
    // The menu's logout item and the search field's clear button have names too.
    EXPECT_NE(std::find_if(tree.begin(), tree.end(),
                           [](const auto& entry) { return entry.first == "Log out"; }),
              tree.end());
    EXPECT_EQ(controller->searchFieldCell()
                  ->findChild<QAction*>(QStringLiteral("searchClearAction"))
                  ->text(),
              QStringLiteral("Clear the search"));
}

TEST_F(Accessibility, TheSongListReadsEveryRowAndWhichOnePlays) {
    QAccessibleInterface* list = songList();
    ASSERT_EQ(list->childCount(), rowCount());
    // Every row of the list, also those scrolled out of view: artist, title and length.
    for (int row = 0; row < list->childCount(); ++row) {
        const QJsonObject song = player()->showList().at(row);
        const QString expected =
            QStringLiteral("%1 - %2, %3")
                .arg(CommonHelper::cleanFromHTMLCharacters(song.value("artist").toString())
                         .value_or(QString()),
                     CommonHelper::cleanFromHTMLCharacters(song.value("title").toString())
                         .value_or(QString()),
                     CommonHelper::convertTimeFromSeconds(song.value("duration").toVariant()));
        EXPECT_EQ(songRow(row)->text(QAccessible::Name), expected) << "row " << row;
        EXPECT_EQ(songRow(row)->role(), QAccessible::ListItem);
        EXPECT_EQ(songRow(row)->parent(), list);
        EXPECT_EQ(list->indexOfChild(songRow(row)), row);
        EXPECT_TRUE(songRow(row)->text(QAccessible::Description).isEmpty());
    }
    EXPECT_EQ(list->child(list->childCount()), nullptr);

    struct Step {
        const char* what;
        std::function<void()> act;
        QString playButtonName;
        QString rowDescription;
    };
    const std::vector<Step> steps = {
        {"a screen reader presses row 1", [&] { pressRowAndWait(1); }, "Pause", "playing"},
        {"the play button pauses",
         [&] {
             controller->playButton()->click();
             ASSERT_TRUE(waitFor([&] { return player()->isPaused(); }));
         },
         "Play", "paused"},
        {"it resumes", [&] { pressRowAndWait(1); }, "Pause", "playing"},
    };
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        step.act();
        EXPECT_EQ(accessible(controller->playButton())->text(QAccessible::Name),
                  step.playButtonName);
        EXPECT_EQ(songRow(1)->text(QAccessible::Description), step.rowDescription);
        EXPECT_TRUE(songRow(1)->state().selected);
        EXPECT_FALSE(songRow(0)->state().selected);
        EXPECT_TRUE(songRow(0)->text(QAccessible::Description).isEmpty());
    }
    // The title line reads as plain text, not as the markup that styles it.
    EXPECT_EQ(accessible(controller->currentSongTitle())->text(QAccessible::Name),
              player()->getCurrentPlayingAttributedTitle().text);
    // A search result on screen: the song plays on, no row of it is the playing one.
    waitForListAfter([&] {
        controller->searchFieldCell()->setText(QStringLiteral("a"));
        controller->searchSelector();
    });
    for (int row = 0; row < songList()->childCount(); ++row) {
        EXPECT_TRUE(songRow(row)->text(QAccessible::Description).isEmpty()) << "row " << row;
    }
}

TEST_F(Accessibility, TogglesShowTheirStateAndSpacePressesTheFocusedButton) {
    struct Case {
        const char* objectName;
        std::function<bool()> playerSide;
    };
    const std::vector<Case> cases = {
        {"repeatButton", [&] { return player()->getRepeating(); }},
        {"shuffleButton", [&] { return player()->getShuffle(); }},
        {"translateButton", [] { return AppController::translateNowPlayingToProfile(); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.objectName);
        QWidget* button = named(c.objectName);
        QAccessibleInterface* iface = accessible(button);
        EXPECT_TRUE(iface->state().checkable);
        EXPECT_FALSE(iface->state().checked);
        // Tab gives it the keyboard; Space presses it, and does not play.
        button->setFocus(Qt::TabFocusReason);
        QTest::keyClick(button, Qt::Key_Space);
        EXPECT_TRUE(c.playerSide());
        EXPECT_TRUE(iface->state().checked);
        EXPECT_FALSE(player()->isPlaying());
        // A screen reader's toggle turns it off again.
        iface->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        EXPECT_FALSE(c.playerSide());
        EXPECT_FALSE(iface->state().checked);
    }
}

TEST_F(Accessibility, TabReachesEveryControlInReadingOrder) {
    const std::vector<const char*> order = {
        "backwardButton",  "playButton",    "forwardButton",  "progressSlider",  "volumeSlider",
        "searchFieldCell", "repeatButton",  "shuffleButton",  "translateButton", "loginPopoverDot",
        "songsTableView",  "twitterButton", "facebookButton", "linkedinButton",  "backwardButton"};
    named(order.front())->setFocus(Qt::TabFocusReason);
    for (std::size_t i = 1; i < order.size(); ++i) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        ASSERT_EQ(QApplication::focusWidget(), named(order[i]))
            << "after " << order[i - 1] << " came "
            << (QApplication::focusWidget() != nullptr
                    ? QApplication::focusWidget()->objectName().toStdString()
                    : std::string("nothing"));
    }
    // A click does not give a button the keyboard (Space goes on playing and pausing).
    table()->setFocus();
    QTest::mouseClick(named("shuffleButton"), Qt::LeftButton);
    EXPECT_NE(QApplication::focusWidget(), named("shuffleButton"));
}

TEST_F(Accessibility, UpDownMoveTheCursorAndEnterPlaysItsRow) {
    ASSERT_GE(rowCount(), 4);
    // The cursor's frame waits for the keyboard: none at start, one once Tab brings it.
    auto* frame = table()->viewport()->findChild<QWidget*>(QStringLiteral("tableFocusFrame"));
    ASSERT_NE(frame, nullptr);
    EXPECT_FALSE(frame->isVisible());
    controller->searchFieldCell()->setFocus(Qt::OtherFocusReason);
    table()->setFocus(Qt::TabFocusReason);
    EXPECT_TRUE(frame->isVisible());
    struct Step {
        Qt::Key key;
        std::int64_t cursor;
    };
    // The cursor starts on the first row; it stops at both ends.
    EXPECT_EQ(table()->cursorRow(), 0);
    const std::vector<Step> steps = {
        {Qt::Key_Down, 1},
        {Qt::Key_Down, 2},
        {Qt::Key_Up, 1},
        {Qt::Key_Up, 0},
        {Qt::Key_Up, 0},
        {Qt::Key_End, rowCount() - 1},
        {Qt::Key_Down, rowCount() - 1},
        {Qt::Key_Home, 0},
        {Qt::Key_Down, 1},
        {Qt::Key_Down, 2},
    };
    for (const Step& step : steps) {
        QTest::keyClick(table(), step.key);
        EXPECT_EQ(table()->cursorRow(), step.cursor) << "key " << step.key;
        // The row under the cursor is the focused one, and it is on screen.
        EXPECT_EQ(songList()->focusChild(), songRow(static_cast<int>(step.cursor)));
        EXPECT_TRUE(songRow(static_cast<int>(step.cursor))->state().focused);
        EXPECT_FALSE(songRow(static_cast<int>(step.cursor))->state().offscreen);
        EXPECT_EQ(frame->geometry(), table()->rectOfRow(step.cursor));
    }
    // Moving selects nothing and plays nothing; Enter plays the row, Enter again pauses.
    EXPECT_TRUE(table()->selectedRowIndexes().empty());
    EXPECT_FALSE(player()->isPlaying());
    QTest::keyClick(table(), Qt::Key_Return);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(2); }));
    EXPECT_TRUE(rowMarked(2));
    QTest::keyClick(table(), Qt::Key_Enter);
    ASSERT_TRUE(waitFor([&] { return player()->isPaused(); }));
    // Space still plays and pauses from the list.
    QTest::keyClick(table(), Qt::Key_Space);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(2); }));
}

} // namespace
} // namespace sondrel::test
