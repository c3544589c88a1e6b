#include "support/SongList.h"

#include <QCborStreamWriter>
#include <QCborValue>
#include <QHash>
#include <QJsonValue>
#include <algorithm>
#include <utility>

namespace sondrel {

SongList::SongList(const QJsonArray& songs) {
    if (songs.isEmpty()) {
        return;
    }
    auto shared = std::make_shared<Data>();
    shared->starts.reserve(std::size_t(songs.size()));
    {
        QCborStreamWriter writer(&shared->bytes);
        for (const QJsonValue& song : songs) {
            const qsizetype start = shared->bytes.size();
            shared->starts.push_back(start);
            const QJsonObject record = song.toObject();
            // Whole numbers as integers, however they were written (5 or 5.0), so that
            // equal values always have equal encodings.
            QCborValue::fromJsonValue(record).toCbor(writer, QCborValue::UseIntegers);
            if (shared->bytes.size() - start > kLargeRecordBytes) {
                shared->large.emplace_back(qsizetype(shared->starts.size() - 1), record);
            }
        }
    }
    shared->bytes.squeeze(); // kept for long: no spare capacity from growing
    shared->hash = qHash(QByteArrayView(shared->bytes));
    data = std::move(shared);
}

QJsonObject SongList::at(qsizetype index) const {
    if (index < 0 || index >= size()) {
        return {};
    }
    const auto large = std::lower_bound(
        data->large.begin(), data->large.end(), index,
        [](const std::pair<qsizetype, QJsonObject>& kept, qsizetype i) { return kept.first < i; });
    if (large != data->large.end() && large->first == index) {
        return large->second;
    }
    const std::lock_guard lock(data->lastReadLock);
    if (data->lastIndex != index) {
        const qsizetype begin = data->starts[std::size_t(index)];
        const qsizetype end =
            index + 1 < size() ? data->starts[std::size_t(index + 1)] : data->bytes.size();
        // Read in place: the decoded record copies what it keeps.
        const QByteArray encoded =
            QByteArray::fromRawData(data->bytes.constData() + begin, end - begin);
        data->lastRecord = QCborValue::fromCbor(encoded).toJsonValue().toObject();
        data->lastIndex = index;
    }
    return data->lastRecord;
}

QJsonArray SongList::toJsonArray() const {
    QJsonArray songs;
    for (qsizetype i = 0; i < size(); ++i) {
        songs.append(at(i));
    }
    return songs;
}

bool operator==(const SongList& a, const SongList& b) {
    if (a.data == b.data) {
        return true;
    }
    if (a.size() != b.size()) {
        return false;
    }
    if (a.isEmpty()) {
        return true;
    }
    // Each encoded record knows its own length: equal bytes are equal records in place.
    return a.data->hash == b.data->hash && a.data->bytes == b.data->bytes;
}

} // namespace sondrel
