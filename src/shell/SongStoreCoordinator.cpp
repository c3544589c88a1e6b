#include "shell/SongStoreCoordinator.h"

#include "platform/Log.h"
#include "shell/SongStoreModel.h"
#include "shell/SongStoreSql.h"

#include <QDateTime>
#include <QFile>
#include <sqlite3.h>

namespace sondrel {
namespace {

constexpr int kBusyTimeoutMs = 5000;

bool isDamage(int rc) {
    const int primary = rc & 0xff;
    return primary == SQLITE_NOTADB || primary == SQLITE_CORRUPT || primary == SQLITE_FORMAT;
}

// Reads one integer pragma; the SQLite result code on failure.
int readPragma(sqlite3* db, const char* sql, int* value) {
    SqlStatement statement(db, sql);
    const int rc = statement.step();
    if (rc != SQLITE_ROW) {
        return rc == SQLITE_DONE ? SQLITE_CORRUPT : rc;
    }
    *value = statement.column(0).toInt();
    return SQLITE_OK;
}

StoreError sqliteError(sqlite3* db, int rc, const QString& path) {
    return {QString::fromLatin1(kSQLiteErrorDomain), rc,
            QStringLiteral("The song store \"%1\" could not be opened.").arg(path),
            db ? sqlMessage(db) : QString::fromUtf8(sqlite3_errstr(rc))};
}

} // namespace

SongStoreCoordinator::SongStoreCoordinator(sqlite3* connection, const SongStoreModel& model,
                                           QString storePath)
    : db(connection), storeModel(model), path(std::move(storePath)) {}

SongStoreCoordinator::~SongStoreCoordinator() {
    // An open write transaction is rolled back: unsaved changes never reach the file.
    sqlite3_close_v2(db);
}

std::unique_ptr<SongStoreCoordinator> SongStoreCoordinator::addStore(const SongStoreModel& model,
                                                                     const QString& path,
                                                                     StoreError* error) {
    sqlite3* db = nullptr;
    const QByteArray file = QFile::encodeName(path);
    const int rc =
        sqlite3_open_v2(file.constData(), &db, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr);
    if (rc != SQLITE_OK) {
        if (error) {
            *error = sqliteError(db, rc, path);
        }
        sqlite3_close_v2(db);
        return nullptr;
    }
    sqlite3_extended_result_codes(db, 1);
    sqlite3_busy_timeout(db, kBusyTimeoutMs);
    std::unique_ptr<SongStoreCoordinator> store(new SongStoreCoordinator(db, model, path));

    QString reason;
    switch (store->prepare(&reason)) {
    case Verdict::Ready:
        return store;
    case Verdict::Failed:
        if (error) {
            *error = {QString::fromLatin1(kSQLiteErrorDomain), sqlite3_extended_errcode(db),
                      QStringLiteral("The song store \"%1\" could not be opened.").arg(path),
                      reason};
        }
        return nullptr;
    case Verdict::Newer:
        if (error) {
            *error = {QString::fromLatin1(kSongStoreErrorDomain), kSongStoreErrorNewerVersion,
                      QStringLiteral("The song store \"%1\" was made by a newer version of "
                                     "Sondrel.")
                          .arg(path),
                      reason};
        }
        return nullptr;
    case Verdict::Damaged:
        break;
    }

    store.reset(); // close before moving the file
    QString moveError;
    const QString aside = moveStoreAside(path, &moveError);
    logLine(QStringLiteral("Song store %1 is not a valid store (%2); %3")
                .arg(path, reason,
                     aside.isEmpty() ? QStringLiteral("could not move it aside: ") + moveError
                                     : QStringLiteral("moved aside to ") + aside));
    if (error) {
        *error = {QString::fromLatin1(kSongStoreErrorDomain), kSongStoreErrorNotAStore,
                  aside.isEmpty()
                      ? QStringLiteral("The song store \"%1\" is damaged or not a song store, "
                                       "and it could not be moved aside.")
                            .arg(path)
                      : QStringLiteral("The song store \"%1\" was damaged or not a song store. "
                                       "It was kept as \"%2\" and a new store will be made.")
                            .arg(path, aside),
                  aside.isEmpty() ? moveError : reason};
    }
    return nullptr;
}

SongStoreCoordinator::Verdict SongStoreCoordinator::prepare(QString* reason) {
    // Every commit reaches the disk before it returns.
    execSql(db, "PRAGMA synchronous = FULL");

    auto failed = [&](int rc) {
        *reason = sqlMessage(db);
        return isDamage(rc) ? Verdict::Damaged : Verdict::Failed;
    };
    int applicationId = 0;
    int version = 0;
    int tables = 0;
    int rc = readPragma(db, "PRAGMA application_id", &applicationId);
    if (rc != SQLITE_OK) {
        return failed(rc);
    }
    rc = readPragma(db, "PRAGMA user_version", &version);
    if (rc != SQLITE_OK) {
        return failed(rc);
    }
    {
        SqlStatement check(db, "PRAGMA quick_check");
        rc = check.step();
        if (rc != SQLITE_ROW) {
            return failed(rc);
        }
        if (check.column(0).toString() != QLatin1String("ok")) {
            *reason = check.column(0).toString();
            return Verdict::Damaged;
        }
    }
    rc = readPragma(db, "SELECT count(*) FROM sqlite_schema", &tables);
    if (rc != SQLITE_OK) {
        return failed(rc);
    }

    if (applicationId == 0 && version == 0 && tables == 0) {
        return upgrade(0, reason); // a new (or empty) file
    }
    if (applicationId != SongStoreModel::kApplicationId || version < 1) {
        *reason = QStringLiteral("not a song store (application id %1, version %2)")
                      .arg(applicationId)
                      .arg(version);
        return Verdict::Damaged;
    }
    if (version > SongStoreModel::kSchemaVersion) {
        *reason = QStringLiteral("schema version %1; this version of Sondrel reads up to %2")
                      .arg(version)
                      .arg(SongStoreModel::kSchemaVersion);
        return Verdict::Newer;
    }
    if (version < SongStoreModel::kSchemaVersion) {
        const Verdict upgraded = upgrade(version, reason);
        if (upgraded != Verdict::Ready) {
            return upgraded;
        }
    }
    const QByteArray probe = "SELECT id, " +
                             storeModel.attributeNames().join(QStringLiteral(", ")).toUtf8() +
                             " FROM Songs LIMIT 0";
    SqlStatement columns(db, probe.constData());
    if (columns.prepareResult() != SQLITE_OK) {
        *reason = sqlMessage(db);
        return Verdict::Damaged;
    }
    return Verdict::Ready;
}

SongStoreCoordinator::Verdict SongStoreCoordinator::upgrade(int fromVersion, QString* reason) {
    // All steps and the new version number commit together, or not at all.
    int rc = execSql(db, "BEGIN IMMEDIATE");
    for (int version = fromVersion; rc == SQLITE_OK && version < SongStoreModel::kSchemaVersion;
         ++version) {
        for (const QByteArray& statement : storeModel.upgradeStatements(version)) {
            rc = execSql(db, statement.constData());
            if (rc != SQLITE_OK) {
                break;
            }
        }
    }
    if (rc == SQLITE_OK) {
        const QByteArray header = QStringLiteral("PRAGMA application_id = %1; "
                                                 "PRAGMA user_version = %2")
                                      .arg(SongStoreModel::kApplicationId)
                                      .arg(SongStoreModel::kSchemaVersion)
                                      .toUtf8();
        rc = execSql(db, header.constData());
    }
    if (rc == SQLITE_OK) {
        rc = execSql(db, "COMMIT");
    }
    if (rc != SQLITE_OK) {
        *reason = sqlMessage(db);
        execSql(db, "ROLLBACK");
        return isDamage(rc) ? Verdict::Damaged : Verdict::Failed;
    }
    return Verdict::Ready;
}

QString moveStoreAside(const QString& path, QString* error) {
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss"));
    QString aside = path + QStringLiteral(".damaged-") + stamp;
    for (int n = 2; QFile::exists(aside); ++n) {
        aside = path + QStringLiteral(".damaged-%1-%2").arg(stamp).arg(n);
    }
    QFile file(path);
    if (!file.rename(aside)) {
        *error = file.errorString();
        return {};
    }
    // A journal belongs to its database: it moves along so it is never applied to a new
    // store of the same name.
    for (const char* suffix : {"-journal", "-wal", "-shm"}) {
        const QString companion = path + QLatin1String(suffix);
        if (QFile::exists(companion)) {
            QFile::rename(companion, aside + QLatin1String(suffix));
        }
    }
    return aside;
}

} // namespace sondrel
