#pragma once
// Runs the two listeners until SIGTERM or SIGINT: binds them on 127.0.0.1, writes the
// information file, prints "sondrel-service ready", waits for the signal, stops both
// and removes the information file again. The caller blocks SIGTERM/SIGINT/SIGPIPE
// (blockServiceSignals) before any thread starts.

#include "Certificate.h"

namespace standin {

class ServiceState;

void blockServiceSignals();

// Returns the process exit code.
int runServer(ServiceState& state, const TlsIdentity& identity);

} // namespace standin
