#pragma once
// The invoice grid's test bench: a SQLite company database with registrations of
// several states, environments and certificates; the CC-e screen connected to an
// in-process server whose GetNotaFiscal answers the invoices and letters a test sets
// (or an error text) and records the arguments; and the scripted UI.
#include <QHash>
#include <QSqlDatabase>
#include <QVariantList>
#include <gtest/gtest.h>

#include "module/Cli_dfs59000.h"
#include "module/Cli_dfs59100.h"
#include "widgets/services/ScriptedUiServices.h"

// One invoice row; fields not given take neutral values.
struct Invoice {
    QString cdFilial;
    QString nrLanctoNf;
    QString idStatusCce = QStringLiteral("1");
    QString cdInscEsta = QStringLiteral("IE1");
    QHash<QString, QVariant> other; // any other field by name
};

// The in-process server's state.
namespace gridserver {
extern QList<Invoice> invoices; // what the next GetNotaFiscal answers
extern QList<QVariantList> letters; // CDFILIAL, NRLANCTONF, NRSEQCCE, DSCORRECAONFE
extern QString errorText; // when set, GetNotaFiscal answers it
extern QList<QVariantList> calls; // arguments of every GetNotaFiscal
} // namespace gridserver

class GridTest : public ::testing::Test {
public:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

protected:
    void SetUp() override;
    void TearDown() override;

    static fw::ScriptedUiServices* s_ui;
    fw::ScriptedUiServices& ui = *s_ui;
    TfrmTransmissaoCCe* f = nullptr;

    static void exec(const QString& sql);
    // Loads the given invoices (and letters) through the screen's fetch.
    void load(const QList<Invoice>& invoices, const QList<QVariantList>& letters = {});
    // n invoices "0001"/"0000000001".. of one status and registration.
    static QList<Invoice> many(int n, const QString& status, const QString& inscEsta, int firstNumber = 1);

    // Moves to the invoice with that entry number; fails the test when absent.
    void go(const QString& nrLanctoNf);
    QString current(const char* field) const;
    // A double click on the current row, as the grid raises it.
    bool dblClick();
    bool titleClick(const char* field);
    QStringList marked() const; // NRLANCTONF of the rows marked, in the grid's order
    QStringList letterTexts() const; // DSCORRECAONFE of the letters cdsCCe shows
};
