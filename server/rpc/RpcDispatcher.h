#pragma once
// Turns one JSON-RPC request body into its reply: reads the envelope in place, checks
// the arguments against the method's declared kinds while decoding them, calls the
// method and encodes the result or the fault. Knows nothing of HTTP, so an in-process
// transport can use it directly.
#include <QByteArray>
#include <QJsonValue>
#include <QString>
#include <QVariant>

#include "server/rpc/Caller.h"
#include "server/rpc/CompanyScope.h"
#include "server/rpc/MethodRegistry.h"

namespace srv {

class ConnectionStream;

struct RpcReply {
    QByteArray body; // the JSON-RPC reply envelope
    QString method; // the method name as requested ("-" when the request was unreadable)
    int faultCode = 0; // 0 on a result, else the JSON-RPC error code
    // The envelope went out through the call's AnswerStream as the method wrote it (body
    // is then empty); a fault after the first piece cut the answer short.
    bool streamed = false;
    // The database position the call's writes reached (X-CCE-Commit-Position), "" when none.
    QByteArray commitPosition;
};

// A request read and checked, ready to run; or, when method is null, its fault reply.
struct RpcCall {
    const Method* method = nullptr;
    const Method* named = nullptr; // the registered method the request names, even when it cannot run
    QVariantList args;
    QJsonValue id = QJsonValue(QJsonValue::Null);
    RpcReply reply; // the fault, when the request cannot run
};

class RpcDispatcher {
public:
    explicit RpcDispatcher(const MethodRegistry& registry) : m_registry(registry) {}

    // serverName is the connection's server name taken from the request path.
    // The method runs with scope as the caller's (CompanyScope::current()).
    // Never throws: every failure ends up as a fault envelope.
    RpcReply handle(const QString& serverName, const QByteArray& body, const CompanyScope& scope = {}) const;

    // The two halves of handle(), for a server that decides where a call runs once it
    // knows the method. Neither throws. The method runs with caller as Caller::current().
    // stream, when given, takes the answer a method writes itself as it writes it
    // (AnswerStream.h).
    RpcCall prepare(const QString& serverName, const QByteArray& body) const;
    RpcReply run(RpcCall& call, const CompanyScope& scope = {}, const Caller& caller = Caller(),
                 ConnectionStream* stream = nullptr) const;

    // A reply carrying a fault, for faults found before a request is read (401, 413).
    static QByteArray faultEnvelope(int code, const QString& message);

private:
    const MethodRegistry& m_registry;
};

} // namespace srv
