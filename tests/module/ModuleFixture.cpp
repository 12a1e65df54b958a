#include "tests/module/ModuleFixture.h"

#include <QApplication>
#include <QSqlError>
#include <QSqlQuery>

#include "core/values/Value.h"
#include "module/Cli_dfs59100.h"
#include "tests/support/ModuleTestSupport.h"

namespace cce_test {

QJsonObject FakeServer::handle(const QString& server, const QJsonObject& request)
{
    const QString method = request.value(QStringLiteral("method")).toString();
    const QVariantList args = decodeParams(request);
    calls.append({server, method, args});
    QJsonObject reply = cce_test::reply(request);
    auto it = m_answers.find(method);
    if (it == m_answers.end()) {
        reply.insert(QStringLiteral("error"),
                     QJsonObject{{QStringLiteral("code"), -32601}, {QStringLiteral("message"), method}});
        return reply;
    }
    reply.insert(QStringLiteral("result"), fw::json::encode(it.value()(args)));
    return reply;
}

int FakeServer::count(const QString& method) const
{
    int n = 0;
    for (const ServerCall& c : calls)
        n += c.method == method ? 1 : 0;
    return n;
}

fw::Row makeRow(const fw::FieldDefs& fields, const QVariantHash& values)
{
    fw::Row row;
    for (const fw::FieldDef& f : fields)
        row << (values.contains(f.name) ? values.value(f.name) : fw::nullValue());
    return row;
}

fw::DataPacket makePacket(const fw::FieldDefs& fields, const QList<QVariantHash>& rows)
{
    fw::DataPacket p;
    p.fields = fields;
    for (const QVariantHash& r : rows)
        p.rows << makeRow(fields, r);
    return p;
}

void ModuleFixture::SetUp()
{
    ASSERT_TRUE(m_dir.isValid());
    QString error;
    ASSERT_TRUE(openCompany(&m_db, m_dir.filePath(QStringLiteral("company.db")), &error)) << error.toStdString();
    CompanyBuilder seed(m_db);
    seed.company("01", "Comércio Um Ltda", "0100").company("02", "Indústria Dois S/A", "0200");
    ASSERT_TRUE(seed.ok()) << seed.error().toStdString();

    m_context = fw::HostContext();
    m_context.company = QStringLiteral("01");
    m_context.branch = QStringLiteral("0001");
    m_context.billingBranch = QStringLiteral("0009");
    m_context.module = 13;
    m_context.serverHost = QStringLiteral("servidor.local");
    m_context.serverPort = 8123;
    fw::setHostContext(m_context);

    fw::setDefaultTransportFactory(fw::InProcessTransport::factory(fw::InProcessTransport::Handler(
        [this](const QString& server, const QJsonObject& request) { return m_server.handle(server, request); })));
    m_install = std::make_unique<fw::ScriptedUiServices::Install>(m_ui);
}

void ModuleFixture::TearDown()
{
    closeScreen();
    m_install.reset();
    fw::setDefaultTransportFactory({});
    m_db = QSqlDatabase();
    QSqlDatabase::removeDatabase(kCompanyConnection);
}

TfrmTransmissaoCCe* ModuleFixture::openScreen(const QVariant& param)
{
    IniProc(param);
    return frmTransmissaoCCe;
}

void ModuleFixture::closeScreen()
{
    if (boStCriado && frmTransmissaoCCe) {
        // No exit handling of the company panel while the window goes away.
        boFiltrado = true;
        frmTransmissaoCCe->Close();
    }
    flushDeletes();
    if (frmFiltroTransmissao) {
        frmFiltroTransmissao->hide();
    }
    boFiltrado = false;
    inCount = 0;
    oleParam = QVariant();
}

void ModuleFixture::flushDeletes()
{
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    QCoreApplication::processEvents();
}

void ModuleFixture::expectNoSurprises() { EXPECT_FALSE(m_ui.hasUnexpected()) << m_ui.report().toStdString(); }

} // namespace cce_test
