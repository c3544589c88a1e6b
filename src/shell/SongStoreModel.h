#pragma once
// The object model of the song cache store: one entity, "Songs", one record per song and
// owner, and the versioned schema that stores it in SQLite.
//
// Immutable after construction; safe to read from any thread.

#include <QByteArrayList>
#include <QString>
#include <QStringList>
#include <QVariant>

namespace sondrel {

// The attribute values of one "Songs" record. Every value may be absent (an invalid
// QVariant). Numbers are whole numbers as the service sends them; `num` (the position
// in the owner's list) may be any decimal number.
struct SongValues {
    QVariant aid;       // number: the song's id at the service
    QVariant owner_id;  // number: the user whose list holds the song
    QVariant artist;    // string
    QVariant title;     // string
    QVariant duration;  // number: seconds
    QVariant url;       // string: address of the song file
    QVariant lyrics_id; // string
    QVariant num;       // decimal number: position in the owner's list

    bool operator==(const SongValues&) const = default;
};

class SongStoreModel {
public:
    // The model built into the player (named "Sondrel").
    static const SongStoreModel& standard();

    QString name() const { return QStringLiteral("Sondrel"); }
    QString entityName() const { return QStringLiteral("Songs"); }
    // The attributes in declaration order; also the column names.
    QStringList attributeNames() const;

    // Written into the database header: a store of this model carries this application
    // id, and the schema version as its user version.
    static constexpr int kApplicationId = 0x536f6e64; // "Sond"
    static constexpr int kSchemaVersion = 1;

    // The statements that take a store from schema version `from` to the next one
    // (from 0, an empty database, to 1 creates everything).
    QByteArrayList upgradeStatements(int from) const;

private:
    SongStoreModel() = default;
};

} // namespace sondrel
