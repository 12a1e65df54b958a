// The invoice grid: marks for transmission, the texts of coded fields and what each
// cell looks like.
#include <QHeaderView>
#include <QImage>
#include <QTest>

#include "core/errors/Dispatch.h"
#include "module/Cli_dfs59000_Lista.h"
#include "tests/module/grid/GridFixture.h"
#include "widgets/grid/DBGrid.h"

namespace {

const QString kSelecaoMax = QStringLiteral("Operação Bloqueada! Não é permitido selecionar mais de 20 notas.");
const QString kInscDif = QStringLiteral(
    "Operação Bloqueada! Não é possível selecionar notas de inscrições estaduais com UF's distintas ou ambientes "
    "de transmissão distintos ou certificados distintos.");

QString nr(int n) { return QStringLiteral("%1").arg(n, 10, 10, QLatin1Char('0')); }

} // namespace

// --- marking one invoice ----------------------------------------------------------------------

TEST_F(GridTest, OnlyPendingOrRejectedInvoicesAreMarkedAndTheFirstSetsTheKeys)
{
    load({{"0001", nr(1), "0", "IE1", {}},
          {"0001", nr(2), "2", "IE1", {}},
          {"0001", nr(3), "1", "IE1", {}},
          {"0001", nr(4), "3", "IE2", {}}});
    go(nr(1));
    EXPECT_TRUE(dblClick());
    go(nr(2));
    EXPECT_TRUE(dblClick());
    EXPECT_TRUE(marked().isEmpty());
    EXPECT_EQ(inCount, 0);
    EXPECT_TRUE(stSGinscEsta.isEmpty());

    go(nr(3));
    EXPECT_TRUE(dblClick());
    EXPECT_EQ(inCount, 1);
    EXPECT_EQ(stSGinscEsta, "SP");
    EXPECT_EQ(stAmbiente, "2");
    EXPECT_EQ(stCertificado, "CERT1");
    go(nr(4)); // another registration with the same keys
    EXPECT_TRUE(dblClick());
    EXPECT_EQ(marked(), QStringList({nr(3), nr(4)}));
    EXPECT_EQ(inCount, 2);
    EXPECT_TRUE(ui.messages().isEmpty());
}

TEST_F(GridTest, AnotherStateEnvironmentOrCertificateIsRefused)
{
    load({{"0001", nr(1), "1", "IE1", {}},
          {"0001", nr(2), "1", "IERJ", {}},
          {"0001", nr(3), "3", "IEPROD", {}},
          {"0001", nr(4), "1", "IECERT", {}}});
    go(nr(1));
    ASSERT_TRUE(dblClick());
    for (int n : {2, 3, 4}) {
        go(nr(n));
        ui.expectMessage(kInscDif, fw::mbOK);
        EXPECT_FALSE(dblClick()) << n;
        EXPECT_EQ(current("IDCHECK"), "N") << n;
        EXPECT_EQ(current("NRLANCTONF"), nr(n)) << n;
    }
    EXPECT_EQ(marked(), QStringList{nr(1)});
    EXPECT_EQ(inCount, 1);
    EXPECT_EQ(stSGinscEsta, "SP");
    EXPECT_EQ(stAmbiente, "2");
    EXPECT_EQ(stCertificado, "CERT1");
}

TEST_F(GridTest, TheTwentyFirstMarkIsRefusedButIneligibleRowsStaySilent)
{
    QList<Invoice> rows = many(21, "1", "IE1");
    rows.append({"0001", nr(22), "2", "IE1", {}});
    rows.append({"0001", nr(23), "0", "IE1", {}});
    load(rows);
    for (int n = 1; n <= 20; ++n) {
        go(nr(n));
        ASSERT_TRUE(dblClick()) << n;
    }
    EXPECT_EQ(inCount, 20);
    go(nr(21));
    ui.expectMessage(kSelecaoMax, fw::mbOK);
    EXPECT_FALSE(dblClick());
    EXPECT_EQ(current("IDCHECK"), "N");
    EXPECT_EQ(inCount, 20);
    EXPECT_EQ(marked().size(), 20);

    go(nr(22));
    EXPECT_TRUE(dblClick());
    go(nr(23));
    EXPECT_TRUE(dblClick());
    EXPECT_EQ(ui.messages().size(), 1);

    // Taking one out makes room again.
    go(nr(5));
    ASSERT_TRUE(dblClick());
    EXPECT_EQ(inCount, 19);
    go(nr(21));
    EXPECT_TRUE(dblClick());
    EXPECT_EQ(inCount, 20);
}

