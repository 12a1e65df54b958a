#include "tests/module/filter/FilterFixture.h"

#include <QApplication>
#include <QJsonArray>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>

#include "core/errors/Dispatch.h"
#include "core/values/Value.h"
#include "tests/support/ModuleTestSupport.h"

QHash<QString, QString> FilterTest::s_filtroInscr;
QList<QVariantList> FilterTest::s_calls;
QString FilterTest::s_errorText;
fw::ScriptedUiServices* FilterTest::s_ui = nullptr;

namespace {

cce_test::InstalledUi* g_ui = nullptr;
fw::TransportFactory g_previousFactory;

fw::FieldDef strDef(const char* name, int size)
{
    fw::FieldDef d;
    d.name = QString::fromLatin1(name);
    d.type = fw::FieldType::String;
    d.size = size;
    return d;
}

QVariant paramPacket(const QString& branch, const QString& filtro)
{
    fw::DataPacket p;
    p.fields = {strDef("CDFILIAL", 4),      strDef("NREXEMEMISSAO", 1),
                strDef("IDUTREIMPRNF", 1),  {QStringLiteral("NRTAMNUMNFUT"), fw::FieldType::Float, 0, false, false},
                strDef("IDUTLIBERANF", 1),  strDef("IDUTFILCENTOBR", 1),
                strDef("IDNFILTROINSCR", 1)};
    p.rows.append(fw::Row{branch, QString(), QString(), 9.0, QString(), QString(), filtro});
    return QVariant::fromValue(p);
}

} // namespace

void FilterTest::SetUpTestSuite()
{
    QSqlDatabase db;
    QString error;
    ASSERT_TRUE(cce_test::openCompany(&db, QStringLiteral(":memory:"), &error)) << error.toStdString();
    cce_test::CompanyBuilder seed(db);
    // 0001 answers for 0002 and 0009; 0003 belongs to company 02 but is related to 01;
    // 0004 belongs to company 02 only.
    seed.twoCompanies()
        .branch({"0003", "Filial Tres", "02", "IE3", "IM3", "3", {}})
        .branch({"0004", "Filial Quatro", "02", "IE4", "IM4", "4", {}})
        .branch({"0009", "Faturamento", "01", "IE2", "IM2", "2", "0001"})
        .relatedBranch("01", "0003", "IE3", "IM3", "3")
        .registration("IE1", "CERT1", "2", "SP")
        .registration("IE2", "CERT2", "2", "SP")
        .registration("IE3", "CERT3", "2", "SP")
        .registration("IE9", "CERT9", "2", "SP")
        .municipalRegistration("IM1", "Rep Um")
        .municipalRegistration("IM2", "Rep Dois")
        .municipalRegistration("IM3", "Rep Tres")
        .municipalRegistration("IM9", "Rep Nove")
        .series("IE1", "IM1", "1", "Um")
        .series("IE2", "IM2", "2", "Dois")
        .series("IE3", "IM3", "3", "Tres")
        .series("IE1", "IM2", "7", "Sete")
        .operation("01", "Venda", "S", "N", "S")
        .operation("05", "Remessa", "S", "C", {})
        .operation("06", "Transferencia", "S", "F", "S")
        .operation("02", "Compra", "E", "N", "S")
        .operation("03", "Devolucao", "E", "N", "N")
        .customer("C1", "J", "11222333000181", "Cliente Um", "CU")
        .supplier("F1", "F", "52998224725", "Fornecedor Um");
    ASSERT_TRUE(seed.ok()) << seed.error().toStdString();

    g_previousFactory = cce_test::installServer(
        [](const QString& method, const QJsonArray& params, const QJsonObject& request) -> QVariant {
            if (method == QLatin1String("GetParamDFS")) {
                const QString branch = params.at(0).toString();
                return paramPacket(branch, s_filtroInscr.value(branch, QStringLiteral("N")));
            }
            if (method == QLatin1String("GetNotaFiscal")) {
                s_calls.append(cce_test::decodeParams(request));
                if (!s_errorText.isEmpty())
                    return s_errorText;
                return QVariantList{QVariant::fromValue(fw::DataPacket()), QVariant::fromValue(fw::DataPacket())};
            }
            return QStringLiteral("método não previsto no teste");
        });

    g_ui = new cce_test::InstalledUi;
    s_ui = &g_ui->ui;
}

void FilterTest::TearDownTestSuite()
{
    cce_test::deleteScreens();
    delete g_ui;
    g_ui = nullptr;
    s_ui = nullptr;
    fw::setDefaultTransportFactory(g_previousFactory);
    QSqlDatabase::removeDatabase(cce_test::kCompanyConnection);
}

fw::HostContext FilterTest::baseContext() const
{
    fw::HostContext c = cce_test::companyContext();
    c.billingBranch = QStringLiteral("0009");
    c.branchMode = false;
    return c;
}

void FilterTest::setContext(const fw::HostContext& c) { fw::setHostContext(c); }

void FilterTest::SetUp()
{
    ui.clear();
    s_calls.clear();
    s_errorText.clear();
    s_filtroInscr.clear();
    setContext(baseContext());
    // A fresh dialog per test, so that its creation defaults are those of the test.
    delete frmFiltroTransmissao;
    frmFiltroTransmissao = nullptr;
    stCodTipoOper.clear();
    if (!frmTransmissaoCCe) {
        CriaTransmissaoCCe(fw::nullValue());
        ASSERT_NE(frmTransmissaoCCe, nullptr);
    }
    frmTransmissaoCCe->medCdEmpresa->setText(QStringLiteral("01"));
    frmTransmissaoCCe->cdsParamDFS->close();
}

void FilterTest::TearDown()
{
    EXPECT_FALSE(ui.hasUnexpected()) << ui.report().toStdString();
    EXPECT_TRUE(ui.scriptErrors().isEmpty()) << ui.scriptErrors().join(QLatin1Char('\n')).toStdString();
    EXPECT_EQ(ui.pendingExpectations(), 0) << ui.report().toStdString();
}

void FilterTest::exec(const QString& sql)
{
    QString error;
    ASSERT_TRUE(cce_test::execSql(QSqlDatabase::database(cce_test::kCompanyConnection), sql, &error))
        << error.toStdString();
}

bool FilterTest::showDialog(const std::function<void(TfrmFiltroTransmissao*)>& script)
{
    ui.expectModal([script](QWidget* form) {
        auto* dlg = qobject_cast<TfrmFiltroTransmissao*>(form);
        ASSERT_NE(dlg, nullptr);
        script(dlg);
    });
    return CriaFiltroTransmissao();
}

bool FilterTest::confirm(TfrmFiltroTransmissao* dlg)
{
    return fw::dispatch([dlg] { dlg->sbtConfirmaClick(dlg->sbtConfirma); });
}

QString FilterTest::focused(TfrmFiltroTransmissao* dlg)
{
    QWidget* w = dlg->focusWidget();
    return w ? w->objectName() : QString();
}
