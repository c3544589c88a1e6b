#include "shell/EntitySongs.h"

#include "platform/Log.h"
#include "shell/AppDelegate.h"
#include "shell/SongStoreContext.h"

#include <QUndoCommand>
#include <QUndoStack>

namespace sondrel {
namespace {

// One add-or-update as an undoable step: redo writes the new values, undo puts back
// the old ones (or removes the record it inserted).
class SongChangeCommand : public QUndoCommand {
public:
    SongChangeCommand(SongStoreContext* context, std::optional<SongValues> before, SongValues after)
        : QUndoCommand(QStringLiteral("Add song")), moc(context), old(std::move(before)),
          next(std::move(after)) {}

    void redo() override { moc->upsertSong(next); }
    void undo() override {
        if (old) {
            moc->upsertSong(*old);
        } else {
            moc->removeSong(next.aid, next.owner_id);
        }
    }

private:
    SongStoreContext* moc;
    std::optional<SongValues> old;
    SongValues next;
};

SongStoreContext* sharedContext() {
    AppDelegate* delegate = AppDelegate::sharedInstance();
    return delegate ? delegate->managedObjectContext() : nullptr;
}

} // namespace

void EntitySongs::addOrUpdateWithAid(const QVariant& aid, const QVariant& ownerId,
                                     const QVariant& artist, const QVariant& title,
                                     const QVariant& duration, const QVariant& url,
                                     const QVariant& lyricsId, const QVariant& num,
                                     const QVariant& /*ad*/, SongStoreContext* moc) {
    if (moc == nullptr) {
        return;
    }
    QString error;
    std::optional<SongValues> before = moc->fetchLastSong(aid, ownerId, &error);
    if (!error.isEmpty()) {
        logLine(QStringLiteral("any error fetch for update: %1").arg(error));
    }
    const SongValues after{aid, ownerId, artist, title, duration, url, lyricsId, num};
    moc->undoManager()->push(new SongChangeCommand(moc, std::move(before), after));
}

unsigned EntitySongs::calculateCountByOwnerId(const QVariant& ownerId) {
    SongStoreContext* moc = sharedContext();
    if (moc == nullptr) {
        logLine(QStringLiteral("no song store context"));
        return 0;
    }
    QString error;
    const std::optional<unsigned> count = moc->countSongsOfOwner(ownerId, &error);
    if (!count) {
        logLine(error);
        return 0;
    }
    return *count;
}

std::optional<QList<EntitySongs>> EntitySongs::getByOwnerId(const QVariant& ownerId) {
    SongStoreContext* moc = sharedContext();
    if (moc == nullptr) {
        logLine(QStringLiteral("no song store context"));
        return std::nullopt;
    }
    QString error;
    const std::optional<QList<SongValues>> songs = moc->fetchSongsOfOwner(ownerId, &error);
    if (!songs) {
        logLine(error);
        return std::nullopt;
    }
    QList<EntitySongs> records;
    records.reserve(songs->size());
    for (const SongValues& values : *songs) {
        records.append(EntitySongs(values));
    }
    return records;
}

} // namespace sondrel
