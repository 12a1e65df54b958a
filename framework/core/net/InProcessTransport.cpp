#include "core/net/InProcessTransport.h"

#include <QJsonDocument>
#include <QJsonParseError>

namespace fw {

InProcessTransport::InProcessTransport(Handler handler) : m_handler(std::move(handler)) {}

InProcessTransport::InProcessTransport(RawHandler handler) : m_raw(std::move(handler)) {}

TransportFactory InProcessTransport::factory(Handler handler)
{
    auto transport = std::make_shared<InProcessTransport>(std::move(handler));
    return [transport](const TNetConnection&) { return transport; };
}

TransportFactory InProcessTransport::factory(RawHandler handler)
{
    auto transport = std::make_shared<InProcessTransport>(std::move(handler));
    return [transport](const TNetConnection&) { return transport; };
}

QString InProcessTransport::probe(const RpcRequest&)
{
    if (!m_handler && !m_raw)
        return QStringLiteral("nenhum servidor no processo");
    return QString();
}

RpcReply InProcessTransport::post(const RpcRequest& request)
{
    RpcReply reply;
    if (m_raw)
        return m_raw(request);
    if (!m_handler) {
        reply.failure = RpcReply::Failure::Unreachable;
        reply.failureText = QStringLiteral("nenhum servidor no processo");
        return reply;
    }
    QJsonParseError parseError;
    const QJsonDocument doc = QJsonDocument::fromJson(request.body, &parseError);
    if (parseError.error != QJsonParseError::NoError || !doc.isObject()) {
        reply.failure = RpcReply::Failure::Transport;
        reply.failureText = QStringLiteral("requisição malformada: %1").arg(parseError.errorString());
        return reply;
    }
    reply.httpStatus = 200;
    reply.body = QJsonDocument(m_handler(request.serverName, doc.object())).toJson(QJsonDocument::Compact);
    return reply;
}

} // namespace fw
