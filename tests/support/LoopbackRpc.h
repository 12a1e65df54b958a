#pragma once
// One JSON-RPC call or operators' page over loopback HTTP, as any client of the server
// makes it, for the tests that run server processes; over TLS once loopbackTlsAuthority()
// names the authority to verify the server with. Needs cce::httplib.
#include <httplib.h>

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QVariant>

#include "core/values/JsonCodec.h"

namespace cce_test {

struct HttpAnswer {
    int status = -1; // -1: no answer at all (refused, reset, timed out)
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    // The method's result decoded; invalid on a fault or no answer.
    QVariant result() const
    {
        const QJsonObject o = json();
        QString error;
        return status == 200 && o.contains(QStringLiteral("result"))
                   ? fw::json::decode(o.value(QStringLiteral("result")), &error)
                   : QVariant();
    }
};

// The authority's PEM file: when set, every call of this process goes over TLS, verified.
inline std::string& loopbackTlsAuthority()
{
    static std::string ca;
    return ca;
}

inline httplib::Client loopbackClient(int port)
{
    if (loopbackTlsAuthority().empty())
        return httplib::Client("127.0.0.1", port);
    httplib::Client client("https://127.0.0.1:" + std::to_string(port));
    client.set_ca_cert_path(loopbackTlsAuthority().c_str());
    client.enable_server_certificate_verification(true);
    return client;
}

inline HttpAnswer rpcCall(int port, const QString& server, const QString& method, const QVariantList& params,
                          const std::string& token = {}, const std::string& user = {}, int timeoutSeconds = 60)
{
    QJsonArray args;
    for (const QVariant& p : params)
        args.append(fw::json::encode(p));
    const QJsonObject request{{"jsonrpc", "2.0"}, {"id", 1}, {"method", method}, {"params", args}};
    httplib::Client client = loopbackClient(port);
    client.set_read_timeout(timeoutSeconds, 0);
    client.set_connection_timeout(10, 0);
    httplib::Headers headers;
    if (!token.empty())
        headers.emplace("Authorization", "Bearer " + token);
    if (!user.empty())
        headers.emplace("X-CCE-User", user);
    const auto res =
        client.Post(("/rpc/" + server).toStdString(), headers,
                    QJsonDocument(request).toJson(QJsonDocument::Compact).toStdString(), "application/json");
    HttpAnswer a;
    if (res) {
        a.status = res->status;
        a.body = QByteArray::fromStdString(res->body);
    }
    return a;
}

inline HttpAnswer getPage(int port, const std::string& path, const std::string& token = {})
{
    httplib::Client client = loopbackClient(port);
    client.set_read_timeout(30, 0);
    httplib::Headers headers;
    if (!token.empty())
        headers.emplace("Authorization", "Bearer " + token);
    const auto res = client.Get(path, headers);
    HttpAnswer a;
    if (res) {
        a.status = res->status;
        a.body = QByteArray::fromStdString(res->body);
    }
    return a;
}

} // namespace cce_test
