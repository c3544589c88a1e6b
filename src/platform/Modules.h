#pragma once
// The player's loadable modules: parts with heavy libraries behind them (the web engine,
// the desktop's sound system) live in modules of their own, loaded the first time they
// are needed, so that starting the player never pays for loading them.
//
// A module is a Qt plugin whose root object implements one of the player's module
// interfaces (WebEngineModule.h, AudioOutputModule.h); it links only Qt and receives
// everything it needs from the player through that interface.
//
// Thread-safe. Loaded modules stay loaded until the process ends.

#include <QString>

class QObject;

namespace sondrel {

// The module file's place: in $SONDREL_MODULE_DIR when set; else next to the program,
// or in "../lib/sondrel/" from the program's folder; else in the build tree.
QString modulePath(const QString& fileName);

// The module's root object (loading it on first call), or nullptr with the reason in
// `error`.
QObject* loadModule(const QString& fileName, QString* error);

} // namespace sondrel
