#include "window/SongTableAccessible.h"

#include "window/SongTableView.h"

#include <QScrollBar>
#include <QWidget>
#include <QWindow>
#include <algorithm>
#include <climits>

namespace sondrel {
namespace {

QAccessibleInterface* makeTableInterface(const QString& className, QObject* object) {
    auto* table = qobject_cast<SongTableView*>(object);
    if (table == nullptr ||
        className != QLatin1String(SongTableView::staticMetaObject.className())) {
        return nullptr;
    }
    return new SongTableAccessible(table);
}

int clampedCount(std::int64_t count) {
    return static_cast<int>(std::min<std::int64_t>(count, INT_MAX));
}

} // namespace

SongTableAccessible::SongTableAccessible(SongTableView* table)
    : QAccessibleWidget(table, QAccessible::List) {}

SongTableAccessible::~SongTableAccessible() {
    dropRowsFrom(0);
}

void SongTableAccessible::installFactory() {
    static const bool installed = (QAccessible::installFactory(makeTableInterface), true);
    Q_UNUSED(installed);
}

void SongTableAccessible::rowsReloaded(SongTableView* table) {
    if (auto* self =
            dynamic_cast<SongTableAccessible*>(QAccessible::queryAccessibleInterface(table))) {
        self->dropRowsFrom(clampedCount(table->numberOfRows()));
        QAccessibleTableModelChangeEvent event(table, QAccessibleTableModelChangeEvent::ModelReset);
        QAccessible::updateAccessibility(&event);
    }
}

SongTableView* SongTableAccessible::table() const {
    return static_cast<SongTableView*>(widget());
}

void SongTableAccessible::dropRowsFrom(int first) {
    for (auto it = rowItems.lower_bound(first); it != rowItems.end();) {
        QAccessible::deleteAccessibleInterface(it->second);
        it = rowItems.erase(it);
    }
}

int SongTableAccessible::childCount() const {
    return clampedCount(table()->numberOfRows());
}

QAccessibleInterface* SongTableAccessible::child(int index) const {
    if (index < 0 || index >= childCount()) {
        return nullptr;
    }
    const auto found = rowItems.find(index);
    if (found != rowItems.end()) {
        return QAccessible::accessibleInterface(found->second);
    }
    auto* item = new SongRowAccessible(table(), index);
    rowItems[index] = QAccessible::registerAccessibleInterface(item);
    return item;
}

int SongTableAccessible::indexOfChild(const QAccessibleInterface* child) const {
    const auto* item = dynamic_cast<const SongRowAccessible*>(child);
    return item != nullptr && item->parent() == this ? item->row() : -1;
}

QAccessibleInterface* SongTableAccessible::childAt(int x, int y) const {
    const QPoint local = table()->viewport()->mapFromGlobal(QPoint(x, y));
    if (!table()->viewport()->rect().contains(local)) {
        return nullptr;
    }
    const std::int64_t row = table()->rowAtPoint(local);
    return row >= 0 && row <= INT_MAX ? child(static_cast<int>(row)) : nullptr;
}

QAccessibleInterface* SongTableAccessible::focusChild() const {
    const std::int64_t cursor = table()->cursorRow();
    if (!table()->hasFocus() || cursor < 0 || cursor > INT_MAX) {
        return nullptr;
    }
    return child(static_cast<int>(cursor));
}

SongRowAccessible::SongRowAccessible(SongTableView* table, int row)
    : table(table), rowNumber(row) {}

bool SongRowAccessible::isValid() const {
    return table && rowNumber < table->numberOfRows();
}

QWindow* SongRowAccessible::window() const {
    return table ? table->window()->windowHandle() : nullptr;
}

QAccessibleInterface* SongRowAccessible::parent() const {
    return table ? QAccessible::queryAccessibleInterface(table.data()) : nullptr;
}

QString SongRowAccessible::text(QAccessible::Text kind) const {
    if (!isValid() || table->getDataSource() == nullptr) {
        return {};
    }
    return table->getDataSource()->tableViewAccessibleText(table.data(), rowNumber, kind);
}

QRect SongRowAccessible::rect() const {
    if (!isValid()) {
        return {};
    }
    const QRect inViewport = table->rectOfRow(rowNumber);
    return QRect(table->viewport()->mapToGlobal(inViewport.topLeft()), inViewport.size());
}

QAccessible::State SongRowAccessible::state() const {
    QAccessible::State state;
    if (!isValid()) {
        state.invalid = true;
        return state;
    }
    state.focusable = true;
    state.selectable = true;
    state.selected = table->selectedRowIndexes().count(rowNumber) > 0;
    state.focused = table->hasFocus() && table->cursorRow() == rowNumber;
    if (!table->isVisible() || !table->viewport()->rect().intersects(table->rectOfRow(rowNumber))) {
        state.offscreen = true;
    }
    return state;
}

void* SongRowAccessible::interface_cast(QAccessible::InterfaceType type) {
    return type == QAccessible::ActionInterface ? static_cast<QAccessibleActionInterface*>(this)
                                                : nullptr;
}

QStringList SongRowAccessible::actionNames() const {
    return {pressAction(), setFocusAction()};
}

void SongRowAccessible::doAction(const QString& actionName) {
    if (!isValid()) {
        return;
    }
    if (actionName == pressAction()) {
        table->activateRow(rowNumber);
    } else if (actionName == setFocusAction()) {
        table->setFocus(Qt::OtherFocusReason);
        table->showCursorRow(rowNumber);
    }
}

QStringList SongRowAccessible::keyBindingsForAction(const QString& actionName) const {
    return actionName == pressAction() ? QStringList{QStringLiteral("Return")} : QStringList{};
}

} // namespace sondrel
