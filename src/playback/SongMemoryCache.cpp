#include "playback/SongMemoryCache.h"

namespace sondrel {

SongMemoryCache::SongMemoryCache(std::int64_t budget) : limit(budget < 0 ? 0 : budget) {}

std::optional<QByteArray> SongMemoryCache::objectForKey(const QString& id) {
    std::lock_guard lock(mutex);
    auto it = entries.find(id);
    if (it == entries.end()) {
        return std::nullopt;
    }
    order.splice(order.begin(), order, it->position);
    return it->bytes;
}

void SongMemoryCache::setObjectForKey(const QByteArray& bytes, const QString& id) {
    std::lock_guard lock(mutex);
    if (auto it = entries.find(id); it != entries.end()) {
        used -= it->bytes.size();
        order.erase(it->position);
        entries.erase(it);
    }
    if (bytes.size() > limit) {
        return; // larger than the whole budget: not kept
    }
    evictToFit(bytes.size());
    order.push_front(id);
    entries.insert(id, Entry{bytes, order.begin()});
    used += bytes.size();
}

void SongMemoryCache::removeObjectForKey(const QString& id) {
    std::lock_guard lock(mutex);
    if (auto it = entries.find(id); it != entries.end()) {
        used -= it->bytes.size();
        order.erase(it->position);
        entries.erase(it);
    }
}

void SongMemoryCache::removeAllObjects() {
    std::lock_guard lock(mutex);
    entries.clear();
    order.clear();
    used = 0;
}

std::int64_t SongMemoryCache::budget() const {
    std::lock_guard lock(mutex);
    return limit;
}

void SongMemoryCache::setBudget(std::int64_t bytes) {
    std::lock_guard lock(mutex);
    limit = bytes < 0 ? 0 : bytes;
    evictToFit(0);
}

std::int64_t SongMemoryCache::totalBytes() const {
    std::lock_guard lock(mutex);
    return used;
}

int SongMemoryCache::count() const {
    std::lock_guard lock(mutex);
    return int(entries.size());
}

void SongMemoryCache::evictToFit(std::int64_t incoming) {
    while (!order.empty() && used + incoming > limit) {
        auto it = entries.find(order.back());
        used -= it->bytes.size();
        entries.erase(it);
        order.pop_back();
    }
}

} // namespace sondrel
