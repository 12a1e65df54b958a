// The filter dialog's confirmation: the checks in their order, the criteria as the controls
// hold them, the fetch through the main screen, and only then the record.
#include "core/host/HostFunctions.h"
#include "module/Cli_dfs59000.h"
#include "module/Cli_dfs59000_argumentos.h"
#include "module/Cli_dfs59100_p.h"
#include "vocabulary/GetNotaFiscalArgs.h"
#include "widgets/services/HostUi.h"

using dfs59100::dateOnly;
using dfs59100::EmisBox;
using dfs59100::kEmis;

TRecordFilter TfrmFiltroTransmissao::criteriosDaTela() const
{
    // Fields of a kind not selected keep what an earlier confirmation stored.
    TRecordFilter r = RecordFilter;
    r.DestRem = cbbDestRem->ItemIndex();
    r.IdOperacao = cbbIdOperacao->ItemIndex();
    switch (r.DestRem) {
    case 0:
        r.InscCliente = medCliente->text();
        r.NmCliente = edtNmCliente->text();
        break;
    case 1:
        r.InscFornecedor = medFornecedor->text();
        r.NmRazSocForn = edtNmRazSocForn->text();
        break;
    case 2:
        r.InscCliente = qryFilial->active() && !qryFilial->isEmpty()
                            ? qryFilial->fieldByName(QStringLiteral("CDFILIAL"))->asString()
                            : QString();
        r.CdFilialDest = medFilial->text();
        r.NmFilialDest = edtNmFilial->text();
        break;
    case 3:
        r.InscCliente.clear();
        r.CdFilialDest.clear();
        r.CdDestRem.clear();
        r.NmCliente.clear();
        break;
    default: break;
    }
    r.CdFilial = medCdFilial->text();
    r.NmFiliEmit = edtFiliEmit->text();
    r.CdInscEsta = edtCdInscEsta->text();
    r.CdInscMuni = edtCdInscMuni->text();
    r.CdSerie = edtCdSerie->text();
    r.DtSaidIni = dateOnly(depSaidIni->GetDate());
    r.DtSaidFim = dateOnly(depSaidFim->GetDate());
    r.CodTipoOper = stCodTipoOper;
    r.TodosTipoOper = rdgTodosTipoOper->Checked();
    r.CdFiliOrig = medCdFiliOrig->text();
    r.NmFilialOrig = edtNmFilialOrig->text();
    for (const EmisBox& e : kEmis)
        r.*e.sem = !(this->*e.box)->Checked();
    return r;
}

bool TfrmFiltroTransmissao::semCentralizadora(const QString& filial, const QString& origem)
{
    // Looked up again only for an issuing branch without origin; otherwise the lookup
    // keeps what it last found.
    if (!EmptyString(filial) && EmptyString(origem)) {
        adqConfeFiliOrig->Close();
        adqConfeFiliOrig->ParamByName(QStringLiteral("P_CDFILIAL"))->setAsString(filial);
        adqConfeFiliOrig->Open();
    }
    return adqConfeFiliOrig->active() && !adqConfeFiliOrig->isEmpty() &&
           EmptyString(adqConfeFiliOrig->fieldByName(QStringLiteral("CDFILIFISC"))->asString());
}

void TfrmFiltroTransmissao::sbtConfirmaClick(QObject*)
{
    depSaidIni->CheckValidDate();
    depSaidFim->CheckValidDate();

    boConfirma = true;

    Vd_FiliEmit();
    Vd_CdInscEsta();
    Vd_CdInscMuni();
    Vd_Serie();
    Vd_FiliOrig();
    switch (cbbDestRem->ItemIndex()) {
    case 0: Vd_Cliente(); break;
    case 1: Vd_Fornecedor(); break;
    case 2: Vd_Filial(); break;
    default: break;
    }
    Vd_Datas(depSaidIni, depSaidFim);
    if (rdgListaTipoOper->Checked() && EmptyString(stCodTipoOper)) {
        rdgListaTipoOper->setFocus();
        MensErro(msgPadrao->Msg(QStringLiteral("Tipo_infor")), true);
    }

    TfrmTransmissaoCCe* main = frmTransmissaoCCe;
    if (!main)
        MensErro(msgPadrao->Msg(QStringLiteral("Tela_fechada")), true);
    main->repaint();
    SetChildEnabled(panMenu, true);
    main->pgcPadrao->setEnabled(true);
    SetChildEnabled(main->panEmpresa, true);

    // The criteria as the controls hold them; they become the record only once the fetch
    // has been made with them.
    const TRecordFilter r = criteriosDaTela();
    const bool semCentral = semCentralizadora(r.CdFilial, r.CdFiliOrig);
    QString tiposEmis;
    for (const EmisBox& e : kEmis)
        if ((this->*e.box)->Checked())
            tiposEmis += QLatin1String(e.token);
    main->setTiposEmis(tiposEmis);
    if (EmptyString(tiposEmis)) {
        chbEmisNormal->setFocus();
        MensErro(msgPadrao->Msg(QStringLiteral("TpEmis_Inf")), true);
    }
    const QString periodo = depSaidIni->IsEmpty() && depSaidFim->IsEmpty() ? QString(cce::getNotaFiscal::kAll)
                                                                           : QString(cce::getNotaFiscal::kDatesGiven);
    const NotaFiscalArgs a = notaFiscalArgs(r, main->medCdEmpresa->text(), tiposEmis, periodo, semCentral);
    main->GetNotafiscal(a.filiEmit, a.filiOrig, a.tiposOper, a.empresa, a.inscEsta, a.inscMuni, a.serie, a.filiRece,
                        a.origDest, a.insJur, a.periodo, a.entrSaid, a.tiposEmis, a.saidIni, a.saidFim);

    RecordFilter = r;
    m_empresa = main->medCdEmpresa->text();
    m_confirmed = true;
    setModalResult(QDialog::Accepted);
}
