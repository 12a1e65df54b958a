#include "module/Cli_dfs59300.h"

#include <QCloseEvent>
#include <QLabel>

#include "core/ui/UiServices.h"
#include "widgets/forms/FormHost.h"

TfrmCCe* frmCCe = nullptr;
bool boIdCriado = false;
PKG_UNIT_GLOBAL QString stCdFilial;
PKG_UNIT_GLOBAL QString stNrLanctoNF;

namespace {
int g_initCount = 0;
}

TfrmCCe::TfrmCCe(QWidget* owner) : QWidget(owner, Qt::Window)
{
    setObjectName(QStringLiteral("frmCCe"));
    setWindowTitle(QStringLiteral("Relatório da Carta de Correção Eletrônica"));
    auto* lblCodTela = new QLabel(QStringLiteral("DFS59300"), this);
    lblCodTela->setObjectName(QStringLiteral("lblCodTela"));
    auto* lblCodRel = new QLabel(QStringLiteral("DFS593"), this);
    lblCodRel->setObjectName(QStringLiteral("lblCodRel"));
    lblCodRel->move(0, 20);
}

TfrmCCe::~TfrmCCe()
{
    // Deleted by its owner or by the next print: the global never points at a dead form.
    if (frmCCe == this) {
        frmCCe = nullptr;
        boIdCriado = false;
    }
}

void TfrmCCe::FormActivate(QObject*) { repaint(); }

void TfrmCCe::FormClose(QObject*) { boIdCriado = false; }

void TfrmCCe::rpddPadraoBeforeGetQueryParams(QStringList& params, bool&)
{
    // Parameters are "NAME=value" lines; only the invoice keys are given values.
    for (QString& p : params) {
        const QString name = p.section(QLatin1Char('='), 0, 0).trimmed();
        if (name.compare(QLatin1String("CDFILIAL"), Qt::CaseInsensitive) == 0)
            p = name + QLatin1Char('=') + stCdFilial;
        else if (name.compare(QLatin1String("NRLANCTONF"), Qt::CaseInsensitive) == 0)
            p = name + QLatin1Char('=') + stNrLanctoNF;
    }
}

void TfrmCCe::closeEvent(QCloseEvent* event)
{
    FormClose(this);
    QWidget::closeEvent(event);
}

bool TfrmCCe::event(QEvent* event)
{
    if (event->type() == QEvent::WindowActivate)
        FormActivate(this);
    return QWidget::event(event);
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
        frmCCe = new TfrmCCe(fw::formOwner());
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
