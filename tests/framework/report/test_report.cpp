// The report engine on the printed correction letter: the query's parameters, the pages
// per letter, what the PDF says (through pdftotext) and how page one looks.
#include <QDir>
#include <QFile>
#include <QImage>
#include <QMap>
#include <QProcess>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include "db/DemoData.h"
#include "report/Report.h"
#include "tests/support/CompanyBuilder.h"

namespace {

QString run(const QString& program, const QStringList& args)
{
    QProcess p;
    p.start(program, args);
    p.waitForFinished(60000);
    return QString::fromUtf8(p.readAllStandardOutput());
}

struct Word {
    QString text;
    QRectF box;
};

// The words of one page of a PDF with their boxes, as pdftotext finds them.
QList<Word> wordsOf(const QString& pdf, int page)
{
    const QString html =
        run(QStringLiteral("pdftotext"), {QStringLiteral("-bbox"), QStringLiteral("-f"), QString::number(page),
                                          QStringLiteral("-l"), QString::number(page), pdf, QStringLiteral("-")});
    static const QRegularExpression re(QStringLiteral(
        "<word xMin=\"([0-9.]+)\" yMin=\"([0-9.]+)\" xMax=\"([0-9.]+)\" yMax=\"([0-9.]+)\">([^<]*)</word>"));
    QList<Word> words;
    for (auto it = re.globalMatch(html); it.hasNext();) {
        const auto m = it.next();
        words << Word{m.captured(5), QRectF(QPointF(m.captured(1).toDouble(), m.captured(2).toDouble()),
                                            QPointF(m.captured(3).toDouble(), m.captured(4).toDouble()))};
    }
    return words;
}

class Dfs593 : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        s_dir = new QTemporaryDir;
        QSqlDatabase db;
        QString error;
        ASSERT_TRUE(cce_test::openCompany(&db, s_dir->filePath(QStringLiteral("company.db")), &error))
            << error.toStdString();
        db::DemoOptions o;
        o.today = QDate(2026, 12, 1);
        ASSERT_TRUE(db::fillDemo(db, o, &error)) << error.toStdString();
        // One invoice of the homologation environment with two accepted letters and a
        // pending one; the second letter long and with breaks.
        QSqlQuery q(db);
        ASSERT_TRUE(q.exec(QStringLiteral(
            "SELECT N.CDFILIAL, N.NRLANCTONF FROM NOTAFISCAL N WHERE N.CDEMPRESA = '01' AND N.IDTPAMBNFE = '2' "
            "AND N.IDSITUACAONFE = 'A' AND NOT EXISTS (SELECT 1 FROM CARTACORRECAO L WHERE L.CDFILIAL = N.CDFILIAL "
            "AND L.NRLANCTONF = N.NRLANCTONF) ORDER BY N.CDFILIAL, N.NRLANCTONF")));
        ASSERT_TRUE(q.next());
        s_filial = q.value(0).toString();
        s_lancto = q.value(1).toString();
        // More lines than one page holds: one short item a line.
        QString longText;
        for (int i = 1; longText.size() < 990; ++i)
            longText += QStringLiteral("Item %1 ok;").arg(i, 3, 10, QLatin1Char('0'));
        longText += QStringLiteral("Fim.");
        // Accepted when it has a protocol number, pending otherwise.
        auto letter = [](const char* seq, const QString& text, const char* protocol) {
            cce_test::LetterRow l;
            l.seq = QString::fromLatin1(seq);
            l.texto = text;
            l.protocolo = QDateTime(QDate(2026, 11, 20), QTime(10, 15, 30));
            l.eventXml = QStringLiteral(
                "<evento><infEvento><dhEvento>2026-11-20T10:15:02-03:00</dhEvento></infEvento></evento>");
            if (protocol) {
                l.status = QStringLiteral("135");
                l.obs = QStringLiteral("135 - Evento registrado e vinculado a NF-e");
                l.nrProtocolo = QString::fromLatin1(protocol);
                l.transm = QStringLiteral("R");
            }
            return l;
        };
        cce_test::CompanyBuilder seed(db);
        seed.letter(s_filial, s_lancto,
                    letter("01", QStringLiteral("Endereço do destinatário; Rua das Acácias, 120"), "135260000000001"))
            .letter(s_filial, s_lancto, letter("02", longText, "135260000000002"))
            .letter(s_filial, s_lancto, letter("03", QStringLiteral("Carta ainda pendente, não impressa"), nullptr));
        ASSERT_TRUE(seed.ok()) << seed.error().toStdString();
    }
    static void TearDownTestSuite()
    {
        QSqlDatabase::removeDatabase(cce_test::kCompanyConnection);
        delete s_dir;
    }

    // The letter of the invoice as a PDF; the parameters handed over as the print form does.
    QString print(const QString& filial, const QString& lancto, int* pages = nullptr)
    {
        fw::report::ReportDefinition def;
        QString error;
        EXPECT_TRUE(
            fw::report::ReportDefinition::load(fw::report::reportFolder(), QStringLiteral("DFS593"), &def, &error))
            << error.toStdString();
        fw::report::Report report(def);
        report.setPrintTime(QDateTime(QDate(2026, 12, 8), QTime(9, 30, 0)));
        report.BeforeGetQueryParams = [&](const QList<fw::QueryParam*>& params, bool&) {
            for (fw::QueryParam* p : params) {
                if (p->name().compare(QLatin1String("CDFILIAL"), Qt::CaseInsensitive) == 0)
                    p->setAsString(filial);
                if (p->name().compare(QLatin1String("NRLANCTONF"), Qt::CaseInsensitive) == 0)
                    p->setAsString(lancto);
            }
        };
        EXPECT_TRUE(report.run(&error)) << error.toStdString();
        const QString path =
            (qEnvironmentVariableIsSet("CCE_REPORT_KEEP") ? qEnvironmentVariable("CCE_REPORT_KEEP") : m_out.path()) +
            QStringLiteral("/carta-%1.pdf").arg(lancto);
        if (!report.renderPdf(path, &error))
            return QString();
        if (pages) {
            const QString info = run(QStringLiteral("pdfinfo"), {path});
            *pages = info.section(QStringLiteral("Pages:"), 1).trimmed().section(QLatin1Char('\n'), 0, 0).toInt();
        }
        return path;
    }

    static inline QTemporaryDir* s_dir = nullptr;
    static inline QString s_filial, s_lancto;
    QTemporaryDir m_out;
};

} // namespace

