#pragma once
// Ends the main loop the normal way when the desktop session or a terminal asks the
// process to end (SIGTERM at logout or from a service manager, SIGINT from Ctrl+C, SIGHUP
// when the terminal closes), so that everything done at quit still happens: the place in
// the song is saved, the sound connection is closed in order.
//
// The signal handler only writes the signal's number to a pipe; a socket notifier on the
// main thread reads it, logs "Quitting on signal N" and calls QCoreApplication::quit().
// Each handler is installed for one delivery only: a second signal while the player is
// still quitting ends the process at once, as if no handler were installed.
//
// Call once, on the main thread, after the application object exists.

namespace sondrel {

void quitOnTerminationSignals();

} // namespace sondrel
