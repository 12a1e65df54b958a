#pragma once
// How a server connection's requests reach the application server. The connection
// builds the JSON-RPC body and reads the reply; a transport only carries the bytes:
// over HTTP (HttpTransport) or straight into a server object in the same process
// (InProcessTransport, for tests and single-process runs).
#include <QByteArray>
#include <QByteArrayView>
#include <QString>
#include <functional>
#include <memory>

#include "core/net/TlsPolicy.h"

#include "core/CoreExport.h"

class TNetConnection;

namespace fw {

struct FW_CORE_EXPORT RpcRequest {
    QString host;
    int port = 0;
    QString serverName; // the path is /rpc/<serverName>
    QString token; // sent as "Authorization: Bearer <token>" when not empty
    QString user; // sent as "X-CCE-User" (UTF-8, percent-encoded) when not empty, for the audit trail
    // Sent as "X-CCE-Commit-Position" when not empty: where the server said this client's
    // last writes reached, so that a list read from a standby shows them.
    QByteArray commitPosition;
    TlsPolicy tls;
    QByteArray body; // the JSON-RPC request, UTF-8
    int timeoutMs = 120000;
    // When set, a transport that can hands it the reply's body piece by piece as it
    // arrives, and RpcReply::body stays empty; one that cannot leaves it the whole body.
    std::function<void(QByteArrayView bytes)> onBody;

    QString path() const { return QStringLiteral("/rpc/") + serverName; }
};

struct FW_CORE_EXPORT RpcReply {
    // Insecure: TLS stopped the connection (a certificate that does not verify, has
    // expired, does not match the pin, or a server that does not speak TLS).
    enum class Failure { None, Unreachable, Timeout, Transport, Insecure };
    Failure failure = Failure::None;
    QString failureText; // the transport's own words, for the message the connection raises
    int httpStatus = 0;
    QByteArray body;
    QByteArray commitPosition; // the answer's "X-CCE-Commit-Position", when it had one
};

class FW_CORE_EXPORT RpcTransport {
public:
    virtual ~RpcTransport();

    // Checks that the server can be reached (at connect time); an empty text means yes.
    virtual QString probe(const RpcRequest& request) = 0;
    // One request, one reply. Never throws: failures are reported in the reply.
    virtual RpcReply post(const RpcRequest& request) = 0;
};

using TransportFactory = std::function<std::shared_ptr<RpcTransport>(const TNetConnection& connection)>;

// The factory every connection uses when none was given to it; an empty factory (the
// default) means HTTP. Returns the previous factory.
FW_CORE_EXPORT TransportFactory setDefaultTransportFactory(TransportFactory factory);
FW_CORE_EXPORT TransportFactory defaultTransportFactory();
FW_CORE_EXPORT std::shared_ptr<RpcTransport> makeDefaultTransport(const TNetConnection& connection);

} // namespace fw