TEST_F(Dfs593, EachAcceptedLetterPrintsNewestFirstAndALongTextFlowsOntoAnotherPage)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
        GTEST_SKIP() << "poppler-utils is not installed (scripts/install-deps installs it)";
    int pages = 0;
    const QString pdf = print(s_filial, s_lancto, &pages);
    ASSERT_FALSE(pdf.isEmpty());
    // Letter 02 (long) first, on two pages; then letter 01; the pending one not at all.
    EXPECT_EQ(pages, 3);
    const QString text = run(QStringLiteral("pdftotext"), {QStringLiteral("-layout"), pdf, QStringLiteral("-")});
    QSqlQuery q(QSqlDatabase::database(cce_test::kCompanyConnection));
    q.prepare(QStringLiteral("SELECT NRACESSONFE FROM NOTAFISCAL WHERE CDFILIAL = ? AND NRLANCTONF = ?"));
    q.addBindValue(s_filial);
    q.addBindValue(s_lancto);
    ASSERT_TRUE(q.exec() && q.next());
    const QString key = q.value(0).toString();
    QStringList groups;
    for (int i = 0; i < 44; i += 4)
        groups << key.mid(i, 4);
    EXPECT_TRUE(text.contains(groups.join(QLatin1Char(' ')))) << "the access key in eleven groups of four";
    EXPECT_TRUE(text.contains(QStringLiteral("135260000000002")));
    EXPECT_TRUE(text.contains(QStringLiteral("135260000000001")));
    EXPECT_TRUE(text.contains(QStringLiteral("SEM VALOR FISCAL")));
    EXPECT_TRUE(text.contains(QStringLiteral("AMBIENTE DE HOMOLOGAÇÃO")));
    EXPECT_TRUE(text.contains(QStringLiteral("08/12/2026 09:30:00")));
    EXPECT_TRUE(text.contains(QStringLiteral("20/11/2026 10:15:02 -03:00")));
    EXPECT_TRUE(text.contains(QStringLiteral("CORREÇÃO (continuação)")));
    EXPECT_FALSE(text.contains(QStringLiteral("Carta ainda pendente")));
    // The ";" of the letter become line breaks: the two parts on lines of their own, the
    // second one starting where the first did, not a blank further.
    const qsizetype street = text.indexOf(QStringLiteral("Rua das Acácias, 120"));
    ASSERT_GE(street, 0);
    const qsizetype lineStart = text.lastIndexOf(QLatin1Char('\n'), street);
    EXPECT_FALSE(text.mid(lineStart, street - lineStart).contains(QStringLiteral("destinatário")));
    double endereco = -1, rua = -1;
    for (const Word& w : wordsOf(pdf, 3)) {
        if (w.text == QStringLiteral("Endereço") && endereco < 0 && w.box.top() > 400)
            endereco = w.box.left();
        if (w.text == QStringLiteral("Rua") && w.box.top() > 400)
            rua = w.box.left();
    }
    ASSERT_GE(endereco, 0);
    ASSERT_GE(rua, 0);
    EXPECT_NEAR(rua, endereco, 0.5) << "the line after the break starts with a blank";
    // The issuing branch's postcode, as a postcode.
    QSqlQuery cep(QSqlDatabase::database(cce_test::kCompanyConnection));
    cep.prepare(QStringLiteral("SELECT F.NRCEPFILI FROM NOTAFISCAL N JOIN FILIAL F ON F.CDFILIAL = N.CDFILIEMIT "
                               "WHERE N.CDFILIAL = ? AND N.NRLANCTONF = ?"));
    cep.addBindValue(s_filial);
    cep.addBindValue(s_lancto);
    ASSERT_TRUE(cep.exec() && cep.next());
    const QString digits = cep.value(0).toString();
    ASSERT_EQ(digits.size(), 8);
    EXPECT_TRUE(text.contains(digits.left(5) + QLatin1Char('-') + digits.mid(5))) << digits.toStdString();
    // The watermarks lie over nothing the letter says, on any page.
    for (int page = 1; page <= pages; ++page) {
        SCOPED_TRACE(page);
        // A mark is a line of its own holding nothing but the mark's words.
        QMap<int, QList<Word>> lines;
        for (const Word& w : wordsOf(pdf, page))
            lines[qRound(w.box.top())] << w;
        QList<Word> marks, rest;
        for (const QList<Word>& line : std::as_const(lines)) {
            QStringList texts;
            for (const Word& w : line)
                texts << w.text;
            const QString joined = texts.join(QLatin1Char(' '));
            const bool mark =
                joined == QStringLiteral("SEM VALOR FISCAL") || joined == QStringLiteral("AMBIENTE DE HOMOLOGAÇÃO");
            (mark ? marks : rest) << line;
        }
        EXPECT_EQ(marks.size(), 6) << "the watermarks are missing";
        for (const Word& m : marks)
            for (const Word& w : rest)
                EXPECT_FALSE(m.box.intersects(w.box))
                    << m.text.toStdString() << " over " << w.text.toStdString() << " at " << w.box.top();
    }
    const qsizetype seq2 = text.indexOf(QStringLiteral("135260000000002"));
    const qsizetype seq1 = text.indexOf(QStringLiteral("135260000000001"));
    EXPECT_LT(seq2, seq1) << "newest first";
    // Fonts are embedded: the letter prints the same everywhere.
    const QString fonts = run(QStringLiteral("pdffonts"), {pdf});
    EXPECT_TRUE(fonts.contains(QStringLiteral("DejaVuSans"))) << fonts.toStdString();
    for (const QString& line : fonts.split(QLatin1Char('\n')).mid(2)) {
        if (!line.trimmed().isEmpty()) {
            EXPECT_TRUE(line.contains(QRegularExpression(QStringLiteral("Identity-H\\s+yes")))) << line.toStdString();
        }
    }
}

