#pragma once
// What each mode of cce-server's command line does, apart from serving (Serve.h): each
// returns the process's exit code and says what went wrong on standard error.
#include "server/app/ServerConfig.h"

namespace srv {

// One line on standard error, a log line; returns code.
int failWith(const QString& message, int code = 1);

// --init: creates or upgrades the schema, with the demo data when asked.
int initDatabase(const ServerConfig& config, const CommandLine& cl);
// --export-events: every accepted event of the company and period, one file each.
int exportEvents(const CommandLine& cl);
struct Configuration;

// --sync-events: the registry of the company's invoices at the authority brought in: what
// other systems registered becomes letters here (see fiscal/EventSync).
int syncEvents(const Configuration& config, const CommandLine& cl);
// --audit: the company's audit trail as CSV on standard output.
int printAudit(const ServerConfig& config, const CommandLine& cl);
// --hash-token: a token read from standard input, its hash on standard output.
int hashToken();
// --check-config: every finding of the configuration, one line each on standard output;
// non-zero when any is an error.
int checkConfigFile(const CommandLine& cl);

} // namespace srv
