#pragma once
// What the screen's test benches (and the grid benchmark) set up alike: the company
// database (tests/support/CompanyBuilder.h); an application server in the same process;
// the scripted user interface; the host context and the screens' teardown.
#include <QJsonArray>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <functional>

#include "core/host/Context.h"
#include "core/net/InProcessTransport.h"
#include "core/values/JsonCodec.h"
#include "module/Cli_dfs59000.h"
#include "module/Cli_dfs59100.h"
#include "tests/support/CompanyBuilder.h"
#include "widgets/services/ScriptedUiServices.h"

namespace cce_test {

// The reply envelope to a request, without result or error yet.
inline QJsonObject reply(const QJsonObject& request)
{
    return QJsonObject{{QStringLiteral("jsonrpc"), QStringLiteral("2.0")},
                       {QStringLiteral("id"), request.value(QStringLiteral("id"))}};
}

// The reply carrying result.
inline QJsonObject answer(const QJsonObject& request, const QVariant& result)
{
    QJsonObject r = reply(request);
    r.insert(QStringLiteral("result"), fw::json::encode(result));
    return r;
}

// The request's parameters as values.
inline QVariantList decodeParams(const QJsonObject& request)
{
    QVariantList args;
    for (const QJsonValue& v : request.value(QStringLiteral("params")).toArray()) {
        QString error;
        args.append(fw::json::decode(v, &error));
    }
    return args;
}

// Sends every connection to a server in this process whose methods return the result
// answered for (method, JSON parameters).
using MethodAnswer =
    std::function<QVariant(const QString& method, const QJsonArray& params, const QJsonObject& request)>;
inline fw::TransportFactory installServer(MethodAnswer method)
{
    return fw::setDefaultTransportFactory(fw::InProcessTransport::factory(
        fw::InProcessTransport::Handler([method = std::move(method)](const QString&, const QJsonObject& request) {
            return answer(request, method(request.value(QStringLiteral("method")).toString(),
                                          request.value(QStringLiteral("params")).toArray(), request));
        })));
}

// A parameter packet of the screen's own shape for one branch: CDFILIAL and
// IDNFILTROINSCR set, the rest null.
inline fw::DataPacket paramDfsPacket(const QString& branch, const QString& filtroInscr)
{
    fw::DataPacket p = frmTransmissaoCCe->cdsParamDFS->data();
    p.rows.clear();
    fw::Row r(p.fields.size());
    r[p.fieldIndex(QStringLiteral("CDFILIAL"))] = branch;
    r[p.fieldIndex(QStringLiteral("IDNFILTROINSCR"))] = filtroInscr;
    p.rows.append(r);
    return p;
}

// The scripted user interface, installed while it lives.
struct InstalledUi {
    fw::ScriptedUiServices ui;
    fw::ScriptedUiServices::Install install{ui};
};

// Company 01, branch 0001 (also the billing branch), processing date 2026-03-15, module 13.
inline fw::HostContext companyContext()
{
    fw::HostContext c;
    c.company = QStringLiteral("01");
    c.branch = QStringLiteral("0001");
    c.billingBranch = QStringLiteral("0001");
    c.processingDate = QDate(2026, 3, 15);
    c.module = 13;
    return c;
}

// Deletes the filter dialog and the screen, if any.
inline void deleteScreens()
{
    delete frmFiltroTransmissao;
    frmFiltroTransmissao = nullptr;
    delete frmTransmissaoCCe;
    frmTransmissaoCCe = nullptr;
}

} // namespace cce_test
