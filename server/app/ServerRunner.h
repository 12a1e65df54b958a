#pragma once
// Running cce-server until it is told to stop: the signals that stop it, taken
// synchronously by sigwait so no work happens inside a signal handler.
#include <QString>
#include <cstdio>

#include "server/app/ServerConfig.h"
#include "server/rpc/MethodRegistry.h"

namespace srv {

// Blocks SIGTERM and SIGINT in the calling thread and every thread started after it,
// and ignores SIGPIPE. Call first thing in main, before anything starts a thread.
void blockTerminationSignals();

// Waits for SIGTERM or SIGINT (blocked beforehand) and returns its number.
int waitForTerminationSignal();

// Listens as configured, writes "listening on HOST:PORT" to out once accepting,
// serves until SIGTERM or SIGINT, then stops accepting and lets the requests in
// flight finish. Returns false with *error set when it cannot listen. options are the
// configuration's, with the hooks the application adds.
bool serveUntilTerminated(const ServerConfig& config, HttpServerOptions options, const MethodRegistry& registry,
                          std::FILE* out, QString* error);

// Raises this process's limit of open files to what max_connections needs, within the
// system's hard limit; false with *error when even that is not enough.
bool raiseOpenFileLimit(int maxConnections, QString* error);

} // namespace srv
