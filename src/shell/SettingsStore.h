#pragma once
// The per-user settings: a small key-value store kept in one JSON file.
//
// Values are strings, numbers, booleans, dates and string lists. Every save rewrites
// the file durably (temp file, fsync, rename, fsync of the folder) before returning, so
// a value survives the process being killed right after the call. The file holds the
// access token: it is created with mode 0600 in a folder of mode 0700, and an existing
// folder or file that other users may open is tightened to those modes (with a log line)
// when the store is opened. Registration defaults live in memory only
// and answer for keys that were never saved.
//
// Thread-safe: reads and saves may come from any thread; one mutex guards the values
// and serialises the writes, so each save is seen by later reads on every thread.

#include <QString>
#include <QVariant>
#include <QVariantMap>
#include <functional>
#include <mutex>

namespace sondrel {

class SettingsStore {
public:
    // Opens the store kept in `path`, creating nothing until the first save. A file that
    // cannot be parsed is renamed aside ("<path>.corrupt-<time>"), logged, and the store
    // starts empty.
    explicit SettingsStore(QString path);

    // The store of the running player: settings.json in the application's config folder.
    static SettingsStore& standard();

    // The value under `key`, the registration default when none was saved, or an invalid
    // QVariant when neither exists.
    QVariant value(const QString& key) const;

    // Stores `value` under `key` and writes the file through. Returns false when the
    // value's type cannot be stored or the write failed (both logged); the value then
    // stays in memory for this run.
    bool save(const QString& key, const QVariant& value);

    // Told after every write of the file whether it worked (and why not), on the thread
    // that saved, outside the store's lock. Empty: nobody is told.
    using SaveListener = std::function<void(bool ok, const QString& error)>;
    void setSaveListener(SaveListener listener);

    // Adds in-memory defaults (never written to the file).
    void registerDefaults(const QVariantMap& defaults);

    QString path() const { return filePath; }

private:
    void load();
    // Makes the store's folder (mode 0700) when it is missing; false when that failed.
    bool makeFolder() const;

    const QString filePath;
    mutable std::mutex mutex;
    QVariantMap values;        // guarded by mutex
    QVariantMap defaults;      // guarded by mutex
    SaveListener saveListener; // guarded by mutex
};

} // namespace sondrel
