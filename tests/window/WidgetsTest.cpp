// The window's own widgets on their own: the view-based song table, the float slider,
// the slider animation, the tagged song cell and the named images.

#include "ui_SongCell.h"
#include "window/FloatSlider.h"
#include "window/Images.h"
#include "window/NSAnimationForSlider.h"
#include "window/SongTableView.h"
#include "window/ViewTags.h"
#include "window/WindowStyle.h"

#include <QAbstractButton>
#include <QLabel>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>
#include <vector>

namespace sondrel {
namespace {

// A data source with `count` rows of 39 points; each row view is a label naming its row.
class CountingSource : public TableViewDataSource {
public:
    std::int64_t count = 0;
    bool selectable = false;
    int viewsMade = 0;
    int viewsAsked = 0;

    std::int64_t numberOfRowsInTableView(SongTableView*) override { return count; }
    double tableViewHeightOfRow(SongTableView*, std::int64_t) override { return 39; }
    bool tableViewShouldSelectRow(SongTableView*, std::int64_t) override { return selectable; }
    void tableViewActivateRow(SongTableView*, std::int64_t row) override {
        activated.push_back(row);
    }
    std::vector<std::int64_t> activated;
    QWidget* tableViewViewForTableColumn(SongTableView* table, int, std::int64_t row) override {
        ++viewsAsked;
        auto* label = qobject_cast<QLabel*>(table->makeViewWithIdentifier("Row", nullptr));
        label->setText(QString::number(row));
        return label;
    }
};

class TableTest : public ::testing::Test {
protected:
    void SetUp() override {
        table.registerViewFactory(QStringLiteral("Row"), [this] {
            ++source.viewsMade;
            return new QLabel;
        });
        table.setDataSource(&source);
        table.resize(300, 39 * 10 + 2 * table.frameWidth());
        table.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&table));
    }
    QString rowText(std::int64_t row) {
        auto* label = qobject_cast<QLabel*>(table.rowViewAtRow(row, false));
        return label != nullptr ? label->text() : QString();
    }
    CountingSource source;
    SongTableView table;
};

TEST_F(TableTest, AnEmptyListHasNoRows) {
    table.reloadData();
    EXPECT_EQ(table.numberOfRows(), 0);
    EXPECT_TRUE(table.loadedRows().isEmpty());
    EXPECT_EQ(table.rowViewAtRow(0, true), nullptr);
}

TEST_F(TableTest, ALongListBuildsOnlyTheVisibleRowsAndReusesThem) {
    source.count = 10000;
    table.reloadData();
    EXPECT_EQ(table.numberOfRows(), 10000);
    EXPECT_LE(table.loadedRows().size(), 11);
    EXPECT_EQ(rowText(0), QStringLiteral("0"));
    EXPECT_EQ(table.rowViewAtRow(5000, false), nullptr);
    const int made = source.viewsMade;

    table.verticalScrollBar()->setValue(39 * 5000);
    EXPECT_EQ(rowText(5000), QStringLiteral("5000"));
    EXPECT_EQ(table.rowViewAtRow(0, false), nullptr);
    EXPECT_EQ(table.rowViewAtRow(5000, false)->geometry().top(), 0);
    // Scrolling reused the views that left the screen.
    EXPECT_LE(source.viewsMade, made + 1);

    // Reloading rebuilds every visible row, with the views it has.
    const int asked = source.viewsAsked;
    table.reloadData();
    EXPECT_EQ(source.viewsAsked - asked, table.loadedRows().size());
    EXPECT_LE(source.viewsMade, made + 1);
}

TEST_F(TableTest, ClicksSelectOnlyWhenTheSourceAgrees) {
    source.count = 5;
    table.reloadData();
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, QPoint(150, 39 * 2 + 10));
    EXPECT_TRUE(table.selectedRowIndexes().empty());
    source.selectable = true;
    QTest::mouseClick(table.viewport(), Qt::LeftButton, {}, QPoint(150, 39 * 2 + 10));
    EXPECT_EQ(table.selectedRowIndexes(), (std::set<std::int64_t>{2}));
    // Selecting by code replaces the selection unless it extends it.
    table.selectRowIndexes({4}, false);
    EXPECT_EQ(table.selectedRowIndexes(), (std::set<std::int64_t>{4}));
    table.selectRowIndexes({1}, true);
    EXPECT_EQ(table.selectedRowIndexes(), (std::set<std::int64_t>{1, 4}));
    // A shorter list drops selected rows past its end.
    source.count = 3;
    table.reloadData();
    EXPECT_EQ(table.selectedRowIndexes(), (std::set<std::int64_t>{1}));
}

