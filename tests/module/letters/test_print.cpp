// The batch XML written to a text file for reading, and the print of an invoice's letters
// through the report form.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "core/values/Packet.h"
#include "module/Cli_dfs59300.h"
#include "report/Report.h"
#include "tests/module/letters/LettersFixture.h"

namespace {

// Runs a test in a folder of its own: the XML lands in the current directory.
class InFolder {
public:
    InFolder() : m_previous(QDir::currentPath()) { QDir::setCurrent(m_dir.path()); }
    ~InFolder() { QDir::setCurrent(m_previous); }
    QString path() const { return m_dir.path(); }
    QStringList entries() const
    {
        return QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    }

private:
    QTemporaryDir m_dir;
    QString m_previous;
};

QByteArray contentOf(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("(missing)");
}

const char* kMCorrVinc = "Atenção! Existe mais de um evento vinculado a NF-e.  Confirma a operação?";

} // namespace

class RejectionXml : public LettersTest {
protected:
    void SetUp() override
    {
        LettersTest::SetUp();
        listAll();
        ui.clear();
    }
    // The server's answer: one row naming nrLancto, or none.
    void answerXml(const QVariant& nrLancto, const QString& xml, bool row = true)
    {
        fw::DataPacket p;
        p.fields = f->cdsValdXMLSchema->fieldDefs();
        if (row)
            p.rows.append(fw::Row{QStringLiteral("0001"), nrLancto, QStringLiteral("R"), xml});
        answerWith(QStringLiteral("getXmlEnvLote"), [p](const QVariantList&) { return QVariant::fromValue(p); });
    }
    bool requestXml()
    {
        return run([this] { f->sbtArquivoXmlClick(f->sbtArquivoXml); });
    }
    InFolder folder;
};

TEST_F(RejectionXml, TheRealServersBatchIsWrittenAfterTheEntryNumberAndOpened)
{
    ASSERT_TRUE(goTo([this] { return nf("IDSTATUSCCE") == QLatin1String("3"); })) << "no rejected letter in the demo";
    const QString name = nf("NRLANCTONF") + QStringLiteral(".txt");
    ASSERT_TRUE(requestXml()) << ui.report().toStdString();
    EXPECT_EQ(lastArgs(QStringLiteral("getXmlEnvLote")), (QVariantList{nf("CDFILIAL"), nf("NRLANCTONF")}));
    EXPECT_EQ(folder.entries(), QStringList{name});
    const QByteArray text = contentOf(name);
    EXPECT_TRUE(text.contains("<envEvento")) << text.left(200).toStdString();
    EXPECT_TRUE(text.endsWith('\n'));
    EXPECT_EQ(ui.openedFiles(), QStringList{QStringLiteral("notepad.exe|") + name});
}

TEST_F(RejectionXml, TheFileHoldsTheXmlAndALineBreakAndIsReplacedEachTime)
{
    answerXml(QStringLiteral("0000000123"), QStringLiteral("<retEnvEvento><cStat>215</cStat></retEnvEvento>"));
    ASSERT_TRUE(requestXml()) << ui.report().toStdString();
    EXPECT_EQ(contentOf(QStringLiteral("0000000123.txt")),
              QByteArray("<retEnvEvento><cStat>215</cStat></retEnvEvento>\n"));
    answerXml(QStringLiteral("0000000123"), QStringLiteral("<a/>"));
    ASSERT_TRUE(requestXml());
    EXPECT_EQ(contentOf(QStringLiteral("0000000123.txt")), QByteArray("<a/>\n"));
    EXPECT_EQ(folder.entries(), QStringList{QStringLiteral("0000000123.txt")});
    EXPECT_EQ(ui.openedFiles().size(), 2);
}

TEST_F(RejectionXml, AnErrorTextIsShownAndNothingIsWritten)
{
    answerWith(QStringLiteral("getXmlEnvLote"),
               [](const QVariantList&) { return QStringLiteral("Não há XML de lote rejeitado para a nota."); });
    ui.expectMessage(QStringLiteral("Não há XML de lote rejeitado para a nota."), fw::mbOK);
    EXPECT_FALSE(requestXml());
    EXPECT_TRUE(folder.entries().isEmpty());
    EXPECT_TRUE(ui.openedFiles().isEmpty());
}

