#pragma once
// Where the player keeps its files: folders named after the application id inside the
// XDG data, cache and config homes. The folders are created on first use.

#include <QString>

namespace sondrel {

inline constexpr const char* kApplicationId = "org.sondrel.Sondrel";
inline constexpr const char* kApplicationName = "Sondrel";

// $XDG_DATA_HOME/org.sondrel.Sondrel (the song cache store lives here).
QString applicationDataFolder();
// $XDG_CACHE_HOME/org.sondrel.Sondrel (the image cache lives here).
QString applicationCachesFolder();
// $XDG_CONFIG_HOME/org.sondrel.Sondrel (the settings file lives here).
QString applicationConfigFolder();

} // namespace sondrel