TEST_F(TableTest, TheKeyboardCursorStartsOnScreenAndPagesThroughALongList) {
    source.count = 10000;
    table.reloadData();
    table.verticalScrollBar()->setValue(39 * 5000);
    // Focus coming back to the table does not move the view: the cursor starts at the top
    // row on screen.
    QFocusEvent focusIn(QEvent::FocusIn, Qt::ActiveWindowFocusReason);
    QCoreApplication::sendEvent(&table, &focusIn);
    EXPECT_EQ(table.cursorRow(), 5000);
    EXPECT_EQ(table.verticalScrollBar()->value(), 39 * 5000);
    struct Step {
        Qt::Key key;
        std::int64_t cursor;
    };
    for (const Step step :
         {Step{Qt::Key_PageDown, 5010}, Step{Qt::Key_PageUp, 5000}, Step{Qt::Key_PageUp, 4990},
          Step{Qt::Key_End, 9999}, Step{Qt::Key_PageDown, 9999}, Step{Qt::Key_Home, 0}}) {
        QTest::keyClick(&table, step.key);
        EXPECT_EQ(table.cursorRow(), step.cursor) << "key " << step.key;
        EXPECT_NE(table.rowViewAtRow(step.cursor, false), nullptr) << "scrolled into view";
    }
    QTest::keyClick(&table, Qt::Key_Enter);
    EXPECT_EQ(source.activated, std::vector<std::int64_t>{0});
    // A shorter list keeps the cursor within it; an empty one has none.
    QTest::keyClick(&table, Qt::Key_End);
    source.count = 3;
    table.reloadData();
    EXPECT_EQ(table.cursorRow(), 2);
    source.count = 0;
    table.reloadData();
    EXPECT_EQ(table.cursorRow(), -1);
    QTest::keyClick(&table, Qt::Key_Return);
    EXPECT_EQ(source.activated.size(), 1u);
}

TEST_F(TableTest, RowViewsAreMadeOnlyOnRequest) {
    source.count = 100;
    table.reloadData();
    EXPECT_EQ(table.rowViewAtRow(80, false), nullptr);
    QWidget* made = table.rowViewAtRow(80, true);
    ASSERT_NE(made, nullptr);
    EXPECT_EQ(table.rowViewAtRow(80, false), made);
    EXPECT_EQ(table.rowViewAtRow(100, true), nullptr); // past the end
}

TEST(SongCell, FourPartsAreFoundByTheirTags) {
    QWidget cell;
    Ui::SongCell form;
    form.setupUi(&cell);
    EXPECT_EQ(cell.minimumHeight(), 39);
    const struct {
        int tag;
        QWidget* part;
    } rows[] = {
        {kSongCellHighlightTag, form.highlightView},
        {kSongCellTitleTag, form.titleField},
        {kSongCellButtonTag, form.rowButton},
        {kSongCellTimeTag, form.timeField},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(viewWithTag(&cell, row.tag), row.part) << row.tag;
    }
    EXPECT_NE(viewWithTag<QAbstractButton>(&cell, kSongCellButtonTag), nullptr);
    EXPECT_NE(viewWithTag<QLabel>(&cell, kSongCellTimeTag), nullptr);
    EXPECT_EQ(viewWithTag(&cell, 558), nullptr);
    EXPECT_EQ(viewWithTag(nullptr, 554), nullptr);
}

TEST(FloatSliderTest, OnlyTheUserFiresTheAction) {
    FloatSlider slider;
    slider.setMaxValue(100.0);
    slider.resize(200, 20);
    slider.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&slider));
    QSignalSpy actions(&slider, &FloatSlider::action);
    const struct {
        double set;
        double read;
    } rows[] = {{40.0, 40.0}, {75.5, 75.5}, {-3.0, 0.0}, {250.0, 100.0}, {std::nan(""), 0.0}};
    for (const auto& row : rows) {
        slider.setDoubleValue(row.set);
        EXPECT_EQ(slider.doubleValue(), row.read);
    }
    EXPECT_EQ(actions.count(), 0);
    // A click on the groove jumps there and is the user's change.
    QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(190, 10));
    EXPECT_GE(actions.count(), 1);
    EXPECT_GT(slider.doubleValue(), 80.0);
}

