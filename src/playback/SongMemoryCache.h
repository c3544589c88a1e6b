#pragma once
// The downloader's memory cache of finished songs: song id ("aid" as text) -> the song's
// bytes. It keeps at most `budget` bytes (default 256 MiB); when an insertion would go
// above it, the least recently used songs are dropped first. A song larger than the
// whole budget is not kept. Bytes are implicitly shared (QByteArray), so handing out a
// copy costs nothing.
//
// Thread-safe: every operation takes the cache's own mutex.

#include <QByteArray>
#include <QHash>
#include <QString>
#include <cstdint>
#include <list>
#include <mutex>
#include <optional>

namespace sondrel {

class SongMemoryCache {
public:
    static constexpr std::int64_t kDefaultBudget = 256LL * 1024 * 1024;

    explicit SongMemoryCache(std::int64_t budget = kDefaultBudget);

    // The bytes stored under `id` (and it becomes the most recently used), or none.
    std::optional<QByteArray> objectForKey(const QString& id);
    // Stores `bytes` under `id`, replacing what was there, dropping older songs as needed.
    void setObjectForKey(const QByteArray& bytes, const QString& id);
    void removeObjectForKey(const QString& id);
    void removeAllObjects();

    std::int64_t budget() const;
    // Lowering the budget drops songs at once until the cache fits.
    void setBudget(std::int64_t bytes);
    std::int64_t totalBytes() const;
    int count() const;

private:
    void evictToFit(std::int64_t incoming); // mutex held

    mutable std::mutex mutex;
    std::int64_t limit;       // guarded by mutex
    std::int64_t used = 0;    // guarded by mutex
    std::list<QString> order; // most recently used first; guarded by mutex
    struct Entry {
        QByteArray bytes;
        std::list<QString>::iterator position;
    };
    QHash<QString, Entry> entries; // guarded by mutex
};

} // namespace sondrel
