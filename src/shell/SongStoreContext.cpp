#include "shell/SongStoreContext.h"

#include "platform/Log.h"
#include "shell/SongStoreCoordinator.h"
#include "shell/SongStoreSql.h"

#include <QUndoStack>
#include <sqlite3.h>

namespace sondrel {
namespace {

constexpr const char* kFindLast =
    "SELECT id FROM Songs WHERE aid IS ?1 AND owner_id IS ?2 ORDER BY id DESC LIMIT 1";
constexpr const char* kSelectLast =
    "SELECT aid, owner_id, artist, title, duration, url, lyrics_id, num FROM Songs"
    " WHERE aid IS ?1 AND owner_id IS ?2 ORDER BY id DESC LIMIT 1";
constexpr const char* kSelectOwner =
    "SELECT aid, owner_id, artist, title, duration, url, lyrics_id, num FROM Songs"
    " WHERE owner_id = ?1 ORDER BY num ASC, id ASC";
constexpr const char* kCountOwner = "SELECT count(*) FROM Songs WHERE owner_id = ?1";
constexpr const char* kUpdate = "UPDATE Songs SET aid = ?1, owner_id = ?2, artist = ?3, title = ?4,"
                                " duration = ?5, url = ?6, lyrics_id = ?7, num = ?8 WHERE id = ?9";
constexpr const char* kInsert = "INSERT INTO Songs (aid, owner_id, artist, title, duration, url,"
                                " lyrics_id, num) VALUES (?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8)";
constexpr const char* kDelete = "DELETE FROM Songs WHERE id = ?1";

void bindValues(SqlStatement& statement, const SongValues& v) {
    const QVariant* values[] = {&v.aid,      &v.owner_id, &v.artist,    &v.title,
                                &v.duration, &v.url,      &v.lyrics_id, &v.num};
    for (int i = 0; i < 8; ++i) {
        statement.bind(i + 1, *values[i]);
    }
}

SongValues readValues(const SqlStatement& s) {
    return {s.column(0), s.column(1), s.column(2), s.column(3),
            s.column(4), s.column(5), s.column(6), s.column(7)};
}

} // namespace

SongStoreContext::SongStoreContext(SongStoreCoordinator* storeCoordinator)
    : coordinator(storeCoordinator), undo(std::make_unique<QUndoStack>()) {}

SongStoreContext::~SongStoreContext() {
    if (inTransaction()) {
        execSql(coordinator->connection(), "ROLLBACK");
    }
}

bool SongStoreContext::inTransaction() const {
    return sqlite3_get_autocommit(coordinator->connection()) == 0;
}

bool SongStoreContext::commitEditing() {
    return commitEditingHandler ? commitEditingHandler() : true;
}

void SongStoreContext::setCommitEditingHandler(std::function<bool()> handler) {
    commitEditingHandler = std::move(handler);
}

bool SongStoreContext::realize(QString* error) {
    sqlite3* db = coordinator->connection();
    if (!stale && (inTransaction() || pending.isEmpty())) {
        return true; // complete already, or nothing to write (reads need no lock)
    }
    if (inTransaction()) {
        execSql(db, "ROLLBACK");
    }
    int rc = execSql(db, "BEGIN IMMEDIATE");
    bool ok = rc == SQLITE_OK;
    for (qsizetype i = 0; ok && i < pending.size(); ++i) {
        ok = execute(pending[i]);
    }
    if (!ok) {
        if (error) {
            *error = sqlMessage(db);
        }
        if (inTransaction()) {
            execSql(db, "ROLLBACK");
        }
        stale = true;
        return false;
    }
    stale = false;
    return true;
}

bool SongStoreContext::execute(const Change& change) {
    sqlite3* db = coordinator->connection();
    qlonglong id = 0;
    {
        SqlStatement find(db, kFindLast);
        find.bind(1, change.values.aid);
        find.bind(2, change.values.owner_id);
        const int rc = find.step();
        if (rc == SQLITE_ROW) {
            id = find.column(0).toLongLong();
        } else if (rc != SQLITE_DONE) {
            return false;
        }
    }
    if (change.remove) {
        if (id == 0) {
            return true;
        }
        SqlStatement remove(db, kDelete);
        remove.bind(1, id);
        return remove.step() == SQLITE_DONE;
    }
    SqlStatement write(db, id != 0 ? kUpdate : kInsert);
    bindValues(write, change.values);
    if (id != 0) {
        write.bind(9, id);
    }
    return write.step() == SQLITE_DONE;
}

void SongStoreContext::apply(const Change& change) {
    // The change is kept first: whatever SQLite does with it, the next save has it.
    pending.append(change);
    if (inTransaction() && !stale) {
        if (!execute(change)) {
            logLine(QStringLiteral("Song store write failed: %1")
                        .arg(sqlMessage(coordinator->connection())));
            stale = true;
        }
        return;
    }
    QString error;
    if (!realize(&error)) {
        logLine(QStringLiteral("Song store write failed: %1").arg(error));
    }
}

void SongStoreContext::upsertSong(const SongValues& values) {
    apply({false, values});
}

void SongStoreContext::removeSong(const QVariant& aid, const QVariant& ownerId) {
    SongValues key;
    key.aid = aid;
    key.owner_id = ownerId;
    apply({true, key});
}

bool SongStoreContext::save(StoreError* error) {
    if (pending.isEmpty()) {
        return true;
    }
    sqlite3* db = coordinator->connection();
    QString reason;
    int rc = SQLITE_OK;
    if (!realize(&reason)) {
        rc = sqlite3_extended_errcode(db);
    } else {
        rc = execSql(db, "COMMIT");
        if (rc == SQLITE_OK) {
            pending.clear();
            return true;
        }
        reason = sqlMessage(db);
        // A commit that failed may leave the transaction open (try again later) or
        // rolled back; either way the pending list still has every change.
        if (!inTransaction()) {
            stale = true;
        }
    }
    if (error) {
        *error = {QString::fromLatin1(kSQLiteErrorDomain), rc,
                  QStringLiteral("The song store could not be saved."), reason};
    }
    return false;
}

void SongStoreContext::rollback() {
    if (inTransaction()) {
        execSql(coordinator->connection(), "ROLLBACK");
    }
    pending.clear();
    stale = false;
    undo->clear();
}

std::optional<SongValues> SongStoreContext::fetchLastSong(const QVariant& aid,
                                                          const QVariant& ownerId, QString* error) {
    realize(nullptr); // reads see every pending change when SQLite allows
    SqlStatement select(coordinator->connection(), kSelectLast);
    select.bind(1, aid);
    select.bind(2, ownerId);
    const int rc = select.step();
    if (rc == SQLITE_ROW) {
        return readValues(select);
    }
    if (rc != SQLITE_DONE && error) {
        *error = sqlMessage(coordinator->connection());
    }
    return std::nullopt;
}

std::optional<QList<SongValues>> SongStoreContext::fetchSongsOfOwner(const QVariant& ownerId,
                                                                     QString* error) {
    realize(nullptr);
    SqlStatement select(coordinator->connection(), kSelectOwner);
    select.bind(1, ownerId);
    QList<SongValues> songs;
    int rc = SQLITE_OK;
    while ((rc = select.step()) == SQLITE_ROW) {
        songs.append(readValues(select));
    }
    if (rc != SQLITE_DONE) {
        if (error) {
            *error = sqlMessage(coordinator->connection());
        }
        return std::nullopt;
    }
    return songs;
}

std::optional<unsigned> SongStoreContext::countSongsOfOwner(const QVariant& ownerId,
                                                            QString* error) {
    realize(nullptr);
    SqlStatement count(coordinator->connection(), kCountOwner);
    count.bind(1, ownerId);
    if (count.step() != SQLITE_ROW) {
        if (error) {
            *error = sqlMessage(coordinator->connection());
        }
        return std::nullopt;
    }
    return static_cast<unsigned>(count.column(0).toLongLong());
}

} // namespace sondrel
