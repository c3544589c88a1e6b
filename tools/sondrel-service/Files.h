#pragma once
// File helpers of the service: default folders, whole-file reads and atomic writes
// (a temp file beside the target, renamed over it, so a reader never sees half a file
// and two services writing the same file leave one complete copy).

#include <optional>
#include <string>

namespace standin {

// $XDG_DATA_HOME/sondrel-service, or ~/.local/share/sondrel-service.
std::string defaultDataDir();
// $XDG_CACHE_HOME/sondrel-service, or ~/.cache/sondrel-service.
std::string defaultCacheDir();
// $XDG_RUNTIME_DIR/sondrel-service.json, or the temp folder's sondrel-service.json.
std::string defaultInfoPath();

// Creates `dir` and its parents; true when it exists afterwards.
bool makeDirs(const std::string& dir);

std::optional<std::string> readWholeFile(const std::string& path);

// Writes `contents` to `path` atomically with the given mode. Returns an error text,
// empty on success.
std::string writeFileAtomically(const std::string& path, const std::string& contents,
                                unsigned mode = 0644);

std::string absolutePath(const std::string& path);

} // namespace standin
