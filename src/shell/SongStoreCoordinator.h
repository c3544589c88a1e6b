#pragma once
// The song cache store's coordinator: the one SQLite connection to the store file.
//
// Opening checks that the file is a song store of a version this player reads and
// creates the schema in a new or empty file. A file that is not a valid database, or a
// database of another kind, is never written to: it is moved aside beside the store
// ("Sondrel.storedata.damaged-<time>") and reported, and the next opening starts afresh.
// A store of a newer schema version is reported and left untouched.
//
// Main thread only (like the context that uses it).

#include "shell/SongStoreError.h"

#include <QString>
#include <memory>

struct sqlite3;

namespace sondrel {

class SongStoreModel;

class SongStoreCoordinator {
public:
    // Opens the store at `path` (creating it when missing). Null with `error` set when
    // the store cannot be used.
    static std::unique_ptr<SongStoreCoordinator> addStore(const SongStoreModel& model,
                                                          const QString& path, StoreError* error);
    ~SongStoreCoordinator();
    SongStoreCoordinator(const SongStoreCoordinator&) = delete;
    SongStoreCoordinator& operator=(const SongStoreCoordinator&) = delete;

    sqlite3* connection() const { return db; }
    QString storePath() const { return path; }
    const SongStoreModel& model() const { return storeModel; }

private:
    enum class Verdict { Ready, Damaged, Newer, Failed };

    SongStoreCoordinator(sqlite3* db, const SongStoreModel& model, QString path);
    Verdict prepare(QString* reason);
    Verdict upgrade(int fromVersion, QString* reason);

    sqlite3* db;
    const SongStoreModel& storeModel;
    const QString path;
};

// Moves `path` (and its journal files) aside. Returns the new path, or empty on failure
// with `error` set.
QString moveStoreAside(const QString& path, QString* error);

} // namespace sondrel
