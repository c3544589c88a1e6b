#pragma once
// The record class of the "Songs" entity of the song cache store, and its three store
// operations: add-or-update one song, count an owner's songs, list an owner's songs in
// `num` order. A record read back is a copy of the stored values.
//
// The operations use no state of the object they are called on; the main controller
// keeps one for the life of the process. Nothing here saves: changes reach the file at
// AppDelegate::saveAction and at quitting.
//
// Main thread only (the thread that owns the store's context).

#include "shell/SongStoreModel.h"

#include <QList>
#include <QVariant>
#include <optional>

namespace sondrel {

class SongStoreContext;

class EntitySongs : public SongValues {
public:
    EntitySongs() = default;
    explicit EntitySongs(const SongValues& values) : SongValues(values) {}

    // Gives the record of (aid, ownerId) in `moc` these values, or inserts one. `ad` is
    // accepted and not used. Absent arguments are stored as absent values. A failed
    // lookup is logged ("any error fetch for update: ...") and a record is inserted.
    // The change is one step of the context's undo manager.
    void addOrUpdateWithAid(const QVariant& aid, const QVariant& ownerId, const QVariant& artist,
                            const QVariant& title, const QVariant& duration, const QVariant& url,
                            const QVariant& lyricsId, const QVariant& num, const QVariant& ad,
                            SongStoreContext* moc);

    // In the shared AppDelegate's context: the number of the owner's records (0 on
    // failure), and the owner's records in ascending `num` order (nothing on failure).
    unsigned calculateCountByOwnerId(const QVariant& ownerId);
    std::optional<QList<EntitySongs>> getByOwnerId(const QVariant& ownerId);
};

} // namespace sondrel
