// The base report form: its layouts, the query's parameters, preview, print and PDF, and
// its messages when the definition is missing or the query finds nothing.
#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTemporaryDir>

#include "core/errors/Dispatch.h"
#include "report/Report.h"
#include "tests/framework/widgets/WidgetTestSupport.h"
#include "widgets/forms/TfrmDadosGerRel.h"

using namespace fw;

namespace {

const char* kDefinition = R"({
  "code": "TST01", "version": 1, "title": "Itens do grupo",
  "query": "SELECT NOME FROM ITENS WHERE GRUPO = :GRUPO ORDER BY NOME",
  "blocks": [ { "type": "title", "text": "ITENS" }, { "type": "text", "title": "Nome", "value": "{NOME}" } ]
})";

const char* kSummary = R"({
  "code": "TST01", "version": 1, "title": "Resumo",
  "query": "SELECT NOME FROM ITENS WHERE GRUPO = :GRUPO AND NOME = 'Alfa'",
  "blocks": [ { "type": "text", "title": "Nome", "value": "{NOME}" } ]
})";

void write(const QString& path, const char* text)
{
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(text);
}

class ReportForm : public wt::UiTest {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir.isValid());
        previousFolder = qgetenv("CCE_REPORTS");
        qputenv("CCE_REPORTS", dir.path().toUtf8());
        write(dir.filePath(QStringLiteral("TST01/report.json")), kDefinition);
        write(dir.filePath(QStringLiteral("TST01/resumo.json")), kSummary);
        {
            QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("company"));
            db.setDatabaseName(QStringLiteral(":memory:"));
            ASSERT_TRUE(db.open());
            QSqlQuery q(db);
            ASSERT_TRUE(q.exec(QStringLiteral("CREATE TABLE ITENS (GRUPO TEXT, NOME TEXT)")));
            ASSERT_TRUE(q.exec(QStringLiteral("INSERT INTO ITENS VALUES ('A', 'Alfa'), ('A', 'Beta'), ('A', 'Gama'), "
                                              "('B', 'Delta')")));
        }
        form = new TfrmDadosGerRel;
        form->setCaption(QStringLiteral("Relatório de teste"));
        form->setCodRel(QStringLiteral("TST01"));
        form->rpddPadrao->BeforeGetQueryParams = [this](const QList<QueryParam*>& params, bool& cancel) {
            for (QueryParam* p : params) {
                seen << p->name();
                if (p->name() == QLatin1String("GRUPO"))
                    p->setAsString(grupo);
            }
            cancel = cancelPrint;
        };
    }
    void TearDown() override
    {
        delete form;
        QSqlDatabase::removeDatabase(QStringLiteral("company"));
        if (previousFolder.isNull())
            qunsetenv("CCE_REPORTS");
        else
            qputenv("CCE_REPORTS", previousFolder);
        wt::UiTest::TearDown();
    }
    bool click(TSpeedButton* b)
    {
        return fw::dispatch([b] { b->Click(); });
    }
    static bool isPdf(const QString& path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) && f.read(5) == "%PDF-";
    }

    QTemporaryDir dir;
    QByteArray previousFolder;
    TfrmDadosGerRel* form = nullptr;
    QString grupo = QStringLiteral("A");
    bool cancelPrint = false;
    QStringList seen;
};

TEST_F(ReportForm, OffersTheStandardLayoutFirstAndPrintsTheChosenOne)
{
    EXPECT_EQ(form->layoutFiles(), (QStringList{QStringLiteral("report.json"), QStringLiteral("resumo.json")}));
    ASSERT_EQ(form->cbbReportNames->count(), 2);
    EXPECT_EQ(form->cbbReportNames->itemText(0), QStringLiteral("Itens do grupo"));
    EXPECT_EQ(form->cbbReportNames->itemText(1), QStringLiteral("Resumo"));
    EXPECT_EQ(form->cbbReportNames->currentIndex(), 0);

    // One page per row of group A, the parameter given by the handler.
    ASSERT_TRUE(click(form->sbtConfirma)) << ui.report().toStdString();
    EXPECT_EQ(seen, QStringList{QStringLiteral("GRUPO")});
    EXPECT_EQ(ui.prints(), QStringList{QStringLiteral("preview|Relatório de teste|3")});
    ASSERT_NE(form->lastReport(), nullptr);
    EXPECT_EQ(form->lastReport()->query()->ParamByName(QStringLiteral("GRUPO"))->asString(), QStringLiteral("A"));

    form->cbbReportNames->setItemIndex(1);
    ASSERT_TRUE(click(form->sbtImprimir)) << ui.report().toStdString();
    EXPECT_EQ(ui.prints().value(1), QStringLiteral("print|Relatório de teste|1"));
}

