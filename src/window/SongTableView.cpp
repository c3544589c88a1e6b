#include "window/SongTableView.h"

#include "window/SongTableAccessible.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <algorithm>
#include <climits>

namespace sondrel {
namespace {

const char* const kIdentifierProperty = "tableViewIdentifier";

// The keyboard cursor's frame: drawn over the row views, invisible to the mouse.
class FocusFrame : public QWidget {
public:
    explicit FocusFrame(QWidget* parent) : QWidget(parent) {
        setAttribute(Qt::WA_TransparentForMouseEvents);
        setObjectName(QStringLiteral("tableFocusFrame"));
        hide();
    }

protected:
    void paintEvent(QPaintEvent* /*event*/) override {
        QPainter painter(this);
        painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
        painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
    }
};

} // namespace

SongTableView::SongTableView(QWidget* parent) : QAbstractScrollArea(parent) {
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    viewport()->setAutoFillBackground(true);
    viewport()->setBackgroundRole(QPalette::Base);
    focusFrame = new FocusFrame(viewport());
    SongTableAccessible::installFactory();
}

SongTableView::~SongTableView() = default;

void SongTableView::registerViewFactory(const QString& identifier,
                                        std::function<QWidget*()> factory) {
    factories.insert(identifier, std::move(factory));
}

QWidget* SongTableView::makeViewWithIdentifier(const QString& identifier, QObject* /*owner*/) {
    QList<QPointer<QWidget>>& pool = reusable[identifier];
    while (!pool.isEmpty()) {
        QPointer<QWidget> view = pool.takeLast();
        if (view) {
            return view;
        }
    }
    const auto factory = factories.constFind(identifier);
    if (factory == factories.constEnd() || !*factory) {
        return nullptr;
    }
    QWidget* view = (*factory)();
    if (view != nullptr) {
        view->setParent(viewport());
        view->setProperty(kIdentifierProperty, identifier);
        view->hide();
    }
    return view;
}

void SongTableView::reloadData() {
    rows = dataSource != nullptr
               ? std::max<std::int64_t>(0, dataSource->numberOfRowsInTableView(this))
               : 0;
    if (rows > 0) {
        const double asked = dataSource->tableViewHeightOfRow(this, 0);
        height = std::max(1, static_cast<int>(asked + 0.5));
    }
    for (auto& [row, view] : loaded) {
        recycle(view);
    }
    loaded.clear();
    for (auto it = selection.begin(); it != selection.end();) {
        it = *it >= rows ? selection.erase(it) : std::next(it);
    }
    // The cursor keeps its place within the new rows; the view does not move.
    cursor = rows > 0 ? std::min(cursor, rows - 1) : -1;
    updateScrollBar();
    layoutRows();
    if (QAccessible::isActive()) {
        SongTableAccessible::rowsReloaded(this);
        if (hasFocus()) {
            announceRow(cursor, QAccessible::Focus);
        }
    }
}

QWidget* SongTableView::rowViewAtRow(std::int64_t row, bool makeIfNecessary) {
    const auto found = loaded.find(row);
    if (found != loaded.end() && found->second) {
        return found->second;
    }
    if (!makeIfNecessary || row < 0 || row >= rows) {
        return nullptr;
    }
    return buildRow(row);
}

QList<std::int64_t> SongTableView::loadedRows() const {
    QList<std::int64_t> result;
    for (const auto& [row, view] : loaded) {
        if (view) {
            result.append(row);
        }
    }
    return result;
}

std::int64_t SongTableView::rowAtPoint(const QPoint& point) const {
    if (point.y() < 0) {
        return -1;
    }
    const std::int64_t row =
        (static_cast<std::int64_t>(point.y()) + verticalScrollBar()->value()) / height;
    return row < rows ? row : -1;
}

QRect SongTableView::rectOfRow(std::int64_t row) const {
    const std::int64_t top = row * height - verticalScrollBar()->value();
    return QRect(0, static_cast<int>(top), viewport()->width(), height);
}

void SongTableView::scrollRowToVisible(std::int64_t row) {
    if (row < 0 || row >= rows) {
        return;
    }
    const std::int64_t top = row * height;
    const int value = verticalScrollBar()->value();
    if (top < value) {
        verticalScrollBar()->setValue(static_cast<int>(top));
    } else if (top + height > value + viewport()->height()) {
        verticalScrollBar()->setValue(static_cast<int>(top + height - viewport()->height()));
    }
}

void SongTableView::selectRowIndexes(const std::set<std::int64_t>& indexes,
                                     bool byExtendingSelection) {
    if (!byExtendingSelection) {
        selection.clear();
    }
    for (const std::int64_t row : indexes) {
        if (row >= 0 && row < rows) {
            selection.insert(row);
        }
    }
    emit selectionDidChange();
    for (const std::int64_t row : selection) {
        announceRow(row, QAccessible::SelectionAdd);
    }
}

void SongTableView::deselectAll() {
    selection.clear();
    emit selectionDidChange();
    announceRow(-1, QAccessible::SelectionRemove);
}

std::int64_t SongTableView::selectedRow() const {
    return selection.empty() ? -1 : *selection.begin();
}

void SongTableView::resizeEvent(QResizeEvent* event) {
    QAbstractScrollArea::resizeEvent(event);
    updateScrollBar();
    layoutRows();
}

void SongTableView::scrollContentsBy(int /*dx*/, int /*dy*/) {
    layoutRows();
}

void SongTableView::mousePressEvent(QMouseEvent* event) {
    const std::int64_t row = rowAtPoint(event->position().toPoint());
    if (row >= 0 && dataSource != nullptr && dataSource->tableViewShouldSelectRow(this, row)) {
        selectRowIndexes({row}, false);
    }
    // The keyboard goes on from the row clicked (the selection is the source's to decide);
    // the frame waits for the keyboard.
    if (row >= 0) {
        cursorShown = false;
        setCursorRow(row);
    }
    event->accept();
}

void SongTableView::showCursorRow(std::int64_t row) {
    cursorShown = true;
    setCursorRow(row);
}

void SongTableView::setCursorRow(std::int64_t row) {
    const std::int64_t clamped = rows > 0 ? std::clamp<std::int64_t>(row, 0, rows - 1) : -1;
    const bool moved = clamped != cursor;
    cursor = clamped;
    scrollRowToVisible(cursor);
    placeFocusFrame();
    if (moved && hasFocus()) {
        announceRow(cursor, QAccessible::Focus);
    }
}

void SongTableView::activateRow(std::int64_t row) {
    if (dataSource != nullptr && row >= 0 && row < rows) {
        dataSource->tableViewActivateRow(this, row);
    }
}

void SongTableView::rowTextsChanged(std::int64_t row) {
    announceRow(row, QAccessible::NameChanged);
    announceRow(row, QAccessible::DescriptionChanged);
}

std::int64_t SongTableView::rowsPerPage() const {
    return std::max<std::int64_t>(1, viewport()->height() / height);
}

std::int64_t SongTableView::startRow() const {
    const std::int64_t selected = selectedRow();
    if (selected >= 0 && loaded.count(selected) > 0) {
        return selected;
    }
    return std::max<std::int64_t>(rowAtPoint(QPoint(0, 0)), 0);
}

void SongTableView::keyPressEvent(QKeyEvent* event) {
    const bool fresh = cursor < 0;
    const std::int64_t from = fresh ? startRow() : cursor;
    switch (event->key()) {
    case Qt::Key_Up:
        showCursorRow(fresh ? from : from - 1);
        break;
    case Qt::Key_Down:
        showCursorRow(fresh ? from : from + 1);
        break;
    case Qt::Key_PageUp:
        showCursorRow(from - rowsPerPage());
        break;
    case Qt::Key_PageDown:
        showCursorRow(from + rowsPerPage());
        break;
    case Qt::Key_Home:
        showCursorRow(0);
        break;
    case Qt::Key_End:
        showCursorRow(rows - 1);
        break;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        activateRow(cursor);
        break;
    default:
        QAbstractScrollArea::keyPressEvent(event);
        return;
    }
    event->accept();
}

void SongTableView::focusInEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusInEvent(event);
    // Reached with the keyboard: the frame shows where Enter acts. Focus given at start
    // or by a click shows none until a key moves the cursor.
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::TabFocusReason || reason == Qt::BacktabFocusReason ||
        reason == Qt::ShortcutFocusReason) {
        cursorShown = true;
    }
    if (cursor < 0 && rows > 0) {
        setCursorRow(startRow());
    } else {
        placeFocusFrame();
        announceRow(cursor, QAccessible::Focus);
    }
}

