#pragma once
// The shared-instance rule of the player's singletons (AppDelegate, SongPlayer,
// SongDownloader): creating one makes it the shared instance; creating a second one
// logs "Error: You are creating a second <Class>. Bad Olvik" and the newest one wins.
// sharedInstance() never creates one.
//
// Usage: class SongPlayer : public SharedInstance<SongPlayer> { ... } and call
// becomeSharedInstance(this, "SongPlayer") from the constructor and
// resignSharedInstance(this) from the destructor. The shared instance does not own the
// object; the creator does. An object destroyed while it is the shared instance clears
// the slot, so sharedInstance() never returns a dangling pointer.

#include "platform/Log.h"

#include <atomic>

namespace sondrel {

template <typename T> class SharedInstance {
public:
    static T* sharedInstance() { return instance.load(std::memory_order_acquire); }

protected:
    static void becomeSharedInstance(T* self, const char* className) {
        if (instance.exchange(self, std::memory_order_acq_rel) != nullptr) {
            logLine(QStringLiteral("Error: You are creating a second %1. Bad Olvik")
                        .arg(QLatin1String(className)));
        }
    }
    static void resignSharedInstance(T* self) {
        T* expected = self;
        instance.compare_exchange_strong(expected, nullptr, std::memory_order_acq_rel);
    }

private:
    static inline std::atomic<T*> instance{nullptr};
};

} // namespace sondrel
