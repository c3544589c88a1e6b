#pragma once
// A one-column table of row views, built the way the desktop's view-based tables work:
// the data source answers the number of rows, the row height and a view for each row;
// only the rows on screen have views, and views scrolled away are kept for reuse under
// their identifier (makeViewWithIdentifier). So a list of any length costs only the
// rows that are visible.
//
// Row heights are one constant: the table asks the data source for the height of row 0
// at each reload and uses it for every row.
//
// Clicks on a row select it only when the data source agrees (tableViewShouldSelectRow);
// clicks on controls inside a row go to the control. The selection is a set of row
// numbers; it is not drawn (the rows mark themselves).
//
// The keyboard moves a cursor row, apart from the selection and drawn as a focus frame:
// Up/Down by one row, Page Up/Page Down by a screenful, Home/End to the ends; Enter (or
// Return) activates the cursor row through the data source (tableViewActivateRow), as a
// click on that row's button would. Assistive technologies see the table as a list whose
// items are the rows, with the texts the data source gives (SongTableAccessible.h).
//
// Main thread only (a widget).

#include <QAbstractScrollArea>
#include <QAccessible>
#include <QHash>
#include <QList>
#include <QPointer>
#include <QString>
#include <cstdint>
#include <functional>
#include <map>
#include <set>

namespace sondrel {

class SongTableView;

// The table's data source and delegate.
class TableViewDataSource {
public:
    virtual ~TableViewDataSource() = default;
    virtual std::int64_t numberOfRowsInTableView(SongTableView* table) = 0;
    virtual double tableViewHeightOfRow(SongTableView* table, std::int64_t row) = 0;
    virtual bool tableViewShouldSelectRow(SongTableView* table, std::int64_t row) = 0;
    // The filled view for `row`, usually from table->makeViewWithIdentifier(). The table
    // takes the view over.
    virtual QWidget* tableViewViewForTableColumn(SongTableView* table, int column,
                                                 std::int64_t row) = 0;
    // What assistive technologies read for `row`: QAccessible::Name (the row's texts) and
    // QAccessible::Description (its state); empty by default.
    virtual QString tableViewAccessibleText(SongTableView* /*table*/, std::int64_t /*row*/,
                                            QAccessible::Text /*kind*/) {
        return {};
    }
    // The row's own action (Enter on the cursor row, a screen reader's "press").
    virtual void tableViewActivateRow(SongTableView* /*table*/, std::int64_t /*row*/) {}
};

class SongTableView : public QAbstractScrollArea {
    Q_OBJECT

public:
    explicit SongTableView(QWidget* parent = nullptr);
    ~SongTableView() override;

    void setDataSource(TableViewDataSource* source) { dataSource = source; } // not owned
    TableViewDataSource* getDataSource() const { return dataSource; }

    // How to make a new view for `identifier` (the cell's interface description).
    void registerViewFactory(const QString& identifier, std::function<QWidget*()> factory);
    // A view for `identifier`: one scrolled out of view, or a new one from the factory
    // (nullptr when none is registered). `owner` is unused (views belong to the table).
    QWidget* makeViewWithIdentifier(const QString& identifier, QObject* owner);

    // Asks the data source again for the row count and rebuilds every visible row.
    void reloadData();
    std::int64_t numberOfRows() const { return rows; }
    int rowHeight() const { return height; }

    // The view of `row` when it is loaded; with makeIfNecessary a row in range is built
    // (and kept until it scrolls away), otherwise nullptr for a row not on screen.
    QWidget* rowViewAtRow(std::int64_t row, bool makeIfNecessary);
    // The rows that have a view right now, in order.
    QList<std::int64_t> loadedRows() const;
    // The row under a point of the viewport, or -1.
    std::int64_t rowAtPoint(const QPoint& point) const;
    QRect rectOfRow(std::int64_t row) const;
    void scrollRowToVisible(std::int64_t row);

    void selectRowIndexes(const std::set<std::int64_t>& indexes, bool byExtendingSelection);
    void deselectAll();
    const std::set<std::int64_t>& selectedRowIndexes() const { return selection; }
    // The first selected row, or -1.
    std::int64_t selectedRow() const;

    // The keyboard's cursor row, or -1 (none yet, or no rows).
    std::int64_t cursorRow() const { return cursor; }
    // Moves the cursor to `row` (clamped to the rows; -1 when there are none) and scrolls
    // it into view. showCursorRow also draws its frame (while the table has the keyboard).
    void setCursorRow(std::int64_t row);
    void showCursorRow(std::int64_t row);
    bool isCursorShown() const { return cursorShown; }
    // Runs the data source's action for `row` (nothing for a row out of range).
    void activateRow(std::int64_t row);
    // Tells assistive technologies that the texts of `row` changed (e.g. it started
    // playing). Costs nothing while none listens.
    void rowTextsChanged(std::int64_t row);

signals:
    void selectionDidChange();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void scrollContentsBy(int dx, int dy) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void updateScrollBar();
    void layoutRows();
    void placeRow(std::int64_t row, QWidget* view);
    void recycle(QWidget* view);
    QWidget* buildRow(std::int64_t row);
    void placeFocusFrame();
    void announceRow(std::int64_t row, QAccessible::Event what);
    std::int64_t rowsPerPage() const;
    // Where a cursor starts: the selected row when it is on screen, else the top row (so
    // the view does not jump).
    std::int64_t startRow() const;

    TableViewDataSource* dataSource = nullptr;
    std::int64_t rows = 0;
    int height = 24;
    std::map<std::int64_t, QPointer<QWidget>> loaded;  // row -> its view
    QHash<QString, QList<QPointer<QWidget>>> reusable; // views out of view
    QHash<QString, std::function<QWidget*()>> factories;
    std::set<std::int64_t> selection;
    std::int64_t cursor = -1;
    bool cursorShown = false;      // the keyboard has moved the cursor or brought the focus
    QWidget* focusFrame = nullptr; // child of the viewport, drawn over the cursor row
    bool layingOut = false;
};

} // namespace sondrel
