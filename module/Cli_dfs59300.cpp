#include "module/Cli_dfs59300.h"

#include "core/ui/UiServices.h"
#include "report/Report.h"
#include "widgets/forms/Forms.h"

TfrmCCe* frmCCe = nullptr;
bool boIdCriado = false;
PKG_UNIT_GLOBAL QString stCdFilial;
PKG_UNIT_GLOBAL QString stNrLanctoNF;

namespace {
int g_initCount = 0;

void setParam(const QList<fw::QueryParam*>& params, const QString& name, const QString& value)
{
    for (fw::QueryParam* p : params)
        if (p && p->name().compare(name, Qt::CaseInsensitive) == 0)
            p->setAsString(value);
}
} // namespace

TfrmCCe::TfrmCCe(QWidget* owner) : fw::TfrmDadosGerRel(owner)
{
    setObjectName(QStringLiteral("frmCCe"));
    setCaption(QStringLiteral("Relatório da Carta de Correção Eletrônica"));
    setCodTela(QStringLiteral("DFS59300"));
    setCodRel(QStringLiteral("DFS593"));
    HelpContext = 10811600;
    HelpFile = QStringLiteral("Dfehelp.hlp");
    rpddPadrao->BeforeGetQueryParams = [this](const QList<fw::QueryParam*>& params, bool& cancel) {
        rpddPadraoBeforeGetQueryParams(params, cancel);
    };
}

TfrmCCe::~TfrmCCe()
{
    // Deleted by its owner or by the next print: the global never points at a dead form.
    if (frmCCe == this) {
        frmCCe = nullptr;
        boIdCriado = false;
    }
}

void TfrmCCe::FormActivate(QObject* sender)
{
    fw::TfrmDadosGerRel::FormActivate(sender);
    repaint();
}

void TfrmCCe::FormClose(QObject* sender, fw::TCloseAction& action)
{
    boIdCriado = false;
    fw::TfrmDadosGerRel::FormClose(sender, action);
}

void TfrmCCe::rpddPadraoBeforeGetQueryParams(const QList<fw::QueryParam*>& params, bool&)
{
    if (fw::report::ExistParam(params, QStringLiteral("CDFILIAL")))
        setParam(params, QStringLiteral("CDFILIAL"), stCdFilial);
    if (fw::report::ExistParam(params, QStringLiteral("NRLANCTONF")))
        setParam(params, QStringLiteral("NRLANCTONF"), stNrLanctoNF);
}

void CriaCCe(const QString& cdFilial, const QString& nrLanctoNF)
{
    fw::ui().setCursor(-11);
    // The hour-glass never stays on after a failure.
    struct CursorBack {
        ~CursorBack() { fw::ui().setCursor(0); }
    } cursorBack;
    stCdFilial = cdFilial;
    stNrLanctoNF = nrLanctoNF;
    if (!boIdCriado) {
        // A form closed before is gone for good: one form per print, never one more.
        delete frmCCe;
        frmCCe = fw::createForm<TfrmCCe>(fw::formOwner());
        boIdCriado = true;
    }
    fw::ui().execModal(frmCCe);
}

void Cli_dfs59300_Initialization()
{
    if (g_initCount++ == 0)
        boIdCriado = false;
}

void Cli_dfs59300_Finalization()
{
    if (g_initCount <= 0)
        return;
    if (--g_initCount == 0) {
        stCdFilial.clear();
        stNrLanctoNF.clear();
    }
}

int Cli_dfs59300_InitCount() { return g_initCount; }
