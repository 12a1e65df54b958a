#pragma once
// What the screen tests share: a company database built by the test, the host context,
// an application server in the same process that answers what each test scripts, and
// the scripted user interface.
#include <QHash>
#include <QJsonArray>
#include <QJsonObject>
#include <QPointer>
#include <QSqlDatabase>
#include <QTemporaryDir>
#include <QVariant>
#include <functional>
#include <gtest/gtest.h>

#include "core/host/Context.h"
#include "core/values/Packet.h"
#include "module/Cli_dfs59000.h"
#include "widgets/services/ScriptedUiServices.h"

namespace cce_test {

struct ServerCall {
    QString server;
    QString method;
    QVariantList args;
};

// Answers by method name; a method without an answer gets a protocol fault.
class FakeServer {
public:
    using Answer = std::function<QVariant(const QVariantList& args)>;
    void on(const QString& method, Answer answer) { m_answers[method] = std::move(answer); }
    QJsonObject handle(const QString& server, const QJsonObject& request);
    QList<ServerCall> calls;
    int count(const QString& method) const;

private:
    QHash<QString, Answer> m_answers;
};

// A row for a packet, by field name; fields not given are null.
fw::Row makeRow(const fw::FieldDefs& fields, const QVariantHash& values);
fw::DataPacket makePacket(const fw::FieldDefs& fields, const QList<QVariantHash>& rows);

class ModuleFixture : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Opens the screen through the entry function and returns it.
    TfrmTransmissaoCCe* openScreen(const QVariant& param = fw::nullValue());
    // Closes the screen, if open, and lets it be destroyed.
    void closeScreen();
    static void flushDeletes();

    void expectNoSurprises();

    QTemporaryDir m_dir;
    QSqlDatabase m_db;
    fw::HostContext m_context;
    fw::ScriptedUiServices m_ui;
    std::unique_ptr<fw::ScriptedUiServices::Install> m_install;
    FakeServer m_server;
};

} // namespace cce_test