void SongTableView::focusOutEvent(QFocusEvent* event) {
    QAbstractScrollArea::focusOutEvent(event);
    placeFocusFrame();
}

void SongTableView::placeFocusFrame() {
    if (!cursorShown || !hasFocus() || cursor < 0 || cursor >= rows) {
        focusFrame->hide();
        return;
    }
    focusFrame->setGeometry(rectOfRow(cursor));
    focusFrame->raise();
    focusFrame->show();
}

void SongTableView::announceRow(std::int64_t row, QAccessible::Event what) {
    if (!QAccessible::isActive()) {
        return;
    }
    QAccessibleEvent event(this, what);
    if (row >= 0 && row < rows && row <= INT_MAX) {
        event.setChild(static_cast<int>(row));
    } else if (what != QAccessible::SelectionRemove) {
        return;
    }
    QAccessible::updateAccessibility(&event);
}

void SongTableView::updateScrollBar() {
    const std::int64_t content = rows * height;
    const std::int64_t range =
        std::clamp<std::int64_t>(content - viewport()->height(), 0, INT32_MAX);
    verticalScrollBar()->setRange(0, static_cast<int>(range));
    verticalScrollBar()->setPageStep(viewport()->height());
    verticalScrollBar()->setSingleStep(height);
}

void SongTableView::layoutRows() {
    if (layingOut) {
        return;
    }
    layingOut = true;
    const int offset = verticalScrollBar()->value();
    const std::int64_t first = offset / height;
    const std::int64_t last = std::min<std::int64_t>(
        rows - 1, (static_cast<std::int64_t>(offset) + viewport()->height()) / height);
    for (auto it = loaded.begin(); it != loaded.end();) {
        if (!it->second || it->first < first || it->first > last) {
            recycle(it->second);
            it = loaded.erase(it);
        } else {
            ++it;
        }
    }
    for (std::int64_t row = first; row <= last; ++row) {
        const auto found = loaded.find(row);
        if (found == loaded.end()) {
            buildRow(row);
        } else {
            placeRow(row, found->second);
        }
    }
    placeFocusFrame();
    layingOut = false;
}

void SongTableView::placeRow(std::int64_t row, QWidget* view) {
    view->setGeometry(rectOfRow(row));
}

void SongTableView::recycle(QWidget* view) {
    if (!view) {
        return;
    }
    view->hide();
    reusable[view->property(kIdentifierProperty).toString()].append(view);
}

QWidget* SongTableView::buildRow(std::int64_t row) {
    if (dataSource == nullptr) {
        return nullptr;
    }
    QWidget* view = dataSource->tableViewViewForTableColumn(this, 0, row);
    if (view == nullptr) {
        return nullptr;
    }
    if (view->parentWidget() != viewport()) {
        view->setParent(viewport());
    }
    // A view handed back for a second row stops belonging to the first.
    for (auto it = loaded.begin(); it != loaded.end(); ++it) {
        if (it->second == view && it->first != row) {
            loaded.erase(it);
            break;
        }
    }
    loaded[row] = view;
    placeRow(row, view);
    view->show();
    return view;
}

} // namespace sondrel
