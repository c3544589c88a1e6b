#pragma once
// An error of the song cache store and its stack, as it is presented to the user.

#include <QString>

namespace sondrel {

// Errors the application makes itself (no folder, no store).
inline constexpr const char* kAppErrorDomain = "YOUR_ERROR_DOMAIN";
inline constexpr int kAppErrorFoundFileForFolder = 101;
inline constexpr int kAppErrorStoreNotInitialized = 9999;

// Errors about the store file itself.
inline constexpr const char* kSongStoreErrorDomain = "SongStoreErrorDomain";
inline constexpr int kSongStoreErrorNotAStore = 259;       // damaged or of another format
inline constexpr int kSongStoreErrorNewerVersion = 134100; // made by a newer player

// SQLite's own failures carry its extended result code in this domain.
inline constexpr const char* kSQLiteErrorDomain = "SQLite";
// Failures of the file system carry errno in this domain.
inline constexpr const char* kPosixErrorDomain = "POSIX";

// Also thrown nowhere: every failure is returned.
struct StoreError {
    QString domain;
    int code = 0;
    QString localizedDescription;
    QString failureReason; // may be empty
};

} // namespace sondrel
