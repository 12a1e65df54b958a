#pragma once
// The application server methods the screen calls, by name, through its two connections.
// Arguments travel in the order and kinds the server expects; results are returned as
// the server answers them (a string is an error text or a status, anything else the data).
#include <QDateTime>
#include <QString>
#include <QVariant>

#include "core/dataset/DataSet.h"
#include "core/net/TNetConnection.h"
#include "core/values/Packet.h"
#include "core/values/Value.h"
#include "vocabulary/Methods.h"

namespace AppServer {

// Server objects.
inline const QString kTransmissaoCCe = cce::serverName::kTransmissaoCCe;
inline const QString kDocFiscSaida = cce::serverName::kDocFiscSaida;

// Dfs59000.rdmTransmissaoCCe

// [invoices packet, letters packet], or an error text.
inline QVariant GetNotaFiscal(TNetConnection& net, const QString& cdFiliEmit, const QString& cdFiliOrig,
                              const QString& tiposOper, const QString& cdEmpresa, const QString& cdInscEsta,
                              const QString& cdInscMuni, const QString& cdSerie, const QString& cdFiliRece,
                              const QString& idOrigDest, const QString& nrInsJur, const QString& idPeriodo,
                              const QString& idEntrSaid, const QString& tiposEmis, bool moduFili,
                              const QDateTime& dtSaidIni, const QDateTime& dtSaidFim)
{
    auto dt = [](const QDateTime& d) { return d.isValid() ? QVariant(d) : fw::nullValue(); };
    return net.Call(cce::method::kGetNotaFiscal,
                    {cdFiliEmit, cdFiliOrig, tiposOper, cdEmpresa, cdInscEsta, cdInscMuni, cdSerie, cdFiliRece,
                     idOrigDest, nrInsJur, idPeriodo, idEntrSaid, tiposEmis, moduFili, dt(dtSaidIni), dt(dtSaidFim)});
}

// "" when stored, "NF_NACEITA", or the reason of the refusal.
inline QVariant SetCCe(TNetConnection& net, const fw::DeltaPacket& delta, const QString& cdFilial,
                       const QString& nrLanctoNF)
{
    return net.Call(cce::method::kSetCCe, {QVariant::fromValue(delta), cdFilial, nrLanctoNF});
}

// ["S", text], ["N", text or "CCE_DEVE_SELECAO"], or an error text.
inline QVariant TransmiteCCe(TNetConnection& net, const fw::DataPacket& notas, const QString& cdEmpresa,
                             const QString& condicaoUso)
{
    return net.Call(cce::method::kTransmiteCCe, {QVariant::fromValue(notas), cdEmpresa, condicaoUso});
}

// "" when sent, otherwise the reason.
inline QVariant SendEmailCCe(TNetConnection& net, const QString& cdFilial, const QString& nrLanctoNF,
                             const QString& nrSeqCCe, bool transportadora)
{
    return net.Call(cce::method::kSendEmailCCe, {cdFilial, nrLanctoNF, nrSeqCCe, transportadora});
}

// "" or one line per invoice whose e-mail failed.
inline QVariant SendEmailCCeTodos(TNetConnection& net, const fw::DataPacket& notas)
{
    return net.Call(cce::method::kSendEmailCCeTodos, {QVariant::fromValue(notas)});
}

// A packet for cdsValdXMLSchema, or an error text.
inline QVariant getXmlEnvLote(TNetConnection& net, const QString& cdFilial, const QString& nrLanctoNF)
{
    return net.Call(cce::method::kGetXmlEnvLote, {cdFilial, nrLanctoNF});
}

// DFS00000.rdmDocFiscSaida

// A packet for cdsParamDFS, or an error text.
inline QVariant GetParamDFS(TNetConnection& net, const QString& cdFilial)
{
    return net.Call(cce::method::kGetParamDFS, {cdFilial});
}

} // namespace AppServer