TEST_F(GridTest, UnmarkingTheLastClearsTheKeysAndKeepsTheRowCurrent)
{
    // Keys with quotes and mixed case must survive the filters and the way back.
    load({{"0001", nr(1), "1", "IE1", {}}, {"0'b", nr(2), "1", "IE2", {}}, {"0001", nr(3), "1", "IERJ", {}}},
         {{"0'b", nr(2), "01", "carta da nota dois"}, {"0001", nr(1), "01", "carta da nota um"}});
    go(nr(1));
    ASSERT_TRUE(dblClick());
    go(nr(2));
    ASSERT_TRUE(dblClick());
    ASSERT_EQ(inCount, 2);

    EXPECT_TRUE(dblClick()); // unmarks the second
    EXPECT_EQ(inCount, 1);
    EXPECT_EQ(stSGinscEsta, "SP"); // one is still marked
    EXPECT_EQ(current("CDFILIAL"), "0'b");
    EXPECT_EQ(current("NRLANCTONF"), nr(2));
    EXPECT_EQ(letterTexts(), QStringList{"carta da nota dois"});
    EXPECT_FALSE(f->cdsNotaFiscal->filtered());
    EXPECT_FALSE(f->cdsNotaFiscal->controlsDisabled());

    go(nr(1));
    EXPECT_TRUE(dblClick());
    EXPECT_EQ(inCount, 0);
    EXPECT_TRUE(stSGinscEsta.isEmpty());
    EXPECT_TRUE(stAmbiente.isEmpty());
    EXPECT_TRUE(stCertificado.isEmpty());
    EXPECT_EQ(current("NRLANCTONF"), nr(1));
    EXPECT_EQ(letterTexts(), QStringList{"carta da nota um"});

    // With the keys free, another state can be marked.
    go(nr(3));
    EXPECT_TRUE(dblClick());
    EXPECT_EQ(stSGinscEsta, "RJ");
    EXPECT_TRUE(ui.messages().isEmpty());
}

TEST_F(GridTest, TheSpaceBarMarksLikeADoubleClick)
{
    load({{"0001", nr(1), "1", "IE1", {}}, {"0001", nr(2), "3", "IE1", {}}});
    go(nr(2));
    QTest::keyClick(f->dbgPadrao, Qt::Key_Space);
    EXPECT_EQ(marked(), QStringList{nr(2)});
    QTest::keyClick(f->dbgPadrao, Qt::Key_Space);
    EXPECT_TRUE(marked().isEmpty());
    EXPECT_EQ(inCount, 0);
}

TEST_F(GridTest, NothingIsMarkedOnAnEmptyOrClosedList)
{
    load({});
    EXPECT_TRUE(dblClick());
    EXPECT_TRUE(titleClick("IDCHECK"));
    EXPECT_EQ(inCount, 0);
    f->cdsNotaFiscal->close();
    EXPECT_TRUE(dblClick());
    EXPECT_TRUE(titleClick("IDCHECK"));
    EXPECT_EQ(inCount, 0);
}

// --- marking all or none ----------------------------------------------------------------------