TEST_F(RejectionXml, AnEntryNumberThatIsNoPlainFileNameIsRefused)
{
    const QString refused = QStringLiteral("O lançamento informado pelo servidor de aplicação não serve como nome de "
                                           "arquivo: o arquivo XML não foi gravado.");
    const QString missing = QStringLiteral("O servidor de aplicação não informou o lançamento da nota fiscal: o "
                                           "arquivo XML não foi gravado.");
    struct Case {
        QString nrLancto;
        bool row;
        QString shown;
    };
    const Case cases[] = {
        {QStringLiteral("../evil"), true, refused},
        {QStringLiteral(".."), true, refused},
        {folder.path() + QStringLiteral("/sub"), true, refused},
        {QStringLiteral("..\\..\\win"), true, refused},
        {QStringLiteral("C:evil"), true, refused},
        {QStringLiteral("abc") + QChar(0) + QStringLiteral("def"), true, refused},
        {QStringLiteral("a\nb"), true, refused},
        {QStringLiteral(" 123"), true, refused},
        {QStringLiteral("nul"), true, refused},
        {QStringLiteral("COM1"), true, refused},
        {QString(), true, missing},
        {QString(), false, missing},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nrLancto.toStdString());
        ui.clear();
        answerXml(c.nrLancto, QStringLiteral("<x/>"), c.row);
        ui.expectMessage(c.shown, fw::mbOK);
        EXPECT_FALSE(requestXml());
        EXPECT_TRUE(folder.entries().isEmpty()) << folder.entries().join(QLatin1Char(',')).toStdString();
        EXPECT_FALSE(QFile::exists(QDir(folder.path()).filePath(QStringLiteral("../evil.txt"))));
        EXPECT_TRUE(ui.openedFiles().isEmpty());
    }
}

TEST_F(RejectionXml, ALinkOrAFolderOfThatNameIsNeverWrittenThrough)
{
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("alvo.txt"));
    ASSERT_TRUE(QFile::link(target, QStringLiteral("0000000777.txt")));
    ASSERT_TRUE(QDir().mkdir(QStringLiteral("0000000778.txt")));
    for (const char* nr : {"0000000777", "0000000778"}) {
        SCOPED_TRACE(nr);
        ui.clear();
        answerXml(QString::fromLatin1(nr), QStringLiteral("<x/>"));
        ui.expectMessage(QStringLiteral("Já existe no diretório atual um item '%1.txt' que não é um arquivo comum: o "
                                        "arquivo XML não foi gravado.")
                             .arg(QString::fromLatin1(nr)),
                         fw::mbOK);
        EXPECT_FALSE(requestXml());
        EXPECT_TRUE(ui.openedFiles().isEmpty());
    }
    EXPECT_FALSE(QFile::exists(target));
}

class Printing : public LettersTest {
protected:
    void SetUp() override
    {
        LettersTest::SetUp();
        listAll();
        ui.clear();
    }
    // Goes to an accepted invoice with at least (or exactly) n letters.
    bool goToPrintable(int letters, bool exactly)
    {
        return goTo([this, letters, exactly] {
            const int n = f->cdsCCe->recordCount();
            return nf("IDSTATUSCCE") == QLatin1String("2") && (exactly ? n == letters : n >= letters) &&
                   !skip.contains(nf("NRLANCTONF"));
        });
    }
    int acceptedLetters() const
    {
        return scalar(QStringLiteral("SELECT COUNT(*) FROM CARTACORRECAO WHERE CDFILIAL = ? AND NRLANCTONF = ? AND "
                                     "CDSTATUSCCE IN ('135', '136')"),
                      {nf("CDFILIAL"), nf("NRLANCTONF")})
            .toInt();
    }
    // The report form's showing: the preview, then closed.
    void expectPreview()
    {
        ui.expectModal([](QWidget* form) {
            auto* frm = qobject_cast<TfrmCCe*>(form);
            ASSERT_NE(frm, nullptr);
            EXPECT_EQ(frm->CodRel(), QStringLiteral("DFS593"));
            EXPECT_TRUE(fw::dispatch([frm] { frm->sbtConfirmaClick(frm->sbtConfirma); }));
            frm->close();
        });
    }
    QStringList skip;
};

