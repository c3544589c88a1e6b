// The lyrics toggle and panel of the real window, with lyrics from the stand-in service.

#include "window/LyricsPanel.h"

#include "WindowFixture.h"

#include <QAction>

namespace sondrel::test {
namespace {

class LyricsPanelTest : public WindowFixture {
protected:
    LyricsPanel* panel() const { return controller->lyricsPanel(); }
    qsizetype lyricsRequests() const {
        return service->requestTargets(QStringLiteral("/method/audio.getLyrics")).size();
    }
    bool shows(const QString& text) const {
        return waitFor([&] { return panel()->shownText() == text; });
    }
};

TEST_F(LyricsPanelTest, ShowsTheCurrentSongsLyricsOnceFetched) {
    ASSERT_NE(panel(), nullptr);
    EXPECT_FALSE(panel()->isShown());
    clickRowButton(0);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(0); }));
    // Nothing is fetched while the panel is hidden.
    EXPECT_EQ(lyricsRequests(), 0);

    panel()->toggleAction()->trigger();
    ASSERT_TRUE(panel()->isShown());
    const QString title = player()->currentSong().value(QStringLiteral("title")).toString();
    const QString lyrics0 =
        title + QStringLiteral("\nA pure tone of 300 Hz & nothing else\nIt's \"quiet\" <3");
    EXPECT_TRUE(shows(lyrics0)) << panel()->shownText().toStdString();

    // The next song follows; back to the first comes from the cache.
    clickRowButton(1);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(1); }));
    EXPECT_TRUE(waitFor([&] { return panel()->shownText().contains(QStringLiteral("400 Hz")); }));
    clickRowButton(0);
    ASSERT_TRUE(waitFor([&] { return isPlayingSong(0); }));
    EXPECT_TRUE(shows(lyrics0));
    EXPECT_EQ(lyricsRequests(), 2);

    panel()->toggleAction()->trigger();
    EXPECT_FALSE(panel()->isShown());
}

TEST_F(LyricsPanelTest, SaysNoLyricsWhenThereAreNone) {
    panel()->toggleAction()->trigger();
    struct Row {
        const char* name;
        QJsonObject song;
    };
    const Row rows[] = {
        {"no lyrics id", QJsonObject{{QStringLiteral("aid"), 1}}},
        {"an id the service does not know",
         QJsonObject{{QStringLiteral("aid"), 2}, {QStringLiteral("lyrics_id"), 999}}},
    };
    for (const Row& row : rows) {
        panel()->showSong(QString::number(row.song.value(QStringLiteral("aid")).toInt()), row.song);
        EXPECT_TRUE(shows(LyricsPanel::kNoLyrics)) << row.name;
    }
}

} // namespace
} // namespace sondrel::test
