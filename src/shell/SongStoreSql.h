#pragma once
// Small RAII helpers over the SQLite C interface for the song cache store.
// A statement is used on the thread that owns its connection.

#include <QString>
#include <QVariant>

struct sqlite3;
struct sqlite3_stmt;

namespace sondrel {

class SqlStatement {
public:
    SqlStatement(sqlite3* db, const char* sql);
    ~SqlStatement();
    SqlStatement(const SqlStatement&) = delete;
    SqlStatement& operator=(const SqlStatement&) = delete;

    // The result of preparing (SQLITE_OK when the statement can run).
    int prepareResult() const { return prepared; }
    // Binds `value` to the 1-based parameter `index`: absent values as NULL, whole
    // numbers as integers, other numbers as reals, everything else as text.
    void bind(int index, const QVariant& value);
    // SQLITE_ROW, SQLITE_DONE or an error code.
    int step();
    // The column of the current row: integer, real, text, bytes, or absent for NULL.
    QVariant column(int index) const;

private:
    sqlite3* db;
    sqlite3_stmt* statement = nullptr;
    int prepared;
};

// Runs statements without results. Returns the SQLite result code.
int execSql(sqlite3* db, const char* sql);
// The connection's last error message.
QString sqlMessage(sqlite3* db);

} // namespace sondrel