TEST_F(GridTest, MarkAllTakesTheGroupOfTheFirstEligibleRowThenNoneUnmarksEverything)
{
    load({{"0001", nr(1), "0", "IE1", {}},
          {"0001", nr(2), "2", "IERJ", {}},
          {"0001", nr(3), "3", "IERJ", {}}, // first eligible: RJ
          {"0001", nr(4), "1", "IE1", {}},
          {"0001", nr(5), "1", "IE'Q", {}}, // RJ, other certificate
          {"0001", nr(6), "1", "IERJ", {}},
          {"0001", nr(7), "0", "IERJ", {}}});
    go(nr(6));
    EXPECT_TRUE(titleClick("IDCHECK"));
    EXPECT_EQ(marked(), QStringList({nr(3), nr(6)}));
    EXPECT_EQ(inCount, 2);
    EXPECT_EQ(stSGinscEsta, "RJ");
    EXPECT_EQ(f->cdsNotaFiscal->recNo(), 1);
    EXPECT_FALSE(f->cdsNotaFiscal->controlsDisabled());
    EXPECT_TRUE(ui.messages().isEmpty());

    EXPECT_TRUE(titleClick("IDCHECK"));
    EXPECT_TRUE(marked().isEmpty());
    EXPECT_EQ(inCount, 0);
    EXPECT_TRUE(stSGinscEsta.isEmpty() && stAmbiente.isEmpty() && stCertificado.isEmpty());

    // Another title does nothing.
    EXPECT_TRUE(titleClick("NMRAZSOCCLIE"));
    EXPECT_TRUE(marked().isEmpty());
}

TEST_F(GridTest, MarkAllStopsAtTwentyAndReadsEachRegistrationOnce)
{
    QList<Invoice> rows = many(15, "1", "IE1");
    rows += many(15, "3", "IE2", 16);
    load(rows);
    TfrmFiltroTransmissao* dlg = CreateFiltroTransmissao();
    int opens = 0;
    const fw::DataSet::Handler saved = dlg->qryInscrEstad->BeforeOpen;
    dlg->qryInscrEstad->BeforeOpen = [&](fw::DataSet* ds) {
        ++opens;
        saved(ds);
    };
    go(nr(9));
    EXPECT_TRUE(titleClick("IDCHECK"));
    dlg->qryInscrEstad->BeforeOpen = saved;
    EXPECT_EQ(inCount, 20);
    QStringList expected;
    for (int n = 1; n <= 20; ++n)
        expected << nr(n);
    EXPECT_EQ(marked(), expected);
    EXPECT_EQ(opens, 2);
    EXPECT_EQ(f->cdsNotaFiscal->recNo(), 1);

    // Marks made by hand are undone by the title as well.
    go(nr(5));
    EXPECT_TRUE(dblClick()); // unmark one: 19
    EXPECT_EQ(inCount, 19);
    EXPECT_TRUE(titleClick("IDCHECK"));
    EXPECT_TRUE(marked().isEmpty());
}

TEST_F(GridTest, AnErrorDuringMarkAllIsShownAndTheDisplayComesBackOnTheFirstRow)
{
    load(many(3, "1", "IE1"), {{"0001", nr(1), "01", "primeira"}, {"0001", nr(3), "01", "terceira"}});
    go(nr(3));
    TfrmFiltroTransmissao* dlg = CreateFiltroTransmissao();
    const fw::DataSet::Handler saved = dlg->qryInscrEstad->BeforeOpen;
    dlg->qryInscrEstad->BeforeOpen = [](fw::DataSet*) { throw fw::Error(QStringLiteral("banco indisponível")); };
    ui.expectMessage(QStringLiteral("banco indisponível"), fw::mbOK);
    EXPECT_FALSE(titleClick("IDCHECK"));
    dlg->qryInscrEstad->BeforeOpen = saved;

    EXPECT_EQ(f->cdsNotaFiscal->recNo(), 1);
    EXPECT_FALSE(f->cdsNotaFiscal->controlsDisabled());
    EXPECT_EQ(f->cdsNotaFiscal->state(), fw::DataSetState::Browse);
    EXPECT_EQ(letterTexts(), QStringList{"primeira"});
    EXPECT_EQ(inCount, 0);
    // Moving again follows the invoice as before.
    go(nr(3));
    EXPECT_EQ(letterTexts(), QStringList{"terceira"});
}

// --- texts of coded fields ----------------------------------------------------------------------

