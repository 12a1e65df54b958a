#pragma once
// The HTTP side of the application server: POST /rpc/<ServerName> carrying one
// JSON-RPC request, bearer-token check, body size limit, a pool of worker threads
// that run requests concurrently, and one log line per request.
#include <QByteArray>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "server/rpc/MethodRegistry.h"

namespace srv {

struct HttpServerOptions {
    int workers = 4;
    qint64 bodyLimit = qint64(64) * 1024 * 1024;
    QStringList tokens; // empty: no authentication (the caller keeps this to loopback)
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
