#pragma once
// How assistive technologies (a screen reader, through the desktop's accessibility bus)
// see the song table: a list named after the table whose items are its rows, every row
// of the list and not only those on screen. A row item reads its texts from the table's
// data source (tableViewAccessibleText: Name, Description), is selected when the table
// selects it (the song now playing), focused when it is the keyboard's cursor row and
// the table has the keyboard, and offers one action, "Press", which activates it as Enter
// does. The row views inside the table are not shown to them: the items say it all.
//
// The interfaces are made only when something asks for them (a screen reader, a test),
// so the table costs nothing more while none listens.
//
// Main thread only.

#include <QAccessibleActionInterface>
#include <QAccessibleInterface>
#include <QAccessibleWidget>
#include <QPointer>
#include <map>

namespace sondrel {

class SongTableView;

class SongTableAccessible : public QAccessibleWidget {
public:
    explicit SongTableAccessible(SongTableView* table);
    ~SongTableAccessible() override;

    // Makes every SongTableView appear this way (once per process; idempotent).
    static void installFactory();
    // The table's list was replaced: row items past its end are dropped.
    static void rowsReloaded(SongTableView* table);

    int childCount() const override;
    QAccessibleInterface* child(int index) const override;
    int indexOfChild(const QAccessibleInterface* child) const override;
    QAccessibleInterface* childAt(int x, int y) const override;
    QAccessibleInterface* focusChild() const override;

private:
    SongTableView* table() const;
    void dropRowsFrom(int first);

    mutable std::map<int, QAccessible::Id> rowItems; // row -> registered item
};

class SongRowAccessible : public QAccessibleInterface, public QAccessibleActionInterface {
public:
    SongRowAccessible(SongTableView* table, int row);

    int row() const { return rowNumber; }

    bool isValid() const override;
    QObject* object() const override { return nullptr; }
    QWindow* window() const override;
    QAccessibleInterface* parent() const override;
    QAccessibleInterface* child(int /*index*/) const override { return nullptr; }
    int childCount() const override { return 0; }
    int indexOfChild(const QAccessibleInterface* /*child*/) const override { return -1; }
    QAccessibleInterface* childAt(int /*x*/, int /*y*/) const override { return nullptr; }
    QAccessibleInterface* focusChild() const override { return nullptr; }
    QString text(QAccessible::Text kind) const override;
    void setText(QAccessible::Text /*kind*/, const QString& /*text*/) override {}
    QRect rect() const override;
    QAccessible::Role role() const override { return QAccessible::ListItem; }
    QAccessible::State state() const override;
    void* interface_cast(QAccessible::InterfaceType type) override;

    QStringList actionNames() const override;
    void doAction(const QString& actionName) override;
    QStringList keyBindingsForAction(const QString& actionName) const override;

private:
    QPointer<SongTableView> table;
    int rowNumber;
};

} // namespace sondrel
