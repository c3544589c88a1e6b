#include "shell/SongStoreSql.h"

#include <QJsonValue>
#include <sqlite3.h>

namespace sondrel {

SqlStatement::SqlStatement(sqlite3* connection, const char* sql) : db(connection) {
    prepared = sqlite3_prepare_v2(db, sql, -1, &statement, nullptr);
}

SqlStatement::~SqlStatement() {
    sqlite3_finalize(statement);
}

void SqlStatement::bind(int index, const QVariant& value) {
    if (statement == nullptr) {
        return;
    }
    if (!value.isValid() || value.isNull()) {
        sqlite3_bind_null(statement, index);
        return;
    }
    switch (value.typeId()) {
    case QMetaType::Bool:
    case QMetaType::Int:
    case QMetaType::UInt:
    case QMetaType::Long:
    case QMetaType::LongLong:
    case QMetaType::Short:
    case QMetaType::UShort:
        sqlite3_bind_int64(statement, index, value.toLongLong());
        return;
    case QMetaType::ULong:
    case QMetaType::ULongLong: {
        bool fits = false;
        const qlonglong whole = value.toLongLong(&fits);
        if (fits && whole >= 0) {
            sqlite3_bind_int64(statement, index, whole);
        } else {
            sqlite3_bind_double(statement, index, value.toDouble());
        }
        return;
    }
    case QMetaType::Double:
    case QMetaType::Float:
        sqlite3_bind_double(statement, index, value.toDouble());
        return;
    case QMetaType::QJsonValue:
        // JSON numbers arrive as doubles; whole ones are stored as integers.
        bind(index, value.toJsonValue().toVariant());
        return;
    default: {
        const QByteArray text = value.toString().toUtf8();
        sqlite3_bind_text(statement, index, text.constData(), static_cast<int>(text.size()),
                          SQLITE_TRANSIENT);
        return;
    }
    }
}

int SqlStatement::step() {
    if (statement == nullptr) {
        return prepared == SQLITE_OK ? SQLITE_MISUSE : prepared;
    }
    return sqlite3_step(statement);
}

QVariant SqlStatement::column(int index) const {
    switch (sqlite3_column_type(statement, index)) {
    case SQLITE_INTEGER:
        return QVariant(static_cast<qlonglong>(sqlite3_column_int64(statement, index)));
    case SQLITE_FLOAT:
        return QVariant(sqlite3_column_double(statement, index));
    case SQLITE_TEXT:
        return QVariant(
            QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, index)),
                              sqlite3_column_bytes(statement, index)));
    case SQLITE_BLOB:
        return QVariant(QByteArray(static_cast<const char*>(sqlite3_column_blob(statement, index)),
                                   sqlite3_column_bytes(statement, index)));
    default:
        return {};
    }
}

int execSql(sqlite3* db, const char* sql) {
    return sqlite3_exec(db, sql, nullptr, nullptr, nullptr);
}

QString sqlMessage(sqlite3* db) {
    return QString::fromUtf8(sqlite3_errmsg(db));
}

} // namespace sondrel
