#pragma once
// The HTTP side of the application server: POST /rpc/<ServerName> carrying one
// JSON-RPC request, one request per connection, and one log line per request.
//
// One I/O thread owns every socket (this file: the connection loop). It accepts, reads
// each request without blocking, judges its head (path, token, encoding, length) before
// reading any body, enforces the deadlines and the connection bounds, and writes every
// answer (HttpResponse.h). Only a request that has arrived whole goes to the workers
// (WorkLanes.h), which run the methods and never touch a socket; so a slow or idle client
// costs a connection slot, never a worker. When the server stops, the requests still
// waiting (and those still arriving) are answered 503.
//
// Connection bounds: the connections of one address that have not yet sent a complete,
// authenticated request are bounded (perAddressLimit), against slow and idle clients; a
// connection beyond that bound is refused only if it has not sent its whole request
// within probationMs, so an office of a hundred prompt users behind one address (NAT, a
// terminal server) is served. Every connection counts towards maxConnections.
//
// GET requests go to the operators' pages (operatorPage: health, metrics) under the same
// token rules, on a worker like any call.
//
// With TLS (options.tls) every connection starts with its handshake, which counts in the
// head's deadline and in the address's bound like the head itself; nothing is ever read or
// answered in clear on that port. A hashed token is checked off the loop (TokenChecks.h).
#include <QByteArray>
#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "server/rpc/MethodRegistry.h"
#include "server/rpc/TlsContext.h"

namespace srv {

// One answered request, for the operators' metrics.
struct RequestRecord {
    QByteArray method; // the registered method's name, the operators' page's path, or "-"
    int httpStatus = 0;
    int faultCode = 0; // the JSON-RPC error code, 0 on a result
    double seconds = 0; // from the connection's start to the answer's last byte
};

// An operators' page as its handler answers it.
struct OperatorPage {
    int status = 404;
    QByteArray contentType = "text/plain; charset=utf-8";
    QByteArray body;
};

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
    // Each token's name for the log and the audit trail (see AccessTokens).
    QHash<QString, QString> tokenNames;
    // Load balancers in front of the server: for a request from one of these, the client is
    // the last address of its X-Forwarded-For (the log and the audit trail name it).
    QStringList trustedProxies;
    // Not null: every connection speaks TLS with this context.
    std::shared_ptr<TlsContext> tls;
    // Not empty: only these addresses may connect (the balancers TLS ends at); any other
    // connection is closed at once.
    QStringList onlyFrom;
    int headerTimeoutMs = 10000; // request line and headers, from the connection's start
    int bodyTimeoutMs = 60000; // the whole request, from the connection's start
    int perAddressLimit = 16; // connections of one address not yet past a complete, authenticated request
    int probationMs = 2000; // a connection beyond that bound has this long to send its whole request
    int maxConnections = 1024; // all of them; beyond, new ones wait in the listen backlog
    int writeIdleTimeoutMs = 30000; // an answer nobody reads for this long is dropped
    // Receives each finished log line (with its newline); standard error when unset.
    std::function<void(const QByteArray& line)> logSink;
    // Told of every answered request, from the connection loop: keep it quick.
    std::function<void(const RequestRecord&)> onRequestDone;
    // Answers GET <path>; unset: GET is refused like any path but /rpc/.
    std::function<OperatorPage(const QByteArray& path)> operatorPage;
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
