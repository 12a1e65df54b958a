// CC-e screen: e-mail of accepted letters, the current invoice's to its recipient or its
// carrier, and every pending recipient e-mail of the listed invoices at once. The server
// sends them and sets the flags; the screen reads the list again to show them.
#include <QRegularExpression>

#include "module/Cli_dfs59000.h"
#include "module/Cli_dfs59100.h"
#include "nfe/Status.h"
#include "vocabulary/Flags.h"

namespace {

// The answer's lines, as a string list takes a text: no line for an empty text, none for
// a closing line break.
QStringList linesOf(const QString& text)
{
    if (text.isEmpty())
        return {};
    static const QRegularExpression breaks(QStringLiteral("\r\n|\r|\n"));
    QStringList lines = text.split(breaks);
    if (lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

// The wait animation goes away whatever ends the call.
struct BusyScope {
    BusyScope(QWidget* owner) { ActiveShowAvi(owner, 6); }
    ~BusyScope() { DeactiveShowAvi(); }
    BusyScope(const BusyScope&) = delete;
    BusyScope& operator=(const BusyScope&) = delete;
};

// Where the all-pending answer names its invoice (0-based).
constexpr int kFilialAt = 44, kFilialLen = 4;
constexpr int kLanctoAt = 51, kLanctoLen = 10;

} // namespace

void TfrmTransmissaoCCe::sbtEnviaEmailClick(QObject*)
{
    if (!sbtEnviaEmail->isEnabled())
        return;
    // Just below the button.
    const QPoint corner = sbtEnviaEmail->parentWidget()->mapToGlobal(sbtEnviaEmail->pos());
    pmnEmail->Popup(corner + QPoint(0, sbtEnviaEmail->height()));
}

void TfrmTransmissaoCCe::mnuEmailSelecClick(QObject*) { enviaEmailNota(false); }

void TfrmTransmissaoCCe::mnuEmailTranspClick(QObject*) { enviaEmailNota(true); }

void TfrmTransmissaoCCe::enviaEmailNota(bool transportadora)
{
    if (!cdsNotaFiscal->active() || !nfe::status::eventRegistered(cdsNotaFiscalCDSTATUSCCE->asString()))
        return;
    const QString cdFilial = cdsNotaFiscalCDFILIAL->asString();
    const QString nrLanctoNF = cdsNotaFiscalNRLANCTONF->asString();
    QVariant result;
    {
        BusyScope busy(frmFiltroTransmissao);
        result = AppServer::SendEmailCCe(*netTransmissao, cdFilial, nrLanctoNF, cdsNotaFiscalNRSEQCCE->asString(),
                                         transportadora);
    }
    const QStringList lines = linesOf(result.toString());

    // Every refresh stays on the invoice: the next command (the carrier's e-mail, say)
    // must not act on whichever invoice the list puts first.
    atualizaNaNota(cdFilial, nrLanctoNF, true);
    // Anything but a text is no word on the e-mail: never taken for "sent".
    if (!IsResultError(result)) {
        atualizaNaNota(cdFilial, nrLanctoNF, true);
        MensErro(msgPadrao->Msg(QStringLiteral("EMAIL_RESPOSTA")), true);
    }
    if (lines.isEmpty())
        msgPadrao->ShowMsg(QStringLiteral("EMAIL_SUCESSO"), fw::MsgKind::Information, fw::mbOK);
    else
        fw::ui().showMessage(fw::MsgKind::Information, lines.join(QLatin1Char('\n')), fw::mbOK);
    atualizaNaNota(cdFilial, nrLanctoNF, true);
}

void TfrmTransmissaoCCe::mnuEmailTodasClick(QObject*)
{
    // A copy, so that the list keeps its own filter and position.
    fw::DataSet copia;
    copia.setObjectName(QStringLiteral("cdsNotaFiscalEmail"));
    copia.setData(cdsNotaFiscal->data());
    copia.setFilter(QStringLiteral("((CDSTATUSCCE = '%1' OR CDSTATUSCCE = '%2') AND (IDEMAILCCE = '%3'))")
                        .arg(nfe::status::kRegistered, nfe::status::kRegisteredUnlinked, cce::email::kPending));
    copia.setFiltered(true);
    if (copia.isEmpty()) {
        if (pgcPadrao->ActivePage() != tshFolhaDados)
            pgcPadrao->SetActivePage(tshFolhaDados);
        dbgPadrao->setFocus();
        dtsPadraoStateChange(dtsPadrao);
        MensErro(msgPadrao->Msg(QStringLiteral("SEM_EMAIL_PENDENTE")), true);
    }

    const QString cdFilial = cdsNotaFiscalCDFILIAL->asString();
    const QString nrLanctoNF = cdsNotaFiscalNRLANCTONF->asString();
    QVariant result;
    {
        BusyScope busy(this);
        // Every row: the server picks the pending ones itself.
        result = AppServer::SendEmailCCeTodos(*netTransmissao, copia.data());
    }
    const QString text = result.toString();
    const QStringList lines = linesOf(text);
    atualizaNaNota(cdFilial, nrLanctoNF, true);
    if (!IsResultError(result))
        MensErro(msgPadrao->Msg(QStringLiteral("EMAIL_RESPOSTA")), true);
    if (lines.isEmpty())
        return;
    // On the invoice the answer names; a short answer names none and is shown all the same.
    fw::LocateOptions o;
    o.caseInsensitive = true;
    if (cdsNotaFiscal->active())
        cdsNotaFiscal->locate(QStringLiteral("CDFILIAL;NRLANCTONF"),
                              {text.mid(kFilialAt, kFilialLen), text.mid(kLanctoAt, kLanctoLen)}, o);
    fw::ui().showMessage(fw::MsgKind::Information, lines.join(QLatin1Char('\n')), fw::mbOK);
}
