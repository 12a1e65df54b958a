#include "tests/module/letters/LettersFixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QSqlError>
#include <QSqlQuery>
#include <QTemporaryDir>
#include <memory>

#include "core/errors/Dispatch.h"
#include "core/host/Context.h"
#include "core/net/InProcessTransport.h"
#include "db/DemoData.h"
#include "server/methods/Methods.h"
#include "server/rpc/RpcDispatcher.h"
#include "server/store/Store.h"
#include "tests/support/ModuleTestSupport.h"

fw::ScriptedUiServices* LettersTest::s_ui = nullptr;

namespace {

struct Bench {
    QTemporaryDir dir;
    std::unique_ptr<srv::Store> store;
    srv::MethodRegistry registry;
    std::unique_ptr<srv::RpcDispatcher> dispatcher;
    QHash<QString, LettersTest::Answer> answers;
    QStringList calls;
    QHash<QString, QVariantList> lastArgs;
    cce_test::InstalledUi ui;
    fw::TransportFactory previousFactory;
};
Bench* g_bench = nullptr;

QJsonObject handle(const QString& serverName, const QJsonObject& request)
{
    const QString method = request.value(QStringLiteral("method")).toString();
    g_bench->calls << method;
    g_bench->lastArgs.insert(method, cce_test::decodeParams(request));
    if (auto it = g_bench->answers.constFind(method); it != g_bench->answers.constEnd())
        return cce_test::answer(request, it.value()(cce_test::decodeParams(request)));
    const srv::RpcReply reply =
        g_bench->dispatcher->handle(serverName, QJsonDocument(request).toJson(QJsonDocument::Compact));
    return QJsonDocument::fromJson(reply.body).object();
}

} // namespace

void LettersTest::SetUpTestSuite()
{
    g_bench = new Bench;
    ASSERT_TRUE(g_bench->dir.isValid());
    const QString file = g_bench->dir.filePath(QStringLiteral("company.db"));
    QString error;
    g_bench->store = srv::Store::open(QStringLiteral("sqlite:") + file, &error);
    ASSERT_TRUE(g_bench->store) << error.toStdString();
    ASSERT_TRUE(g_bench->store->migrate(&error)) << error.toStdString();
    ASSERT_TRUE(g_bench->store->fillDemo(0, &error)) << error.toStdString();
    srv::registerMethods(g_bench->registry, *g_bench->store);
    g_bench->dispatcher = std::make_unique<srv::RpcDispatcher>(g_bench->registry);

    QSqlDatabase db;
    ASSERT_TRUE(cce_test::openCompany(&db, file, &error)) << error.toStdString();
    g_bench->previousFactory =
        fw::setDefaultTransportFactory(fw::InProcessTransport::factory(fw::InProcessTransport::Handler(&handle)));
    s_ui = &g_bench->ui.ui;
}

void LettersTest::TearDownTestSuite()
{
    cce_test::deleteScreens();
    boStCriado = false;
    if (g_bench)
        fw::setDefaultTransportFactory(g_bench->previousFactory);
    QSqlDatabase::removeDatabase(cce_test::kCompanyConnection);
    s_ui = nullptr;
    delete g_bench;
    g_bench = nullptr;
}

void LettersTest::SetUp()
{
    ui.clear();
    g_bench->answers.clear();
    g_bench->calls.clear();
    g_bench->lastArgs.clear();
    fw::setHostContext(cce_test::companyContext());
    if (!frmTransmissaoCCe) {
        CriaTransmissaoCCe(fw::nullValue());
        ASSERT_NE(frmTransmissaoCCe, nullptr);
    }
    f = frmTransmissaoCCe;
    f->medCdEmpresa->setText(QStringLiteral("01"));
    // A fresh filter dialog per test, with its creation defaults.
    delete frmFiltroTransmissao;
    frmFiltroTransmissao = nullptr;
    // Keep the focus off the company panel: leaving it opens the filter dialog.
    f->dbgPadrao->setFocus();
}

void LettersTest::TearDown()
{
    EXPECT_FALSE(ui.hasUnexpected()) << ui.report().toStdString();
    EXPECT_EQ(ui.pendingExpectations(), 0) << ui.report().toStdString();
}

void LettersTest::answerWith(const QString& method, Answer fn)
{
    if (fn)
        g_bench->answers.insert(method, std::move(fn));
    else
        g_bench->answers.remove(method);
}

QStringList LettersTest::calls() { return g_bench->calls; }

QVariantList LettersTest::lastArgs(const QString& method) { return g_bench->lastArgs.value(method); }

void LettersTest::listAll()
{
    ui.expectModal([](QWidget* form) {
        auto* dlg = qobject_cast<TfrmFiltroTransmissao*>(form);
        ASSERT_NE(dlg, nullptr);
        // Every date: the demo's invoices fall in the months before the real date.
        dlg->depSaidIni->SetDate(QDate::currentDate().addYears(-2));
        dlg->depSaidFim->SetDate(QDate::currentDate().addDays(1));
        ASSERT_TRUE(fw::dispatch([dlg] { dlg->sbtConfirmaClick(dlg->sbtConfirma); })) << "the filter did not confirm";
    });
    ASSERT_TRUE(run([this] { f->sbtFiltroClick(f->sbtFiltro); }));
    ASSERT_TRUE(f->cdsNotaFiscal->active());
    QStringList args;
    for (const QVariant& v : lastArgs(QStringLiteral("GetNotaFiscal")))
        args << v.toString();
    ASSERT_FALSE(f->cdsNotaFiscal->isEmpty()) << args.join(QLatin1Char('|')).toStdString();
}

bool LettersTest::goTo(const std::function<bool()>& pred)
{
    for (f->cdsNotaFiscal->first(); !f->cdsNotaFiscal->eof(); f->cdsNotaFiscal->next())
        if (pred())
            return true;
    return false;
}

QVariant LettersTest::scalar(const QString& sql, const QVariantList& binds)
{
    QSqlQuery q(QSqlDatabase::database(cce_test::kCompanyConnection));
    EXPECT_TRUE(q.prepare(sql)) << q.lastError().text().toStdString();
    for (int i = 0; i < binds.size(); ++i)
        q.bindValue(i, binds.at(i));
    EXPECT_TRUE(q.exec()) << q.lastError().text().toStdString();
    return q.next() ? q.value(0) : QVariant();
}

QString LettersTest::nf(const char* field) const
{
    return f->cdsNotaFiscal->fieldByName(QString::fromLatin1(field))->asString();
}

bool LettersTest::authorised() const
{
    return scalar(QStringLiteral("SELECT IDSITUACAONFE FROM NOTAFISCAL WHERE CDFILIAL = ? AND NRLANCTONF = ?"),
                  {nf("CDFILIAL"), nf("NRLANCTONF")})
               .toString() == QLatin1String("A");
}

QString LettersTest::cce(const char* field) const
{
    return f->cdsCCe->fieldByName(QString::fromLatin1(field))->asString();
}

bool LettersTest::run(const std::function<void()>& fn) { return fw::dispatch(fn); }

bool LettersTest::writeLetter(const QString& text)
{
    if (!run([this] { f->sbtIncluirClick(f->sbtIncluir); }))
        return false;
    f->dbmCorrecao->setPlainText(text);
    return run([this] { f->sbtGravarClick(f->sbtGravar); });
}
