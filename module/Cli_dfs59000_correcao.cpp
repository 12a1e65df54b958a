// CC-e screen: the letters of the current invoice on the "Correção" page: a new letter's
// defaults, the text check, storing every change through SetCCe, the delete guard and
// the navigation over the letters (newest first).
#include <QDateTime>

#include "module/Cli_dfs59000.h"

namespace {

const QString kInvoiceKey = QStringLiteral("CDFILIAL;NRLANCTONF");

bool isAccepted(const QString& cdStatusCce)
{
    return cdStatusCce == QLatin1String("135") || cdStatusCce == QLatin1String("136");
}

} // namespace

void TfrmTransmissaoCCe::cdsCCeAfterInsert(fw::DataSet*)
{
    cdsCCeCDFILIAL->setAsString(cdsNotaFiscalCDFILIAL->asString());
    cdsCCeNRLANCTONF->setAsString(cdsNotaFiscalNRLANCTONF->asString());
    const int latest = cdsNotaFiscalNRSEQCCE->asString().trimmed().toInt();
    cdsCCeNRSEQCCE->setAsString(Ajusta(QString::number(latest + 1), 2));
    cdsCCeDSOBSSTATUSCCE->setAsString(msgPadrao->Msg(QStringLiteral("OBS_I")));
    cdsCCeIDEMAILCCE->setAsString(QStringLiteral("P"));
    cdsCCeIDEMAILCCETRANS->setAsString(EmptyString(cdsNotaFiscalNRINSJURTRAN->asString()) ? QStringLiteral("N")
                                                                                          : QStringLiteral("P"));
    dbmCorrecao->setFocus();
}

void TfrmTransmissaoCCe::cdsCCeBeforePost(fw::DataSet*) { Vd_Correcao(); }

void TfrmTransmissaoCCe::Vd_Correcao()
{
    // The memo's text, not the field's: the field takes the text only once the post runs.
    const QString text = dbmCorrecao->toPlainText();
    if (EmptyString(text)) {
        dbmCorrecao->setFocus();
        MensErro(msgPadrao->Msg(QStringLiteral("CORRECAO_DEVE")), true);
    }
    // Characters, not bytes: an accented letter counts once.
    const qsizetype length = text.trimmed().size();
    if (length < 15 || length > 1000) {
        dbmCorrecao->setFocus();
        MensErro(msgPadrao->Msg(QStringLiteral("CORRECAO_DEVE_15_1000")), true);
    }
}

void TfrmTransmissaoCCe::cdsCCeAfterPost(fw::DataSet*) { storeLetterChanges(false); }

void TfrmTransmissaoCCe::cdsCCeBeforeDelete(fw::DataSet*)
{
    if (isAccepted(cdsNotaFiscalCDSTATUSCCE->asString()))
        MensErro(msgPadrao->Msg(QStringLiteral("CCE_JA_ACEITA")), true);
}

void TfrmTransmissaoCCe::cdsCCeAfterDelete(fw::DataSet*) { storeLetterChanges(true); }

void TfrmTransmissaoCCe::storeLetterChanges(bool afterDelete)
{
    if (cdsCCe->changeCount() <= 0)
        return;
    try {
        ActiveShowAvi(this, 1);
        const QString cdFilial = cdsNotaFiscalCDFILIAL->asString();
        const QString nrLanctoNF = cdsNotaFiscalNRLANCTONF->asString();
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
        sbtVerificarClick(this);
        cdsNotaFiscal->locate(kInvoiceKey, {cdFilial, nrLanctoNF});
    } catch (...) {
        DeactiveShowAvi();
        // A refused delete brings the letter back; a refused save keeps the typed text pending.
        if (afterDelete)
            cdsCCe->cancelUpdates();
        throw;
    }
}

void TfrmTransmissaoCCe::cdsCCeAfterScroll(fw::DataSet*)
{
    dtsPadraoStateChange(dtsPadrao);
    const QString seq =
        cdsNotaFiscal->active() && !cdsNotaFiscal->isEmpty() ? cdsNotaFiscalNRSEQCCE->asString() : QString();
    lblMaxCCe->setCaption(seq.isEmpty() || seq == QLatin1String("00") ? QString() : QStringLiteral("/ ") + seq);
}

// The letters run newest first, so "latest" is the first row and "next" the prior one.
void TfrmTransmissaoCCe::sbtUltimaCCeClick(QObject*) { cdsCCe->first(); }
void TfrmTransmissaoCCe::sbtProximaCCeClick(QObject*) { cdsCCe->prior(); }
void TfrmTransmissaoCCe::sbtAnteriorCCeClick(QObject*) { cdsCCe->next(); }
void TfrmTransmissaoCCe::sbtPrimeiraCCeClick(QObject*) { cdsCCe->last(); }
