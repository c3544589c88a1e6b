#include "window/StoreEditActions.h"

#include "shell/AppDelegate.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QUndoStack>

namespace sondrel {

StoreEditActions::StoreEditActions(QMainWindow* window, QMenu* applicationMenu, QAction* saveBefore,
                                   QMenuBar* menuBar, QAction* editBefore, QObject* parent)
    : QObject(parent), window(window) {
    save = new QAction(tr("Save"), window);
    save->setObjectName(QStringLiteral("actionSave"));
    save->setShortcut(QKeySequence::Save);
    applicationMenu->insertAction(saveBefore, save);

    edit = new QMenu(tr("Edit"), menuBar);
    edit->setObjectName(QStringLiteral("menuEdit"));
    undo = edit->addAction(tr("Undo"));
    undo->setObjectName(QStringLiteral("actionUndo"));
    undo->setShortcut(QKeySequence::Undo);
    redo = edit->addAction(tr("Redo"));
    redo->setObjectName(QStringLiteral("actionRedo"));
    redo->setShortcut(QKeySequence::Redo);
    menuBar->insertMenu(editBefore, edit);
    window->addActions({save, undo, redo});

    connect(save, &QAction::triggered, this, [this] {
        if (AppDelegate* delegate = AppDelegate::sharedInstance()) {
            delegate->saveAction(save);
        }
    });
    connect(edit, &QMenu::aboutToShow, this, [this] { undoStack(); });
    connect(undo, &QAction::triggered, this, [this] {
        if (QUndoStack* s = undoStack(); s != nullptr && s->canUndo()) {
            s->undo();
        }
    });
    connect(redo, &QAction::triggered, this, [this] {
        if (QUndoStack* s = undoStack(); s != nullptr && s->canRedo()) {
            s->redo();
        }
    });
}

QUndoStack* StoreEditActions::undoStack() {
    if (stack == nullptr) {
        AppDelegate* delegate = AppDelegate::sharedInstance();
        stack = delegate ? delegate->windowWillReturnUndoManager(window) : nullptr;
        if (stack != nullptr) {
            connect(stack, &QUndoStack::canUndoChanged, this, &StoreEditActions::followStack);
            connect(stack, &QUndoStack::canRedoChanged, this, &StoreEditActions::followStack);
            connect(stack, &QObject::destroyed, this, &StoreEditActions::followStack);
        }
        followStack();
    }
    return stack;
}

void StoreEditActions::followStack() {
    undo->setEnabled(stack == nullptr || stack->canUndo());
    redo->setEnabled(stack == nullptr || stack->canRedo());
}

} // namespace sondrel
