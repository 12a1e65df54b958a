#include "tests/module/grid/GridFixture.h"

#include <QJsonArray>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>

#include "core/errors/Dispatch.h"
#include "core/host/Context.h"
#include "core/values/Value.h"
#include "tests/support/ModuleTestSupport.h"

namespace gridserver {
QList<Invoice> invoices;
QList<QVariantList> letters;
QString errorText;
QList<QVariantList> calls;
} // namespace gridserver

fw::ScriptedUiServices* GridTest::s_ui = nullptr;

namespace {

cce_test::InstalledUi* g_ui = nullptr;
fw::TransportFactory g_previousFactory;

QVariant paramPacket(const QString& branch)
{
    // Lenient: the filter dialog confirms without registrations.
    return QVariant::fromValue(cce_test::paramDfsPacket(branch, QStringLiteral("S")));
}

QVariant invoicePacket()
{
    fw::DataPacket p;
    p.fields = frmTransmissaoCCe->cdsNotaFiscal->fieldDefs();
    for (const Invoice& inv : gridserver::invoices) {
        fw::Row r(p.fields.size());
        auto set = [&](const char* name, const QVariant& v) { r[p.fieldIndex(QString::fromLatin1(name))] = v; };
        set("IDCHECK", QStringLiteral("N"));
        set("CDFILIAL", inv.cdFilial);
        set("NRLANCTONF", inv.nrLanctoNf);
        set("NRNOTAFISCALELE", inv.nrLanctoNf.right(9));
        set("IDSTATUSCCE", inv.idStatusCce);
        set("CDINSCESTA", inv.cdInscEsta);
        set("CDEMPRESA", QStringLiteral("01"));
        set("IDTIPOEMISNFE", QStringLiteral("1"));
        set("NRSEQCCE", QStringLiteral("00"));
        set("NMRAZSOCCLIE", QStringLiteral("Cliente ") + inv.nrLanctoNf.right(3));
        for (auto it = inv.other.constBegin(); it != inv.other.constEnd(); ++it)
            r[p.fieldIndex(it.key())] = it.value();
        p.rows.append(r);
    }
    return QVariant::fromValue(p);
}

QVariant letterPacket()
{
    fw::DataPacket p;
    p.fields = frmTransmissaoCCe->cdsCCe->fieldDefs();
    for (const QVariantList& l : gridserver::letters) {
        fw::Row r(p.fields.size());
        r[p.fieldIndex(QStringLiteral("CDFILIAL"))] = l.value(0);
        r[p.fieldIndex(QStringLiteral("NRLANCTONF"))] = l.value(1);
        r[p.fieldIndex(QStringLiteral("NRSEQCCE"))] = l.value(2);
        r[p.fieldIndex(QStringLiteral("DSCORRECAONFE"))] = l.value(3);
        p.rows.append(r);
    }
    return QVariant::fromValue(p);
}

} // namespace

void GridTest::SetUpTestSuite()
{
    QSqlDatabase db;
    QString error;
    ASSERT_TRUE(cce_test::openCompany(&db, QStringLiteral(":memory:"), &error)) << error.toStdString();
    cce_test::CompanyBuilder seed(db);
    // IE1 and IE2 share state, environment and certificate; the others differ in one.
    seed.twoCompanies()
        .state("RJ", "Rio de Janeiro", "33")
        .registration("IE1", "CERT1", "2", "SP")
        .registration("IE2", "CERT1", "2", "SP")
        .registration("IERJ", "CERT1", "2", "RJ")
        .registration("IEPROD", "CERT1", "1", "SP")
        .registration("IECERT", "CERT9", "2", "SP")
        .registration("IE'Q", "CERTQ", "2", "RJ");
    ASSERT_TRUE(seed.ok()) << seed.error().toStdString();

    g_previousFactory = cce_test::installServer(
        [](const QString& method, const QJsonArray& params, const QJsonObject& request) -> QVariant {
            if (method == QLatin1String("GetParamDFS"))
                return paramPacket(params.at(0).toString());
            if (method == QLatin1String("GetNotaFiscal")) {
                gridserver::calls.append(cce_test::decodeParams(request));
                if (!gridserver::errorText.isEmpty())
                    return gridserver::errorText;
                return QVariantList{invoicePacket(), letterPacket()};
            }
            return QStringLiteral("método não previsto no teste");
        });
    g_ui = new cce_test::InstalledUi;
    s_ui = &g_ui->ui;
}