TEST_F(Printing, MoreThanOneLetterAsksFirstAndNoPrintsNothing)
{
    ASSERT_TRUE(goToPrintable(2, false)) << "no accepted invoice with two letters in the demo";
    EXPECT_TRUE(f->sbtImprimir->isEnabled());
    const QString filter = f->cdsCCe->filter();
    const int letters = f->cdsCCe->recordCount();
    ui.expectMessage(QString::fromUtf8(kMCorrVinc), fw::mbNo);
    EXPECT_FALSE(run([this] { f->sbtImprimirClick(f->sbtImprimir); }));
    ASSERT_EQ(ui.messages().size(), 1);
    EXPECT_EQ(ui.messages().at(0).kind, fw::MsgKind::Confirmation);
    EXPECT_EQ(ui.messages().at(0).buttons, fw::mbYes | fw::mbNo);
    EXPECT_TRUE(ui.modalForms().isEmpty());
    EXPECT_EQ(f->cdsCCe->filter(), filter);
    EXPECT_TRUE(f->cdsCCe->filtered());
    EXPECT_EQ(f->cdsCCe->recordCount(), letters);

    // Yes: the report form shows the invoice's accepted letters, one page each.
    ui.clear();
    ui.expectMessage(QString::fromUtf8(kMCorrVinc), fw::mbYes);
    expectPreview();
    ASSERT_TRUE(run([this] { f->sbtImprimirClick(f->sbtImprimir); })) << ui.report().toStdString();
    EXPECT_EQ(ui.modalForms(), QStringList{QStringLiteral("frmCCe")});
    ASSERT_EQ(ui.prints().size(), 1) << ui.report().toStdString();
    EXPECT_TRUE(ui.prints().at(0).startsWith(QStringLiteral("preview|Relatório da Carta de Correção Eletrônica|")));
    ASSERT_NE(frmCCe, nullptr);
    ASSERT_NE(frmCCe->lastReport(), nullptr);
    EXPECT_EQ(frmCCe->lastReport()->rows().size(), acceptedLetters());
    EXPECT_EQ(f->cdsCCe->filter(), filter);
    EXPECT_EQ(f->cdsCCe->recordCount(), letters);
}

TEST_F(Printing, OneLetterPrintsWithoutQuestionAndTwoPrintsInARowGetEachTheirKeys)
{
    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        ASSERT_TRUE(goToPrintable(1, true)) << "not enough accepted invoices with one letter in the demo";
        skip << nf("NRLANCTONF");
        ui.clear();
        expectPreview();
        ASSERT_TRUE(run([this] { f->sbtImprimirClick(f->sbtImprimir); })) << ui.report().toStdString();
        EXPECT_TRUE(ui.messages().isEmpty());
        ASSERT_NE(frmCCe, nullptr);
        fw::report::Report* r = frmCCe->lastReport();
        ASSERT_NE(r, nullptr);
        EXPECT_EQ(r->query()->ParamByName(QStringLiteral("CDFILIAL"))->asString(), nf("CDFILIAL"));
        EXPECT_EQ(r->query()->ParamByName(QStringLiteral("NRLANCTONF"))->asString(), nf("NRLANCTONF"));
        ASSERT_EQ(r->rows().size(), 1);
        EXPECT_EQ(r->rows().at(0).value(QStringLiteral("NRACESSONFE")).toString(), nf("NRACESSONFE"));
        EXPECT_EQ(stNrLanctoNF, nf("NRLANCTONF"));
    }
}

TEST_F(Printing, TheLettersFilterComesBackSwitchedAsItWas)
{
    ASSERT_TRUE(goToPrintable(2, false));
    const QString filter = f->cdsCCe->filter();
    f->cdsCCe->setFiltered(false);
    const int all = f->cdsCCe->recordCount();
    ui.expectMessage(QString::fromUtf8(kMCorrVinc), fw::mbNo);
    EXPECT_FALSE(run([this] { f->sbtImprimirClick(f->sbtImprimir); }));
    EXPECT_FALSE(f->cdsCCe->filtered());
    EXPECT_EQ(f->cdsCCe->filter(), filter);
    EXPECT_EQ(f->cdsCCe->recordCount(), all);
}

TEST_F(Printing, AutomationPrintsTheLetterToAPdfByNameWithoutAnyDialog)
{
    ASSERT_TRUE(goToPrintable(1, true));
    QTemporaryDir out;
    const QString pdf = out.filePath(QStringLiteral("cce.pdf"));
    bool ok = false;
    QString why = QStringLiteral("(not asked)");
    ui.expectModal([&](QWidget* form) {
        QMetaObject::invokeMethod(form, "savePdf", Q_RETURN_ARG(bool, ok), Q_ARG(QString, pdf));
        QMetaObject::invokeMethod(form, "pdfError", Q_RETURN_ARG(QString, why));
        form->close();
    });
    ASSERT_TRUE(QMetaObject::invokeMethod(f, "sbtImprimirClick"));
    EXPECT_TRUE(ok) << why.toStdString();
    EXPECT_TRUE(why.isEmpty());
    EXPECT_TRUE(contentOf(pdf).startsWith("%PDF-"));
    EXPECT_TRUE(ui.prints().isEmpty());
    EXPECT_TRUE(ui.messages().isEmpty());
}
