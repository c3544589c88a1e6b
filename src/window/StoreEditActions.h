#pragma once
// The window's commands for the song cache store: "Save" (Ctrl+S) in the application
// menu, and an "Edit" menu whose "Undo" and "Redo" act on the store context's undo
// stack (AppDelegate::windowWillReturnUndoManager).
//
// The stack is asked for only when the Edit menu opens or an undo or redo is asked for,
// since asking opens the store: a start that never edits never opens it. Until then
// both actions are enabled; from then on they follow the stack.
//
// Main thread. The actions and the menu belong to the window; this object (a child of
// the window's controller) only wires them.

#include <QObject>
#include <QPointer>

class QAction;
class QMainWindow;
class QMenu;
class QMenuBar;
class QUndoStack;

namespace sondrel {

class StoreEditActions : public QObject {
    Q_OBJECT

public:
    // Puts "Save" into `applicationMenu` in front of `saveBefore`, and the Edit menu into
    // `menuBar` in front of `editBefore` (a menu's action); the shortcuts also work with
    // the menu bar hidden.
    StoreEditActions(QMainWindow* window, QMenu* applicationMenu, QAction* saveBefore,
                     QMenuBar* menuBar, QAction* editBefore, QObject* parent = nullptr);

    QAction* saveAction() const { return save; }
    QAction* undoAction() const { return undo; }
    QAction* redoAction() const { return redo; }
    QMenu* editMenu() const { return edit; }

private:
    // The store's undo stack, asked for once and then followed; null without a store.
    QUndoStack* undoStack();
    void followStack();

    QPointer<QMainWindow> window;
    QAction* save = nullptr;
    QAction* undo = nullptr;
    QAction* redo = nullptr;
    QMenu* edit = nullptr;
    QPointer<QUndoStack> stack;
};

} // namespace sondrel