void GridTest::TearDownTestSuite()
{
    cce_test::deleteScreens();
    boStCriado = false;
    delete g_ui;
    g_ui = nullptr;
    s_ui = nullptr;
    fw::setDefaultTransportFactory(g_previousFactory);
    QSqlDatabase::removeDatabase(cce_test::kCompanyConnection);
}

void GridTest::SetUp()
{
    ui.clear();
    gridserver::invoices.clear();
    gridserver::letters.clear();
    gridserver::errorText.clear();
    gridserver::calls.clear();
    fw::setHostContext(cce_test::companyContext());
    if (!frmTransmissaoCCe) {
        CriaTransmissaoCCe(fw::nullValue());
        ASSERT_NE(frmTransmissaoCCe, nullptr);
    }
    f = frmTransmissaoCCe;
    oleParam = fw::nullValue();
    f->medCdEmpresa->setText(QStringLiteral("01"));
    inCount = 0;
    stSGinscEsta.clear();
    stAmbiente.clear();
    stCertificado.clear();
    // A fresh filter dialog per test, with its creation defaults.
    delete frmFiltroTransmissao;
    frmFiltroTransmissao = nullptr;
    // Keep the focus off the company panel: leaving it opens the filter dialog.
    f->dbgPadrao->setFocus();
}

void GridTest::TearDown()
{
    EXPECT_FALSE(ui.hasUnexpected()) << ui.report().toStdString();
    EXPECT_EQ(ui.pendingExpectations(), 0) << ui.report().toStdString();
}

void GridTest::exec(const QString& sql)
{
    QString error;
    ASSERT_TRUE(cce_test::execSql(QSqlDatabase::database(cce_test::kCompanyConnection), sql, &error))
        << error.toStdString();
}

void GridTest::load(const QList<Invoice>& invoices, const QList<QVariantList>& letters)
{
    gridserver::invoices = invoices;
    gridserver::letters = letters;
    ASSERT_TRUE(fw::dispatch([this] {
        const QString T = QStringLiteral("T");
        f->GetNotafiscal(T, T, T, QStringLiteral("01"), T, T, T, T, T, T, T, QStringLiteral("S"), QString(),
                         QDateTime(), QDateTime());
    }));
    ASSERT_TRUE(f->cdsNotaFiscal->active());
    ASSERT_EQ(f->cdsNotaFiscal->recordCount(), invoices.size());
}

QList<Invoice> GridTest::many(int n, const QString& status, const QString& inscEsta, int firstNumber)
{
    QList<Invoice> out;
    for (int i = 0; i < n; ++i)
        out.append({QStringLiteral("0001"),
                    QStringLiteral("%1").arg(firstNumber + i, 10, 10, QLatin1Char('0')),
                    status,
                    inscEsta,
                    {}});
    return out;
}

void GridTest::go(const QString& nrLanctoNf)
{
    ASSERT_TRUE(f->cdsNotaFiscal->locate(QStringLiteral("NRLANCTONF"), nrLanctoNf)) << nrLanctoNf.toStdString();
}

QString GridTest::current(const char* field) const
{
    return f->cdsNotaFiscal->fieldByName(QString::fromLatin1(field))->asString();
}

bool GridTest::dblClick()
{
    return fw::dispatch([this] { f->dbgPadraoDblClick(f->dbgPadrao); });
}

bool GridTest::titleClick(const char* field)
{
    const int col = f->dbgPadrao->columnOf(QString::fromLatin1(field));
    return fw::dispatch([this, col] { f->dbgPadraoTitleClick(f->dbgPadrao, col); });
}

QStringList GridTest::marked() const
{
    QStringList out;
    fw::DataSet* ds = f->cdsNotaFiscal;
    const int check = f->cdsNotaFiscalIDCHECK->index();
    const int key = f->cdsNotaFiscalNRLANCTONF->index();
    for (int row = 0; row < ds->recordCount(); ++row)
        if (ds->valueAt(row, check).toString() == QLatin1String("S"))
            out << ds->valueAt(row, key).toString();
    return out;
}

QStringList GridTest::letterTexts() const
{
    QStringList out;
    fw::DataSet* ds = f->cdsCCe;
    const int text = f->cdsCCeDSCORRECAONFE->index();
    for (int row = 0; row < ds->recordCount(); ++row)
        out << ds->valueAt(row, text).toString();
    return out;
}
