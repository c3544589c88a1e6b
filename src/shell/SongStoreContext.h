#pragma once
// The song cache store's object context: the unsaved changes and the one way to save
// them.
//
// Changes are real writes inside one open SQLite write transaction, so every read
// through the context sees them; saving is one atomic COMMIT. The context also keeps
// the list of changes since the last save: when SQLite drops the transaction on its own
// (a failed commit on a full disk, an I/O error), the transaction is rebuilt from that
// list, so a failed save never loses a change: it can be tried again.
//
// Each change is registered with the undo manager (a QUndoStack).
//
// Main thread only: every field belongs to the thread that made the context.

#include "shell/SongStoreError.h"
#include "shell/SongStoreModel.h"

#include <QList>
#include <QString>
#include <functional>
#include <memory>
#include <optional>

class QUndoStack;

namespace sondrel {

class SongStoreCoordinator;

class SongStoreContext {
public:
    explicit SongStoreContext(SongStoreCoordinator* coordinator);
    // Unsaved changes are dropped (the transaction is rolled back).
    ~SongStoreContext();
    SongStoreContext(const SongStoreContext&) = delete;
    SongStoreContext& operator=(const SongStoreContext&) = delete;

    SongStoreCoordinator* persistentStoreCoordinator() const { return coordinator; }
    QUndoStack* undoManager() const { return undo.get(); }

    // True while there are changes since the last successful save.
    bool hasChanges() const { return !pending.isEmpty(); }
    // Asks whoever edits values for the store (an open table cell editor) to finish.
    // True when there is no such editor or it finished.
    bool commitEditing();
    void setCommitEditingHandler(std::function<bool()> handler);
    // Commits every change since the last save in one transaction. False with `error`
    // when the commit failed; the changes are then kept for a later try.
    bool save(StoreError* error);
    // Drops every change since the last save.
    void rollback();

    // The "Songs" entity, as its record class uses it.
    // The last record (in insertion order) of the pair; nothing when none or on failure
    // (then `error` is set).
    std::optional<SongValues> fetchLastSong(const QVariant& aid, const QVariant& ownerId,
                                            QString* error);
    // The owner's records in ascending `num` order; nothing on failure.
    std::optional<QList<SongValues>> fetchSongsOfOwner(const QVariant& ownerId, QString* error);
    std::optional<unsigned> countSongsOfOwner(const QVariant& ownerId, QString* error);
    // Gives the last record of (values.aid, values.owner_id) these values, inserting one
    // when there is none.
    void upsertSong(const SongValues& values);
    // Removes the last record of the pair (undo of an insertion).
    void removeSong(const QVariant& aid, const QVariant& ownerId);

private:
    struct Change {
        bool remove = false;
        SongValues values;
    };

    void apply(const Change& change);
    bool execute(const Change& change);
    // Makes sure the open transaction holds every pending change.
    bool realize(QString* error);
    bool inTransaction() const;

    SongStoreCoordinator* const coordinator;
    std::unique_ptr<QUndoStack> undo;
    std::function<bool()> commitEditingHandler;
    QList<Change> pending; // changes since the last successful save, in order
    bool stale = false;    // the open transaction misses some pending change
};

} // namespace sondrel
