#include "shell/SongStoreModel.h"

namespace sondrel {

const SongStoreModel& SongStoreModel::standard() {
    static const SongStoreModel model;
    return model;
}

QStringList SongStoreModel::attributeNames() const {
    return {QStringLiteral("aid"),       QStringLiteral("owner_id"), QStringLiteral("artist"),
            QStringLiteral("title"),     QStringLiteral("duration"), QStringLiteral("url"),
            QStringLiteral("lyrics_id"), QStringLiteral("num")};
}

QByteArrayList SongStoreModel::upgradeStatements(int from) const {
    switch (from) {
    case 0:
        // Column affinities keep the service's whole numbers as integers (a numeric text
        // is converted on the way in) and let `num` hold any decimal number. The unique
        // index holds one record per (owner, song) and serves the owner's lists.
        return {
            "CREATE TABLE Songs ("
            " id INTEGER PRIMARY KEY,"
            " aid INTEGER, owner_id INTEGER, artist TEXT, title TEXT, duration INTEGER,"
            " url TEXT, lyrics_id TEXT, num NUMERIC)",
            "CREATE UNIQUE INDEX Songs_owner_aid ON Songs (owner_id, aid)",
        };
    default:
        return {};
    }
}

} // namespace sondrel