TEST_F(ReportForm, NoRowsAndAMissingDefinitionAreToldAndNothingPrints)
{
    grupo = QStringLiteral("Z");
    ui.expectMessage(QStringLiteral("Não há dados a serem impressos."), mbOK);
    EXPECT_FALSE(click(form->sbtConfirma));
    EXPECT_TRUE(ui.prints().isEmpty());

    form->setCodRel(QStringLiteral("NADA"));
    EXPECT_EQ(form->cbbReportNames->count(), 0);
    ui.expectMessage(QStringLiteral("O arquivo contendo a definição do relatório de código 'NADA' não foi encontrado "
                                    "no diretório '%1'.")
                         .arg(QDir(dir.path()).absolutePath()),
                     mbOK);
    EXPECT_FALSE(click(form->sbtImprimir));
    EXPECT_TRUE(ui.prints().isEmpty());
    EXPECT_EQ(ui.pendingExpectations(), 0);
}

TEST_F(ReportForm, ACancelledQueryEndsQuietly)
{
    cancelPrint = true;
    EXPECT_FALSE(click(form->sbtConfirma));
    EXPECT_TRUE(ui.prints().isEmpty());
    EXPECT_TRUE(ui.messages().isEmpty());
}

TEST_F(ReportForm, SavesThePdfWithoutAnyDialogOrThroughTheSaveDialog)
{
    const QString pdf = dir.filePath(QStringLiteral("out/itens.pdf"));
    QDir().mkpath(QFileInfo(pdf).path());
    QString error;
    ASSERT_TRUE(form->savePdf(pdf, &error)) << error.toStdString();
    EXPECT_TRUE(isPdf(pdf));

    // Failures come back as the reason, never as a message box.
    grupo = QStringLiteral("Z");
    EXPECT_FALSE(form->savePdf(dir.filePath(QStringLiteral("out/vazio.pdf")), &error));
    EXPECT_EQ(error, QStringLiteral("Não há dados a serem impressos."));
    EXPECT_FALSE(QFile::exists(dir.filePath(QStringLiteral("out/vazio.pdf"))));
    grupo = QStringLiteral("A");
    EXPECT_FALSE(form->savePdf(dir.filePath(QStringLiteral("sem/pasta/x.pdf")), &error));
    EXPECT_FALSE(error.isEmpty());
    EXPECT_TRUE(ui.messages().isEmpty());

    // By name, as automation that does not link the form calls it.
    bool ok = true;
    ASSERT_TRUE(QMetaObject::invokeMethod(form, "savePdf", Q_RETURN_ARG(bool, ok),
                                          Q_ARG(QString, dir.filePath(QStringLiteral("sem/pasta/y.pdf")))));
    EXPECT_FALSE(ok);
    EXPECT_FALSE(form->pdfError().isEmpty());
    ASSERT_TRUE(QMetaObject::invokeMethod(form, "savePdf", Q_RETURN_ARG(bool, ok),
                                          Q_ARG(QString, dir.filePath(QStringLiteral("out/nome.pdf")))));
    EXPECT_TRUE(ok);
    EXPECT_TRUE(form->pdfError().isEmpty());
    EXPECT_TRUE(isPdf(dir.filePath(QStringLiteral("out/nome.pdf"))));

    // The save dialog: a name without extension gets ".pdf"; a cancelled dialog saves nothing.
    ui.expectSaveFileName(dir.filePath(QStringLiteral("out/escolhido")));
    ASSERT_TRUE(click(form->sbtSalvarPdf)) << ui.report().toStdString();
    EXPECT_TRUE(isPdf(dir.filePath(QStringLiteral("out/escolhido.pdf"))));
    ui.expectSaveFileName(QString());
    ASSERT_TRUE(click(form->sbtSalvarPdf));
    EXPECT_EQ(ui.saveDialogs().size(), 2);
    EXPECT_EQ(QDir(dir.filePath(QStringLiteral("out"))).entryList(QDir::Files).size(), 3);
}

} // namespace
