#pragma once
// The HTTP side of the application server: POST /rpc/<ServerName> carrying one
// JSON-RPC request, one request per connection, and one log line per request.
//
// One I/O thread owns every socket (this file: the connection loop). It accepts, reads
// each request without blocking, judges its head (path, token, encoding, length) before
// reading any body, enforces the deadlines and the per-address bound, and writes every
// answer (HttpResponse.h). Only a request that has arrived whole goes to the workers
// (WorkLanes.h), which run the methods and never touch a socket; so a slow or idle client
// costs a connection slot, never a worker. When the server stops, the requests still
// waiting (and those still arriving) are answered 503.
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "server/rpc/MethodRegistry.h"

namespace srv {

struct HttpServerOptions {
    int workers = 4; // run any call
    int quickWorkers = 1; // run only quick calls, besides the others
    // Heavy calls (Method::heavy, whole-company lists) running at once among the workers;
    // the others wait their turn, so that the rest of the workers stay for narrower calls.
    // Negative: all the workers but one (at least one); 0: no bound.
    int heavyWorkers = -1;
    qint64 bodyLimit = qint64(64) * 1024 * 1024;
    QStringList tokens; // empty: no authentication (the caller keeps this to loopback)
    // Tokens (of the list above) limited to some companies (CDEMPRESA); the others reach every one.
    QHash<QString, QStringList> tokenCompanies;
    int headerTimeoutMs = 10000; // request line and headers, from the connection's start
    int bodyTimeoutMs = 60000; // the whole request, from the connection's start
    int perAddressLimit = 16; // connections one client address may hold at a time
    int maxConnections = 1024; // all of them; beyond, new ones wait in the listen backlog
    int writeIdleTimeoutMs = 30000; // an answer nobody reads for this long is dropped
    // Receives each finished log line (with its newline); standard error when unset.
    std::function<void(const QByteArray& line)> logSink;
};

class HttpRpcServer {
public:
    // The registry must outlive the server and not change while it runs; its methods
    // are called from several worker threads at once.
    HttpRpcServer(const MethodRegistry& registry, HttpServerOptions options);
    ~HttpRpcServer(); // stops
    HttpRpcServer(const HttpRpcServer&) = delete;
    HttpRpcServer& operator=(const HttpRpcServer&) = delete;

    // Binds and starts accepting; returns once connections are being served.
    // Port 0 picks a free port (see port()). On failure returns false with *error set.
    bool listen(const QString& host, int port, QString* error);
    int port() const;
    bool isListening() const;

    // Stops accepting, lets the requests in flight finish and answer, then returns.
    // Safe to call from any thread, more than once.
    void stop();

private:
    struct Impl;
    std::unique_ptr<Impl> d;
};

} // namespace srv