TEST_F(GridTest, CodedFieldsShowTheirTexts)
{
    auto with = [](int n, QHash<QString, QVariant> other) {
        return Invoice{QStringLiteral("0001"), nr(n), QStringLiteral("1"), QStringLiteral("IE1"), other};
    };
    load({with(1, {{"IDEMAILCCE", "E"},
                   {"IDEMAILCCETRANS", "N"},
                   {"IDTPAMBNFE", "1"},
                   {"NRINSJURNF", "11222333000181"},
                   {"IDTPIJURNF", "J"},
                   {"CDFILIEMIT", "0001"},
                   {"CDFILIRECE", "0007"},
                   {"NMRAZSOCCLIE", "Cliente Um"}}),
          with(2, {{"IDEMAILCCE", "P"},
                   {"IDEMAILCCETRANS", "E"},
                   {"IDTPAMBNFE", "2"},
                   {"NRINSJURNF", "52998224725"},
                   {"IDTPIJURNF", "F"}}),
          with(3, {{"IDEMAILCCE", ""},
                   {"IDEMAILCCETRANS", "P"},
                   {"IDTPAMBNFE", "3"},
                   {"IDORIGDESTNF", "L"},
                   {"CDFILIRECE", "0009"},
                   {"NRINSJURNF", "11222333000181"},
                   {"IDTPIJURNF", "J"}}),
          with(4, {{"IDEMAILCCETRANS", "X"}, {"NRINSJURNF", "ABC123"}, {"IDTPIJURNF", "E"}})});
    auto text = [this](const char* field) { return f->cdsNotaFiscal->fieldByName(field)->displayText(); };

    go(nr(1));
    EXPECT_EQ(text("IDEMAILCCE"), "Enviado");
    EXPECT_EQ(text("IDEMAILCCETRANS"), "Sem Transp.");
    EXPECT_EQ(text("IDTPAMBNFE"), "Produção");
    EXPECT_EQ(text("NRINSJURNF"), "11.222.333/0001-81");
    EXPECT_EQ(text("CDFILIEMIT"), "0001");
    EXPECT_EQ(text("NRLANCTONF"), nr(1) + " - Cliente Um");
    EXPECT_EQ(f->dbtNome->text(), nr(1) + " - Cliente Um");
    EXPECT_EQ(f->cdsNotaFiscalNRLANCTONF->asString(), nr(1)); // the stored value is untouched

    go(nr(2));
    EXPECT_EQ(text("IDEMAILCCE"), "Pendente");
    EXPECT_EQ(text("IDEMAILCCETRANS"), "Enviado");
    EXPECT_EQ(text("IDTPAMBNFE"), "Homologação");
    EXPECT_EQ(text("NRINSJURNF"), "529.982.247-25");

    go(nr(3));
    EXPECT_EQ(text("IDEMAILCCE"), "");
    EXPECT_EQ(text("IDEMAILCCETRANS"), "Pendente");
    EXPECT_EQ(text("IDTPAMBNFE"), "");
    EXPECT_EQ(text("NRINSJURNF"), "0009"); // an own branch shows its code

    go(nr(4));
    EXPECT_EQ(text("IDEMAILCCE"), "");
    EXPECT_EQ(text("IDEMAILCCETRANS"), "Pendente");
    EXPECT_EQ(text("NRINSJURNF"), "ABC123"); // no mask for other person types

    // An incoming filter shows the receiving branch in the "Filial" column.
    go(nr(1));
    CreateFiltroTransmissao()->RecordFilter.IdOperacao = 1;
    EXPECT_EQ(text("CDFILIEMIT"), "0007");
    frmFiltroTransmissao->RecordFilter.IdOperacao = 0;
    EXPECT_EQ(text("CDFILIEMIT"), "0001");

    load({});
    EXPECT_EQ(text("NRLANCTONF"), "");
}

// --- how cells look -----------------------------------------------------------------------------