TEST_F(Dfs593, PageOneLooksAsItsGoldenPicture)
{
    if (QStandardPaths::findExecutable(QStringLiteral("pdftoppm")).isEmpty())
        GTEST_SKIP() << "poppler-utils is not installed";
    const QString pdf = print(s_filial, s_lancto);
    ASSERT_FALSE(pdf.isEmpty());
    const QString stem = m_out.filePath(QStringLiteral("page"));
    run(QStringLiteral("pdftoppm"),
        {QStringLiteral("-r"), QStringLiteral("40"), QStringLiteral("-gray"), QStringLiteral("-png"),
         QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"), QStringLiteral("1"),
         QStringLiteral("-singlefile"), pdf, stem});
    QImage page(stem + QStringLiteral(".png"));
    ASSERT_FALSE(page.isNull());
    const QString goldenPath =
        qEnvironmentVariable("CCE_SOURCE_DIR") + QStringLiteral("/tests/framework/report/golden/DFS593-page1.png");
    if (qEnvironmentVariableIsSet("CCE_UPDATE_GOLDEN"))
        page.save(goldenPath);
    QImage golden(goldenPath);
    ASSERT_FALSE(golden.isNull()) << "no golden picture; run with CCE_UPDATE_GOLDEN=1 once";
    ASSERT_EQ(page.size(), golden.size());
    page = page.convertToFormat(QImage::Format_Grayscale8);
    golden = golden.convertToFormat(QImage::Format_Grayscale8);
    qint64 different = 0;
    for (int y = 0; y < page.height(); ++y)
        for (int x = 0; x < page.width(); ++x)
            different += qAbs(int(page.pixelColor(x, y).value()) - golden.pixelColor(x, y).value()) > 64 ? 1 : 0;
    // The keys and dates differ from one demo run to the next only in a few characters.
    EXPECT_LT(double(different) / (page.width() * page.height()), 0.02);
}

TEST_F(Dfs593, AnInvoiceWithoutAcceptedLettersHasNothingToPrintAndAMissingDefinitionSaysWhere)
{
    int pages = -1;
    EXPECT_TRUE(print(QStringLiteral("9999"), QStringLiteral("0000000000"), &pages).isEmpty());
    fw::report::ReportDefinition def;
    QString error;
    EXPECT_FALSE(fw::report::ReportDefinition::load(m_out.path(), QStringLiteral("DFS593"), &def, &error));
    EXPECT_TRUE(error.contains(QStringLiteral("DFS593")) && error.contains(m_out.path())) << error.toStdString();
}
