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
    const char* rows[] = {
        "INSERT INTO ESTADO (CDPAIS, SGESTADO, NMESTADO, CDESTADOIBGE) VALUES ('1058', 'SP', 'São Paulo', '35')",
        "INSERT INTO EMPRESA (CDEMPRESA, NMRAZSOCEMPR) VALUES ('01', 'Empresa Um')",
        "INSERT INTO EMPRESA (CDEMPRESA, NMRAZSOCEMPR) VALUES ('02', 'Empresa Dois')",
        // 0001 centralises 0002 and 0009; 0003 belongs to company 02 but is related to 01;
        // 0004 belongs to company 02 only.
        "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE, CDFILIFISC) "
        "VALUES ('0001', 'Matriz', '01', 'IE1', 'IM1', '1', NULL)",
        "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE, CDFILIFISC) "
        "VALUES ('0002', 'Filial Dois', '01', 'IE2', 'IM2', '2', '0001')",
        "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE, CDFILIFISC) "
        "VALUES ('0003', 'Filial Tres', '02', 'IE3', 'IM3', '3', NULL)",
        "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE, CDFILIFISC) "
        "VALUES ('0004', 'Filial Quatro', '02', 'IE4', 'IM4', '4', NULL)",
        "INSERT INTO FILIAL (CDFILIAL, NMFILIAL, CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE, CDFILIFISC) "
        "VALUES ('0009', 'Faturamento', '01', 'IE2', 'IM2', '2', '0001')",
        "INSERT INTO EMPRCNTRFIL (CDEMPRESA, CDFILIAL, CDINSCESTA, CDINSCMUNI, CDSERIE) "
        "VALUES ('01', '0003', 'IE3', 'IM3', '3')",
        "INSERT INTO INSCRESTAD (CDEMPRESA, CDINSCESTA, NRSERIECERTIFIC, IDTPAMBIENTENFE, CDPAIS, SGESTADO) "
        "VALUES ('01', 'IE1', 'CERT1', '2', '1058', 'SP')",
        "INSERT INTO INSCRESTAD (CDEMPRESA, CDINSCESTA, NRSERIECERTIFIC, IDTPAMBIENTENFE, CDPAIS, SGESTADO) "
        "VALUES ('01', 'IE2', 'CERT2', '2', '1058', 'SP')",
        "INSERT INTO INSCRESTAD (CDEMPRESA, CDINSCESTA, NRSERIECERTIFIC, IDTPAMBIENTENFE, CDPAIS, SGESTADO) "
        "VALUES ('01', 'IE3', 'CERT3', '2', '1058', 'SP')",
        "INSERT INTO INSCRESTAD (CDEMPRESA, CDINSCESTA, NRSERIECERTIFIC, IDTPAMBIENTENFE, CDPAIS, SGESTADO) "
        "VALUES ('01', 'IE9', 'CERT9', '2', '1058', 'SP')",
        "INSERT INTO INSCRMUNICIP (CDEMPRESA, CDINSCMUNI, NMREPRINSMUN) VALUES ('01', 'IM1', 'Rep Um')",
        "INSERT INTO INSCRMUNICIP (CDEMPRESA, CDINSCMUNI, NMREPRINSMUN) VALUES ('01', 'IM2', 'Rep Dois')",
        "INSERT INTO INSCRMUNICIP (CDEMPRESA, CDINSCMUNI, NMREPRINSMUN) VALUES ('01', 'IM3', 'Rep Tres')",
        "INSERT INTO INSCRMUNICIP (CDEMPRESA, CDINSCMUNI, NMREPRINSMUN) VALUES ('01', 'IM9', 'Rep Nove')",
        "INSERT INTO SERIENF (CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE, DSSERIE) VALUES ('01', 'IE1', 'IM1', '1', "
        "'Um')",
        "INSERT INTO SERIENF (CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE, DSSERIE) VALUES ('01', 'IE2', 'IM2', '2', "
        "'Dois')",
        "INSERT INTO SERIENF (CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE, DSSERIE) VALUES ('01', 'IE3', 'IM3', '3', "
        "'Tres')",
        "INSERT INTO SERIENF (CDEMPRESA, CDINSCESTA, CDINSCMUNI, CDSERIE, DSSERIE) VALUES ('01', 'IE1', 'IM2', '7', "
        "'Sete')",
        "INSERT INTO TIPOOPERAC (CDTIPOOPER, NMTIPOOPER, IDENTRSAIDOP, IDTPTRANSNFE, IDUTILEMISNF) "
        "VALUES ('01', 'Venda', 'S', 'N', 'S')",
        "INSERT INTO TIPOOPERAC (CDTIPOOPER, NMTIPOOPER, IDENTRSAIDOP, IDTPTRANSNFE, IDUTILEMISNF) "
        "VALUES ('05', 'Remessa', 'S', 'C', NULL)",
        "INSERT INTO TIPOOPERAC (CDTIPOOPER, NMTIPOOPER, IDENTRSAIDOP, IDTPTRANSNFE, IDUTILEMISNF) "
        "VALUES ('06', 'Transferencia', 'S', 'F', 'S')",
        "INSERT INTO TIPOOPERAC (CDTIPOOPER, NMTIPOOPER, IDENTRSAIDOP, IDTPTRANSNFE, IDUTILEMISNF) "
        "VALUES ('02', 'Compra', 'E', 'N', 'S')",
        "INSERT INTO TIPOOPERAC (CDTIPOOPER, NMTIPOOPER, IDENTRSAIDOP, IDTPTRANSNFE, IDUTILEMISNF) "
        "VALUES ('03', 'Devolucao', 'E', 'N', 'N')",
        "INSERT INTO CLIENTE (CDCLIENTE, IDTPIJURCLIE, NRINSJURCLIE, NMRAZSOCCLIE, NMFANTCLIE) "
        "VALUES ('C1', 'J', '11222333000181', 'Cliente Um', 'CU')",
        "INSERT INTO FORNECEDOR (CDFORNECED, NRINSJURFORN, IDTPIJURFORN, NMRAZSOCFORN) "
        "VALUES ('F1', '52998224725', 'F', 'Fornecedor Um')",
    };
    QSqlDatabase db;
    QString error;
    ASSERT_TRUE(cce_test::openCompany(&db, QStringLiteral(":memory:"), &error, rows)) << error.toStdString();

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