TEST_F(GridTest, PicturesAndColoursFollowTheValues)
{
    EXPECT_EQ(cceGrid::cellPicture(*f, "IDCHECK", "S"), f->imgCheck);
    EXPECT_EQ(cceGrid::cellPicture(*f, "IDCHECK", "N"), f->imgUncheck);
    EXPECT_EQ(cceGrid::cellPicture(*f, "IDCHECK", ""), nullptr);
    EXPECT_EQ(cceGrid::cellPicture(*f, "IDCHECK", "s"), nullptr);
    EXPECT_EQ(cceGrid::cellPicture(*f, "IDSTATUSCCE", "0"), f->imgFarolCinza);
    EXPECT_EQ(cceGrid::cellPicture(*f, "IDSTATUSCCE", "1"), f->imgFarolAmarelo);
    EXPECT_EQ(cceGrid::cellPicture(*f, "IDSTATUSCCE", "2"), f->imgFarolVerde);
    EXPECT_EQ(cceGrid::cellPicture(*f, "IDSTATUSCCE", "3"), f->imgFarolVermelho);
    EXPECT_EQ(cceGrid::cellPicture(*f, "IDSTATUSCCE", "4"), nullptr);
    EXPECT_EQ(cceGrid::cellPicture(*f, "CDFILIEMIT", "S"), nullptr);

    const QColor normal(Qt::black);
    const QColor red(255, 0, 0);
    EXPECT_EQ(cceGrid::cellFontColour("1", normal), normal);
    EXPECT_EQ(cceGrid::cellFontColour("", normal), normal);
    EXPECT_EQ(cceGrid::cellFontColour("8", normal), normal);
    EXPECT_EQ(cceGrid::cellFontColour("2", normal), red);
    EXPECT_EQ(cceGrid::cellFontColour("7", normal), red);
    EXPECT_TRUE(cceGrid::isMarkable("1") && cceGrid::isMarkable("3"));
    EXPECT_FALSE(cceGrid::isMarkable("0") || cceGrid::isMarkable("2") || cceGrid::isMarkable(""));
}

TEST_F(GridTest, AContingencyRowIsPaintedInRedAndTheLightsAreDrawn)
{
    auto redPixels = [this] {
        f->dbgPadrao->resize(2400, 200);
        const QImage img = f->dbgPadrao->viewport()->grab().toImage();
        int red = 0, yellow = 0;
        for (int y = 0; y < img.height(); ++y)
            for (int x = 0; x < img.width(); ++x) {
                const QColor c = img.pixelColor(x, y);
                red += c == QColor(255, 0, 0) ? 1 : 0;
                yellow += c == QColor(255, 208, 0) ? 1 : 0;
            }
        return std::make_pair(red, yellow);
    };
    load({{"0001", nr(1), "2", "IE1", {{"IDTIPOEMISNFE", "1"}, {"NMRAZSOCCLIE", "NORMAL"}}}});
    const auto normal = redPixels();
    EXPECT_EQ(normal.first, 0);
    EXPECT_EQ(normal.second, 0); // a green light only

    load({{"0001", nr(1), "1", "IE1", {{"IDTIPOEMISNFE", "7"}, {"NMRAZSOCCLIE", "CONTINGENCIA"}}}});
    const auto contingency = redPixels();
    EXPECT_GT(contingency.first, 20);
    EXPECT_GT(contingency.second, 10); // the yellow light

    if (const QByteArray path = qgetenv("CCE_GRID_SCREENSHOT"); !path.isEmpty()) {
        QList<Invoice> rows;
        const char* statuses[] = {"0", "1", "2", "3"};
        for (int n = 1; n <= 12; ++n)
            rows.append({"0001",
                         nr(n),
                         statuses[n % 4],
                         n % 2 ? "IE1" : "IE2",
                         {{"IDTIPOEMISNFE", n % 5 == 0 ? "4" : "1"},
                          {"IDEMAILCCE", n % 4 == 2 ? "E" : "P"},
                          {"IDTPAMBNFE", "2"},
                          {"NRINSJURNF", "11222333000181"},
                          {"IDTPIJURNF", "J"},
                          {"CDFILIEMIT", "0001"},
                          {"VRNOTAFISC", 1234.5 * n}}});
        load(rows);
        go(nr(3));
        dblClick();
        go(nr(7));
        dblClick();
        f->resize(1200, 500);
        f->grab().save(QString::fromLocal8Bit(path));
    }
}

