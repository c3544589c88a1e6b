// The list requests of the real window against the stand-in service: the own list at
// start, searches, the error answers and an unreachable service.

#include "WindowFixture.h"
#include "platform/Log.h"
#include "support/CommonHelper.h"
#include "window/BusySpinner.h"

#include <QAction>
#include <QLineEdit>

namespace sondrel::test {
namespace {

class ListRequests : public WindowFixture {};

TEST_F(ListRequests, OwnListAppearsAtStartWithTheStoredToken) {
    const QJsonArray library = service->library();
    ASSERT_FALSE(library.isEmpty());
    EXPECT_EQ(rowCount(), library.size());
    const QStringList gets = service->requestTargets(QStringLiteral("/method/audio.get"));
    ASSERT_EQ(gets.size(), kStartupListRequests);
    EXPECT_TRUE(gets[0].contains(QStringLiteral("access_token=demo-token&")));
    EXPECT_TRUE(controller->progressIndicator()->isHidden());

    // Row 0 shows the first song: title line, length, "play", the row colour.
    const QJsonObject first = library[0].toObject();
    ASSERT_NE(rowTitle(0), nullptr);
    EXPECT_TRUE(rowTitle(0)->text().contains(first[QStringLiteral("title")].toString()));
    EXPECT_EQ(rowTime(0)->text(),
              CommonHelper::convertTimeFromSeconds(first[QStringLiteral("duration")].toVariant()));
    EXPECT_EQ(buttonImageName(rowButton(0)), QStringLiteral("play"));
    EXPECT_EQ(textColour(rowTitle(0)), QColor(0x5f, 0x7f, 0xa2));
    EXPECT_EQ(textColour(rowTime(0)), QColor(0x5f, 0x7f, 0xa2));
    EXPECT_FALSE(rowMarked(0));
    EXPECT_EQ(rowView(0)->height(), AppController::kRowHeight);
    // Before anything plays the title line shows the author's address.
    EXPECT_TRUE(controller->currentSongTitle()->text().startsWith(QStringLiteral("https://")));
}

TEST_F(ListRequests, SearchTextReachesTheServicePercentEncoded) {
    QLineEdit* field = controller->searchFieldCell();
    field->setFocus();
    field->setText(QStringLiteral("Кино two words"));
    waitForListAfter([&] { QTest::keyClick(field, Qt::Key_Return); });
    const QStringList searches = service->requestTargets(QStringLiteral("/method/audio.search"));
    ASSERT_EQ(searches.size(), 1);
    EXPECT_TRUE(searches[0].contains(
        QStringLiteral("&q=%D0%9A%D0%B8%D0%BD%D0%BE%20two%20words&auto_complete=1&sort=2"
                       "&count=200&offset=0")))
        << searches[0].toStdString();
    EXPECT_TRUE(searches[0].contains(QStringLiteral("access_token=demo-token&&q=")));
}

TEST_F(ListRequests, EmptyingTheSearchFieldReloadsTheOwnList) {
    const std::int64_t ownCount = rowCount();
    QLineEdit* field = controller->searchFieldCell();
    field->setFocus();
    field->setText(QStringLiteral("no such song anywhere"));
    waitForListAfter([&] { QTest::keyClick(field, Qt::Key_Return); });
    EXPECT_EQ(rowCount(), 0);

    // Deleting the text (as the field's clear button does) asks for the own list.
    waitForListAfter([&] {
        field->selectAll();
        QTest::keyClick(field, Qt::Key_Backspace);
    });
    EXPECT_EQ(rowCount(), ownCount);
    EXPECT_EQ(service->requestTargets(QStringLiteral("/method/audio.get")).size(),
              kStartupListRequests + 1);

    // Enter on an empty field does the same.
    waitForListAfter([&] { QTest::keyClick(field, Qt::Key_Return); });
    EXPECT_EQ(service->requestTargets(QStringLiteral("/method/audio.get")).size(),
              kStartupListRequests + 2);

    // The field's clear button shows while there is text, and empties it.
    auto* clear = field->findChild<QAction*>(QStringLiteral("searchClearAction"));
    ASSERT_NE(clear, nullptr);
    EXPECT_FALSE(clear->isVisible());
    field->setText(QStringLiteral("x"));
    EXPECT_TRUE(clear->isVisible());
    waitForListAfter([&] { clear->trigger(); });
    EXPECT_TRUE(field->text().isEmpty());
    EXPECT_EQ(service->requestTargets(QStringLiteral("/method/audio.get")).size(),
              kStartupListRequests + 3);
}

TEST_F(ListRequests, ErrorAnswersEmptyTheTableWithTheirLogLines) {
    struct Row {
        int code;
        QString line; // empty: no line
    };
    // (Code 5 opens the sign-in popover on the service's page: tests/signin covers it.)
    const Row rows[] = {
        {14, QStringLiteral("captcha needed")},
        {6, QString()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.code);
        waitForListAfter([&] { controller->searchSelector(); }); // the own list again
        ASSERT_GT(rowCount(), 0);
        ASSERT_TRUE(service->nextApiError(row.code, QStringLiteral("audio.get")));
        LogCapture log;
        waitForListAfter([&] { controller->searchSelector(); });
        EXPECT_EQ(rowCount(), 0);
        EXPECT_EQ(player()->getQuantityFromListOnScreen(), 0U);
        for (const QString& line : {QStringLiteral("token has been expired, need re-auth"),
                                    QStringLiteral("captcha needed")}) {
            EXPECT_EQ(log.count(line), line == row.line ? 1 : 0) << line.toStdString();
        }
        EXPECT_FALSE(controller->popover()->isVisible());
        EXPECT_TRUE(controller->progressIndicator()->isHidden());
    }
}

TEST_F(ListRequests, UnreachableServiceLeavesTheListOnScreen) {
    const std::int64_t before = rowCount();
    ServiceConfig unreachable = service->config();
    unreachable.apiOrigin = QStringLiteral("https://127.0.0.1:1"); // nothing listens there
    setServiceConfig(unreachable);
    LogCapture log;
    waitForListAfter([&] { controller->searchSelector(); });
    EXPECT_EQ(rowCount(), before);
    EXPECT_EQ(player()->getQuantityFromListOnScreen(), static_cast<std::uint64_t>(before));
    EXPECT_TRUE(controller->progressIndicator()->isHidden());
    EXPECT_EQ(log.count(QStringLiteral("captcha needed")), 0);
}

TEST_F(ListRequests, LoadingIndicatorShowsWhileARequestRuns) {
    QSignalSpy finished(controller.get(), &AppController::listRequestFinished);
    controller->searchSelector();
    EXPECT_FALSE(controller->progressIndicator()->isHidden());
    EXPECT_EQ(controller->listRequestsRunning(), 1);
    ASSERT_TRUE(waitFor([&] { return finished.count() > 0; }));
    EXPECT_TRUE(controller->progressIndicator()->isHidden());
}

} // namespace
} // namespace sondrel::test
