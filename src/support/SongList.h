#pragma once
// A list of song records (the show list, the play list, a list answer), kept compactly:
// every record in its binary JSON form (CBOR), one after another in one byte block, with
// the start of each, instead of as a tree of JSON values. A 100,000-song own list then
// takes less than its answer's text (~16 MB) instead of ~86 MB of JSON values.
//
// A record comes back as a QJsonObject with every key it had (at(i) decodes it again, a
// few microseconds for an ordinary record): callers read only the rows they show and the
// current song, never the whole list on the main thread. The record read last is kept,
// so the few reads of one row in a row (its title, its time, is it the current song) and
// of the current song at every tick decode it once.
//
// The list is immutable and implicitly shared: a copy is a pointer copy, so the show list
// and the play list can be one list. Two lists are equal when their records are equal
// position by position, compared by their encodings: a list compared with a copy of
// itself answers at once, lists with different contents almost always at once (their
// sizes or hashes differ), and only two separately built equal lists compare their
// bytes. Records with the same values have the same encoding (keys sorted, whole numbers
// as integers however they were written).
//
// Threading: a list never changes once built, so copies may be handed between threads and
// read from several at once (the answer is read on the background pool, the player holds
// the result on the main thread); a lock guards the record read last.

#include <QByteArray>
#include <QJsonArray>
#include <QJsonObject>
#include <cstddef>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

namespace sondrel {

class SongList {
public:
    SongList() = default;
    // Every element in order, an element that is not an object as an empty record, so
    // positions stay as given. Implicit, so that lists written out as JSON arrays (tools,
    // tests, benchmarks) stay as they are written.
    SongList(const QJsonArray& songs);

    qsizetype size() const { return data ? qsizetype(data->starts.size()) : 0; }
    bool isEmpty() const { return size() == 0; }
    // The record at `index`, or an empty record outside the list.
    QJsonObject at(qsizetype index) const;
    // Every record, as the JSON values the list was made from (tests and tools).
    QJsonArray toJsonArray() const;
    // The same shared records (a copy of this list, or of the list it was copied from).
    bool sharesRecordsWith(const SongList& other) const { return data == other.data; }

    friend bool operator==(const SongList& a, const SongList& b);

private:
    static constexpr qsizetype kLargeRecordBytes = 64 * 1024;

    struct Data {
        QByteArray bytes;              // the records' CBOR, one after another
        std::vector<qsizetype> starts; // where each record starts in `bytes`
        std::size_t hash = 0;          // of `bytes`: unequal hashes, unequal lists
        // Records whose encoding is larger than kLargeRecordBytes (an odd or hostile answer,
        // megabytes in one title), also kept decoded, by position: decoding one again for
        // every read of its row would stall the window.
        std::vector<std::pair<qsizetype, QJsonObject>> large;
        // The record read last (guarded by lastReadLock).
        mutable std::mutex lastReadLock;
        mutable qsizetype lastIndex = -1;
        mutable QJsonObject lastRecord;
    };
    std::shared_ptr<const Data> data; // none for an empty list
};

} // namespace sondrel