TEST_F(GridTest, AMarkedRowIsUnmarkedWhateverItsStatusAndTheCountFollowsTheRows)
{
    // Rows that arrive marked are counted when one of them is taken out.
    load({{"0001", nr(1), "2", "IE1", {{"IDCHECK", "S"}}},
          {"0001", nr(2), "0", "IE1", {{"IDCHECK", "S"}}},
          {"0001", nr(3), "1", "IE1", {}}});
    go(nr(1));
    EXPECT_TRUE(dblClick());
    EXPECT_EQ(marked(), QStringList{nr(2)});
    EXPECT_EQ(inCount, 1);
    go(nr(2));
    EXPECT_TRUE(dblClick());
    EXPECT_TRUE(marked().isEmpty());
    EXPECT_EQ(inCount, 0);
}

TEST_F(GridTest, TheMarkCountFollowsEveryWayOfMarkingWithoutRecountingTheList)
{
    load(many(6, "1", "IE1"));
    for (int n : {1, 3, 5}) {
        go(nr(n));
        EXPECT_TRUE(dblClick());
    }
    EXPECT_EQ(inCount, 3);
    go(nr(3));
    EXPECT_TRUE(dblClick());
    EXPECT_EQ(marked(), (QStringList{nr(1), nr(5)}));
    EXPECT_EQ(inCount, 2);
    // The title unmarks all, then marks all; unmarking one after that counts the rest.
    EXPECT_TRUE(titleClick("IDCHECK"));
    EXPECT_EQ(inCount, 0);
    EXPECT_TRUE(titleClick("IDCHECK"));
    EXPECT_EQ(marked().size(), 6);
    go(nr(4));
    EXPECT_TRUE(dblClick());
    EXPECT_EQ(inCount, 5);
    EXPECT_EQ(marked().size(), 5);
    // A new list starts with its own count.
    load(many(2, "1", "IE1"));
    go(nr(1));
    EXPECT_TRUE(dblClick());
    EXPECT_TRUE(dblClick());
    EXPECT_EQ(inCount, 0);
    EXPECT_TRUE(marked().isEmpty());
}

TEST_F(GridTest, SearchRunsOnTheOpenInvoiceListOnly)
{
    load(many(5, "1", "IE1"));
    ui.expectSearch(QStringLiteral("NMRAZSOCCLIE"), QStringLiteral("cliente 004"));
    EXPECT_TRUE(fw::dispatch([this] { f->sbtProcurarClick(f->sbtProcurar); }));
    EXPECT_EQ(current("NRLANCTONF"), nr(4));
    ASSERT_EQ(ui.picks().size(), 1);
    EXPECT_EQ(ui.picks().at(0).dataSet, "cdsNotaFiscal");

    f->cdsNotaFiscal->close();
    EXPECT_TRUE(fw::dispatch([this] { f->sbtProcurarClick(f->sbtProcurar); }));
    EXPECT_EQ(ui.picks().size(), 1); // nothing asked
}

TEST_F(GridTest, ColumnsShowTheirTitlesAndTextsWholeAndTheMarkColumnKeepsItsWidth)
{
    load(many(2, QStringLiteral("2"), QStringLiteral("IE1")));
    fw::TDBGrid* g = f->dbgPadrao;
    const QFontMetrics cells = g->fontMetrics();
    const QFontMetrics titles(g->horizontalHeader()->font());
    const QList<fw::TColumn> cols = g->Columns();
    for (int i = 0; i < cols.size(); ++i) {
        const fw::TColumn& c = cols.at(i);
        SCOPED_TRACE(c.FieldName.toStdString());
        if (c.FieldName == QLatin1String("IDCHECK")) {
            EXPECT_EQ(g->columnWidth(i), 21);
            continue;
        }
        EXPECT_GE(g->columnWidth(i), titles.horizontalAdvance(c.Title) + 8);
        for (const QString& s : c.Samples)
            EXPECT_GE(g->columnWidth(i), cells.horizontalAdvance(s) + 6) << s.toStdString();
    }
    // The texts the issue saw cut are among the samples.
    QStringList all;
    for (const fw::TColumn& c : cols)
        all << c.Samples;
    for (const char* s : {"Pendente", "Homologação", "00/00/0000"})
        EXPECT_TRUE(all.contains(QString::fromUtf8(s))) << s;
}
