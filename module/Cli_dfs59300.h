#pragma once
// The CC-e print form: the host's report form on the report "DFS593", handed the keys of
// the invoice to print.
#include <QList>
#include <QString>

#include "module/Pkg_dfs59000.h"
#include "widgets/forms/TfrmDadosGerRel.h"

class PKG_EXPORT TfrmCCe : public fw::TfrmDadosGerRel {
    Q_OBJECT
public:
    explicit TfrmCCe(QWidget* owner = nullptr);
    ~TfrmCCe() override;

    void FormClose(QObject* sender, fw::TCloseAction& action) override;

public slots:
    void FormActivate(QObject* sender = nullptr) override;
    // Gives the report query the keys of the invoice to print; cancel is left as it is.
    void rpddPadraoBeforeGetQueryParams(const QList<fw::QueryParam*>& params, bool& cancel);
};

PKG_EXPORT extern TfrmCCe* frmCCe;
PKG_EXPORT extern bool boIdCriado;
PKG_EXPORT extern QString stCdFilial;
PKG_EXPORT extern QString stNrLanctoNF;

// Shows the print form modally for one invoice.
PKG_EXPORT void CriaCCe(const QString& cdFilial, const QString& nrLanctoNF);

void Cli_dfs59300_Initialization();
void Cli_dfs59300_Finalization();
int Cli_dfs59300_InitCount();
