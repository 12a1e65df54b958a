#pragma once
// cce-server's settings: built-in defaults (the local demo), then cce-server.ini,
// then the command line, each overriding the one before.
#include <QDate>
#include <QHash>
#include <QString>
#include <QStringList>

#include "server/rpc/HttpRpcServer.h"
#include "server/rpc/TlsContext.h"

namespace srv {

struct ServerConfig {
    QString listenHost = QStringLiteral("127.0.0.1");
    int listenPort = 8081;
    QStringList tokens; // reach every company
    // Tokens limited to some companies (CDEMPRESA), from the [access.<name>] sections.
    QHash<QString, QStringList> tokenCompanies;
    // Each token's name in the log and the audit trail: "server#N" for the Nth of [server]
    // tokens, the section's name for [access.<name>], "command-line#N" for --token.
    QHash<QString, QString> tokenNames;
    int workers = 4;
    int quickWorkers = 1; // besides, for letter saves and other quick calls only
    int heavyWorkers = -1; // whole-company lists at once; negative: all workers but one, 0: no bound
    qint64 bodyLimit = qint64(64) * 1024 * 1024;
    // Connections of one address that have not yet sent a complete, authenticated request
    // (against slow and idle clients), and connections in all.
    int unauthenticatedPerAddress = 16;
    int maxConnections = 1024;
    QStringList trustedProxies; // [server] trusted_proxies: balancers whose X-Forwarded-For is believed
    // [server] tls_certificate, tls_key, tls_client_ca (relative paths: from the file's folder).
    TlsSettings tls;
    // [server] tls_terminated_by: TLS ends at these balancers in front, the only addresses
    // that may then connect to a server listening in clear beyond loopback.
    QStringList tlsTerminatedBy;
    // [fiscal] reconcile_every: how often the letters left in doubt are settled with the
    // authority, in seconds; 0: never on the server's own.
    int reconcileEverySeconds = 600;
    QString databaseUrl = QStringLiteral("sqlite:var/cce.db");
    // [database] read_url: a streaming standby of the PostgreSQL primary the invoice lists
    // are read from ("" none); read_wait_ms: how long a list waits for it to replay the
    // client's own writes before it goes to the primary; read_max_lag_ms: how far behind
    // it may fall before it is left aside until it catches up.
    QString readUrl;
    int readWaitMs = 250;
    int readMaxLagMs = 5000;

    // Reads [server] listen, tokens, workers, quick_workers, heavy_workers, body_limit,
    // unauthenticated_per_address, max_connections, trusted_proxies, the TLS keys,
    // [access.<name>] token and companies,
    // and [database] url, read_url, read_wait_ms, read_max_lag_ms. Keys missing from the file keep their current value. Unknown keys
    // of those sections are reported in *warnings (a misspelt "tokens" must not go unnoticed).
    bool loadFile(const QString& path, QString* error, QStringList* warnings = nullptr);

    // The rules that keep an unauthenticated server, and one speaking in clear, off the
    // network, and ranges.
    bool check(QString* error) const;

    // The tokens written in clear (each named), which only their hashes should stand for.
    QStringList tokensInClear() const;

    HttpServerOptions httpOptions() const;
};

// "HOST:PORT", "[v6]:PORT". Port 0 means any free port.
bool parseListenAddress(const QString& text, QString* host, int* port, QString* error);
// Loopback addresses and the name "localhost".
bool isLoopbackHost(const QString& host);
// Bytes, optionally with a K, M or G suffix (powers of 1024).
bool parseByteSize(const QString& text, qint64* bytes);
// Seconds, optionally with an s, m or h suffix ("90s", "10m", "1h").
bool parseDuration(const QString& text, int* seconds);

struct CommandLine {
    enum class Mode { Serve, Init, Export, Sync, Audit, CheckConfig, ListCertificates, HashToken, Help };
    Mode mode = Mode::Serve;
    QString configFile;
    QString database; // empty: not given
    QString listen; // empty: not given
    QStringList tokens; // every --token
    bool demo = false;
    int invoices = 0; // 0: the store's default
    // --export-events and --audit
    QString company, outDir;
    QDate from, to; // invalid: no bound
    // --sync-events and --audit (with company)
    QDate since; // --sync-events: invalid for the invoices with letters; --audit: for the whole trail
    QString invoice; // --invoice "BRANCH/ENTRY": that invoice alone (empty: every one)
    QString invoiceBranch, invoiceEntry; // its two parts

    // Applies the options given on the command line over the configuration. Tokens
    // given here replace every token of the file, limited or not.
    bool applyTo(ServerConfig* config, QString* error) const;
};

// args[0] is the program name. On a usage error returns false with *error set.
bool parseCommandLine(const QStringList& args, CommandLine* out, QString* error);
QString usageText();

} // namespace srv
