#pragma once
// Hands each request to a function in the same process, as if it had travelled: the
// request is serialised to bytes and parsed back before the handler sees it, and so is
// the reply, so the wire format is exercised exactly as over HTTP.
#include <QJsonObject>

#include "core/net/RpcTransport.h"

#include "core/CoreExport.h"

namespace fw {

class FW_CORE_EXPORT InProcessTransport : public RpcTransport {
public:
    // Receives the server name and the request object; returns the reply object.
    using Handler = std::function<QJsonObject(const QString& serverName, const QJsonObject& request)>;
    // Receives the whole request (token included) and returns the whole reply (HTTP
    // status included), for servers that check authentication themselves.
    using RawHandler = std::function<RpcReply(const RpcRequest& request)>;

    explicit InProcessTransport(Handler handler);
    explicit InProcessTransport(RawHandler handler);

    // A factory for fw::setDefaultTransportFactory that sends every connection to handler.
    static TransportFactory factory(Handler handler);
    static TransportFactory factory(RawHandler handler);

    QString probe(const RpcRequest& request) override;
    RpcReply post(const RpcRequest& request) override;

private:
    Handler m_handler;
    RawHandler m_raw;
};

} // namespace fw
