#pragma once
// The filter dialog's test bench: a SQLite company database with a few branches,
// registrations and series, the main screen of the module connected to an in-process
// server that answers GetParamDFS and records every GetNotaFiscal, and the scripted UI.
#include <QDateTime>
#include <QHash>
#include <QSqlDatabase>
#include <QVariantList>
#include <gtest/gtest.h>
#include <memory>

#include "core/host/Context.h"
#include "module/Cli_dfs59000.h"
#include "module/Cli_dfs59100.h"
#include "widgets/services/ScriptedUiServices.h"

class FilterTest : public ::testing::Test {
public:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

protected:
    void SetUp() override;
    void TearDown() override;

    // The parameter IDNFILTROINSCR the server answers for a branch ("N" unless set).
    static QHash<QString, QString> s_filtroInscr;
    // Arguments of every GetNotaFiscal received, in order.
    static QList<QVariantList> s_calls;
    // When set, GetNotaFiscal answers this error text.
    static QString s_errorText;

    void exec(const QString& sql);
    // The host context of the tests: company 01, branch 0001, billing branch 0009,
    // processing date 2026-03-15, module 13, not bound to a branch.
    fw::HostContext baseContext() const;
    void setContext(const fw::HostContext& c);

    // Shows the dialog through CriaFiltroTransmissao; script runs while it shows.
    bool showDialog(const std::function<void(TfrmFiltroTransmissao*)>& script);
    // A click of the confirm button as the user makes it; false when it stopped.
    static bool confirm(TfrmFiltroTransmissao* dlg);
    static QString focused(TfrmFiltroTransmissao* dlg);

    static fw::ScriptedUiServices* s_ui;
    fw::ScriptedUiServices& ui = *s_ui;
};
