// The batch XML written to a text file for reading, and the print of an invoice's letters
// through the report form.
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QTemporaryDir>

#include "core/host/Context.h"
#include "core/values/Packet.h"
#include "module/Cli_dfs59300.h"
#include "report/Report.h"
#include "tests/module/letters/LettersFixture.h"

namespace {

// A folder of a test's own, as the host's folder for files.
class InFolder {
public:
    QString path() const { return m_dir.path(); }
    QString file(const QString& branch, const QString& name) const
    {
        return QDir(m_dir.path()).filePath(branch + QLatin1Char('/') + name);
    }
    // Every file below the folder, as "branch/name".
    QStringList entries() const
    {
        QStringList out;
        QDirIterator it(m_dir.path(), QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo fi(it.next());
            if (!fi.isDir())
                out << QDir(m_dir.path()).relativeFilePath(fi.filePath());
        }
        return out;
    }

private:
    QTemporaryDir m_dir;
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
        fw::hostContext().filesFolder = folder.path();
        listAll();
        ui.clear();
    }
    void TearDown() override
    {
        fw::hostContext().filesFolder.clear();
        LettersTest::TearDown();
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

TEST_F(RejectionXml, TheRealServersBatchIsWrittenInTheBranchsFolderAndOpened)
{
    ASSERT_TRUE(goTo([this] { return nf("IDSTATUSCCE") == QLatin1String("3"); })) << "no rejected letter in the demo";
    const QString name = nf("CDFILIAL") + QLatin1Char('/') + nf("NRLANCTONF") + QStringLiteral(".txt");
    ASSERT_TRUE(requestXml()) << ui.report().toStdString();
    EXPECT_EQ(lastArgs(QStringLiteral("getXmlEnvLote")), (QVariantList{nf("CDFILIAL"), nf("NRLANCTONF")}));
    EXPECT_EQ(folder.entries(), QStringList{name});
    const QByteArray text = contentOf(QDir(folder.path()).filePath(name));
    EXPECT_TRUE(text.contains("<envEvento")) << text.left(200).toStdString();
    EXPECT_TRUE(text.endsWith('\n'));
    EXPECT_EQ(ui.openedFiles(), QStringList{QStringLiteral("notepad.exe|") + QDir(folder.path()).filePath(name)});
    EXPECT_TRUE(ui.textsShown().isEmpty()) << "the desktop showed it";
}

TEST_F(RejectionXml, WhereTheDesktopCannotOpenItTheXmlIsShownHereWithTheReason)
{
    ASSERT_TRUE(goTo([this] { return nf("IDSTATUSCCE") == QLatin1String("3"); })) << "no rejected letter in the demo";
    ui.setOpenFileAnswer(false);
    answerXml(nf("NRLANCTONF"), QStringLiteral("<retEnvEvento><cStat>573</cStat></retEnvEvento>"));
    ASSERT_TRUE(requestXml()) << ui.report().toStdString();
    ASSERT_EQ(ui.textsShown().size(), 1);
    const auto& shown = ui.textsShown().at(0);
    EXPECT_EQ(shown.text, QStringLiteral("<retEnvEvento><cStat>573</cStat></retEnvEvento>\n"));
    const QString path = folder.file(nf("CDFILIAL"), nf("NRLANCTONF") + QStringLiteral(".txt"));
    EXPECT_TRUE(shown.heading.contains(path)) << shown.heading.toStdString();
    EXPECT_TRUE(shown.heading.contains(QStringLiteral("rejeitado pela SEFAZ"))) << shown.heading.toStdString();
    // The authority's reason, as the letter's observation holds it.
    f->mnuFormularioClick(f);
    f->cdsCCe->first();
    EXPECT_TRUE(shown.heading.contains(cce("DSOBSSTATUSCCE"))) << shown.heading.toStdString();
    EXPECT_EQ(shown.suggestedFile, path);
}

TEST_F(RejectionXml, TheFileHoldsTheXmlAndALineBreakAndIsReplacedEachTime)
{
    const QString branch = nf("CDFILIAL");
    answerXml(QStringLiteral("0000000123"), QStringLiteral("<retEnvEvento><cStat>215</cStat></retEnvEvento>"));
    ASSERT_TRUE(requestXml()) << ui.report().toStdString();
    EXPECT_EQ(contentOf(folder.file(branch, QStringLiteral("0000000123.txt"))),
              QByteArray("<retEnvEvento><cStat>215</cStat></retEnvEvento>\n"));
    answerXml(QStringLiteral("0000000123"), QStringLiteral("<a/>"));
    ASSERT_TRUE(requestXml());
    EXPECT_EQ(contentOf(folder.file(branch, QStringLiteral("0000000123.txt"))), QByteArray("<a/>\n"));
    EXPECT_EQ(folder.entries(), QStringList{branch + QStringLiteral("/0000000123.txt")});
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
    EXPECT_TRUE(ui.textsShown().isEmpty());
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

TEST_F(RejectionXml, AFileThatCannotBeWrittenIsNamedAndTheXmlIsShownAllTheSame)
{
    const QString branch = nf("CDFILIAL");
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("alvo.txt"));
    ASSERT_TRUE(QDir().mkpath(QDir(folder.path()).filePath(branch)));
    ASSERT_TRUE(QFile::link(target, folder.file(branch, QStringLiteral("0000000777.txt"))));
    ASSERT_TRUE(QDir().mkdir(folder.file(branch, QStringLiteral("0000000778.txt"))));
    for (const char* nr : {"0000000777", "0000000778"}) {
        SCOPED_TRACE(nr);
        ui.clear();
        answerXml(QString::fromLatin1(nr), QStringLiteral("<x/>"));
        const QString path = folder.file(branch, QString::fromLatin1(nr) + QStringLiteral(".txt"));
        ui.expectMessage(
            QStringLiteral("Já existe um item '%1' que não é um arquivo comum: o arquivo XML não foi gravado.")
                .arg(path),
            fw::mbOK);
        EXPECT_TRUE(requestXml());
        EXPECT_TRUE(ui.openedFiles().isEmpty());
        ASSERT_EQ(ui.textsShown().size(), 1);
        EXPECT_EQ(ui.textsShown().at(0).text, QStringLiteral("<x/>\n"));
    }
    EXPECT_FALSE(QFile::exists(target));

    // A folder for files that cannot be made: the file is named in the message.
    ui.clear();
    fw::hostContext().filesFolder = target + QStringLiteral("/sub");
    ASSERT_TRUE(QFile(elsewhere.filePath(QStringLiteral("alvo.txt"))).open(QIODevice::WriteOnly));
    answerXml(QStringLiteral("0000000779"), QStringLiteral("<y/>"));
    ui.expectMessage(QString(), fw::mbOK);
    EXPECT_TRUE(requestXml());
    ASSERT_EQ(ui.messages().size(), 1);
    EXPECT_TRUE(ui.messages().at(0).text.contains(target + QStringLiteral("/sub/") + branch +
                                                  QStringLiteral("/0000000779.txt")))
        << ui.messages().at(0).text.toStdString();
    ASSERT_EQ(ui.textsShown().size(), 1);
    EXPECT_EQ(ui.textsShown().at(0).text, QStringLiteral("<y/>\n"));
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
