#pragma once
// The CC-e print form: hands one invoice's keys to the report machinery.
#include <QStringList>
#include <QWidget>

#include "module/Pkg_dfs59000.h"

class PKG_EXPORT TfrmCCe : public QWidget {
    Q_OBJECT
public:
    explicit TfrmCCe(QWidget* owner = nullptr);
    ~TfrmCCe() override;

public slots:
    void FormActivate(QObject* sender = nullptr);
    void FormClose(QObject* sender = nullptr);
    // Gives the report query the keys of the invoice to print.
    void rpddPadraoBeforeGetQueryParams(QStringList& params, bool& handled);

protected:
    void closeEvent(QCloseEvent* event) override;
    bool event(QEvent* event) override;
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