TEST(SliderAnimation, GlidesFromTheStartToTheTargetWithoutActions) {
    const struct {
        double start;
        float target;
    } rows[] = {{100.0, 40.0f}, {10.0, 40.0f}, {55.0, 55.0f}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.start);
        FloatSlider slider;
        slider.setMaxValue(100.0);
        slider.setDoubleValue(row.start);
        QSignalSpy actions(&slider, &FloatSlider::action);
        std::vector<double> seen;
        QObject::connect(&slider, &QAbstractSlider::valueChanged,
                         [&] { seen.push_back(slider.doubleValue()); });
        NSAnimationForSlider animation(0.3, Animation::NSAnimationEaseIn);
        animation.setAnimationBlockingMode(Animation::NSAnimationNonblocking);
        animation.setDelegateSlider(&slider);
        animation.setAnimateToValue(row.target);
        QSignalSpy ended(&animation, &Animation::animationDidEnd);
        animation.startAnimation();
        EXPECT_TRUE(animation.isAnimating());
        ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() == 1; }, 10000));
        EXPECT_EQ(slider.doubleValue(), row.target);
        EXPECT_EQ(animation.currentProgress(), 1.0f);
        EXPECT_EQ(actions.count(), 0);
        // Every value lies between the two ends and the run never turns back.
        for (std::size_t i = 0; i < seen.size(); ++i) {
            EXPECT_GE(seen[i], std::min<double>(row.start, row.target));
            EXPECT_LE(seen[i], std::max<double>(row.start, row.target));
            if (i > 0) {
                EXPECT_EQ(seen[i] >= seen[i - 1], row.target >= row.start);
            }
        }
    }
}

TEST(SliderAnimation, ASliderGoneMidRunIsLeftAlone) {
    auto slider = std::make_unique<FloatSlider>();
    NSAnimationForSlider animation(0.5, Animation::NSAnimationLinear);
    animation.setAnimationBlockingMode(Animation::NSAnimationNonblocking);
    animation.setDelegateSlider(slider.get());
    animation.setAnimateToValue(1.0f);
    QSignalSpy ended(&animation, &Animation::animationDidEnd);
    animation.startAnimation();
    slider.reset();
    ASSERT_TRUE(QTest::qWaitFor([&] { return ended.count() == 1; }, 10000));
    EXPECT_EQ(animation.delegateSlider(), nullptr);
}

TEST(NamedImages, EveryNameDrawsSharplyAtEveryScale) {
    const QStringList names = {"play",       "pause",   "playBig",     "pauseBig",  "repeat",
                               "repeat_off", "shuffle", "shuffle_off", "translate", "translate_off",
                               "backward",   "forward", "clear",       "more"};
    for (const QString& name : names) {
        SCOPED_TRACE(name.toStdString());
        const QIcon icon = imageNamed(name);
        ASSERT_FALSE(icon.isNull());
        for (const qreal scale : {1.0, 2.0}) {
            const QPixmap pixmap = icon.pixmap(QSize(24, 24), scale);
            EXPECT_EQ(pixmap.size(), QSize(24, 24) * scale);
            EXPECT_EQ(pixmap.devicePixelRatio(), scale);
            // Something is drawn (not an empty picture).
            const QImage image = pixmap.toImage();
            int opaque = 0;
            for (int y = 0; y < image.height(); ++y) {
                for (int x = 0; x < image.width(); ++x) {
                    opaque += qAlpha(image.pixel(x, y)) > 128 ? 1 : 0;
                }
            }
            EXPECT_GT(opaque, image.width() * image.height() / 20);
        }
        // A disabled button shows the picture greyed by the style, not unchanged.
        EXPECT_NE(icon.pixmap(QSize(24, 24), 1.0, QIcon::Disabled).toImage(),
                  icon.pixmap(QSize(24, 24), 1.0).toImage());
    }
    EXPECT_TRUE(imageNamed(QStringLiteral("no such image")).isNull());
}

TEST(WindowStyle, TheMenuBarArrowIsOurImageAndEverythingElseTheDesktopStyles) {
    WindowStyle::install();
    WindowStyle::install();
    auto* style = qobject_cast<WindowStyle*>(QApplication::style());
    ASSERT_NE(style, nullptr);
    const QImage arrow =
        style->standardIcon(QStyle::SP_ToolBarHorizontalExtensionButton, nullptr, nullptr)
            .pixmap(16)
            .toImage();
    EXPECT_EQ(arrow, imageNamed(QStringLiteral("more")).pixmap(16).toImage());
    EXPECT_FALSE(style->standardIcon(QStyle::SP_DialogOkButton, nullptr, nullptr).isNull());
    EXPECT_GT(style->pixelMetric(QStyle::PM_ButtonMargin), 0);
}

} // namespace
} // namespace sondrel
