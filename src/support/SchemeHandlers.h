#pragma once
// Whether the desktop has an application for a URL scheme, as the XDG MIME application
// database says for the type "x-scheme-handler/<scheme>": the defaults and added or
// removed associations of the mimeapps.list files, and the MimeType lists of the
// installed desktop files. The XDG_* variables and HOME are read on every call and
// nothing is cached, so a handler installed while the player runs counts at once.
// Safe on any thread.

#include <QString>

namespace sondrel {

bool desktopHasHandlerForScheme(const QString& scheme);

} // namespace sondrel
