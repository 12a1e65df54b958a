#pragma once
// The letters' test bench: the CC-e screen against the application server's own methods
// in this process (a SQLite company database filled with the demo data, the store, the
// method registry and the JSON-RPC dispatcher, through the in-process transport), and
// the scripted UI. A test may answer a method itself (answerWith) to reach outcomes the
// real server does not give yet.
#include <QHash>
#include <QJsonArray>
#include <QString>
#include <QVariant>
#include <functional>
#include <gtest/gtest.h>

#include "module/Cli_dfs59000.h"
#include "module/Cli_dfs59100.h"
#include "widgets/services/ScriptedUiServices.h"

class LettersTest : public ::testing::Test {
public:
    static void SetUpTestSuite();
    static void TearDownTestSuite();

    using Answer = std::function<QVariant(const QVariantList& args)>;

protected:
    void SetUp() override;
    void TearDown() override;

    // The method is answered by fn instead of the server until the test ends (nullptr: by
    // the server again).
    static void answerWith(const QString& method, Answer fn);
    // Every call the screen made, in order: method names.
    static QStringList calls();
    static QVariantList lastArgs(const QString& method);

    // Lists the company's outgoing invoices through the filter dialog, confirmed with its defaults.
    void listAll();
    // Moves to the first invoice (in the grid's order) that satisfies pred; false when none.
    bool goTo(const std::function<bool()>& pred);
    // A statement's single value on the company database.
    static QVariant scalar(const QString& sql, const QVariantList& binds = {});
    QString nf(const char* field) const; // the current invoice's field
    bool authorised() const; // the current invoice is authorised, as the database says
    QString cce(const char* field) const; // the current letter's field
    // Runs a screen command as the user does (through the dispatcher); false when it stopped.
    static bool run(const std::function<void()>& fn);
    // Writes a new letter on the current invoice and saves it; false when it stopped.
    bool writeLetter(const QString& text);

    static fw::ScriptedUiServices* s_ui;
    fw::ScriptedUiServices& ui = *s_ui;
    TfrmTransmissaoCCe* f = nullptr;
};
