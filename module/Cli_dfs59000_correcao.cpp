// CC-e screen: the letters of the current invoice on the "Correção" page: a new letter's
// defaults, the text check, storing every change through SetCCe, the delete guard and
// the navigation over the letters (newest first).
#include <QDateTime>

#include "module/Cli_dfs59000.h"
#include "nfe/Status.h"
#include "vocabulary/Flags.h"
#include "vocabulary/LetterText.h"

namespace {

const QString kInvoiceKey = QStringLiteral("CDFILIAL;NRLANCTONF");

} // namespace

void TfrmTransmissaoCCe::cdsCCeAfterInsert(fw::DataSet*)
{
    cdsCCeCDFILIAL->setAsString(cdsNotaFiscalCDFILIAL->asString());
    cdsCCeNRLANCTONF->setAsString(cdsNotaFiscalNRLANCTONF->asString());
    const int latest = cdsNotaFiscalNRSEQCCE->asString().trimmed().toInt();
    cdsCCeNRSEQCCE->setAsString(Ajusta(QString::number(latest + 1), 2));
    cdsCCeDSOBSSTATUSCCE->setAsString(msgPadrao->Msg(QStringLiteral("OBS_I")));
    cdsCCeIDEMAILCCE->setAsString(cce::email::kPending);
    cdsCCeIDEMAILCCETRANS->setAsString(EmptyString(cdsNotaFiscalNRINSJURTRAN->asString())
                                           ? QString(cce::email::kNone)
                                           : QString(cce::email::kPending));
    dbmCorrecao->setFocus();
}

void TfrmTransmissaoCCe::cdsCCeBeforePost(fw::DataSet*)
{
    Vd_Correcao();
    m_gravandoInclusao = cdsCCe->state() == fw::DataSetState::Insert;
}

void TfrmTransmissaoCCe::Vd_Correcao()
{
    // The memo's text, not the field's: the field takes the text only once the post runs.
    const QString text = dbmCorrecao->toPlainText();
    if (EmptyString(text)) {
        dbmCorrecao->setFocus();
        MensErro(msgPadrao->Msg(QStringLiteral("CORRECAO_DEVE")), true);
    }
    // Counted as the server and the authority count it.
    if (!cce::letterLengthFits(text)) {
        dbmCorrecao->setFocus();
        MensErro(msgPadrao->Msg(QStringLiteral("CORRECAO_DEVE_15_1000")), true);
    }
}

void TfrmTransmissaoCCe::cdsCCeAfterPost(fw::DataSet*) { storeLetterChanges(false); }

void TfrmTransmissaoCCe::cdsCCeBeforeDelete(fw::DataSet*)
{
    if (nfe::status::eventRegistered(cdsNotaFiscalCDSTATUSCCE->asString()))
        MensErro(msgPadrao->Msg(QStringLiteral("CCE_JA_ACEITA")), true);
}

void TfrmTransmissaoCCe::cdsCCeAfterDelete(fw::DataSet*) { storeLetterChanges(true); }

void TfrmTransmissaoCCe::storeLetterChanges(bool afterDelete)
{
    if (cdsCCe->changeCount() <= 0)
        return;
    const QString cdFilial = cdsNotaFiscalCDFILIAL->asString();
    const QString nrLanctoNF = cdsNotaFiscalNRLANCTONF->asString();
    const QString texto = cdsCCeDSCORRECAONFE->asString();
    bool stored = false;
    try {
        ActiveShowAvi(this, 1);
        const QVariant result = AppServer::SetCCe(*netTransmissao, cdsCCe->delta(), cdFilial, nrLanctoNF);
        // Only an empty text means stored: anything else, even a value that is no text, is a refusal.
        if (!IsResultError(result))
            throw fw::Error(msgPadrao->Msg(QStringLiteral("SETCCE_RESPOSTA")));
        const QString answer = result.toString();
        if (answer == QLatin1String("NF_NACEITA"))
            MensErro(msgPadrao->Msg(QStringLiteral("NF_NACEITA")), true);
        else if (!answer.isEmpty())
            CheckResultServ(result, true, 0);
        DeactiveShowAvi();
        cdsCCe->mergeChangeLog();
        stored = true;
        atualizaNaNota(cdFilial, nrLanctoNF, false);
    } catch (...) {
        DeactiveShowAvi();
        if (afterDelete) {
            // A refused delete brings the letter back.
            cdsCCe->cancelUpdates();
        } else if (!stored) {
            // A refused save: nothing stays in the log to travel with a later save (of this
            // invoice or another), and the letter is back in editing with what was typed,
            // for the user to correct and save, or to cancel.
            cdsCCe->cancelUpdates();
            if (m_gravandoInclusao)
                cdsCCe->insert();
            else
                cdsCCe->edit();
            cdsCCeDSCORRECAONFE->setAsString(texto);
            dbmCorrecao->setFocus();
        }
        throw;
    }
}

void TfrmTransmissaoCCe::atualizaNaNota(const QString& cdFilial, const QString& nrLanctoNF, bool ignoraCaixa)
{
    sbtVerificarClick(this);
    if (!cdsNotaFiscal->active())
        return;
    fw::LocateOptions o;
    o.caseInsensitive = ignoraCaixa;
    cdsNotaFiscal->locate(kInvoiceKey, {cdFilial, nrLanctoNF}, o);
}

void TfrmTransmissaoCCe::cdsCCeAfterScroll(fw::DataSet*)
{
    dtsPadraoStateChange(dtsPadrao);
    const QString seq =
        cdsNotaFiscal->active() && !cdsNotaFiscal->isEmpty() ? cdsNotaFiscalNRSEQCCE->asString() : QString();
    lblMaxCCe->setCaption(seq.isEmpty() || seq == cce::kNoLetterSequence ? QString() : QStringLiteral("/ ") + seq);
}

