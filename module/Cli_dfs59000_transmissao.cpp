// CC-e screen: transmission of the marked invoices' letters (TransmiteCCe, after the
// condition of use is confirmed) and the refresh that reads the list again with the
// filter's criteria.
#include "module/Cli_dfs59000.h"
#include "module/Cli_dfs59000_Lista.h"
#include "module/Cli_dfs59100.h"

namespace {

// Switches the invoice list's display back on and its marked-rows filter off, whatever
// ends the transmission.
class TransmissionScope {
public:
    explicit TransmissionScope(fw::DataSet* notas) : m_notas(notas) { m_notas->disableControls(); }
    ~TransmissionScope()
    {
        m_notas->setFiltered(false);
        m_notas->enableControls();
    }
    TransmissionScope(const TransmissionScope&) = delete;
    TransmissionScope& operator=(const TransmissionScope&) = delete;

private:
    fw::DataSet* m_notas;
};

} // namespace

void TfrmTransmissaoCCe::sbtTransmiteClick(QObject*)
{
    m_condicaoUso.clear();
    cdsNotaFiscal->checkBrowseMode();
    pgcPadrao->SetActivePage(tshFolhaDados);
    // The refresh that follows stays on the invoice the user stood on.
    const QString cdFilial = cdsNotaFiscalCDFILIAL->asString();
    const QString nrLanctoNF = cdsNotaFiscalNRLANCTONF->asString();

    QVariant result;
    {
        TransmissionScope scope(cdsNotaFiscal);
        cdsNotaFiscal->setFiltered(false);
        cdsNotaFiscal->setFiltered(true);
        if (cdsNotaFiscal->recordCount() < 1) {
            dbgPadrao->setFocus();
            MensErro(msgPadrao->Msg(QStringLiteral("CCE_DEVE_SELECAO")), true);
        }
        cdsNotaFiscal->setFiltered(false);
        if (msgPadrao->ShowMsg(QStringLiteral("CONDICAO_DE_USO"), fw::MsgKind::Confirmation, fw::mbYes | fw::mbNo) !=
            fw::mbYes)
            throw fw::Abort();
        m_condicaoUso = msgPadrao->Msg(QStringLiteral("CONDICAO_DE_USO_SEM_ACENTO"));

        cdsNotaFiscal->setFiltered(true);
        try {
            ActiveShowAvi(this, 6, msgPadrao->Msg(QStringLiteral("TRANSMITINDO")));
            // The packet holds every row with its mark, whatever the filter shows.
            result =
                AppServer::TransmiteCCe(*netTransmissao, cdsNotaFiscal->data(), medCdEmpresa->text(), m_condicaoUso);
            DeactiveShowAvi();
        } catch (...) {
            DeactiveShowAvi();
            throw;
        }
    }

    if (IsResultError(result)) {
        MensErro(result.toString(), false);
    } else {
        const QVariantList answer = result.toList();
        if (answer.size() < 2) {
            // The server may have sent letters all the same: show what it stored.
            atualizaNaNota(cdFilial, nrLanctoNF, false);
            MensErro(msgPadrao->Msg(QStringLiteral("TRANSMITE_RESPOSTA")), true);
        }
        const QString outcome = answer.at(0).toString();
        const QString text = answer.at(1).toString();
        if (outcome == QLatin1String("S"))
            fw::ui().showMessage(fw::MsgKind::Information, text, fw::mbOK);
        else if (text == QLatin1String("CCE_DEVE_SELECAO"))
            MensErro(msgPadrao->Msg(QStringLiteral("CCE_DEVE_SELECAO")), true);
        else
            MensErro(text, true);
    }
    atualizaNaNota(cdFilial, nrLanctoNF, false);
}

void TfrmTransmissaoCCe::sbtVerificarClick(QObject*)
{
    TfrmFiltroTransmissao* dlg = CreateFiltroTransmissao();
    // The accepted criteria, with the branches as the dialog's edits hold them.
    TRecordFilter rec = dlg->RecordFilter;
    rec.CdFilial = dlg->medCdFilial->text();
    rec.CdFiliOrig = dlg->medCdFiliOrig->text();
    // The retrieval's error text is shown by the retrieval; the marks are gone either way.
    try {
        fetchWith(rec);
    } catch (...) {
        cceGrid::clearMarkState();
        throw;
    }
    cceGrid::clearMarkState();
}
