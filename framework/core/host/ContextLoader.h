#pragma once
// Reads the user's context from erp-host.ini (Qt's INI settings) and the command line;
// a value on the command line wins over the file, the file over the defaults.
//
//   [context]   user (default: the system's login name), company, branch, billing_branch,
//               processing_date (yyyy-MM-dd; default today), module, branch_mode (true/false,
//               1/0, S/N)
//   [server]    host, port, timeout (seconds per call; default 120), token_file (a file only
//               the user can read holding the access token), tls (true/false/auto; auto, the
//               default: on unless the server is on this machine; false only there), ca (PEM of
//               the authority that signs the server's certificate; default: the system's),
//               pin (the server certificate's SHA-256 fingerprint), certificate and key (PEM:
//               the user's own, for a server that asks for one); paths relative to the file's
//               folder. A token written here is refused: it would sit in clear.
//   [database]  driver (QSQLITE or QPSQL), name, host, port, user, password
//   [files]     folder: where the screens write files for the user to keep (default: the
//               user's documents folder); relative to the file's folder
//
// Command-line options, as "--option value" or "--option=value":
//   --user, --company, --branch, --billing-branch, --date (yyyy-MM-dd), --module, --branch-mode,
//   --server-host, --server-port, --server-token-file, --server-tls, --server-ca, --server-pin,
//   --server-timeout, --db-driver, --db-name, --files-folder
// Other arguments are left for the host to read.
//
// Codes are stored as the tables hold them (Ajusta: company 2, branches 4). A relative
// SQLite file name in the file is taken from the file's folder; on the command line, from
// the working folder. A missing file is not an error (the defaults and the command line
// stand); an unreadable value is: the loader then sets *error to a Portuguese message
// naming the key and returns the context with that value left at its default.
#include <QString>
#include <QStringList>

#include "core/host/Context.h"

#include "core/CoreExport.h"

namespace fw {

FW_CORE_EXPORT HostContext loadHostContext(const QString& iniPath, const QStringList& arguments,
                                           QString* error = nullptr);

} // namespace fw