// The letters run newest first, so "latest" is the first row and "next" the prior one.
void TfrmTransmissaoCCe::sbtUltimaCCeClick(QObject*) { cdsCCe->first(); }
void TfrmTransmissaoCCe::sbtProximaCCeClick(QObject*) { cdsCCe->prior(); }
void TfrmTransmissaoCCe::sbtAnteriorCCeClick(QObject*) { cdsCCe->next(); }
void TfrmTransmissaoCCe::sbtPrimeiraCCeClick(QObject*) { cdsCCe->last(); }

// The enabling of the screen's commands and controls, by page, state and the current
// invoice's latest letter.
void TfrmTransmissaoCCe::dtsPadraoStateChange(QObject*)
{
    // The base raises it while the screen's own controls are still being built.
    if (!m_built)
        return;
    const fw::DataSetState state = cdsCCe->state();
    const bool editing = state == fw::DataSetState::Edit || state == fw::DataSetState::Insert;
    const bool browse = state == fw::DataSetState::Browse;
    const bool notasAbertas = cdsNotaFiscal->active();
    const bool haNotas = notasAbertas && !cdsNotaFiscal->isEmpty();
    const bool haCartas = cdsCCe->active() && !cdsCCe->isEmpty();
    const QString st = haNotas ? cdsNotaFiscalIDSTATUSCCE->asString() : QString();
    const QString cd = haNotas ? cdsNotaFiscalCDSTATUSCCE->asString() : QString();
    const QString seq = haNotas ? cdsNotaFiscalNRSEQCCE->asString() : QString();
    const QString tr = haNotas ? cdsNotaFiscalNRINSJURTRAN->asString() : QString();
    const QString lseq = haCartas ? cdsCCeNRSEQCCE->asString() : QString();
    const bool aceita = nfe::status::eventRegistered(cd);
    const bool pendenteOuRejeitada = st == cce::idStatus::kPending || st == cce::idStatus::kRejected;

    const bool emailGeral = !editing && haNotas && notasAbertas;
    const bool emailNota = !editing && aceita;
    const bool emailTransp = emailNota && !EmptyString(tr);

    if (pgcPadrao->ActivePage() == tshFolhaDados) {
        mnuIncluir->setEnabled(false);
        mnuAlterar->setEnabled(false);
        mnuExcluir->setEnabled(false);
        mnuProcurar->setEnabled(haNotas);
        mnuVerificar->setEnabled(haNotas);
        mnuGravar->setEnabled(false);
        mnuCancelar->setEnabled(false);
        mnuFiltro->setEnabled(true);
        mnuTransmite->setEnabled(haNotas);
        pgcPadrao->setPageEnabled(tshFormulario, haNotas);
        mnuFormulario->setEnabled(haNotas);
    } else {
        // A sequence that is not a number never allows a new letter.
        bool seqOk = false;
        const int seqNum = seq.trimmed().toInt(&seqOk);
        const bool incluir = browse && (st == cce::idStatus::kNoLetter || st == cce::idStatus::kAccepted) &&
                             inCount == 0 && seqOk && seqNum < cce::kMaxLettersPerInvoice;
        const bool alterar = browse && haCartas && pendenteOuRejeitada && seq == lseq && inCount == 0;
        mnuIncluir->setEnabled(incluir);
        mnuAlterar->setEnabled(alterar);
        mnuExcluir->setEnabled(alterar);
        mnuProcurar->setEnabled(browse && haNotas);
        mnuVerificar->setEnabled(browse && haNotas);
        mnuGravar->setEnabled(editing);
        mnuCancelar->setEnabled(editing);
        mnuFiltro->setEnabled(browse);
        mnuTransmite->setEnabled(browse && haNotas);
        dbmCorrecao->setReadOnly(browse && !alterar);
        const bool navegar = browse && haCartas;
        sbtUltimaCCe->setEnabled(navegar && !cdsCCe->bof());
        sbtProximaCCe->setEnabled(navegar && !cdsCCe->bof());
        sbtAnteriorCCe->setEnabled(navegar && !cdsCCe->eof());
        sbtPrimeiraCCe->setEnabled(navegar && !cdsCCe->eof());
        pgcPadrao->setPageEnabled(tshFolhaDados, browse);
        mnuFolhaDados->setEnabled(browse);
    }
    mnuEnviaEmail->setEnabled(emailGeral);
    mnuEnviaEmailMenu->setEnabled(emailGeral);
    mnuEmailSelecPrinc->setEnabled(emailNota);
    mnuEmailTodasPrinc->setEnabled(true);
    mnuEmailSelecPrincTransp->setEnabled(emailTransp);
    // Moving to another invoice while a letter is being written would lose it.
    panNavegador->setEnabled(!editing);

    mirrorCommandButtons();
    sbtFiltro->setEnabled(mnuFiltro->isEnabled());
    sbtTransmite->setEnabled(mnuTransmite->isEnabled());
    sbtEnviaEmail->setEnabled(mnuEnviaEmail->isEnabled());
    sbtArquivoXml->setEnabled(!editing && haNotas && notasAbertas);
    mnuEmailSelec->setEnabled(mnuEmailSelecPrinc->isEnabled());
    mnuEmailTodas->setEnabled(mnuEmailTodasPrinc->isEnabled());
    mnuEmailTransp->setEnabled(mnuEmailSelecPrincTransp->isEnabled());
    mnuFolhaDados->setCheckable(true);
    mnuFormulario->setCheckable(true);
    mnuFolhaDados->setChecked(pgcPadrao->ActivePage() == tshFolhaDados);
    mnuFormulario->setChecked(pgcPadrao->ActivePage() == tshFormulario);
}
