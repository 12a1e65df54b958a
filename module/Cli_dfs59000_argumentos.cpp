// The one road from the filter's criteria to GetNotafiscal's arguments.
#include "module/Cli_dfs59000_argumentos.h"

#include "core/host/HostFunctions.h"
#include "module/Cli_dfs59100.h"
#include "vocabulary/GetNotaFiscalArgs.h"

namespace {

namespace arg = cce::getNotaFiscal;
const QString kT = arg::kAll;

QString orT(const QString& s) { return EmptyString(s) ? kT : s; }

} // namespace

NotaFiscalArgs notaFiscalArgs(const TRecordFilter& rec, const QString& empresa, const QString& tiposEmis,
                              const QString& periodo, bool semCentralizadora)
{
    NotaFiscalArgs a;
    const bool emitente = !EmptyString(rec.CdFilial);
    a.filiEmit = !emitente || semCentralizadora ? kT : rec.CdFilial;
    if (!EmptyString(rec.CdFiliOrig))
        a.filiOrig = rec.CdFiliOrig;
    else if (emitente && semCentralizadora)
        a.filiOrig = rec.CdFilial;
    else
        a.filiOrig = kT;
    a.tiposOper = rec.TodosTipoOper ? kT : rec.CodTipoOper;
    a.empresa = empresa;
    a.inscEsta = orT(rec.CdInscEsta);
    a.inscMuni = orT(rec.CdInscMuni);
    a.serie = orT(rec.CdSerie);
    a.filiRece = kT;
    a.origDest = kT;
    a.insJur = kT;
    switch (rec.DestRem) {
    case 0:
        a.origDest = arg::kCustomer;
        a.insJur = orT(rec.InscCliente);
        break;
    case 1:
        a.origDest = arg::kSupplier;
        a.insJur = orT(rec.InscFornecedor);
        break;
    case 2:
        a.filiRece = orT(rec.CdFilialDest);
        a.origDest = arg::kBranch;
        break;
    default: break;
    }
    a.periodo = periodo;
    a.entrSaid = rec.IdOperacao == 0 ? QString(arg::kOutgoing) : QString(arg::kIncoming);
    a.tiposEmis = tiposEmis;
    a.saidIni = rec.DtSaidIni;
    a.saidFim = rec.DtSaidFim;
    return a;
}
